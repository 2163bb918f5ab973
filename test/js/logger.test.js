'use strict';
// setLogger moves the log and never changes it: the same lines in the same
// order on standard output, to a function or nowhere, for blocking, async and
// render calls alike; and render -o - keeps stdout for the stream. Loggers of
// worker threads are responsiveness.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { spawnSync } = require('child_process');
const { labelRig, normaliseLog: normalise, ROOT } = require('../support/child');

test('setLogger', async (t) => {
  const { cups, imageFile, run } = await labelRig(t, 'logger_label');
  const options = (over = '') =>
    `{ device: 'logger_label', instruction: 'ZPL', withCutter: true, width: 3, height: 2, buffer: image ${over} }`;

  await t.test('a call logs the same lines under the default, a function and null; a throwing logger changes nothing', async () => {
    // [what, an expression that answers]: the long name takes the formatting path for lines over 256 bytes.
    const calls = [
      ['printTraceCode', `addon.printTraceCode(${options()})`],
      ['printTraceCodeAsync', `await addon.printTraceCodeAsync(${options()})`],
      // An image larger than its label is prepared on the JavaScript thread, in the middle of the job.
      ['printTraceCodeAsync, a small label', `await addon.printTraceCodeAsync(${options(', width: 1, height: 1')})`],
      ['a print to a missing queue', `addon.printTraceCode(${options(", device: 'missing'")})`],
      ['checkPrinterConnectionAsync, a long name', `await addon.checkPrinterConnectionAsync('${'n'.repeat(300)}')`],
      ['renderTraceCode', `addon.renderTraceCode(${options()}, 300).toString('hex')`],
    ];
    for (const [what, call] of calls) {
      const r = await run(`
        const call = async () => ${call};
        const answers = [await call()];
        const lines = [];
        addon.setLogger((line) => lines.push(line));
        const seen = await call().then((answer) => (answers.push(answer), lines.length));
        addon.setLogger(null);
        answers.push(await call());
        let thrown = 0;
        addon.setLogger(() => { thrown++; throw new Error('logger'); });
        answers.push(await call());
        addon.setLogger(undefined);
        answers.push(await call());
        return { answers, lines, seen, thrown };`);
      assert.equal(r.status, 0, `${what}\n${r.stderr}`);
      assert.equal(r.stderr, '', what);
      const { answers, lines, seen, thrown } = r.answer.value;
      assert.ok(lines.length > 2 && !lines.some((l) => l.endsWith('\n')), `${what}: ${lines}`);
      assert.equal(new Set(answers.map((a) => JSON.stringify(a))).size, 1, `${what}: ${answers}`);
      // Default (first call) and undefined (last call) both write exactly what the function got.
      const text = lines.map((l) => `${l}\n`).join('');
      assert.equal(normalise(r.stdout), normalise(text).repeat(2), what);
      assert.equal(seen, lines.length, `${what}: every line arrives before the call answers`);
      assert.equal(thrown, lines.length, `${what}: a throwing logger still gets every line`);
    }
  });

  await t.test('render -o - writes exactly the stream to stdout and the log to stderr', async () => {
    const expected = await run(`return addon.renderTraceCode(${options()}, 300).toString('hex');`);
    const cli = spawnSync(
      process.execPath,
      [path.join(ROOT, 'bin', 'trace-label.js'), 'render', '-l', 'ZPL', '--width', '3', '--height', '2', '--dpi', '300', '--cutter', '--verbose', '-o', '-', imageFile],
      { env: cups.env },
    );
    assert.equal(cli.status, 0, cli.stderr.toString());
    assert.equal(cli.stdout.toString('hex'), expected.answer.value);
    const bytes = cli.stdout.length;
    assert.equal(cli.stderr.toString(), `${expected.stdout}standard output: ${bytes} bytes of ZPL at 300 dpi\n`);
  });
});
