'use strict';
// 100 submitTraceCode calls with a small QR-code PNG (the qrcode package's
// PNG of a trace code) as `image`, against the same labels from BMPs made
// beforehand and the JavaScript decoder (toBMP inside each call, as `image`
// was before): the JavaScript thread's time inside the 100 calls themselves
// (which is where `image` used to be decoded), and the sum of the event-loop
// gaps over 1 ms between setImmediate ticks until all have settled.
//   node bench/png-small.js

const QRCode = require('qrcode');
const { PrivateCups } = require('../lib/private-cups');
const { runBenchChild, ROOT } = require('./lib/common');
const path = require('path');

const CHILD = `
const fs = require('fs');
const job = JSON.parse(process.env.JOB);
const addon = require(${JSON.stringify(path.join(ROOT, 'index.js'))});
const png = Buffer.from(job.png, 'base64');
const bmp = addon.toBMP(png);
const label = { device: job.queue, instruction: 'ZPL', withCutter: false, width: 30, height: 30, dpi: 203 };
(async () => {
  let stalled = 0;
  let last = process.hrtime.bigint();
  let done = false;
  const tick = () => {
    const now = process.hrtime.bigint();
    const gap = Number(now - last) / 1e6;
    if (gap > 1) stalled += gap;
    last = now;
    if (!done) setImmediate(tick);
  };
  setImmediate(tick);
  let inCalls = 0;
  const jobs = [];
  for (let i = 0; i < 100; i++) {
    const t = process.hrtime.bigint();
    const options = job.path === 'png' ? { ...label, image: png } : job.path === 'js' ? { ...label, buffer: addon.toBMP(png) } : { ...label, buffer: bmp };
    jobs.push(addon.submitTraceCode(options));
    inCalls += Number(process.hrtime.bigint() - t) / 1e6;
  }
  const results = await Promise.all(jobs);
  done = true;
  fs.writeSync(3, JSON.stringify({ ok: results.every((r) => r.jobId > 0), inCalls, stalled }));
})();
`;

async function main() {
  const cups = await PrivateCups.start({ queues: ['bench_small'] });
  try {
    const png = await QRCode.toBuffer('TRACE-2026-000123-ABCDEF', { type: 'png', margin: 1, scale: 4 });
    console.log(`QR PNG: ${png.length} bytes\n`);
    console.log('| 100 submits of | JavaScript thread inside the calls | loop gaps over 1 ms, summed |');
    console.log('| --- | ---: | ---: |');
    for (const [name, what] of [['png', 'the PNG as `image` (add-on decoder)'], ['js', 'the PNG through the JavaScript decoder (toBMP in the call)'], ['bmp', 'BMPs made beforehand, as `buffer`']]) {
      const r = await runBenchChild(CHILD, cups.env, { queue: 'bench_small', png: png.toString('base64'), path: name });
      if (!r.ok) throw new Error(`${name} refused`);
      console.log(`| ${what} | ${r.inCalls.toFixed(1)} ms | ${r.stalled.toFixed(1)} ms |`);
    }
  } finally {
    cups.stop();
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
