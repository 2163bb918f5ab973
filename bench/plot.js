'use strict';
// Draws results/bench.png from the JSON that prepare.js and e2e.js wrote:
// labels per second against source size, and preparation time against
// source size. Needs gnuplot (Debian: gnuplot-nox).
//   node bench/plot.js

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { RESULTS } = require('./lib/common');

const read = (name) => JSON.parse(fs.readFileSync(path.join(RESULTS, `${name}.json`), 'utf8'));
const e2e = read('e2e');
const prepare = read('prepare');

const megapixels = (size) => size.split('x').reduce((a, b) => a * b, 1) / 1e6;
const data = [
  '# source megapixels, printTraceCode labels/s, lp labels/s',
  ...e2e.sizes.map((s) => `${s.megapixels} ${s.perSecond} ${1000 / e2e.lp.mean}`),
  '',
  '',
  '# source megapixels, one pass, two passes, JS loop, sharp (ms)',
  ...prepare.results.map((r) => `${megapixels(r.from)} ${r.onePass.median} ${r.twoPasses.median} ${r.js.median} ${r.sharp.median}`),
].join('\n');
const dataFile = path.join(RESULTS, 'plot.dat');
fs.writeFileSync(dataFile, data + '\n');

const out = path.join(RESULTS, 'bench.png');
const script = `
set terminal pngcairo size 1200,480 font ",11"
set output '${out}'
set multiplot layout 1,2
set logscale x
set grid
set key bottom right
set xlabel 'source image (megapixels, 24-bit BMP)'
set title 'Labels per second, 50x30 mm ZPL label into a private CUPS'
set ylabel 'labels per second'
set yrange [0:*]
plot '${dataFile}' index 0 using 1:2 with linespoints lw 2 pt 7 title 'printTraceCode', \\
     '' index 0 using 1:3 with lines lw 2 dt 2 title 'spawn lp per label (stream ready)'
set title 'Image preparation time (median; labels as in the table)'
set ylabel 'ms per image (log)'
set logscale y
set yrange [*:*]
set key top left
plot '${dataFile}' index 1 using 1:2 with linespoints lw 2 pt 7 title 'add-on, one pass', \\
     '' index 1 using 1:3 with linespoints lw 2 pt 5 title 'add-on, two passes (before)', \\
     '' index 1 using 1:4 with linespoints lw 2 pt 9 title 'JavaScript loop', \\
     '' index 1 using 1:5 with linespoints lw 2 pt 11 title 'sharp'
unset multiplot
`;
const r = spawnSync('gnuplot', [], { input: script, encoding: 'utf8' });
if (r.error || r.status !== 0) {
  console.error(`gnuplot failed: ${r.error ? r.error.message : r.stderr}`);
  process.exit(1);
}
console.log(`wrote ${path.relative(process.cwd(), out)}`);
