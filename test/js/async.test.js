'use strict';
// printTraceCodeAsync and checkPrinterConnectionAsync answer exactly as the
// blocking calls do, run their jobs one at a time in call order, and keep the
// process alive only while a job is pending. hostile.test.js holds the
// buffers changed under a pending call; responsiveness.test.js a stopped
// scheduler, quitting and worker threads.
const test = require('node:test');
const assert = require('node:assert/strict');
const { runInChild, labelRig, normaliseLog } = require('../support/child');

const QUEUE = 'async_label';

test('async calls', async (t) => {
  const { cups, run, good } = await labelRig(t, QUEUE);

  await t.test('the async calls answer, throw and log exactly as the blocking ones', async () => {
    // [call, arguments, the answer both give]: one of each kind; hostile.test.js holds the refusal matrix
    // and print.test.js the read order.
    const P = 'printTraceCode', C = 'checkPrinterConnection';
    const cases = [
      [P, 'null', 'TypeError'],
      [P, good(', withCutter: 1'), 'undefined'],
      [P, good(", instruction: 'tspl'"), 'false'],
      [P, good(', width: -50'), 'false'],
      [P, good(`, device: '${QUEUE}\\0tail', width: 2 ** 32 + 2.9`), 'true'],
      [P, `{ device: '${QUEUE}', get instruction() { throw 'plain'; } }`, 'threw'],
      [C, '', 'null'],
      [C, `'${QUEUE}\\0x', 1`, 'true'],
      [C, "'missing'", 'false'],
    ];
    for (const [call, args, expected] of cases) {
      const body = (f) => `return String(${f}(${args}));`;
      const printed = call === P && expected === 'true' ? 1 : 0;
      const before = cups.jobs(QUEUE).length;
      const sync = await run(body(`addon.${call}`));
      const got = sync.answer.kind === 'threw' ? sync.answer.name || 'threw' : sync.answer.value;
      assert.equal(got, expected, `sync ${args}\n${sync.stdout}`);
      const jobsAfterSync = await cups.waitForJobs(QUEUE, before + printed);
      const async = await run(body(`await addon.${call}Async`));
      const jobsAfterAsync = await cups.waitForJobs(QUEUE, jobsAfterSync.length + printed);

      assert.deepEqual(async.answer, sync.answer, args);
      assert.equal(normaliseLog(async.stdout), normaliseLog(sync.stdout), args);
      assert.equal(jobsAfterAsync.length - jobsAfterSync.length, printed, args);
      if (printed) assert.deepEqual(jobsAfterAsync.at(-1).data, jobsAfterSync.at(-1).data, args);
    }
  });

  await t.test('jobs run one at a time and settle in call order', async () => {
    const before = cups.jobs(QUEUE).length;
    const r = await run(`
      const settled = [];
      const calls = [1, 2, 3, 4].map((width, i) =>
        (i === 2 ? addon.checkPrinterConnectionAsync('${QUEUE}') : addon.printTraceCodeAsync({ ...${good()}, width }))
          .then((v) => (settled.push(i), v)));
      const answers = await Promise.all(calls);
      return { answers, settled };`);
    assert.deepEqual(r.answer.value, { answers: [true, true, true, true], settled: [0, 1, 2, 3] });
    const jobs = await cups.waitForJobs(QUEUE, before + 3);
    assert.deepEqual(
      jobs.slice(before).map((j) => j.data.toString('latin1').split('\r\n')[0]),
      ['SIZE 1 mm, 1 mm', 'SIZE 2 mm, 1 mm', 'SIZE 4 mm, 1 mm'],
    );
    // One job's log ends before the next one's begins.
    const blocks = r.stdout.split(/(?=\[DEBUG\] BaseInstruction: 尝试加载打印机默认设置\n|\[DEBUG\] Checking printer connection)/);
    assert.equal(blocks.length, 4, r.stdout);
    for (const [i, block] of blocks.entries()) {
      assert.match(block, i === 2 ? /isConnected = true\n$/ : /打印任务处理完成\n$/, block);
    }
  });

  await t.test('an idle queue lets the process exit; a pending job keeps it alive', async () => {
    const idle = await runInChild(`await addon.checkPrinterConnectionAsync('${QUEUE}'); return 'done';`, { env: cups.env });
    assert.deepEqual({ status: idle.status, signal: idle.signal, answer: idle.answer }, {
      status: 0, signal: null, answer: { kind: 'value', value: 'done' },
    });
    const pending = await run(`
      addon.printTraceCodeAsync(${good()}).then((v) => require('fs').writeSync(1, 'settled ' + v + '\\n'));
      return 'returned';`);
    assert.equal(pending.status, 0);
    assert.equal(pending.answer.value, 'returned');
    assert.match(pending.stdout, /打印任务处理完成\nsettled true\n$/);
  });
});
