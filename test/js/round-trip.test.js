'use strict';
// Round trip: random 8-, 24- and 32-bit BMPs printed in every language through
// the private scheduler, read back from the captured jobs by the virtual
// printer, and compared with the label worked out here from the BMP alone;
// each job is also exactly what renderTraceCode gives at its resolution.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { decode, detectLanguage, LANGUAGES } = require('../../lib/virtual-printer');
const { makeBmp } = require('../../lib/bmp-writer');

function mulberry32(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = Math.imul(a ^ (a >>> 15), 1 | a);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// The gray level: G x 0.587 rounded, then R x 0.299 and B x 0.114 each added
// with a single rounding (a fused multiply-add), truncated. JavaScript has no
// fused multiply-add, so each sum is formed exactly on integers scaled by
// 2^64 (every double involved is a whole multiple of 2^-64) and rounded once
// by the BigInt to Number conversion, which rounds to nearest, ties to even.
const SCALE = 2 ** 64;
const RED = BigInt(0.299 * SCALE);
const BLUE = BigInt(0.114 * SCALE);
function gray(r, g, b) {
  const t = g * 0.587;
  const u = Number(BigInt(r) * RED + BigInt(t * SCALE)) / SCALE;
  return Math.trunc(Number(BigInt(b) * BLUE + BigInt(u * SCALE)) / SCALE);
}

// A BMP of random bytes (pixels, pad bytes, a gap before the pixels, for
// 8-bit a palette that is not gray) with valid headers written over them; the
// resolution stays random, as the label must carry it over.
function randomBmp(rand, width, height, bpp) {
  const stride = Math.floor((width * bpp + 31) / 32) * 4;
  const offset = 54 + (bpp === 8 ? 1024 : 0) + 4 * Math.floor(rand() * 3);
  const bmp = Buffer.from(Array.from({ length: offset + stride * height }, () => Math.floor(rand() * 256)));
  const header = makeBmp({ width, height, bpp, pixel: () => (bpp === 8 ? 0 : [0, 0, 0]) });
  header.copy(bmp, 0, 0, 38);
  header.copy(bmp, 46, 46, 54);
  bmp.writeUInt32LE(bmp.length, 2);
  bmp.writeUInt32LE(offset, 10);
  return bmp;
}

// Gray level of the source pixel (x, row counted from the bottom).
function sourceGray(bmp, x, row) {
  const bpp = bmp.readUInt16LE(28);
  const stride = Math.floor((bmp.readInt32LE(18) * bpp + 31) / 32) * 4;
  const at = bmp.readUInt32LE(10) + row * stride + x * (bpp / 8);
  if (bpp === 8) return bmp[at];
  if (bpp === 32 && bmp[at + 3] < 128) return 255;
  return gray(bmp[at + 2], bmp[at + 1], bmp[at]);
}

// The label image the printer should get: the BMP in gray, scaled nearest
// neighbour from the bottom-left corner with double-precision scale factors,
// as an 8-bit gray BMP, and its dots (gray below 128), top row first.
function expectedLabel(bmp, width, height) {
  const srcWidth = bmp.readInt32LE(18);
  const srcHeight = bmp.readInt32LE(22);
  const scaleX = srcWidth / width;
  const scaleY = srcHeight / height;
  const dots = new Uint8Array(width * height);
  // An 8-bit gray BMP that keeps the source's resolution; y counts from the top.
  const out = makeBmp({ width, height, bpp: 8, pixel: (x, y) => {
    const v = sourceGray(bmp, Math.min(srcWidth - 1, Math.trunc(x * scaleX)), Math.min(srcHeight - 1, Math.trunc((height - 1 - y) * scaleY)));
    dots[y * width + x] = v < 128 ? 1 : 0;
    return v;
  } });
  bmp.copy(out, 38, 38, 46);
  out.writeUInt32LE(256, 50);
  return { image: out, dots };
}

function widen(dots, width, height, toWidth) {
  const out = new Uint8Array(toWidth * height);
  for (let y = 0; y < height; y++) out.set(dots.subarray(y * width, (y + 1) * width), y * toWidth);
  return out;
}

function expectedCommands({ language, cutter, widthMm, heightMm }, widthDots, heightDots) {
  const stored = { lengthTenths: heightMm * 10, continuousTenths: heightMm * 10, cutEvery: cutter ? 1 : null, formFeed: !cutter };
  const own = {
    TSPL: { tear: true, widthMm, heightMm },
    ZPL: { widthDots, heightDots },
    'ESC/POS': { feedLines: 3 },
    CPCL: { offset: 0, resolution: [200, 200], widthDots, heightDots },
  };
  return { cutter, quantity: 1, ...(own[language] || stored) };
}

test('printing through the private scheduler', async (t) => {
  const QUEUES = { 203: 'rt203', 300: 'rt300', 600: 'rt600' };
  const cups = await PrivateCups.start({ queues: Object.values(QUEUES) });
  t.after(() => cups.stop());
  cups.writeLpoptions([300, 600].map((dpi) => `Dest ${QUEUES[dpi]} printer-resolution-default=${dpi}dpi`));
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'label-round-trip-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));

  const rand = mulberry32(20260305);

  await t.test('random labels in every language read back as prepared', async () => {
    const pick = (list) => list[Math.floor(rand() * list.length)];
    const cases = [];
    for (let i = 0; i < 42; i++) {
      const dpi = pick([203, 300, 600]);
      const c = {
        language: LANGUAGES[i % LANGUAGES.length],
        device: QUEUES[dpi],
        dpi,
        dotsPerMm: { 203: 8, 300: 12, 600: 24 }[dpi],
        cutter: rand() < 0.5,
        widthMm: 1 + Math.floor(rand() * 9),
        heightMm: 1 + Math.floor(rand() * 6),
        bpp: pick([8, 24, 32]),
        file: path.join(dir, `${i}.bmp`),
      };
      c.bmp = randomBmp(rand, 1 + Math.floor(rand() * 48), 1 + Math.floor(rand() * 48), c.bpp);
      fs.writeFileSync(c.file, c.bmp);
      cases.push(c);
    }
    const requests = cases.map(({ language, device, dpi, cutter, widthMm, heightMm, file }) => ({
      instruction: language, device, withCutter: cutter, width: widthMm, height: heightMm, file, dpi,
    }));
    fs.writeFileSync(path.join(dir, 'requests.json'), JSON.stringify(requests));

    const r = await runInChild(
      `const requests = JSON.parse(fs.readFileSync(${JSON.stringify(path.join(dir, 'requests.json'))}, 'utf8'));
       return requests.map(({ file, dpi, ...options }) => {
         const label = { ...options, buffer: fs.readFileSync(file) };
         return [addon.printTraceCode(label), addon.renderTraceCode(label, dpi).toString('base64')];
       });`,
      { env: cups.env },
    );
    assert.equal(r.answer.kind, 'value', r.stdout + r.stderr);
    assert.deepEqual(r.answer.value.map(([printed]) => printed), cases.map(() => true), r.stdout);

    const jobs = {};
    for (const queue of Object.values(QUEUES)) {
      const count = cases.filter((c) => c.device === queue).length;
      jobs[queue] = await cups.waitForJobs(queue, count);
      assert.equal(jobs[queue].length, count);
    }
    const taken = { rt203: 0, rt300: 0, rt600: 0 };
    for (const [i, c] of cases.entries()) {
      const what = `case ${i}: ${c.language} ${c.widthMm}x${c.heightMm} mm, ${c.dotsPerMm} dots/mm, ${c.bpp}-bit`;
      const data = jobs[c.device][taken[c.device]++].data;
      const width = c.widthMm * c.dotsPerMm;
      const height = c.heightMm * c.dotsPerMm;
      const expected = expectedLabel(c.bmp, width, height);

      assert.equal(data.toString('base64'), r.answer.value[i][1], `${what}: not the bytes renderTraceCode gives`);
      assert.equal(detectLanguage(data), c.language, what);
      const label = decode(c.language, data, { dotsPerMm: c.dotsPerMm });
      assert.deepEqual(label.commands, expectedCommands(c, width, height), what);
      if (c.language === 'PPLA' || c.language === 'DPL') assert.ok(label.image.equals(expected.image), what);
      // ESC/POS sends whole bytes per row: its columns past the label are unprinted filler.
      const rasterWidth = c.language === 'ESC/POS' ? Math.ceil(width / 8) * 8 : width;
      assert.equal(label.width, rasterWidth, what);
      assert.equal(label.height, height, what);
      assert.deepEqual(label.dots, widen(expected.dots, width, height, rasterWidth), what);
    }
  });
});
