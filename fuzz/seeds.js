'use strict';
// Writes the seed corpora: BMPs made by the project's own writer (lib/bmp-writer.js), at every depth
// and header size the reader accepts, plus the harness prefixes.
//   node fuzz/seeds.js OUTDIR      (creates OUTDIR/<harness>/...)
const fs = require('fs');
const path = require('path');
const { makeBmp } = require('../lib/bmp-writer');

const out = process.argv[2];
if (!out) {
  console.error('usage: node fuzz/seeds.js OUTDIR');
  process.exit(2);
}

const gray = (x, y) => ((x * 37 + y * 91) % 256);
const color = (x, y) => [(x * 50) % 256, (y * 80) % 256, ((x + y) * 30) % 256, (x * y * 40) % 256];

const images = [];
for (const bpp of [8, 24, 32]) {
  for (const headerSize of [40, 108, 124]) {
    for (const [width, height] of [[1, 1], [3, 2], [5, 4], [16, 8], [9, 13]]) {
      const pixel = bpp === 8 ? gray : color;
      images.push({ name: `${bpp}bpp_h${headerSize}_${width}x${height}`, bmp: makeBmp({ width, height, bpp, headerSize, pixel }) });
    }
  }
}

function write(harness, name, bytes) {
  const dir = path.join(out, harness);
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, name), bytes);
}

for (const { name, bmp } of images) {
  write('convert', name, bmp);
  for (const [w, h] of [[1, 1], [4, 3], [16, 8], [7, 20]]) {
    const sized = Buffer.concat([Buffer.from([w, h]), bmp]);
    write('resize', `${name}_to${w}x${h}`, sized);
    write('label_image', `${name}_to${w}x${h}`, sized);
  }
}

// Row kernel seeds: kernel, two little-endian widths, a few pixels.
for (const [kernel, a, b] of [[0, 7, 0], [1, 33, 0], [2, 64, 0], [3, 40, 16], [3, 100, 33], [3, 5, 300]]) {
  write('kernels', `k${kernel}_${a}_${b}`, Buffer.from([kernel, a & 255, a >> 8, b & 255, b >> 8, ...images[20].bmp.subarray(54, 150)]));
}

// Generator seeds: flags, width mm, height mm, then a BMP (pipeline mode) or
// a prepared image of exactly the label's dots (injected mode).
// One per row of the add-on's language table, named as fuzz/CMakeLists.txt names the harnesses.
const table = fs.readFileSync(path.join(__dirname, '..', 'src', 'printer', 'trace_code.cpp'), 'utf8');
const languages = [...table.matchAll(/^ *\{"([^"]+)", build</gm)].map((m) => m[1].toLowerCase().replace('/', '_'));
for (const language of languages) {
  const harness = `gen_${language}`;
  for (const { name, bmp } of images.filter((_, i) => i % 3 === 0)) {
    for (const cutter of [0, 2]) write(harness, `pipe_${name}_${cutter}`, Buffer.concat([Buffer.from([1 | cutter, 5, 6]), bmp]));
  }
  for (const [mmW, mmH, dpiFlag] of [[1, 1, 0], [2, 1, 0], [1, 1, 4], [3, 2, 4]]) {
    const dots = dpiFlag ? 12 : 8;
    const prepared = makeBmp({ width: mmW * dots, height: mmH * dots, bpp: 8, pixel: gray });
    write(harness, `inject_${mmW}x${mmH}_${dpiFlag}`, Buffer.concat([Buffer.from([dpiFlag | 2, mmW, mmH]), prepared]));
  }
}

// PNG decoder seeds: every colour type, depth and interlacing the tests build.
const { everyPng } = require('../test/support/png-fixtures');
for (const [name, png] of Object.entries(everyPng())) write('png', name.replace(/[^a-z0-9]+/gi, '_'), png);
