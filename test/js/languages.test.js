'use strict';
// lib/languages.js is the JavaScript side's one list of languages and one
// default resolution; the add-on's table and index.d.ts must agree with it.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { runInChild, ROOT } = require('../support/child');
const { LANGUAGES, EXTENSIONS, DEFAULT_DPI, dotsPerMm } = require('../../lib/languages');

test('index.d.ts and the extensions name the same languages in the same order', () => {
  const union = /export type PrinterLanguage = ([^;]+);/.exec(fs.readFileSync(path.join(ROOT, 'index.d.ts'), 'utf8'));
  assert.deepEqual(union[1].split('|').map((s) => s.trim().slice(1, -1)), LANGUAGES);
  assert.deepEqual(Object.keys(EXTENSIONS), LANGUAGES);
});

test('the add-on speaks every language and shares the default resolution and dot densities', async () => {
  const r = await runInChild(`
    const { makeBmp } = require(${JSON.stringify(path.join(ROOT, 'lib', 'bmp-writer'))});
    const request = (instruction) => ({ device: 'x', instruction, withCutter: false, width: 3, height: 2,
      buffer: makeBmp({ width: 5, height: 5, pixel: () => 0 }) });
    const hex = (b) => Buffer.isBuffer(b) ? b.toString('hex') : String(b);
    return {
      rendered: ${JSON.stringify(LANGUAGES)}.map((l) => Buffer.isBuffer(addon.renderTraceCode(request(l)))),
      byDefault: hex(addon.renderTraceCode(request('ZPL'))),
      atDefault: hex(addon.renderTraceCode(request('ZPL'), ${DEFAULT_DPI})),
      widths: [203, 300].map((dpi) => /\\^PW(\\d+)/.exec(addon.renderTraceCode(request('ZPL'), dpi).toString('latin1'))[1]),
    };`);
  assert.equal(r.answer.kind, 'value', r.stderr);
  const { rendered, byDefault, atDefault, widths } = r.answer.value;
  assert.deepEqual(rendered, LANGUAGES.map(() => true));
  assert.equal(byDefault, atDefault);
  assert.deepEqual(widths, [203, 300].map((dpi) => String(3 * dotsPerMm(dpi))));
});
