#!/usr/bin/env node
'use strict';
// Proves an installed copy of the package where it will run: another root
// (an older glibc) or another architecture (under qemu). Two halves:
//
//   node scripts/guest-check.js host APP OUT -- CMD ARGS...
//     starts a private scheduler with the queue "lab", renders every language
//     with the package installed in APP (this machine's), runs CMD with
//     CUPS_SERVER set, then requires that CMD wrote byte-identical renders to
//     OUT and printed exactly one label, the ZPL render, through the scheduler.
//   node guest-check.js guest APP OUT
//     what CMD runs over there: renders with the package installed in APP,
//     writes each stream to OUT, and prints the ZPL label on CUPS_SERVER's "lab".

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');

// Streams to compare: every language, plus ZPL's compressed graphics (zlib).
const CASES = [
  ...['TSPL', 'ZPL', 'ESC/POS', 'CPCL', 'PPLA', 'DPL'].map((language) => ({ language, file: language.replace('/', '') })),
  { language: 'ZPL', file: 'ZPL-z64', compress: true },
];

// Gradients and a fine pattern, drawn at a size that is not the label's, so the
// gray conversion, the resize and the thresholds all take part.
function sampleImage(pkgRoot) {
  const { makeBmp } = require(path.join(pkgRoot, 'lib', 'bmp-writer.js'));
  return makeBmp({
    width: 333,
    height: 199,
    pixel: (x, y) => [(x * 255) / 332, (y * 255) / 198, (x ^ y) & 0xff].map(Math.round),
  });
}

function renders(app) {
  // By path, not by name: this script sits inside the package, and Node 18
  // resolves the package's own name to itself whatever `paths` says.
  const pkgRoot = path.join(app, 'node_modules', 'trace-label-printer');
  const addon = require(pkgRoot);
  addon.setLogger(null);
  const buffer = sampleImage(pkgRoot);
  const streams = {};
  for (const { language, file, compress } of CASES) {
    const request = { device: 'lab', instruction: language, withCutter: true, width: 50, height: 30, buffer, compress };
    const bytes = addon.renderTraceCode(request, 203);
    if (!Buffer.isBuffer(bytes)) throw new Error(`${file}: renderTraceCode answered ${bytes}`);
    streams[file] = bytes;
  }
  return { addon, buffer, streams };
}

function guest(app, out) {
  const { addon, buffer, streams } = renders(app);
  fs.mkdirSync(out, { recursive: true });
  for (const [file, bytes] of Object.entries(streams)) fs.writeFileSync(path.join(out, file), bytes);
  const printed = addon.printTraceCode({ device: 'lab', instruction: 'ZPL', withCutter: true, width: 50, height: 30, buffer });
  const glibc = process.report.getReport().header.glibcVersionRuntime;
  fs.writeFileSync(path.join(out, 'about.json'), JSON.stringify({ arch: process.arch, node: process.version, glibc, printed }));
}

async function host(app, out, command) {
  const { PrivateCups } = require('../lib/private-cups');
  const { streams } = renders(app);
  const cups = await PrivateCups.start({ queues: ['lab'] });
  let failures = 0;
  try {
    fs.rmSync(out, { recursive: true, force: true });
    const run = spawnSync(command[0], command.slice(1), { stdio: 'inherit', env: { ...process.env, ...cups.env } });
    if (run.status !== 0) throw new Error(`guest-check: ${command.join(' ')} exited ${run.status ?? run.signal}`);
    const about = JSON.parse(fs.readFileSync(path.join(out, 'about.json'), 'utf8'));
    for (const [file, bytes] of Object.entries(streams)) {
      const theirs = fs.readFileSync(path.join(out, file));
      const same = theirs.equals(bytes);
      if (!same) failures += 1;
      console.log(`guest-check: ${file.padEnd(7)} ${bytes.length} bytes here, ${theirs.length} there: ${same ? 'identical' : 'DIFFERENT'}`);
    }
    if (about.printed !== true) throw new Error(`guest-check: printTraceCode answered ${about.printed} there`);
    const jobs = await cups.waitForJobs('lab', 1);
    if (jobs.length !== 1 || !jobs[0].data.equals(streams.ZPL)) {
      throw new Error('guest-check: the printed job is not the ZPL render');
    }
    console.log(`guest-check: node ${about.node} on ${about.arch}, glibc ${about.glibc}: printed job ${jobs[0].id}, the ZPL render`);
  } finally {
    cups.stop();
  }
  if (failures) throw new Error(`guest-check: ${failures} of ${CASES.length} renders differ from this machine's`);
}

const [mode, app, out, dash, ...command] = process.argv.slice(2);
if (mode === 'guest' && app && out) {
  guest(path.resolve(app), path.resolve(out));
} else if (mode === 'host' && app && out && dash === '--' && command.length) {
  host(path.resolve(app), path.resolve(out), command).catch((error) => {
    console.error(error.message);
    process.exit(1);
  });
} else {
  console.error('usage: guest-check.js host APP OUT -- CMD ARGS... | guest-check.js guest APP OUT');
  process.exit(2);
}
