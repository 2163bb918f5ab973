'use strict';
// The longest event-loop stall of one call that prints a 50 x 30 mm ZPL label
// from a 24-bit BMP (500 x 300 and 10000 x 10000 pixels) through a private
// scheduler: the blocking call, the async one, and for scale a copy of the
// same bytes (Buffer.from) and a sharp resize of the same pixels to the
// label's 400 x 240 dots. One fresh process per source size; each call runs
// REPEAT times while a setImmediate ticker records the longest gap between
// two turns of the loop, from just before the call until a few turns after
// it settled, both as wall-clock time and as the time the thread was on a
// CPU in that gap (what the call itself put on the loop; on a shared machine
// the wall clock also counts time the process was preempted). Median and
// worst of the repeats.
//   node bench/stall.js

const path = require('path');
const { PrivateCups } = require('../lib/private-cups');
const { table, saveResult, runBenchChild } = require('./lib/common');

const QUEUE = 'bench_stall';
const REPEAT = 7;
const SIZES = [[500, 300], [10000, 10000]];
const KINDS = ['printTraceCode', 'printTraceCodeAsync', 'Buffer.from', 'sharp'];

const CHILD = `
const fs = require('fs');
const sharp = require('sharp');
const { makeBmp } = require(${JSON.stringify(path.join(__dirname, 'lib', 'common.js'))});
const job = JSON.parse(process.env.JOB);
const addon = require(process.env.ADDON);
const bmp = makeBmp(job.width, job.height, 24);
const options = { device: job.queue, instruction: 'ZPL', withCutter: false, width: 50, height: 30, buffer: bmp };
const calls = {
  printTraceCode: () => addon.printTraceCode(options),
  printTraceCodeAsync: () => addon.printTraceCodeAsync(options),
  'Buffer.from': () => Buffer.from(bmp),
  // BMP rows of these widths carry no padding: the pixels as raw BGR.
  sharp: () => sharp(bmp.subarray(54), { raw: { width: job.width, height: job.height, channels: 3 } })
    .resize(400, 240, { kernel: 'nearest', fit: 'fill' }).raw().toBuffer(),
};
const turn = () => new Promise(setImmediate);
// This thread's CPU time (CLOCK_THREAD_CPUTIME_ID): time the process spent
// preempted by other work on a shared machine is not the loop's.
const cpuMs = require(process.env.BENCH_ADDON).threadCpuMs;
async function stall(call) {
  let last = performance.now();
  let lastCpu = cpuMs();
  const longest = { wall: 0, cpu: 0 };
  let running = true;
  const tick = () => {
    const now = performance.now();
    const cpu = cpuMs();
    longest.wall = Math.max(longest.wall, now - last);
    longest.cpu = Math.max(longest.cpu, cpu - lastCpu);
    last = now;
    lastCpu = cpu;
    if (running) setImmediate(tick);
  };
  setImmediate(tick);
  for (let i = 0; i < 20; i++) await turn();
  longest.wall = longest.cpu = 0;
  const answer = await call();
  for (let i = 0; i < 5; i++) await turn();
  running = false;
  if (answer === false || answer === undefined) throw new Error('the call failed');
  return longest;
}
(async () => {
  const out = {};
  for (const kind of job.kinds) {
    out[kind] = [];
    for (let i = 0; i < job.repeat; i++) out[kind].push(await stall(calls[kind]));
  }
  fs.writeSync(3, JSON.stringify(out));
})();
`;


const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const ms = (x) => (x < 10 ? x.toFixed(2) : x.toFixed(0));

async function main() {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  try {
    const rows = [];
    const results = {};
    const cell = (runs, key) => `${ms(median(runs.map((r) => r[key])))} (${ms(Math.max(...runs.map((r) => r[key])))})`;
    for (const [width, height] of SIZES) {
      const r = await runBenchChild(CHILD, cups.env, { queue: QUEUE, width, height, kinds: KINDS, repeat: REPEAT });
      results[`${width}x${height}`] = r;
      for (const key of ['cpu', 'wall']) rows.push([`${width} x ${height}`, key === 'cpu' ? 'on CPU' : 'wall clock', ...KINDS.map((k) => cell(r[k], key))]);
    }
    await cups.waitForJobs(QUEUE, 2 * SIZES.length * REPEAT, 120000);
    console.log(`## Longest event-loop stall (ms): median of ${REPEAT} calls (worst), 50 x 30 mm ZPL, 24-bit source\n`);
    console.log(table(['source', 'measured as', ...KINDS], rows));
    const at = (size, key) => median(results[size].printTraceCodeAsync.map((r) => r[key]));
    for (const key of ['cpu', 'wall']) {
      const small = at('500x300', key);
      const large = at('10000x10000', key);
      console.log(`\nprintTraceCodeAsync at 10000 x 10000, ${key === 'cpu' ? 'on CPU' : 'wall clock'}: ${ms(large)} ms (target ≤ 5 ms), ${(large / small).toFixed(2)}× its stall at 500 x 300 (target ≤ 2×).`);
    }
    saveResult('stall', { repeat: REPEAT, results });
  } finally {
    cups.stop();
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
