'use strict';
// PNGs given to submitTraceCode as `image` are decoded by the add-on on its
// own thread: every kind of PNG makes the label toBMP's BMP makes (the
// JavaScript decoder is the oracle), damaged and hostile ones are refused
// with a reason in bounded memory, and the event loop runs while they decode.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { chunk, makePng, everyPng } = require('../support/png-fixtures');

const dir = fs.mkdtempSync('/tmp/js_png_');
let cups;
test.before(async () => (cups = await PrivateCups.start({ queues: ['png_q'] })));
test.after(() => (cups.stop(), fs.rmSync(dir, { recursive: true, force: true })));
const file = (name, bytes) => {
  const at = path.join(dir, name);
  fs.writeFileSync(at, bytes);
  return at;
};
const child = (body, env = {}) => runInChild(body, { env: { ...cups.env, ...env }, timeoutMs: 120000 });
const withHeader = (width, height, depth, colorType, idat) => makePng({ width, height, depth, colorType, idat });

test('every kind of PNG prints the label its toBMP BMP prints, in every language', async () => {
  const pngs = {
    ...everyPng(),
    // A larger one, so that the label samples rather than repeats source pixels.
    'RGB 8-bit 300 x 200, interlaced': makePng({ colorType: 2, depth: 8, interlace: 1, width: 300, height: 200, sample: (x, y) => [(x * 7) & 255, (y * 5) & 255, (x ^ y) & 255] }),
  };
  const names = Object.keys(pngs);
  const languages = ['ZPL', 'TSPL', 'ESC/POS', 'CPCL', 'PPLA', 'DPL'];
  const cases = names.map((name, i) => ({ name, file: file(`v${i}.png`, pngs[name]), language: languages[i % languages.length] }));
  const r = await child(
    `const cases = ${JSON.stringify(cases)};
    const out = [];
    for (const { file, language } of cases) {
      const label = { device: 'png_q', instruction: language, withCutter: false, width: 20, height: 12 };
      const image = fs.readFileSync(file);
      const job = await addon.submitTraceCode({ ...label, image });
      const expected = addon.renderTraceCode({ ...label, buffer: addon.toBMP(image) }, 203);
      out.push({ jobId: job.jobId, expected: expected.toString('base64') });
    }
    return out;`,
  );
  assert.equal(r.answer.kind, 'value', JSON.stringify(r.answer) + r.stderr);
  // That a BMP given as buffer is sent as renderTraceCode makes it is dots.test.js's.
  const byId = new Map((await cups.waitForJobs('png_q', cases.length)).map((j) => [j.id, j.data]));
  r.answer.value.forEach(({ jobId, expected }, i) => assert.ok(byId.get(jobId).equals(Buffer.from(expected, 'base64')), `${cases[i].name} (${cases[i].language})`));
});

test('damaged and hostile PNGs are refused with a reason, the bomb in bounded memory, and nothing is sent', async () => {
  const sent = cups.jobs('png_q').length;
  const good = makePng({ colorType: 6, depth: 8, sample: (x, y) => [x * 20, y * 30, 100, 255] });
  const badCrc = Buffer.from(good);
  badCrc[41 + good.readUInt32BE(33)] ^= 0xff; // the first byte of IDAT's checksum
  const rows = (width, height, bytesPerPixel) => Buffer.alloc(height * (1 + width * bytesPerPixel));
  // 10000 x 10000 gray declares 100 010 000 bytes of rows; this inflates to 150 MB more.
  const bomb = withHeader(10000, 10000, 8, 0, zlib.deflateSync(Buffer.alloc(250e6), { level: 9 }));
  const cases = [
    ['truncated', good.subarray(0, good.length - 30), /^unreadable image: the PNG is truncated: the file ends before its last chunk$/],
    ['bad checksum', badCrc, /^unreadable image: the PNG is damaged: the checksum of its IDAT chunk does not match$/],
    ['too wide', withHeader(10001, 1, 8, 0, zlib.deflateSync(rows(10001, 1, 1))), /^unreadable image: the PNG is 10001 x 1 pixels; each side must be a whole number from 1 to 10000$/],
    ['too little pixel data', withHeader(50, 50, 8, 2, zlib.deflateSync(rows(50, 30, 3))), /^unreadable image: the PNG is truncated: its pixel data ends before its last row$/],
    ['more pixel data than declared', withHeader(50, 50, 8, 2, zlib.deflateSync(rows(50, 80, 3))), /^unreadable image: the PNG is damaged: its pixel data inflates past the size its header declares$/],
    ['a palette index past the palette', makePng({ colorType: 3, depth: 8, extra: [chunk('PLTE', Buffer.from([0, 0, 0, 255, 255, 255]))], sample: (x) => [x % 3] }), /^unreadable image: the PNG is damaged: a pixel uses colour 2 of a 2-colour palette$/],
    ['zlib bomb behind a 10000 x 10000 header', bomb, /^unreadable image: the PNG is damaged: its pixel data inflates past the size its header declares$/],
  ];
  const files = cases.map(([, bytes], i) => file(`bad${i}.png`, bytes));
  const r = await child(
    `const status = (key) => Number(fs.readFileSync('/proc/self/status', 'utf8').match(new RegExp(key + ':\\\\s+(\\\\d+)'))[1]) * 1024;
    const label = { device: 'png_q', instruction: 'ZPL', withCutter: false, width: 20, height: 12 };
    const out = [];
    for (const file of ${JSON.stringify(files)}) {
      const image = fs.readFileSync(file);
      fs.writeFileSync('/proc/self/clear_refs', '5'); // VmHWM := VmRSS
      const before = status('VmRSS');
      const got = await addon.submitTraceCode({ ...label, image }).then(() => ({}), (e) => ({ code: e.code, message: e.message }));
      out.push({ ...got, peak: status('VmHWM') - before });
    }
    return out;`,
  );
  assert.equal(r.answer.kind, 'value', JSON.stringify(r.answer) + r.stderr);
  cases.forEach(([name, , message], i) => {
    const got = r.answer.value[i];
    assert.equal(got.code, 'ERR_UNREADABLE_IMAGE', name);
    assert.match(got.message, message, name);
  });
  const bombPeak = r.answer.value.at(-1).peak;
  // AddressSanitizer's shadow memory and quarantine add their own share: the
  // bound holds for the add-on as it ships, not for a sanitizer build.
  const sanitized = /libasan/.test(process.env.LD_PRELOAD || '');
  // Rows stream into the label, so not even the 100 MB gray plane is made.
  const bound = (sanitized ? 64 : 16) * 2 ** 20;
  assert.ok(bombPeak <= bound, `the bomb took ${(bombPeak / 2 ** 20).toFixed(1)} MiB`);
  assert.equal(cups.jobs('png_q').length, sent);
});

// Counts, not times: the ticks of a setImmediate chain while a large PNG is
// decoded and submitted, against those of the same label from a BMP made
// beforehand. Decoded on the JavaScript thread, the PNG would add no ticks.
test('the event loop keeps turning while a large PNG is decoded', async () => {
  const sent = cups.jobs('png_q').length;
  const [width, height] = [5000, 5000];
  const row = Buffer.alloc(1 + 4 * width);
  for (let x = 0; x < width; x++) row.writeUInt32BE((Math.imul(x, 2654435761) | 0xff) >>> 0, 1 + 4 * x);
  const raw = Buffer.concat(Array.from({ length: height }, () => row));
  const big = file('big.png', withHeader(width, height, 8, 6, zlib.deflateSync(raw, { level: 1 })));
  const small = file('small.png', makePng({ colorType: 6, depth: 8, sample: (x) => [x * 20, 0, 0, 255] }));
  // ASan holds freed blocks back (quarantine): the peak would count every byte ever allocated.
  const live = process.env.ASAN_OPTIONS ? { ASAN_OPTIONS: `${process.env.ASAN_OPTIONS}:quarantine_size_mb=0` } : {};
  const r = await child(
    `const label = { device: 'png_q', instruction: 'ZPL', withCutter: false, width: 50, height: 30, dpi: 203 };
    const status = (key) => Number(fs.readFileSync('/proc/self/status', 'utf8').match(new RegExp(key + ':\\\\s+(\\\\d+)'))[1]) * 1024;
    const ticksDuring = async (start) => {
      let ticks = 0;
      let done = false;
      const tick = () => { ticks++; if (!done) setImmediate(tick); };
      fs.writeFileSync('/proc/self/clear_refs', '5'); // VmHWM := VmRSS
      const before = status('VmRSS');
      setImmediate(tick);
      const job = await start();
      done = true;
      return { ticks, jobId: job.jobId, peak: status('VmHWM') - before };
    };
    const bmp = addon.toBMP(fs.readFileSync(${JSON.stringify(big)}));
    const image = fs.readFileSync(${JSON.stringify(big)});
    const asBmp = await ticksDuring(() => addon.submitTraceCode({ ...label, buffer: bmp }));
    const asPng = await ticksDuring(() => addon.submitTraceCode({ ...label, image }));
    const tiny = await ticksDuring(() => addon.submitTraceCode({ ...label, image: fs.readFileSync(${JSON.stringify(small)}) }));
    return { asBmp, asPng, tiny };`,
    live,
  );
  assert.equal(r.answer.kind, 'value', JSON.stringify(r.answer) + r.stderr);
  const { asBmp, asPng, tiny } = r.answer.value;
  const jobs = await cups.waitForJobs('png_q', sent + 3);
  assert.ok(jobs.find((j) => j.id === asPng.jobId).data.equals(jobs.find((j) => j.id === asBmp.jobId).data));
  assert.ok(asPng.ticks > 3 * asBmp.ticks && asPng.ticks > 3 * tiny.ticks, JSON.stringify({ asBmp, asPng, tiny }));
  // A row at a time: far below the 25 MB gray plane of the whole image.
  const sanitized = /libasan/.test(process.env.LD_PRELOAD || '');
  assert.ok(asPng.peak <= fs.statSync(big).size + (sanitized ? 24 : 8) * 2 ** 20, JSON.stringify({ asPng, size: fs.statSync(big).size }));
});
