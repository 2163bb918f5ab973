'use strict';
// Image to printer language: the add-on's ZPL and ESC/POS streams against
// the npm encoders zpl-image (ZPL ^GFA graphic, ACS and Z64 compressed) and
// @point-of-sale/receipt-printer-encoder (ESC/POS GS v 0 raster), for the
// same label pixels.
//   node bench/encode.js

const { rgbaToACS, rgbaToZ64 } = require('zpl-image');
const { loadBench, makeBmp, bmpToRgb, time, table, saveResult, fmt } = require('./lib/common');

const LABELS = [
  { mm: [50, 30], dots: [400, 240] },
  { mm: [100, 150], dots: [800, 1200] },
];
const OPTS = { iterations: 200, minMs: 1500 };

// The raster rows of every GS v 0 block in a stream, joined: the encoder
// sends bands of at most 255 rows, the add-on one block.
function rasters(stream) {
  const parts = [];
  for (let at = stream.indexOf(Buffer.from([0x1d, 0x76, 0x30, 0x00])); at >= 0; ) {
    const bytes = stream.readUInt16LE(at + 4) * stream.readUInt16LE(at + 6);
    parts.push(stream.subarray(at + 8, at + 8 + bytes));
    at = stream.indexOf(Buffer.from([0x1d, 0x76, 0x30, 0x00]), at + 8 + bytes);
  }
  return Buffer.concat(parts);
}

async function main() {
  const bench = loadBench();
  const { default: ReceiptPrinterEncoder } = await import('@point-of-sale/receipt-printer-encoder');
  bench.muteLog(true);
  const rows = [];
  const results = [];
  for (const { mm, dots } of LABELS) {
    const [w, h] = dots;
    // Label-size input, so each side starts from the same pixels at the
    // same size: our BMP, their RGBA.
    const bmp = makeBmp(w, h, 32);
    const rgba = bmpToRgb(bmp, 4);
    const zplLabel = bench.label('ZPL', bmp, mm[0], mm[1], false);
    const escLabel = bench.label('ESC/POS', bmp, mm[0], mm[1], false);

    const zplImageAcs = () => {
      const res = rgbaToACS(rgba, w, { black: 50, notrim: true });
      return `^XA\r\n^PW${w}\r\n^LL${h}\r\n^LH0,0\r\n^GFA,${res.length},${res.length},${res.rowlen},${res.acs}\r\n^FS\r\n^XZ\r\n`;
    };
    const zplImageZ64 = () => {
      const res = rgbaToZ64(rgba, w, { black: 50, notrim: true });
      return `^XA\r\n^PW${w}\r\n^LL${h}\r\n^LH0,0\r\n^GFA,${res.length},${res.length},${res.rowlen},${res.z64}\r\n^FS\r\n^XZ\r\n`;
    };
    const receipt = () =>
      new ReceiptPrinterEncoder({ language: 'esc-pos', imageMode: 'raster' })
        .initialize()
        .image({ data: rgba, width: w, height: h }, w, h, 'threshold', 128)
        .newline(3)
        .encode();

    // Same picture on both sides: the ESC/POS rasters must agree bit for bit.
    const ours = bench.generate(escLabel);
    if (!ours.equals(bench.render('ESC/POS', bmp, mm[0], mm[1], false))) throw new Error('render and generate differ');
    const theirs = Buffer.from(receipt());
    if (!rasters(ours).equals(rasters(theirs))) throw new Error(`ESC/POS rasters differ at ${w}x${h}`);

    const r = {
      label: `${mm[0]}x${mm[1]} mm (${w}x${h} dots)`,
      zpl: await time(() => bench.generate(zplLabel), OPTS),
      zplFromBmp: await time(() => bench.render('ZPL', bmp, mm[0], mm[1], false), OPTS),
      zplImageAcs: await time(zplImageAcs, OPTS),
      zplImageZ64: await time(zplImageZ64, OPTS),
      esc: await time(() => bench.generate(escLabel), OPTS),
      escFromBmp: await time(() => bench.render('ESC/POS', bmp, mm[0], mm[1], false), OPTS),
      receipt: await time(receipt, OPTS),
      bytes: {
        zpl: bench.generate(zplLabel).length,
        zplImageAcs: zplImageAcs().length,
        zplImageZ64: zplImageZ64().length,
        esc: ours.length,
        receipt: theirs.length,
      },
    };
    results.push(r);
    const best = Math.min(r.zplImageAcs.median, r.zplImageZ64.median);
    rows.push([
      r.label,
      r.zpl.median,
      r.zplFromBmp.median,
      r.zplImageAcs.median,
      r.zplImageZ64.median,
      `${fmt(best / r.zpl.median)}× / ${fmt(best / r.zplFromBmp.median)}×`,
      r.esc.median,
      r.escFromBmp.median,
      r.receipt.median,
      `${fmt(r.receipt.median / r.esc.median)}× / ${fmt(r.receipt.median / r.escFromBmp.median)}×`,
    ]);
    console.error(`done ${r.label}`);
  }
  bench.muteLog(false);
  console.log('## Image to printer language, median ms per label\n');
  console.log(
    table(
      [
        'label',
        'ZPL: add-on stream',
        'ZPL: add-on from BMP',
        'zpl-image ACS',
        'zpl-image Z64',
        'faster zpl-image ÷ add-on (stream / from BMP)',
        'ESC/POS: add-on stream',
        'ESC/POS: add-on from BMP',
        'receipt-printer-encoder',
        'encoder ÷ add-on (stream / from BMP)',
      ],
      rows,
    ),
  );
  console.log(
    `\nStream sizes in bytes: ${results
      .map((r) => `${r.label}: ZPL ${r.bytes.zpl}, zpl-image ACS ${r.bytes.zplImageAcs}, Z64 ${r.bytes.zplImageZ64}, ESC/POS ${r.bytes.esc}, encoder ${r.bytes.receipt}`)
      .join('; ')}.`,
  );
  saveResult('encode', { results });
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
