'use strict';
// Shared by the benchmark programs: where the builds are, test images,
// a timing loop and table printing.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');

const ROOT = path.resolve(__dirname, '..', '..');
const BUILD = path.resolve(ROOT, process.env.BENCH_BUILD || 'build-bench');
const RESULTS = path.join(__dirname, '..', 'results');

function addonPath() {
  return path.join(BUILD, 'Release', 'trace_label.node');
}

function loadAddon() {
  return require(addonPath());
}

function benchPath() {
  return path.join(BUILD, 'Release', 'trace_label_bench.node');
}

function loadBench() {
  return require(benchPath());
}

// The machine, as BENCHMARKS.md reports it.
function machine() {
  const cpuinfo = fs.readFileSync('/proc/cpuinfo', 'utf8');
  const model = (cpuinfo.match(/^model name\s*:\s*(.*)$/m) || [])[1] || os.cpus()[0].model;
  const flags = (cpuinfo.match(/^flags\s*:\s*(.*)$/m) || [])[1] || '';
  return {
    nproc: os.cpus().length,
    cpu: model.trim(),
    avx2: /\bavx2\b/.test(flags),
    fma: /\bfma\b/.test(flags),
    memoryGiB: +(os.totalmem() / 2 ** 30).toFixed(1),
    node: process.version,
    kernel: os.release(),
  };
}

// A trace-code-like picture: square modules, dark or light by a hash of
// their position, inside a light quiet zone; colours are not gray, so the
// weighted conversion has work to do.
function pattern(width, height) {
  const module = Math.max(2, Math.round(Math.min(width, height) / 60));
  const margin = module * 2;
  const dark = (mx, my) => ((Math.imul(mx * 73856093 ^ my * 19349663, 83492791) >>> 13) & 1) === 1;
  return { module, margin, dark };
}

// Bottom-up BMP, 24 or 32 bits (alpha 255) or 8 bits (gray ramp palette).
function makeBmp(width, height, bpp = 24) {
  const bytes = bpp / 8;
  const stride = Math.floor((width * bpp + 31) / 32) * 4;
  const palette = bpp === 8 ? 1024 : 0;
  const offset = 54 + palette;
  const buf = Buffer.alloc(offset + stride * height);
  buf.write('BM', 0, 'latin1');
  buf.writeUInt32LE(buf.length >>> 0, 2);
  buf.writeUInt32LE(offset, 10);
  buf.writeUInt32LE(40, 14);
  buf.writeInt32LE(width, 18);
  buf.writeInt32LE(height, 22);
  buf.writeUInt16LE(1, 26);
  buf.writeUInt16LE(bpp, 28);
  buf.writeUInt32LE((stride * height) >>> 0, 34);
  buf.writeInt32LE(8000, 38);
  buf.writeInt32LE(8000, 42);
  if (bpp === 8) for (let i = 0; i < 256; i++) buf.writeUInt32LE(i * 0x010101, 54 + 4 * i);
  const { module, margin, dark } = pattern(width, height);
  const inside = (v, size) => v >= margin && v < size - margin;
  const colour = (isDark) => (isDark ? [40, 30, 20, 255] : [235, 240, 245, 255]); // B, G, R, A
  const row = Buffer.alloc(stride);
  let lastKey = -1;
  for (let y = 0; y < height; y++) {
    const my = Math.floor((y - margin) / module);
    const key = inside(y, height) ? my : -2;
    if (key !== lastKey) {
      for (let x = 0; x < width; x++) {
        const isDark = key >= 0 && inside(x, width) && dark(Math.floor((x - margin) / module), my);
        const c = colour(isDark);
        if (bpp === 8) row[x] = isDark ? 30 : 238;
        else for (let k = 0; k < bytes; k++) row[x * bytes + k] = c[k];
      }
      lastKey = key;
    }
    row.copy(buf, offset + (height - 1 - y) * stride);
  }
  return buf;
}

// The same pixels as top-down RGB or RGBA, the layout npm image tools take.
function bmpToRgb(bmp, channels = 3) {
  const offset = bmp.readUInt32LE(10);
  const width = bmp.readInt32LE(18);
  const height = bmp.readInt32LE(22);
  const bytes = bmp.readUInt16LE(28) / 8;
  const stride = Math.floor((width * bytes * 8 + 31) / 32) * 4;
  const out = Buffer.alloc(width * height * channels);
  for (let y = 0; y < height; y++) {
    const src = offset + (height - 1 - y) * stride;
    const dst = y * width * channels;
    for (let x = 0; x < width; x++) {
      const s = src + x * bytes;
      const d = dst + x * channels;
      out[d] = bytes === 1 ? bmp[s] : bmp[s + 2];
      out[d + 1] = bytes === 1 ? bmp[s] : bmp[s + 1];
      out[d + 2] = bmp[s];
      if (channels === 4) out[d + 3] = bytes === 4 ? bmp[s + 3] : 255;
    }
  }
  return out;
}

const now = () => process.hrtime.bigint();
const ms = (ns) => Number(ns) / 1e6;

// Runs fn (sync or async) until both at least `iterations` runs and `minMs`
// of measured time are done, after `warmup` unmeasured runs. Milliseconds.
async function time(fn, { warmup = 2, iterations = 10, minMs = 500, maxIterations = 10000 } = {}) {
  for (let i = 0; i < warmup; i++) await fn();
  const samples = [];
  let total = 0;
  while ((samples.length < iterations || total < minMs) && samples.length < maxIterations) {
    const t0 = now();
    await fn();
    const t = ms(now() - t0);
    samples.push(t);
    total += t;
  }
  return stats(samples);
}

function percentile(sorted, p) {
  if (sorted.length === 0) return NaN;
  const i = Math.min(sorted.length - 1, Math.max(0, Math.ceil((p / 100) * sorted.length) - 1));
  return sorted[i];
}

function stats(samples) {
  const sorted = [...samples].sort((a, b) => a - b);
  return {
    n: sorted.length,
    median: percentile(sorted, 50),
    p99: percentile(sorted, 99),
    min: sorted[0],
    mean: sorted.reduce((a, b) => a + b, 0) / sorted.length,
  };
}

function fmt(v, digits = 3) {
  if (typeof v !== 'number') return String(v);
  if (!Number.isFinite(v)) return '–';
  if (Number.isInteger(v)) return String(v);
  if (v >= 100) return v.toFixed(0);
  if (v >= 10) return v.toFixed(1);
  return v.toPrecision(digits);
}

// A Markdown table: header row, alignment row, body.
function table(headers, rows) {
  const line = (cells) => `| ${cells.map((c) => fmt(c)).join(' | ')} |`;
  return [line(headers), `|${headers.map((_, i) => (i === 0 ? ' --- ' : ' ---: ')).join('|')}|`, ...rows.map(line)].join(
    '\n',
  );
}

function saveResult(name, data) {
  fs.mkdirSync(RESULTS, { recursive: true });
  fs.writeFileSync(path.join(RESULTS, `${name}.json`), JSON.stringify({ machine: machine(), ...data }, null, 2) + '\n');
}

// Runs a benchmark body (source text) in a fresh node process, which hands its
// result back as JSON on descriptor 3.
function runBenchChild(source, env, job) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', source], {
      cwd: path.join(__dirname, '..'), // finds bench/node_modules/sharp
      env: { ...env, ADDON: addonPath(), BENCH_ADDON: benchPath(), JOB: JSON.stringify(job) },
      stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
    });
    const err = [];
    const ret = [];
    child.stderr.on('data', (c) => err.push(c));
    child.stdio[3].on('data', (c) => ret.push(c));
    child.on('close', (code) => (code === 0 ? resolve(JSON.parse(Buffer.concat(ret))) : reject(new Error(Buffer.concat(err).toString()))));
  });
}

module.exports = {
  runBenchChild,
  ROOT,
  BUILD,
  RESULTS,
  addonPath,
  benchPath,
  loadAddon,
  loadBench,
  machine,
  makeBmp,
  bmpToRgb,
  time,
  stats,
  fmt,
  table,
  saveResult,
  now,
  ms,
};
