#!/usr/bin/env node
'use strict';
// The package's install step. Nothing to do when both native modules load
// (this platform's prebuilt binaries, or an earlier build); otherwise build
// them from source with cmake-js, after naming everything that build lacks.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { MODULES, nativePath, platformTag } = require('../lib/native-path');

const ROOT = path.join(__dirname, '..');

function loadError() {
  try {
    for (const name of Object.keys(MODULES)) require(nativePath(name));
    return null;
  } catch (error) {
    return error;
  }
}

function onPath(command) {
  const dirs = (process.env.PATH || '').split(path.delimiter).filter(Boolean);
  return dirs.some((dir) => {
    try {
      fs.accessSync(path.join(dir, command), fs.constants.X_OK);
      return true;
    } catch {
      return false;
    }
  });
}

function cmakeVersion() {
  const r = spawnSync('cmake', ['--version'], { encoding: 'utf8' });
  const m = r.status === 0 && /(\d+)\.(\d+)/.exec(r.stdout);
  return m ? [Number(m[1]), Number(m[2])] : null;
}

function cupsHeaderDirs() {
  const dirs = ['/usr/include', '/usr/local/include', '/opt/homebrew/include'];
  if (process.platform === 'darwin') {
    const sdk = spawnSync('xcrun', ['--show-sdk-path'], { encoding: 'utf8' });
    if (sdk.status === 0) dirs.push(path.join(sdk.stdout.trim(), 'usr', 'include'));
  }
  return dirs;
}

function findCmakeJs() {
  try {
    return require.resolve('cmake-js/bin/cmake-js', { paths: [ROOT] });
  } catch {
    return null;
  }
}

// What a source build needs and does not have, each with how to get it.
function missingTools() {
  const debian = process.platform === 'linux';
  const missing = [];
  const cmake = cmakeVersion();
  if (!cmake || cmake[0] < 3 || (cmake[0] === 3 && cmake[1] < 16)) {
    missing.push(`CMake 3.16 or newer${cmake ? ` (found ${cmake.join('.')})` : ''}: ` +
      (debian ? 'apt-get install cmake' : 'brew install cmake'));
  }
  const compilers = [process.env.CXX, 'c++', 'g++', 'clang++'].filter(Boolean);
  if (!compilers.some(onPath)) {
    missing.push(`a C++17 compiler (looked for ${compilers.join(', ')}): ` +
      (debian ? 'apt-get install g++' : 'xcode-select --install'));
  }
  if (!onPath('make') && !onPath('ninja')) {
    missing.push(`make or ninja: ${debian ? 'apt-get install make' : 'xcode-select --install'}`);
  }
  if (!cupsHeaderDirs().some((dir) => fs.existsSync(path.join(dir, 'cups', 'cups.h')))) {
    missing.push(`the CUPS headers (cups/cups.h): ${debian ? 'apt-get install libcups2-dev' : 'xcode-select --install'}`);
  }
  if (!cupsHeaderDirs().some((dir) => fs.existsSync(path.join(dir, 'zlib.h')))) {
    missing.push(`the zlib headers (zlib.h): ${debian ? 'apt-get install zlib1g-dev' : 'xcode-select --install'}`);
  }
  if (!findCmakeJs()) {
    missing.push('cmake-js, in the app that installs this package: npm install --save-dev cmake-js');
  }
  return missing;
}

function main() {
  const error = loadError();
  if (!error) return 0;
  const why = error.code === 'TRACE_LABEL_NO_BINARY' ? 'no binary ships for it' : error.message.split('\n')[0];
  console.error(`trace-label-printer: no native module loads on ${platformTag()} (${why}); building from source.`);
  const missing = missingTools();
  if (missing.length) {
    console.error('trace-label-printer: the source build needs:');
    for (const line of missing) console.error(`  - ${line}`);
    console.error('then run: npm rebuild trace-label-printer');
    return 1;
  }
  const r = spawnSync(process.execPath, [findCmakeJs(), 'compile', '--out', 'build'], { cwd: ROOT, stdio: 'inherit' });
  if (r.status !== 0) {
    console.error('trace-label-printer: the source build failed (its output is above).');
    return 1;
  }
  return 0;
}

process.exitCode = main();
