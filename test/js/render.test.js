'use strict';
// renderTraceCode prepares, refuses and logs as printTraceCode does, without
// asking CUPS; that its bytes are the job's, in every language at both
// resolutions, is round-trip.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { sampleLabelBmp } = require('../../demo/sample-label');

const QUEUE = 'render_label';

test('renderTraceCode', async (t) => {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  t.after(() => cups.stop());
  const imageFile = path.join(cups.dir, 'label.bmp');
  fs.writeFileSync(imageFile, sampleLabelBmp({ width: 200, height: 120 }));
  const SETUP = `const image = require('fs').readFileSync(${JSON.stringify(imageFile)});`;
  const request = (instruction, withCutter, over = '') =>
    `{ device: '${QUEUE}', instruction: ${JSON.stringify(instruction)}, withCutter: ${withCutter}, width: 25, height: 15, buffer: image ${over} }`;
  // CUPS is unreachable for rendering: nothing may depend on it.
  const offline = { ...cups.env, CUPS_SERVER: path.join(cups.dir, 'nowhere.sock') };
  const render = (args) =>
    runInChild(`${SETUP} const r = addon.renderTraceCode(${args});
      return Buffer.isBuffer(r) ? { hex: r.toString('hex') } : String(r);`, { env: offline });

  const preparation = (log) => log.slice(log.indexOf('[DEBUG] BaseInstruction: 开始准备准备8bit'), log.indexOf('[DEBUG] macOS平台'));

  await t.test('the resolution argument', async () => {
    const at = async (dpi) => (await render(`${request('CPCL', false)}${dpi}`)).answer.value;
    const byDefault = await at(', 203');
    // Only exactly 300 or 600 (after truncation) changes the dot density.
    for (const same of ['', ', 601', ', 299']) assert.deepEqual(await at(same), byDefault, same);
    assert.deepEqual(await at(', 300.9'), await at(', 300'));
    assert.deepEqual(await at(', 600.5'), await at(', 600'));
    for (const dpi of [203, 300, 600]) {
      const [w, h] = [25, 15].map((mm) => mm * { 203: 8, 300: 12, 600: 24 }[dpi]);
      assert.ok(Buffer.from((await at(`, ${dpi}`)).hex, 'hex').toString('latin1').startsWith(`! 0 200 200 ${h} 1\r\nPW ${w}\r\n`), dpi);
    }
    for (const bad of [", '300'", ', null']) assert.equal(await at(bad), 'undefined', bad);
  });

  await t.test('reads, refuses, fails and logs where printTraceCode does', async () => {
    // [options, changes, the answer both give (a rendered label is true)]; hostile.test.js holds the refusal matrix
    // and print.test.js the read order.
    const cases = [
      ['null', '', 'TypeError'],
      [request('NOPE', true), '{ instruction: "" }', 'undefined'],
      [request('NOPE', true), '{ width: 0 }', 'undefined'],
      [request('ZPL', true), '{ buffer: Buffer.alloc(10) }', 'false'],
      [request('TSPL', true), '', 'true'],
      [request('ZPL', true), '{ height: -1 }', 'false'],
      [request('zpl', false), '{}', 'false'],
      // 1 x 8192 mm at 203 dpi is 8 x 65536 dots, too tall for ESC/POS's 16-bit header.
      [request('ESC/POS', false), '{ width: 1, height: 8192 }', 'false'],
    ];
    for (const [opts, over, expected] of cases) {
      const body = (call, dpi) => `${SETUP}
        return String(addon.${call}(${over ? `{ ...${opts}, ...${over} }` : opts}${dpi}) && true);`;
      const printed = await runInChild(body('printTraceCode', ''), { env: cups.env });
      const rendered = await runInChild(body('renderTraceCode', ', 203'), { env: offline });
      const got = (r) => (r.answer.kind === 'threw' ? r.answer.name : r.answer.value);
      assert.equal(got(printed), expected, `print ${opts} ${over}`);
      assert.deepEqual(rendered.answer, printed.answer, `${opts} ${over}`);
      assert.equal(rendered.stdout, preparation(printed.stdout + '[DEBUG] macOS平台'), over);
    }
  });
});
