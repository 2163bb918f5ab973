'use strict';
// submitTraceCodes against one awaited submitTraceCode per label and against
// one `lp -o raw` per label (its stream rendered beforehand): N labels of
// 50 x 30 mm ZPL (the demo's sample label, 400 x 240 dots) to a private
// scheduler's queue, each way in a fresh child process, until the scheduler
// has every job. The labels cycle through 100 images made before the clock
// starts and are handed over by a generator, so the child's memory is what
// the call holds, not the input. Peak memory is the child's maximum
// resident set; CPU is the child's user + system time, all threads.
//   node bench/batch.js [N...]        default 100 1000
//   BATCH_WAYS=batch node bench/batch.js 10000   only the batch

const { spawn } = require('child_process');
const path = require('path');
const { PrivateCups } = require('../lib/private-cups');

const ROOT = path.resolve(__dirname, '..');
const QUEUE = 'bench_batch';
const CHILD = `
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const addon = require(${JSON.stringify(ROOT)});
const { sampleLabelBmp } = require(${JSON.stringify(path.join(ROOT, 'demo/sample-label'))});
addon.setLogger(null);
const [mode, n] = [process.argv[1], Number(process.argv[2])];
const images = Array.from({ length: 100 }, (_, i) => sampleLabelBmp({ width: 400, height: 240, serial: String(6901234500000 + i) }));
const label = (i) => ({ device: '${QUEUE}', instruction: 'ZPL', withCutter: false, width: 50, height: 30, dpi: 203, buffer: images[i % 100] });
function* labels() { for (let i = 0; i < n; i++) yield label(i); }
let files = [];
if (mode === 'lp') {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-lp-'));
  files = images.map((b, i) => { const f = path.join(dir, i + '.zpl'); fs.writeFileSync(f, addon.renderTraceCode(label(i), 203)); return f; });
}
(async () => {
  const cpu0 = process.cpuUsage();
  const start = process.hrtime.bigint();
  if (mode === 'batch') await addon.submitTraceCodes(labels(), { dpi: 203 });
  else if (mode === 'single') for (const l of labels()) await addon.submitTraceCode(l);
  else for (let i = 0; i < n; i++) {
    const r = spawnSync('lp', ['-d', '${QUEUE}', '-o', 'raw', files[i % 100]], { stdio: 'ignore' });
    if (r.status !== 0) throw new Error('lp failed');
  }
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

const WAY = { batch: 'submitTraceCodes', single: 'submitTraceCode x N', lp: 'lp -o raw x N' };

(async () => {
  const counts = process.argv.slice(2).map(Number);
  const ways = (process.env.BATCH_WAYS || 'batch,single,lp').split(',');
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  try {
    console.log('| labels | way | submit ms | labels/s | CPU ms per label | peak RSS MB | jobs |');
    console.log('|---|---|---|---|---|---|---|');
    let jobs = 0;
    for (const n of counts.length ? counts : [100, 1000]) {
      for (const mode of ways) {
        const r = await run(cups.env, mode, n);
        jobs += mode === 'batch' ? 1 : n;
        const done = await cups.waitForJobs(QUEUE, jobs, 60000);
        console.log(`| ${n} | ${WAY[mode]} | ${r.ms.toFixed(0)} | ${(n / (r.ms / 1000)).toFixed(0)} | ${(r.cpuMs / n).toFixed(2)} | ${r.maxRssMb.toFixed(0)} | ${done.length === jobs ? (mode === 'batch' ? 1 : n) : '?'} |`);
      }
    }
  } finally {
    await cups.stop();
  }
})();
