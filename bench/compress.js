'use strict';
// compress: true against the plain ZPL stream: bytes of a QR-like trace-code
// label (demo/sample-label.js) at two sizes and two resolutions, the form
// chosen, and renderTraceCode's time for each (median of repeated runs).
//   node bench/compress.js

const addon = require('..');
const { decode } = require('../lib/virtual-printer');
const { sampleLabelBmp } = require('../demo/sample-label');

addon.setLogger(null);
const median = (fn, runs) => {
  const ms = [];
  for (let i = 0; i < runs; i++) {
    const start = process.hrtime.bigint();
    fn();
    ms.push(Number(process.hrtime.bigint() - start) / 1e6);
  }
  return ms.sort((a, b) => a - b)[runs >> 1];
};

console.log('| label | dpi | plain bytes | compressed bytes | ratio | form | render plain ms | render compressed ms | dots differ |');
console.log('|---|---|---|---|---|---|---|---|---|');
for (const [w, h] of [[50, 30], [100, 150]]) {
  for (const dpi of [203, 300]) {
    const d = dpi === 300 ? 12 : 8;
    const options = { device: 'none', instruction: 'ZPL', withCutter: false, width: w, height: h, buffer: sampleLabelBmp({ width: w * d, height: h * d }) };
    const plain = addon.renderTraceCode(options, dpi);
    const packed = addon.renderTraceCode({ ...options, compress: true }, dpi);
    const a = decode('ZPL', plain).dots;
    const b = decode('ZPL', packed).dots;
    let differ = 0;
    for (let i = 0; i < a.length; i++) differ += a[i] !== b[i];
    const forms = [...packed.toString('latin1').matchAll(/^\^GFA,\d+,\d+,\d+,(:Z64:)?/gm)].map((m) => (m[1] ? 'Z64' : 'runs'));
    const tPlain = median(() => addon.renderTraceCode(options, dpi), 31);
    const tPacked = median(() => addon.renderTraceCode({ ...options, compress: true }, dpi), 31);
    console.log(`| ${w} x ${h} mm | ${dpi} | ${plain.length} | ${packed.length} | 1/${Math.round(plain.length / packed.length)} | ${forms.join(' + ')} | ${tPlain.toFixed(2)} | ${tPacked.toFixed(2)} | ${differ} |`);
  }
}
