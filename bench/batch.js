'use strict';
// submitTraceCodes against one awaited submitTraceCode per label: N labels of
// 50 x 30 mm ZPL (the demo's sample label, 400 x 240 dots) to a private
// scheduler's queue, each way in a fresh child process, until the scheduler
// has every job. Peak memory is the child's maximum resident set.
//   node bench/batch.js [N...]        default 100 1000

const { spawn } = require('child_process');
const path = require('path');
const { PrivateCups } = require('../lib/private-cups');

const ROOT = path.resolve(__dirname, '..');
const QUEUE = 'bench_batch';
const CHILD = `
const addon = require(${JSON.stringify(ROOT)});
const { sampleLabelBmp } = require(${JSON.stringify(path.join(ROOT, 'demo/sample-label'))});
addon.setLogger(null);
const [mode, n] = [process.argv[1], Number(process.argv[2])];
const label = (i) => ({ device: '${QUEUE}', instruction: 'ZPL', withCutter: false, width: 50, height: 30, dpi: 203,
  buffer: sampleLabelBmp({ width: 400, height: 240, serial: String(6901234500000 + i) }) });
(async () => {
  const labels = Array.from({ length: n }, (_, i) => label(i));
  const cpu0 = process.cpuUsage();
  const start = process.hrtime.bigint();
  if (mode === 'batch') await addon.submitTraceCodes(labels, { dpi: 203 });
  else for (const l of labels) await addon.submitTraceCode(l);
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  const cpu = process.cpuUsage(cpu0);
  process.stdout.write(JSON.stringify({ ms, cpuMs: (cpu.user + cpu.system) / 1000, maxRssMb: process.resourceUsage().maxRSS / 1024 }));
})();`;

function run(env, mode, n) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', CHILD, mode, String(n)], { env, stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    child.stdout.on('data', (c) => (out += c));
    child.on('error', reject);
    child.on('close', (status) => (status === 0 ? resolve(JSON.parse(out)) : reject(new Error(`${mode} ${n}: exit ${status}`))));
  });
}

(async () => {
  const counts = process.argv.slice(2).map(Number);
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  try {
    console.log('| labels | way | submit ms | labels/s | CPU ms per label | peak RSS MB | jobs |');
    console.log('|---|---|---|---|---|---|---|');
    let jobs = 0;
    for (const n of counts.length ? counts : [100, 1000]) {
      for (const mode of ['batch', 'single']) {
        const r = await run(cups.env, mode, n);
        jobs += mode === 'batch' ? 1 : n;
        const done = await cups.waitForJobs(QUEUE, jobs, 60000);
        console.log(`| ${n} | ${mode === 'batch' ? 'submitTraceCodes' : 'submitTraceCode x N'} | ${r.ms.toFixed(0)} | ${(n / (r.ms / 1000)).toFixed(0)} | ${(r.cpuMs / n).toFixed(2)} | ${r.maxRssMb.toFixed(0)} | ${done.length === jobs ? (mode === 'batch' ? 1 : n) : '?'} |`);
      }
    }
  } finally {
    await cups.stop();
  }
})();
