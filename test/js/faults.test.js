'use strict';
// Faults around the scheduler: it goes away in the middle of a run, a queue
// refuses jobs. Blocking and async calls overlapping is
// scheduler.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, loggedJobFiles } = require('../support/child');

// Request i's image is numbered label i.
const PRELUDE = `
const { numberedLabel: label } = require(${JSON.stringify(require.resolve('../support/numbered-label'))});
const request = (device, i, instruction = 'TSPL', withCutter = false) =>
  ({ device, instruction, withCutter, width: 2, height: 1, buffer: label(i) });
`;

// The lines after "发送打印任务到CUPS..." when CUPS gives no job id.
const refusedTail = (code, detail) =>
  `[DEBUG] macOS平台: 发送打印任务到CUPS...\n` +
  `[DEBUG] macOS平台: 打印失败，错误码=${code}\n` +
  `[DEBUG] macOS平台: 错误详情: ${detail}\n` +
  '[DEBUG] macOS平台: 释放CUPS选项资源\n' +
  '[DEBUG] macOS平台: 删除临时文件\n';

for (const [how, signal] of [['stopped', 'SIGTERM'], ['killed', 'SIGKILL']]) {
  test(`the scheduler ${how} in the middle of a run`, async (t) => {
    const cups = await PrivateCups.start({ queues: ['fault_gone'] });
    t.after(() => cups.stop());
    // Three prints and a check, then the scheduler goes, then more of both.
    const r = await runInChild(
      `${PRELUDE}
      const before = [0, 1, 2].map((i) => addon.printTraceCode(request('fault_gone', i)));
      const checkBefore = addon.checkPrinterConnection('fault_gone');
      process.kill(${cups.proc.pid}, '${signal}');
      // Gone when its socket refuses connections, however long that takes.
      const net = require('net');
      for (;;) {
        const refused = await new Promise((resolve) => {
          const s = net.connect(process.env.CUPS_SERVER);
          s.on('connect', () => { s.destroy(); resolve(false); });
          s.on('error', () => resolve(true));
        });
        if (refused) break;
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
      process.stdout.write('--- gone\\n');
      const after = [];
      for (let i = 3; i < 8; i++) {
        after.push(addon.printTraceCode(request('fault_gone', i)));
        after.push(addon.checkPrinterConnection('fault_gone'));
      }
      return { before, checkBefore, after };`,
      { env: cups.env },
    );
    assert.equal(r.status, 0, r.stderr);
    const { before, checkBefore, after } = r.answer.value;
    assert.deepEqual([...before, checkBefore], [true, true, true, true]);
    assert.deepEqual(after, Array(10).fill(false));

    // Each failed print: no resolution, then a non-zero refusal from CUPS; each check: not found.
    const [, log] = r.stdout.split('--- gone\n');
    const count = (re) => (log.match(re) || []).length;
    assert.equal(count(/加载打印机默认设置失败，将使用内置默认值\n/g), 5);
    assert.equal(count(/打印失败，错误码=[1-9]\d*\n/g), 5, log);
    assert.equal(count(/未找到匹配的打印机\n\[DEBUG\] 最终连接状态: isConnected = false\n/g), 5);
    for (const file of loggedJobFiles(r.stdout)) assert.equal(fs.existsSync(file), false, file);
  });
}

// A stopped queue that still takes jobs is api.test.js's.
test('a queue that refuses jobs', async (t) => {
  const cups = await PrivateCups.start({ queues: ['fault_rejecting'] });
  t.after(() => cups.stop());
  cups.reject('fault_rejecting');
  const r = await runInChild(`${PRELUDE} return addon.printTraceCode(request('fault_rejecting', 7, 'ZPL', true));`, { env: cups.env });
  assert.deepEqual(r.answer.value, false);
  assert.ok(r.stdout.endsWith(refusedTail(1286, 'Destination "fault_rejecting" is not accepting jobs.')), r.stdout);
  for (const file of loggedJobFiles(r.stdout)) assert.equal(fs.existsSync(file), false, file);
});
