'use strict';
// renderTraceCode prepares, refuses and logs as printTraceCode does, without
// asking CUPS; that its bytes are the job's, in every language at both
// resolutions, is round-trip.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { labelRig } = require('../support/child');
const { sampleLabelBmp } = require('../../demo/sample-label');

const QUEUE = 'render_label';

test('renderTraceCode', async (t) => {
  const { cups, run } = await labelRig(t, QUEUE, sampleLabelBmp({ width: 200, height: 120 }));
  const request = (instruction, withCutter, over = '') =>
    `{ device: '${QUEUE}', instruction: ${JSON.stringify(instruction)}, withCutter: ${withCutter}, width: 25, height: 15, buffer: image ${over} }`;
  // CUPS is unreachable for rendering: nothing may depend on it.
  const offline = { ...cups.env, CUPS_SERVER: path.join(cups.dir, 'nowhere.sock') };
  const render = (args) =>
    run(`const r = addon.renderTraceCode(${args}); return Buffer.isBuffer(r) ? { hex: r.toString('hex') } : String(r);`, offline);

  const preparation = (log) => log.slice(log.indexOf('[DEBUG] BaseInstruction: 开始准备准备8bit'), log.indexOf('[DEBUG] macOS平台'));

  // The dots each resolution gives are dots.test.js's; here, what the argument is read as.
  await t.test('the resolution argument', async () => {
    const at = async (dpi) => (await render(`${request('CPCL', false)}${dpi}`)).answer.value;
    const [at203, at300, at600] = [await at(', 203'), await at(', 300'), await at(', 600')];
    assert.notDeepEqual(at203, at300);
    // Only exactly 300 or 600 (after truncation) changes the dot density.
    for (const [arg, same] of [['', at203], [', 601', at203], [', 299', at203], [', 300.9', at300], [', 600.5', at600]]) {
      assert.deepEqual(await at(arg), same, arg);
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
      const body = (call, dpi) => `return String(addon.${call}(${over ? `{ ...${opts}, ...${over} }` : opts}${dpi}) && true);`;
      const printed = await run(body('printTraceCode', ''));
      const rendered = await run(body('renderTraceCode', ', 203'), offline);
      const got = (r) => (r.answer.kind === 'threw' ? r.answer.name : r.answer.value);
      assert.equal(got(printed), expected, `print ${opts} ${over}`);
      assert.deepEqual(rendered.answer, printed.answer, `${opts} ${over}`);
      assert.equal(rendered.stdout, preparation(printed.stdout + '[DEBUG] macOS平台'), over);
    }
  });
});
