#!/usr/bin/env node
'use strict';
// Measures what the test suite can catch: plants one known fault at a time in
// a scratch copy of this tree, rebuilds, runs the suite until its first
// failure, and reports each fault as caught, MISSED, or n/a (none of its
// edits matches the code any more). The faults live in scripts/faults.js.
//
//   node scripts/plant-faults.js [--rev COMMIT] [--only ID,ID] [--keep | --dir DIR]
//
// The scratch copy is the working tree as it is (uncommitted edits included),
// or COMMIT, under /tmp (or DIR, kept and reused with its build on the next
// run), sharing node_modules by symlink. The unplanted tree
// must pass first, so that a failure can be blamed on the fault; a failing
// step counts only if it fails again when rerun, so that a flaky test or a
// clash with another run on the machine is not taken for a catch.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const FAULTS = require('./faults');

const ROOT = path.resolve(__dirname, '..');
const argv = process.argv.slice(2);
const only = argv.includes('--only') ? argv[argv.indexOf('--only') + 1].split(',') : null;
const reuse = argv.includes('--dir') ? argv[argv.indexOf('--dir') + 1] : null;
const keep = argv.includes('--keep') || reuse !== null;
const rev = argv.includes('--rev') ? argv[argv.indexOf('--rev') + 1] : null;

function run(cmd, args, cwd, timeout = 1800000) {
  const r = spawnSync(cmd, args, { cwd, encoding: 'utf8', timeout, maxBuffer: 1 << 28 });
  return { ok: r.status === 0, output: `${r.stdout}${r.stderr}` };
}

function copyTree(to) {
  if (rev) {
    spawnSync('sh', ['-c', `git archive ${rev} | tar -x -C ${to}`], { cwd: ROOT, stdio: 'inherit' });
    fs.symlinkSync(path.join(ROOT, 'node_modules'), path.join(to, 'node_modules'));
    return;
  }
  const files = spawnSync('git', ['ls-files', '-z', '-co', '--exclude-standard'], { cwd: ROOT, encoding: 'utf8' })
    .stdout.split('\0')
    .filter((f) => f && !f.startsWith('node_modules/') && fs.existsSync(path.join(ROOT, f)));
  for (const f of files) {
    fs.mkdirSync(path.dirname(path.join(to, f)), { recursive: true });
    fs.copyFileSync(path.join(ROOT, f), path.join(to, f));
  }
  fs.symlinkSync(path.join(ROOT, 'node_modules'), path.join(to, 'node_modules'));
}

// The first edit whose `find` occurs exactly once in its file, or null.
function locate(dir, fault) {
  const files = [].concat(fault.file);
  for (const [find, replace] of fault.edits) {
    for (const file of files) {
      const at = path.join(dir, file);
      if (!fs.existsSync(at)) continue;
      const text = fs.readFileSync(at, 'utf8');
      const first = text.indexOf(find);
      if (first >= 0 && text.indexOf(find, first + 1) < 0) {
        return { at, text, planted: text.slice(0, first) + replace + text.slice(first + find.length) };
      }
    }
  }
  return null;
}

// A test that asserts wall-clock bounds cannot tell a fault from a busy machine.
const TIMED = ['responsiveness.test.js'];
// Quick files first, so that a catch costs little.
const FIRST = ['virtual-printer', 'print', 'round-trip', 'faults', 'async', 'render', 'hostile'];
const rank = (file) => {
  const at = FIRST.indexOf(file.replace('.test.js', ''));
  return at < 0 ? FIRST.length : at;
};

// Builds, then runs the C++ tests and each JavaScript test file in turn;
// returns the name of the first that fails, or null when all pass.
function suite(dir) {
  const built = run('npx', ['cmake-js', 'build', '--out', 'build'], dir);
  if (!built.ok) return { failed: 'build', output: built.output };
  const steps = ['unit_tests', 'cups_tests'].map((name) => [name, 'ctest', ['--test-dir', 'build', '-R', `^${name}$`, '--output-on-failure']]);
  const files = fs.readdirSync(path.join(dir, 'test/js')).filter((f) => f.endsWith('.test.js') && !TIMED.includes(f));
  files.sort((a, b) => rank(a) - rank(b) || a.localeCompare(b));
  for (const file of files) steps.push([file, process.execPath, ['--test', `test/js/${file}`]]);
  for (const [name, cmd, args] of steps) {
    const r = run(cmd, args, dir);
    if (!r.ok && !run(cmd, args, dir).ok) return { failed: name, output: r.output };
  }
  return { failed: null };
}

function main() {
  const faults = only ? FAULTS.filter((f) => only.includes(f.id)) : FAULTS;
  const dir = reuse || fs.mkdtempSync(path.join(os.tmpdir(), 'plant-faults-'));
  if (!fs.existsSync(path.join(dir, 'package.json'))) {
    fs.mkdirSync(dir, { recursive: true });
    copyTree(dir);
  }
  const log = (line) => process.stdout.write(`${line}\n`);
  log(`scratch tree: ${dir}`);
  try {
    if (!fs.existsSync(path.join(dir, 'build/CMakeCache.txt'))) {
      const configured = run('npx', ['cmake-js', 'configure', '--out', 'build', '--CDTRACE_LABEL_TESTS=ON'], dir);
      if (!configured.ok) throw new Error(`configure failed:\n${configured.output}`);
    }
    const clean = suite(dir);
    if (clean.failed) throw new Error(`the unplanted tree fails ${clean.failed}:\n${clean.output.slice(-4000)}`);

    const tally = { caught: 0, MISSED: 0, 'n/a': 0 };
    for (const fault of faults) {
      const site = locate(dir, fault);
      let verdict = 'n/a';
      let by = '';
      if (site) {
        fs.writeFileSync(site.at, site.planted);
        try {
          const r = suite(dir);
          verdict = r.failed ? 'caught' : 'MISSED';
          by = r.failed ? `by ${r.failed}` : '';
        } finally {
          fs.writeFileSync(site.at, site.text);
        }
      }
      tally[verdict]++;
      log(`${verdict.padEnd(7)} ${fault.id.padEnd(24)} ${verdict === 'MISSED' ? fault.breaks : by}`);
    }
    log(`total: ${tally.caught} caught, ${tally.MISSED} missed, ${tally['n/a']} n/a of ${faults.length}`);
    return tally.MISSED === 0 ? 0 : 1;
  } finally {
    if (keep) log(`kept ${dir}`);
    else fs.rmSync(dir, { recursive: true, force: true });
  }
}

process.exit(main());
