'use strict';
// An 8000x8000 RGBA PNG onto a 50x30 mm ZPL label through submitTraceCode,
// each case in a fresh process: decoded by the add-on on its own thread
// (`image`), against the JavaScript decoder (toBMP, then the BMP as `buffer`,
// all inside the measured window, which is what `image` did before). For
// each: the longest stall of the event loop (the largest gap between
// consecutive setImmediate ticks), peak resident memory over the resident
// memory just before the call (VmHWM, reset then), and the time to settle.
//   node bench/png.js [side]

const fs = require('fs');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { PrivateCups } = require('../lib/private-cups');
const { table, saveResult, runBenchChild, ROOT } = require('./lib/common');

const QUEUE = 'bench_png';
const MiB = 2 ** 20;

const CHILD = `
const fs = require('fs');
const status = (key) => Number(fs.readFileSync('/proc/self/status', 'utf8').match(new RegExp(key + ':\\\\s+(\\\\d+)'))[1]) * 1024;
const job = JSON.parse(process.env.JOB);
const addon = require(${JSON.stringify(path.join(ROOT, 'index.js'))});
const image = fs.readFileSync(job.file);
const label = { device: job.queue, instruction: 'ZPL', withCutter: false, width: 50, height: 30, dpi: 203 };
(async () => {
  const before = status('VmRSS');
  fs.writeFileSync('/proc/self/clear_refs', '5'); // VmHWM := VmRSS
  let maxGap = 0;
  let last = process.hrtime.bigint();
  let done = false;
  const tick = () => {
    const now = process.hrtime.bigint();
    maxGap = Math.max(maxGap, Number(now - last) / 1e6);
    last = now;
    if (!done) setImmediate(tick);
  };
  setImmediate(tick);
  const start = process.hrtime.bigint();
  last = start;
  const result = job.path === 'native'
    ? await addon.submitTraceCode({ ...label, image })
    : job.path === 'js'
      ? await addon.submitTraceCode({ ...label, buffer: addon.toBMP(image) })
      : await addon.submitTraceCode({ ...label, buffer: addon.toBMP({ width: 16, height: 8, channels: 1, data: Buffer.alloc(128, 90) }) });
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  done = true;
  tick();
  fs.writeSync(3, JSON.stringify({ ok: result.jobId > 0, ms, maxGap, over: status('VmHWM') - before, before }));
})();
`;

async function main() {
  const side = Number(process.argv[2] || 8000);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-png-'));
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  try {
    // Rows of a few patterns of 32-pixel runs of hashed colours: the file stays small (as a label's
    // artwork does) while every row still has to be inflated and filtered.
    const rowBytes = 1 + 4 * side;
    const patterns = Array.from({ length: 16 }, (_, k) => {
      const row = Buffer.alloc(rowBytes);
      for (let x = 0; x < side; x++) row.writeUInt32BE((Math.imul((x >> 5) + k * 7919, 2654435761) | 0xff) >>> 0, 1 + 4 * x);
      return row;
    });
    const deflate = zlib.createDeflate({ level: 6 });
    const parts = [];
    deflate.on('data', (c) => parts.push(c));
    const ended = new Promise((resolve) => deflate.on('end', resolve));
    for (let y = 0; y < side; y++) deflate.write(patterns[(y * 5) % 16]);
    deflate.end();
    await ended;
    const u32 = (v) => Buffer.from([v >>> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255]);
    const chunk = (type, data) => {
      const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
      return Buffer.concat([u32(data.length), body, u32(zlib.crc32(body))]);
    };
    const png = Buffer.concat([
      Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'),
      chunk('IHDR', Buffer.concat([u32(side), u32(side), Buffer.from([8, 6, 0, 0, 0])])),
      chunk('IDAT', Buffer.concat(parts)),
      chunk('IEND', Buffer.alloc(0)),
    ]);
    const file = path.join(dir, 'big.png');
    fs.writeFileSync(file, png);

    const rows = [];
    const results = {};
    for (const [name, what] of [['native', 'add-on (libpng, engine thread)'], ['js', 'JavaScript decoder (pngjs, then the BMP)'], ['floor', 'for scale: a 16x8 BMP, nothing to decode']]) {
      const r = await runBenchChild(CHILD, cups.env, { queue: QUEUE, file, path: name });
      if (!r.ok) throw new Error(`${name} refused`);
      results[name] = r;
      rows.push([what, `${r.maxGap.toFixed(1)} ms`, `${(r.over / MiB).toFixed(1)} MiB`, `${(r.ms / 1000).toFixed(2)} s`]);
    }
    const jobs = await cups.waitForJobs(QUEUE, 3, 60000);
    const same = jobs[0].data.equals(jobs[1].data);
    console.log(`## ${side}x${side} RGBA PNG (${(png.length / 1024).toFixed(0)} KiB) to a 50x30 mm ZPL label, submitTraceCode\n`);
    console.log(table(['decoder', 'longest loop stall', 'peak memory over before the call', 'time to settle'], rows));
    console.log(`\nSame job bytes from both: ${same}.`);
    saveResult('png', { side, file: png.length, same, ...results });
  } finally {
    cups.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
