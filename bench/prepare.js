'use strict';
// Image preparation: 24-bit BMP pixels to the 8-bit gray label image by
// nearest-neighbour sampling. The add-on's one pass (and, for reference, the
// two passes it replaced) against a plain JavaScript typed-array loop of the
// same algorithm and against sharp (libvips) on the same pixels.
//   node bench/prepare.js [--quick]

const sharp = require('sharp');
const { loadBench, makeBmp, bmpToRgb, time, table, saveResult, fmt } = require('./lib/common');

const quick = process.argv.includes('--quick');
const SIZES = [
  { from: [1000, 660], to: [480, 320], iterations: 200, minMs: 1500 },
  { from: [4000, 2640], to: [800, 480], iterations: 60, minMs: 1500 },
  { from: [10000, 10000], to: [8000, 8000], iterations: quick ? 3 : 8, minMs: 1000 },
];

// What a user would write instead: one pass over the kept pixels, the
// same double-precision indices, the same weights in the same order. Without
// a fused multiply-add in JavaScript a few gray levels come out one apart.
function jsPrepare(bmp, targetWidth, targetHeight) {
  const view = new DataView(bmp.buffer, bmp.byteOffset, bmp.byteLength);
  const offset = view.getUint32(10, true);
  const width = view.getInt32(18, true);
  const height = view.getInt32(22, true);
  const bpp = view.getUint16(28, true);
  const bytes = bpp / 8;
  const sourceStride = Math.floor((width * bpp + 31) / 32) * 4;
  const stride = (targetWidth + 3) & ~3;
  const out = new Uint8Array(1078 + stride * targetHeight);
  const head = new DataView(out.buffer);
  out[0] = 0x42;
  out[1] = 0x4d;
  head.setUint32(2, out.length, true);
  head.setUint32(10, 1078, true);
  head.setUint32(14, 40, true);
  head.setInt32(18, targetWidth, true);
  head.setInt32(22, targetHeight, true);
  head.setUint16(26, 1, true);
  head.setUint16(28, 8, true);
  head.setUint32(34, stride * targetHeight, true);
  out.set(bmp.subarray(38, 46), 38);
  head.setUint32(46, 256, true);
  head.setUint32(50, 256, true);
  for (let i = 0; i < 256; i++) out[54 + 4 * i] = out[55 + 4 * i] = out[56 + 4 * i] = i;

  const columns = new Int32Array(targetWidth);
  const scaleX = width / targetWidth;
  for (let x = 0; x < targetWidth; x++) columns[x] = Math.min(width - 1, Math.trunc(x * scaleX)) * bytes;
  let alpha = false;
  if (bpp === 32) {
    for (let y = 0; y < height && !alpha; y++) {
      const row = offset + y * sourceStride;
      for (let x = 0; x < width; x++) if (bmp[row + 4 * x + 3] !== 0) { alpha = true; break; }
    }
  }
  const scaleY = height / targetHeight;
  for (let y = 0; y < targetHeight; y++) {
    const row = offset + Math.min(height - 1, Math.trunc(y * scaleY)) * sourceStride;
    const at = 1078 + y * stride;
    if (bytes === 1) {
      for (let x = 0; x < targetWidth; x++) out[at + x] = bmp[row + columns[x]];
      continue;
    }
    for (let x = 0; x < targetWidth; x++) {
      const p = row + columns[x];
      if (alpha && bmp[p + 3] < 128) {
        out[at + x] = 255;
        continue;
      }
      let t = bmp[p + 1] * 0.587;
      t = bmp[p + 2] * 0.299 + t;
      t = bmp[p] * 0.114 + t;
      out[at + x] = t; // Uint8Array truncates
    }
  }
  return out;
}

function differing(a, b) {
  if (a.length !== b.length) return `size ${a.length} vs ${b.length}`;
  let n = 0;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) n++;
  return n;
}

async function main() {
  const bench = loadBench();
  bench.muteLog(true);
  sharp.cache(false);
  const sharpThreads = sharp.concurrency();
  const rows = [];
  const results = [];
  for (const size of SIZES) {
    const [sw, sh] = size.from;
    const [tw, th] = size.to;
    const bmp = makeBmp(sw, sh, 24);
    const rgb = bmpToRgb(bmp, 3);
    const source = bench.source(bmp);
    const opts = { iterations: size.iterations, minMs: size.minMs };

    const ours = bench.prepare(source, tw, th);
    const mismatch = differing(ours, bench.convertThenResize(source, tw, th));
    if (mismatch !== 0) throw new Error(`one pass and two passes differ at ${sw}x${sh}: ${mismatch}`);
    const jsDiff = differing(ours, jsPrepare(bmp, tw, th));

    const toSharp = (threads) => async () => {
      sharp.concurrency(threads);
      return sharp(rgb, { raw: { width: sw, height: sh, channels: 3 }, limitInputPixels: false })
        .greyscale()
        .resize(tw, th, { kernel: 'nearest', fit: 'fill' })
        .raw()
        .toBuffer();
    };
    const sharpOut = await toSharp(sharpThreads)();
    if (sharpOut.length !== tw * th) throw new Error(`sharp gave ${sharpOut.length} bytes`);

    // The memory floor: a memcpy of the input and of the output, into buffers
    // allocated (and touched) beforehand; same-type TypedArray.set is memmove.
    const floorIn = Buffer.alloc(bmp.length, 1);
    const floorOut = Buffer.alloc(ours.length, 1);
    const r = {
      from: `${sw}x${sh}`,
      memcpy: await time(() => {
        floorIn.set(bmp);
        floorOut.set(ours);
      }, opts),
      to: `${tw}x${th}`,
      // Each image freed at once, as the print path frees it; compared above.
      onePass: await time(() => bench.discard(1, source, tw, th), opts),
      twoPasses: await time(() => bench.discard(2, source, tw, th), { ...opts, iterations: Math.min(opts.iterations, 30) }),
      js: await time(() => jsPrepare(bmp, tw, th), opts),
      sharp: await time(toSharp(sharpThreads), opts),
      sharp2: await time(toSharp(2), opts),
      jsDifferingBytes: jsDiff,
    };
    sharp.concurrency(sharpThreads);
    results.push(r);
    rows.push([
      `${r.from} → ${r.to}`,
      r.onePass.median,
      r.memcpy.median,
      `${fmt(r.onePass.median / r.memcpy.median)}×`,
      r.twoPasses.median,
      r.js.median,
      r.sharp.median,
      r.sharp2.median,
      `${fmt(r.sharp.median / r.onePass.median)}×`,
      `${fmt(r.js.median / r.onePass.median)}×`,
      `${fmt(r.twoPasses.median / r.onePass.median)}×`,
    ]);
    console.error(`done ${r.from}`);
  }
  bench.muteLog(false);
  console.log('## Image preparation (24-bit BMP → 8-bit label image), median ms per image\n');
  console.log(
    table(
      [
        'source → label',
        'add-on one pass',
        'memcpy in + out',
        'one pass ÷ memcpy',
        'add-on two passes (before)',
        'JS typed-array loop',
        `sharp (${sharpThreads} thread)`,
        'sharp (2 threads)',
        'sharp ÷ one pass',
        'JS ÷ one pass',
        'two ÷ one pass',
      ],
      rows,
    ),
  );
  console.log(
    `\nBytes where the JS loop (no fused multiply-add) differs from the add-on: ${results
      .map((r) => `${r.from}: ${r.jsDifferingBytes}`)
      .join(', ')}. Iterations: ${results.map((r) => `${r.from}: ${r.onePass.n}/${r.js.n}/${r.sharp.n}`).join(', ')} (add-on/JS/sharp).`,
  );
  saveResult('prepare', { sharpThreads, results });
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
