'use strict';
// End to end into a private CUPS scheduler: printTraceCode (ZPL, 50x30 mm)
// against spawning `lp -d NAME -o raw FILE` per label with the same ZPL
// stream already on disk, alternating label by label so both see the same
// machine; then printTraceCode for larger and larger source images.
//   node bench/e2e.js [--labels N]

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');
const { PrivateCups } = require('../lib/private-cups');
const { addonPath, benchPath, loadBench, makeBmp, stats, table, saveResult, fmt } = require('./lib/common');

const arg = (name, fallback) => {
  const i = process.argv.indexOf(name);
  return i >= 0 ? Number(process.argv[i + 1]) : fallback;
};
const LABELS = arg('--labels', 300);
const QUEUE = 'bench';
const STAGES = ['read', 'prepare', 'lookup', 'generate', 'submit'];
const SOURCES = [
  [500, 300],
  [1000, 660],
  [4000, 2640],
  [10000, 10000],
];

// Runs in a child whose standard output (the add-on's log) is read and
// dropped, as a service would; the timings come back on fd 3.
const CHILD = `
const fs = require('fs');
const { spawnSync } = require('child_process');
const { makeBmp } = require(${JSON.stringify(path.join(__dirname, 'lib', 'common.js'))});
const addon = require(process.env.ADDON);
const job = JSON.parse(process.env.JOB);
const bmp = makeBmp(job.width, job.height, 24);
const options = { device: job.queue, instruction: 'ZPL', withCutter: false, width: 50, height: 30, buffer: bmp };
const ms = (t0) => Number(process.hrtime.bigint() - t0) / 1e6;
const lp = () => {
  const r = spawnSync('lp', ['-d', job.queue, '-o', 'raw', job.file], { env: process.env });
  if (r.status !== 0) throw new Error('lp failed: ' + r.stderr);
};
const out = { addon: [], lp: [], addonWall: 0, lpWall: 0 };
for (let i = 0; i < job.warmup; i++) { addon.printTraceCode(options); if (job.lp) lp(); }
for (let i = 0; i < job.labels; i++) {
  let t0 = process.hrtime.bigint();
  if (addon.printTraceCode(options) !== true) throw new Error('printTraceCode refused');
  out.addon.push(ms(t0));
  if (!job.lp) continue;
  t0 = process.hrtime.bigint();
  lp();
  out.lp.push(ms(t0));
}
if (job.stages) {
  const bench = require(process.env.BENCH_ADDON);
  out.stages = [];
  out.copies = [];
  for (let i = 0; i < Math.min(job.stages, 10); i++) {
    const t0 = process.hrtime.bigint();
    bench.source(bmp);
    out.copies.push(ms(t0));
  }
  for (let i = 0; i < job.stages; i++) {
    const b = bench.breakdown(options);
    if (!b.ok) throw new Error('breakdown print refused');
    out.stages.push(b);
  }
}
fs.writeSync(3, JSON.stringify(out));
`;

function runChild(env, job) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', CHILD], {
      env: { ...env, ADDON: addonPath(), BENCH_ADDON: benchPath(), JOB: JSON.stringify(job) },
      stdio: ['ignore', 'pipe', 'pipe', 'pipe'],
    });
    const err = [];
    const ret = [];
    let log = '';
    child.stdout.on('data', (c) => (log = (log + c).slice(-3000)));
    child.stderr.on('data', (c) => err.push(c));
    child.stdio[3].on('data', (c) => ret.push(c));
    child.on('error', reject);
    child.on('close', (code) => {
      if (code !== 0) return reject(new Error(`child exited ${code}: ${Buffer.concat(err)}\nlast log lines:\n${log}`));
      resolve(JSON.parse(Buffer.concat(ret).toString()));
    });
  });
}

async function main() {
  const bench = loadBench();
  bench.muteLog(true);
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'bench-lp-')), 'label.zpl');
  fs.writeFileSync(file, bench.generate(bench.label('ZPL', makeBmp(500, 300, 24), 50, 30, false)));
  bench.muteLog(false);

  const cups = await PrivateCups.start({ queues: [QUEUE] });
  let expected = 0;
  const drain = async (count) => {
    expected += count;
    await cups.waitForJobs(QUEUE, expected, 120000);
  };
  try {
    const warmup = 10;
    const head = await runChild(cups.env, { queue: QUEUE, file, width: 500, height: 300, labels: LABELS, warmup, lp: true });
    await drain(2 * (LABELS + warmup));
    const sizes = [];
    for (const [width, height] of SOURCES) {
      const labels = width * height > 20e6 ? Math.min(LABELS, 60) : LABELS;
      const stages = Math.min(labels, 30);
      const run = await runChild(cups.env, { queue: QUEUE, file, width, height, labels, warmup: 3, lp: false, stages });
      await drain(labels + 3 + stages);
      const s = stats(run.addon);
      const stage = Object.fromEntries(STAGES.map((k) => [k, stats(run.stages.map((b) => b[k])).median]));
      stage.copy = stats(run.copies).median;
      sizes.push({ source: `${width}x${height}`, megapixels: (width * height) / 1e6, labels, ...s, perSecond: 1000 / s.mean, stage });
      console.error(`done ${width}x${height}`);
    }

    const addon = stats(head.addon);
    const lp = stats(head.lp);
    const sum = (a) => a.reduce((x, y) => x + y, 0);
    const row = (name, s, samples) => [name, samples.length, (1000 * samples.length) / sum(samples), s.median, s.p99];
    console.log(`## End to end: ZPL label 50x30 mm from a 500x300 24-bit BMP, ${LABELS} labels each, alternating\n`);
    console.log(
      table(
        ['path', 'labels', 'labels/s', 'p50 ms', 'p99 ms'],
        [row('printTraceCode (add-on)', addon, head.addon), row('spawn lp -o raw per label (stream ready)', lp, head.lp)],
      ),
    );
    console.log(
      `\nLatency ratio add-on ÷ lp: p50 ${fmt(addon.median / lp.median)}, p99 ${fmt(addon.p99 / lp.p99)}.\n`,
    );
    console.log('## printTraceCode by source size (ZPL, 50x30 mm label)\n');
    console.log(
      table(
        ['source', 'labels', 'labels/s', 'p50 ms', 'p99 ms', '÷ 500x300 p50'],
        sizes.map((s) => [s.source, s.labels, s.perSecond, s.median, s.p99, `${fmt(s.median / sizes[0].median)}×`]),
      ),
    );
    console.log('\nMedian ms per stage (separate calls that time each stage inside the add-on), and what a copy of the');
    console.log('image into a native byte vector costs, as the options reader made before it read the Buffer in place:\n');
    console.log(
      table(
        ['source', 'read options (image in place)', 'prepare image', 'CUPS resolution lookup', 'generate ZPL', 'CUPS submit', 'copy of the image'],
        sizes.map((s) => [s.source, ...STAGES.map((k) => s.stage[k]), s.stage.copy]),
      ),
    );
    saveResult('e2e', { labels: LABELS, addon, lp, sizes });
  } finally {
    cups.stop();
    fs.rmSync(path.dirname(file), { recursive: true, force: true });
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
