'use strict';
// A scheduler that stops answering (SIGSTOP) holds neither the event loop nor
// the way out: the loop keeps turning while async calls wait and they all
// settle once it answers again; process.exit() ends the process and
// worker.terminate() returns while a call is blocked; worker threads use the
// module at once, each with its own logger. Timings are the
// benchmark's business (bench/stall.js): here only order and counts.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const { runInChild, labelRig, loggedJobFiles, ROOT } = require('../support/child');

const QUEUE = 'stopped_label';
// The calls' own timeout is a day, so a call that held the way out would end
// only after the scheduler answers again, which it does once the child has
// quit: the order is the test. The watchdog only stops such a hang.
const DAY = { TRACE_LABEL_CUPS_TIMEOUT: '86400' };
const WATCHDOG_MS = 300000;

// Runs `script` in a child whose stdin says "go" each time its stdout shows
// the next of `lines`; resolves with how it ended, or kills it at the
// watchdog, which starts with the first "go".
function runUntilLines(script, lines, env) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', script], { env, stdio: ['pipe', 'pipe', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    let seen = 0;
    let watchdog = null;
    child.stdout.on('data', (c) => {
      stdout += c;
      while (seen < lines.length && stdout.includes(lines[seen])) {
        seen++;
        watchdog = watchdog || setTimeout(() => child.kill('SIGKILL'), WATCHDOG_MS);
        child.stdin.write('go\n');
      }
    });
    child.stderr.on('data', (c) => (stderr += c));
    let answer = '';
    child.stdio[3].on('data', (c) => (answer += c));
    child.on('error', reject);
    child.on('close', (status, signal) => {
      clearTimeout(watchdog);
      resolve({ status, signal, stdout, stderr, answer, seen });
    });
  });
}

test('a stopped scheduler', async (t) => {
  const { cups, imageFile } = await labelRig(t, QUEUE);
  const stop = () => cups.proc.kill('SIGSTOP');
  // A test that fails while the scheduler is stopped leaves it to stop()'s KILL.
  const resume = () => cups.proc.kill('SIGCONT');
  const good = `{ device: '${QUEUE}', instruction: 'TSPL', withCutter: false, width: 2, height: 1, buffer: require('fs').readFileSync(${JSON.stringify(imageFile)}) }`;
  const addonPath = JSON.stringify(path.join(ROOT, 'index.js'));

  // Their call order is async.test.js's.
  await t.test('the loop keeps turning while calls wait', async () => {
    const before = cups.jobs(QUEUE).length;
    stop();
    const r = await runInChild(`
      const settled = [];
      const calls = [1, 0, 3].map((width) =>
        (width ? addon.printTraceCodeAsync({ ...${good}, width }) : addon.checkPrinterConnectionAsync('${QUEUE}'))
          .then((v) => (settled.push(v), v)));
      let turns = 0;
      while (turns < 200) await new Promise(setImmediate), turns++;
      const whileStopped = settled.length;
      process.kill(${cups.proc.pid}, 'SIGCONT');
      const answers = await Promise.all(calls);
      return { turns, whileStopped, answers };`, { env: { ...cups.env, ...DAY } });
    resume();
    assert.deepEqual(r.answer.value, { turns: 200, whileStopped: 0, answers: [true, true, true] });
    // Captured before a later test counts the queue's jobs as its own.
    await cups.waitForJobs(QUEUE, before + 2);
  });

  // [what, lines to wait for, the child's script]: each makes calls that
  // block on the stopped scheduler and, told "go", quits as it names.
  const LOOKUP = '[DEBUG] BaseInstruction: 尝试加载打印机默认设置\n';
  const quits = [
    ['process.exit() with a check and a print pending', ['[DEBUG] Checking printer connection: '], `
      const addon = require(${addonPath});
      addon.checkPrinterConnectionAsync('${QUEUE}');
      addon.printTraceCodeAsync(${good});
      process.stdin.once('data', () => process.exit(0));`],
    // Then the scheduler answers the abandoned print's lookup, which must go
    // no further: the image belonged to the terminated thread.
    ['worker.terminate() of a worker with a print and a check pending', [LOOKUP, '[DEBUG] BaseInstruction: 加载打印机默认设置'], `
      const { Worker } = require('worker_threads');
      const worker = new Worker(\`
        const addon = require(${addonPath});
        addon.printTraceCodeAsync(${good.replace(/`/g, '\\`')});
        addon.checkPrinterConnectionAsync('${QUEUE}');\`, { eval: true });
      process.stdin.once('data', async () => {
        await worker.terminate();
        require('fs').writeSync(3, 'terminated');
        process.kill(${cups.proc.pid}, 'SIGCONT');
        process.stdin.once('data', () => process.exit(0));
      });`],
  ];
  for (const [what, lines, script] of quits) {
    await t.test(what, async () => {
      stop();
      const r = await runUntilLines(script, lines, { ...cups.env, ...DAY });
      resume();
      assert.equal(r.seen, lines.length, r.stdout + r.stderr);
      assert.deepEqual({ status: r.status, signal: r.signal, stderr: r.stderr }, { status: 0, signal: null, stderr: '' });
      if (what.startsWith('worker')) {
        assert.equal(r.answer, 'terminated');
        assert.doesNotMatch(r.stdout, /开始准备准备8bit|Checking printer connection/);
      }
      assert.deepEqual(loggedJobFiles(r.stdout).filter((f) => fs.existsSync(f)), []);
    });
  }

  // Each thread's logger gets its own calls' lines, rendering's too.
  await t.test('several worker threads use the module at once, each with its own logger', async () => {
    const before = cups.jobs(QUEUE).length;
    const r = await runInChild(`
      const { Worker } = require('worker_threads');
      const main = [];
      addon.setLogger((line) => main.push(line));
      const run = (width) => new Promise((resolve, reject) => {
        const w = new Worker(\`
          const { parentPort, workerData } = require('worker_threads');
          const addon = require(${addonPath});
          const lines = [];
          addon.setLogger((line) => lines.push(line));
          const options = { ...${good.replace(/`/g, '\\`')}, width: workerData };
          Promise.all([addon.printTraceCodeAsync(options), addon.checkPrinterConnectionAsync('${QUEUE}'),
            addon.printTraceCode({ ...options, height: 2 }), Buffer.isBuffer(addon.renderTraceCode(options))])
            .then((a) => parentPort.postMessage([a, lines]));\`,
          { eval: true, workerData: width });
        w.once('message', resolve);
        w.once('error', reject);
      });
      const workers = Promise.all([1, 2, 3, 4].map(run));
      addon.checkPrinterConnection('from_main');
      return { workers: await workers, main };`, { env: cups.env });
    const { workers, main } = r.answer.value;
    assert.deepEqual(workers.map(([answers]) => answers), [1, 2, 3, 4].map(() => [true, true, true, true]), r.stderr);
    assert.equal(r.stdout, '');
    assert.ok(main.some((l) => l.includes('from_main')) && !main.some((l) => l.includes('BaseInstruction')), main.join('\n'));
    workers.forEach(([, lines], i) => {
      const resized = lines.filter((l) => l.includes('调整为')).map((l) => l.split('调整为')[1]).sort();
      assert.deepEqual(resized, [`${8 * (i + 1)} x 8`, `${8 * (i + 1)} x 16`, `${8 * (i + 1)} x 8`].sort(), lines.join('\n'));
      assert.ok(!lines.some((l) => l.includes('from_main')));
    });
    const jobs = await cups.waitForJobs(QUEUE, before + 8);
    const sizes = jobs.slice(before).map((j) => j.data.toString('latin1').split('\r\n')[0]).sort();
    assert.deepEqual(sizes, [1, 2, 3, 4].flatMap((w) => [`SIZE ${w} mm, 1 mm`, `SIZE ${w} mm, 2 mm`]).sort());
  });
});
