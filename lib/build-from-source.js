'use strict';
// `trace-label build`: the source build for a platform without a prebuilt
// binary. The package has no install step (pnpm refuses packages with one, npm
// warns), so the loader's error names this command instead. Nothing to do when
// the native module loads; otherwise build it with cmake-js into the
// package's build/, after naming everything that build lacks.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { MODULES, nativePath, platformTag } = require('./native-path');

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
    // The app's own copy too: pnpm does not let a package see the app's dependencies.
    return require.resolve('cmake-js/bin/cmake-js', { paths: [ROOT, process.cwd()] });
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
  const pngDirs = ['/usr/include', '/usr/local/include', '/opt/homebrew/include'];
  if (!pngDirs.some((dir) => fs.existsSync(path.join(dir, 'png.h')))) {
    missing.push(`libpng and zlib, linked in statically (png.h): ${debian ? 'apt-get install libpng-dev zlib1g-dev' : 'brew install libpng'}`);
  }
  if (!findCmakeJs()) {
    missing.push('cmake-js, in the app that installs this package: npm install --save-dev cmake-js');
  }
  return missing;
}

// The exit code: 0 when the modules load (already, or after the build).
function buildFromSource() {
  const error = loadError();
  if (!error) {
    console.error(`trace-label-printer: the native module loads on ${platformTag()}; nothing to build.`);
    return 0;
  }
  const why = error.code === 'TRACE_LABEL_NO_BINARY' ? 'no binary ships for it' : error.message.split('\n')[0];
  console.error(`trace-label-printer: no native module loads on ${platformTag()} (${why}); building from source.`);
  const missing = missingTools();
  if (missing.length) {
    console.error('trace-label-printer: the source build needs:');
    for (const line of missing) console.error(`  - ${line}`);
    console.error('then run again: npx trace-label build');
    return 1;
  }
  const r = spawnSync(process.execPath, [findCmakeJs(), 'compile', '--out', 'build'], { cwd: ROOT, stdio: 'inherit' });
  if (r.status !== 0) {
    console.error('trace-label-printer: the source build failed (its output is above).');
    return 1;
  }
  const after = loadError();
  if (after) {
    console.error(`trace-label-printer: the source build finished but does not load: ${after.message.split('\n')[0]}`);
    return 1;
  }
  return 0;
}

module.exports = { buildFromSource };
