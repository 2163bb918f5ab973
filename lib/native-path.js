'use strict';
// Finds the native modules: an explicit path from the environment (a sanitizer
// build, say), then a local build (a developer's, or `trace-label build`'s),
// then the binary shipped for this platform in prebuilds/. Node-API 8 keeps one
// binary good for every Node and Electron version that has it.

const fs = require('fs');
const path = require('path');

const ROOT = path.join(__dirname, '..');

const MODULES = {
  trace_label: 'TRACE_LABEL_ADDON',
  trace_label_render: 'TRACE_LABEL_RENDER_ADDON',
};

// prebuilds/<platform>-<arch>, with a -musl suffix where the C library is not
// glibc: the Linux binaries are linked against glibc.
function platformTag() {
  let tag = `${process.platform}-${process.arch}`;
  if (process.platform === 'linux' && !process.report.getReport().header.glibcVersionRuntime) tag += '-musl';
  return tag;
}

function candidates(name, root = ROOT) {
  return [
    path.join(root, 'build', 'Release', `${name}.node`),
    path.join(root, 'prebuilds', platformTag(), `${name}.node`),
  ];
}

// The file to load for module `name`; throws an error that says what is missing.
function nativePath(name, { env = process.env, root = ROOT } = {}) {
  const override = env[MODULES[name]];
  if (override) return override;
  const places = candidates(name, root);
  const found = places.find((file) => fs.existsSync(file));
  if (found) return found;
  const error = new Error(
    `trace-label-printer: no ${name}.node for ${platformTag()} (looked for ${places.join(' and ')}). ` +
      'This platform has no prebuilt binary; build one from source, in the app: `npx trace-label build` ' +
      '(needs CMake, a C++17 compiler, make or ninja, the CUPS headers and cmake-js; it says which are missing).',
  );
  error.code = 'TRACE_LABEL_NO_BINARY';
  throw error;
}

module.exports = { nativePath, platformTag, MODULES };
