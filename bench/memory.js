'use strict';
// Peak resident memory of one printTraceCode call (ZPL, 50x30 mm) for a
// 10000x10000 24-bit source, each case in a fresh process: resident memory
// before the input exists, then the peak (VmHWM, reset just before the call)
// against input, prepared image and command sizes; beside it the same for
// printTraceCodeAsync (until its Promise settles) and a sharp resize of the
// same pixels to the label's dots.
//   node bench/memory.js

const path = require('path');
const { PrivateCups } = require('../lib/private-cups');
const { table, saveResult, runBenchChild } = require('./lib/common');

const QUEUE = 'bench_memory';
const MiB = 2 ** 20;

const CHILD = `
const fs = require('fs');
const { makeBmp } = require(${JSON.stringify(path.join(__dirname, 'lib', 'common.js'))});
const status = (key) => Number(fs.readFileSync('/proc/self/status', 'utf8').match(new RegExp(key + ':\\\\s+(\\\\d+)'))[1]) * 1024;
const job = JSON.parse(process.env.JOB);
const addon = require(process.env.ADDON);
const bench = require(process.env.BENCH_ADDON);
const before = status('VmRSS');
const bmp = makeBmp(job.width, job.height, 24);
const withInput = status('VmRSS');
fs.writeFileSync('/proc/self/clear_refs', '5'); // VmHWM := VmRSS
(async () => {
let ok;
if (job.path === 'printTraceCode') {
  ok = addon.printTraceCode({ device: job.queue, instruction: 'ZPL', withCutter: false, width: 50, height: 30, buffer: bmp });
} else if (job.path === 'printTraceCodeAsync') {
  ok = await addon.printTraceCodeAsync({ device: job.queue, instruction: 'ZPL', withCutter: false, width: 50, height: 30, buffer: bmp });
} else if (job.path === 'sharp') {
  const sharp = require('sharp');
  const raw = { width: job.width, height: job.height, channels: 3 };
  ok = (await sharp(bmp.subarray(54), { raw }).resize(400, 240, { kernel: 'nearest', fit: 'fill' }).raw().toBuffer()).length > 0;
} else {
  bench.muteLog(true);
  ok = bench.convertThenResize(bench.source(bmp), 400, 240).length > 0;
}
const peak = status('VmHWM');
fs.writeSync(3, JSON.stringify({ ok, before, withInput, peak, input: bmp.length }));
})();
`;


async function main() {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  try {
    const width = 10000;
    const height = 10000;
    const r = await runBenchChild(CHILD, cups.env, { queue: QUEUE, width, height, path: 'printTraceCode' });
    if (!r.ok) throw new Error('printTraceCode refused');
    const [job] = await cups.waitForJobs(QUEUE, 1, 60000);
    const before = await runBenchChild(CHILD, cups.env, { queue: QUEUE, width, height, path: 'twoPasses' });
    const a = await runBenchChild(CHILD, cups.env, { queue: QUEUE, width, height, path: 'printTraceCodeAsync' });
    if (!a.ok) throw new Error('printTraceCodeAsync refused');
    await cups.waitForJobs(QUEUE, 2, 60000);
    const sharp = await runBenchChild(CHILD, cups.env, { queue: QUEUE, width, height, path: 'sharp' });

    const prepared = 1078 + 400 * 240;
    const command = job.data.length;
    const budget = 2 * r.input + prepared + command;
    const peakOfCall = r.peak - r.before;
    const mib = (b) => (b >= MiB ? `${(b / MiB).toFixed(1)} MiB` : `${(b / 1024).toFixed(1)} KiB`);
    console.log(`## Memory: one printTraceCode call, ${width}x${height} 24-bit BMP onto a 50x30 mm ZPL label\n`);
    console.log(
      table(
        ['quantity', 'size'],
        [
          ['input BMP (caller\'s Buffer)', mib(r.input)],
          ['prepared image (400x240)', mib(prepared)],
          ['ZPL command', mib(command)],
          ['budget: 2 × input + prepared + command', mib(budget)],
          ['resident before the input existed', mib(r.before)],
          ['resident with the input, before the call', mib(r.withInput)],
          ['peak resident during the call (VmHWM)', mib(r.peak)],
          ['**peak − resident before the input**', `**${mib(peakOfCall)}**`],
          ['peak − resident just before the call', mib(r.peak - r.withInput)],
          ['for comparison, two passes: reader copy + convertTo8BitBMP + resizeBMP, peak − before input', mib(before.peak - before.before)],
          ['printTraceCodeAsync until it settled, peak − before input', mib(a.peak - a.before)],
          ['sharp resize of the same pixels to 400x240, peak − before input', mib(sharp.peak - sharp.before)],
        ],
      ),
    );
    console.log(`\nprintTraceCodeAsync ÷ printTraceCode, peak − before input: ${((a.peak - a.before) / peakOfCall).toFixed(3)} (target ≤ 1.1).`);
    console.log(`\nPeak ÷ budget: ${(peakOfCall / budget).toFixed(2)}; peak ÷ input: ${(peakOfCall / r.input).toFixed(2)}.`);
    saveResult('memory', { width, height, input: r.input, prepared, command, budget, ...r, peakOfCall, twoPasses: before, async: a, sharp });
  } finally {
    cups.stop();
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
