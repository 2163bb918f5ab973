'use strict';
// Faults around the scheduler: it goes away in the middle of a run, a queue
// refuses or holds jobs, and blocking and worker-thread calls overlap. Every
// job that arrives is read back by the virtual printer and must be the label
// of its own request.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, loggedJobFiles } = require('../support/child');
const { numberedLabel, readNumberedJob } = require('../support/numbered-label');

const { LANGUAGES } = require('../../lib/languages');
// The child reads numbered labels from here: label(i) is request i's image.
const LABEL_DIR = fs.mkdtempSync('/tmp/js_faults_');
const LABEL_COUNT = 64;
for (let i = 0; i < LABEL_COUNT; i++) fs.writeFileSync(`${LABEL_DIR}/${i}.bmp`, numberedLabel(i));
test.after(() => fs.rmSync(LABEL_DIR, { recursive: true, force: true }));
const PRELUDE = `
const label = (i) => require('fs').readFileSync(${JSON.stringify(LABEL_DIR)} + '/' + i + '.bmp');
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

test('queues that refuse or hold jobs', async (t) => {
  const cups = await PrivateCups.start({ queues: ['fault_rejecting', 'fault_disabled'] });
  t.after(() => cups.stop());
  cups.reject('fault_rejecting');
  cups.disable('fault_disabled');

  const r = await runInChild(
    `${PRELUDE}
    return ['fault_rejecting', 'fault_disabled'].map((q) => addon.printTraceCode(request(q, 7, 'ZPL', true)));`,
    { env: cups.env },
  );
  // Refused by CUPS; held by CUPS, which counts as accepted.
  assert.deepEqual(r.answer.value, [false, true]);
  const rejected = r.stdout.split('[DEBUG] BaseInstruction: 尝试加载打印机默认设置\n')[1];
  assert.ok(rejected.endsWith(refusedTail(1286, 'Destination "fault_rejecting" is not accepting jobs.')), rejected);
  assert.match(cups.run('lpstat', ['-o', 'fault_disabled']).stdout, /^fault_disabled-\d+ /);
  for (const file of loggedJobFiles(r.stdout)) assert.equal(fs.existsSync(file), false, file);
});

test('blocking calls and worker-thread calls interleaved', async (t) => {
  const cups = await PrivateCups.start({ queues: ['fault_mixed'] });
  t.after(() => cups.stop());

  // Request i: blocking when i % 3 == 0, else on the worker; every seventh
  // goes to a queue that does not exist. Checks ride along on both sides.
  const r = await runInChild(
    `${PRELUDE}
    const LANGUAGES = ${JSON.stringify(LANGUAGES)};
    const answers = [];
    const checks = [];
    const pending = [];
    for (let i = 0; i < ${LABEL_COUNT}; i++) {
      const queue = i % 7 === 6 ? 'fault_missing' : 'fault_mixed';
      const req = request(queue, i, LANGUAGES[i % 6], i % 4 < 2);
      if (i % 3 === 0) answers[i] = addon.printTraceCode(req);
      else pending.push(addon.printTraceCodeAsync(req).then((a) => { answers[i] = a; }));
      if (i % 5 === 0) pending.push(addon.checkPrinterConnectionAsync('fault_mixed').then((a) => checks.push(a)));
      checks.push(addon.checkPrinterConnection(i % 2 ? 'fault_mixed' : 'fault_missing') === (i % 2 === 1));
    }
    await Promise.all(pending);
    return { answers, checks };`,
    { env: cups.env },
  );
  assert.equal(r.status, 0, r.stderr);
  const { answers, checks } = r.answer.value;
  const expected = answers.map((_, i) => i % 7 !== 6);
  assert.deepEqual(answers, expected);
  assert.ok(checks.length > LABEL_COUNT && checks.every((c) => c === true));

  const wanted = expected.map((ok, i) => ok && { id: i, language: LANGUAGES[i % 6], cutter: i % 4 < 2 }).filter(Boolean);
  const jobs = await cups.waitForJobs('fault_mixed', wanted.length);
  assert.equal(jobs.length, wanted.length);
  const got = jobs.map((job) => readNumberedJob(job.data)).sort((a, b) => a.id - b.id);
  assert.deepEqual(got, wanted);
  for (const file of loggedJobFiles(r.stdout)) assert.equal(fs.existsSync(file), false, file);
});
