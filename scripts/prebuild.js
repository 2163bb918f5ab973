#!/usr/bin/env node
'use strict';
// Builds the native module in Release for this machine and puts them in
// prebuilds/<platform>-<arch>/, where lib/native-path.js finds it in an
// installed package. Run it on each platform that should get binaries; `npm
// pack` and `npm publish` run it first (prepack). Needs the dev dependencies.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');
const { MODULES, platformTag } = require('../lib/native-path');

const ROOT = path.join(__dirname, '..');
const OUT = path.join(ROOT, 'build-prebuild');
const DEST = path.join(ROOT, 'prebuilds', platformTag());

function run(cmd, args) {
  const r = spawnSync(cmd, args, { cwd: ROOT, stdio: 'inherit' });
  if (r.status !== 0) {
    console.error(`prebuild: ${cmd} ${args.join(' ')} failed`);
    process.exit(1);
  }
}

const cmakeJs = require.resolve('cmake-js/bin/cmake-js');
// On Linux the shipped floor: glibc 2.28 and libstdc++ linked in (CMakeLists.txt).
// Configured every time: `compile` would keep an earlier tree's options.
run(process.execPath, [cmakeJs, 'configure', '--out', OUT, '--config', 'Release', '--CDTRACE_LABEL_PORTABLE=ON']);
run(process.execPath, [cmakeJs, 'build', '--out', OUT, '--config', 'Release', '--parallel', String(os.cpus().length)]);

fs.rmSync(DEST, { recursive: true, force: true });
fs.mkdirSync(DEST, { recursive: true });
const files = Object.keys(MODULES).map((name) => {
  const file = path.join(DEST, `${name}.node`);
  fs.copyFileSync(path.join(OUT, 'Release', `${name}.node`), file);
  // Symbols are for debugging a local build; the shipped copy goes without.
  if (process.platform === 'linux') run('strip', ['--strip-unneeded', file]);
  else if (process.platform === 'darwin') run('strip', ['-x', file]);
  return file;
});

// A binary that does not load here would not load anywhere.
run(process.execPath, ['-e', files.map((f) => `require(${JSON.stringify(f)});`).join('')]);

for (const file of files) {
  let note = `${fs.statSync(file).size} bytes`;
  if (process.platform === 'linux') {
    // What the host must provide: shared libraries and the newest glibc symbol version.
    const dump = execFileSync('objdump', ['-p', '-T', file], { encoding: 'utf8' });
    const needed = [...dump.matchAll(/NEEDED\s+(\S+)/g)].map((m) => m[1]);
    const newest = (prefix) =>
      [...dump.matchAll(new RegExp(`\\(${prefix}_([\\d.]+)\\)`, 'g'))]
        .map((m) => m[1])
        .sort((a, b) => a.localeCompare(b, 'en', { numeric: true }))
        .pop();
    const cxx = newest('GLIBCXX');
    note += `, needs ${needed.join(' ')}, GLIBC_${newest('GLIBC')}, ${cxx ? `GLIBCXX_${cxx}` : 'no libstdc++'}`;
  }
  console.log(`prebuild: ${path.relative(ROOT, file)} (${note})`);
}
