#!/usr/bin/env node
'use strict';
// Builds the native module in Release for this machine and puts it in
// prebuilds/<platform>-<arch>/, where lib/native-path.js finds it in an
// installed package; on x64 Linux with the cross tools, linux-arm64 as well.
// Run it on each platform that should get binaries; `npm pack` and `npm
// publish` run it first (prepack). Needs the dev dependencies.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');
const { platformTag } = require('../lib/native-path');

const ROOT = path.join(__dirname, '..');
const OUT = path.join(ROOT, 'build-prebuild');

function run(cmd, args) {
  const r = spawnSync(cmd, args, { cwd: ROOT, stdio: 'inherit' });
  if (r.status !== 0) {
    console.error(`prebuild: ${cmd} ${args.join(' ')} failed`);
    process.exit(1);
  }
}

const cmakeJs = require.resolve('cmake-js/bin/cmake-js');

// Builds one target into prebuilds/<tag>/: every .node the build makes, stripped.
function buildTarget({ tag, out, cmakeArgs = [], strip = 'strip' }) {
  // On Linux the shipped floor: glibc 2.28 and libstdc++ linked in (CMakeLists.txt).
  // Configured every time: `compile` would keep an earlier tree's options.
  // Earlier modules go first, so that only what this build makes ships.
  for (const old of fs.existsSync(path.join(out, 'Release')) ? fs.readdirSync(path.join(out, 'Release')) : []) {
    if (old.endsWith('.node')) fs.rmSync(path.join(out, 'Release', old));
  }
  run(process.execPath, [cmakeJs, 'configure', '--out', out, '--config', 'Release', '--CDTRACE_LABEL_PORTABLE=ON', ...cmakeArgs]);
  run(process.execPath, [cmakeJs, 'build', '--out', out, '--config', 'Release', '--parallel', String(os.cpus().length)]);
  const dest = path.join(ROOT, 'prebuilds', tag);
  fs.rmSync(dest, { recursive: true, force: true });
  fs.mkdirSync(dest, { recursive: true });
  const built = fs.readdirSync(path.join(out, 'Release')).filter((f) => f.endsWith('.node')).sort();
  return built.map((name) => {
    const file = path.join(dest, name);
    fs.copyFileSync(path.join(out, 'Release', name), file);
    // Symbols are for debugging a local build; the shipped copy goes without.
    if (process.platform === 'linux') run(strip, ['--strip-unneeded', file]);
    else if (process.platform === 'darwin') run('strip', ['-x', file]);
    return file;
  });
}

function describe(file) {
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

const files = buildTarget({ tag: platformTag(), out: OUT });
// A binary that does not load here would not load anywhere.
run(process.execPath, ['-e', files.map((f) => `require(${JSON.stringify(f)});`).join('')]);
files.forEach(describe);

// linux-arm64 too, cross-built, where Debian's cross compiler and the arm64
// folder of scripts/arm64-sysroot.sh are there (scripts/arm64-check.sh loads it under qemu).
const sysroot = process.env.TRACE_LABEL_ARM64_SYSROOT || path.join(ROOT, 'build-arm64', 'sysroot');
const hasCross = spawnSync('aarch64-linux-gnu-g++', ['--version'], { stdio: 'ignore' }).status === 0;
if (platformTag() === 'linux-x64' && hasCross && fs.existsSync(path.join(sysroot, 'usr/include/cups/cups.h'))) {
  const toolchain = path.join(ROOT, 'cmake', 'aarch64-linux-gnu.cmake');
  process.env.TRACE_LABEL_ARM64_SYSROOT = sysroot;
  buildTarget({
    tag: 'linux-arm64',
    out: path.join(ROOT, 'build-arm64', 'out'),
    cmakeArgs: [`--CDCMAKE_TOOLCHAIN_FILE=${toolchain}`],
    strip: 'aarch64-linux-gnu-strip',
  }).forEach(describe);
} else if (platformTag() === 'linux-x64') {
  console.log('prebuild: no linux-arm64 binary (needs aarch64-linux-gnu-g++ and scripts/arm64-sysroot.sh)');
}
