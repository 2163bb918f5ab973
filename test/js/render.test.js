'use strict';
// renderTraceCode gives exactly the bytes that printTraceCode submits for the
// same request at that resolution, in every language, without asking CUPS;
// and it refuses what printTraceCode refuses.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { sampleLabelBmp } = require('../../demo/sample-label');
const { LANGUAGES, DEFAULT_DPI, dotsPerMm } = require('../../lib/languages');

const QUEUE = 'render_label';

test('renderTraceCode', async (t) => {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  t.after(() => cups.stop());
  const imageFile = path.join(cups.dir, 'label.bmp');
  fs.writeFileSync(imageFile, sampleLabelBmp({ width: 200, height: 120 }));
  const homes = {
    203: cups.writeLpoptions([], path.join(cups.dir, 'home-203')),
    300: cups.writeLpoptions([`Dest ${QUEUE} printer-resolution-default=300dpi`], path.join(cups.dir, 'home-300')),
  };
  const SETUP = `const image = require('fs').readFileSync(${JSON.stringify(imageFile)});`;
  const request = (instruction, withCutter, over = '') =>
    `{ device: '${QUEUE}', instruction: ${JSON.stringify(instruction)}, withCutter: ${withCutter}, width: 25, height: 15, buffer: image ${over} }`;
  // CUPS is unreachable for rendering: nothing may depend on it.
  const offline = { ...cups.env, CUPS_SERVER: path.join(cups.dir, 'nowhere.sock') };
  const render = (args) =>
    runInChild(`${SETUP} const r = addon.renderTraceCode(${args});
      return Buffer.isBuffer(r) ? { hex: r.toString('hex') } : String(r);`, { env: offline });

  const preparation = (log) => log.slice(log.indexOf('[DEBUG] BaseInstruction: 开始准备准备8bit'), log.indexOf('[DEBUG] macOS平台'));

  // Each language once, at both resolutions and with and without the cutter between them.
  for (const [i, language] of LANGUAGES.entries()) {
    const dpi = i % 2 ? 300 : 203;
    await t.test(`${language} at ${dpi} dpi matches the captured job`, async () => {
      const opts = request(language, i % 4 < 2);
      const before = cups.jobs(QUEUE).length;
      const printed = await runInChild(`${SETUP} return addon.printTraceCode(${opts});`, { env: { ...cups.env, HOME: homes[dpi] } });
      assert.deepEqual(printed.answer, { kind: 'value', value: true }, printed.stdout);
      const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);
      assert.match(printed.stdout, dpi === 300 ? /成功获取DPI: 300\n/ : /将使用内置默认值\n/);

      const rendered = await render(`${opts}, ${dpi}`);
      assert.equal(rendered.answer.kind, 'value', rendered.stderr);
      assert.ok(rendered.answer.value.hex, `rendered ${rendered.answer.value}`);
      assert.ok(Buffer.from(rendered.answer.value.hex, 'hex').equals(job.data), `${language} ${dpi} dpi differs`);
      // The same preparation log, and nothing about CUPS.
      assert.equal(rendered.stdout, preparation(printed.stdout));
    });
  }

  await t.test('the resolution argument', async () => {
    const at = async (dpi) => (await render(`${request('CPCL', false)}${dpi}`)).answer.value;
    const byDefault = await at(`, ${DEFAULT_DPI}`);
    // Only exactly 300 (after truncation) changes the dot density.
    for (const same of ['', ', 600']) assert.deepEqual(await at(same), byDefault, same);
    assert.deepEqual(await at(', 300.9'), await at(', 300'));
    for (const dpi of [DEFAULT_DPI, 300]) {
      const [w, h] = [25, 15].map((mm) => mm * dotsPerMm(dpi));
      assert.ok(Buffer.from((await at(`, ${dpi}`)).hex, 'hex').toString('latin1').startsWith(`! 0 200 200 ${h} 1\r\nPW ${w}\r\n`), dpi);
    }
    for (const bad of [", '300'", ', null']) assert.equal(await at(bad), 'undefined', bad);
  });

  await t.test('reads, refuses, fails and logs where printTraceCode does', async () => {
    // [options, changes, the answer both give]; hostile.test.js holds the refusal matrix
    // and print.test.js the read order.
    const cases = [
      ['null', '', 'TypeError'],
      [request('NOPE', true), '{ instruction: "" }', 'undefined'],
      [request('NOPE', true), '{ width: 0 }', 'undefined'],
      [request('ZPL', true), '{ buffer: Buffer.alloc(10) }', 'false'],
      [request('ZPL', true), '{ height: -1 }', 'false'],
      [request('zpl', false), '{}', 'false'],
    ];
    for (const [opts, over, expected] of cases) {
      const body = (call, dpi) => `${SETUP}
        return String(addon.${call}(${over ? `{ ...${opts}, ...${over} }` : opts}${dpi}));`;
      const printed = await runInChild(body('printTraceCode', ''), { env: cups.env });
      const rendered = await runInChild(body('renderTraceCode', ', 203'), { env: offline });
      const got = (r) => (r.answer.kind === 'threw' ? r.answer.name : r.answer.value);
      assert.equal(got(printed), expected, `print ${opts} ${over}`);
      assert.deepEqual(rendered.answer, printed.answer, `${opts} ${over}`);
      assert.equal(rendered.stdout, preparation(printed.stdout + '[DEBUG] macOS平台'), over);
    }
  });
});
