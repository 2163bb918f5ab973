'use strict';
// Finds the native module: an explicit path from the environment (a sanitizer
// build, say), then a local build (a developer's, or `trace-label build`'s),
// then the binary shipped for this platform in prebuilds/. Node-API 8 keeps one
// binary good for every Node and Electron version that has it.

const fs = require('fs');
const path = require('path');

const ROOT = path.join(__dirname, '..');

// Each native module and the variable that overrides where it is loaded from.
const MODULES = {
  trace_label: 'TRACE_LABEL_ADDON',
};
// The override of the render module that rendering now shares with printing:
// still read, for this release, when TRACE_LABEL_ADDON is not set.
const RENDER_ALIAS = 'TRACE_LABEL_RENDER_ADDON';
let aliasWarned = false;

// The program interpreter (PT_INTERP) an ELF file names, or null for a file
// that is not ELF or names none (a static program). One read of its first
// pages: the program headers sit right after the ELF header.
function elfInterpreter(file) {
  let head;
  try {
    const fd = fs.openSync(file, 'r');
    try {
      head = Buffer.alloc(4096);
      head = head.subarray(0, fs.readSync(fd, head, 0, head.length, 0));
      if (head.length < 52 || head.readUInt32BE(0) !== 0x7f454c46) return null;
      const wide = head[4] === 2;
      const le = head[5] === 1;
      const u16 = (at) => (le ? head.readUInt16LE(at) : head.readUInt16BE(at));
      const u32 = (at) => (le ? head.readUInt32LE(at) : head.readUInt32BE(at));
      const word = (at) => (wide ? Number(le ? head.readBigUInt64LE(at) : head.readBigUInt64BE(at)) : u32(at));
      const phoff = word(wide ? 0x20 : 0x1c);
      const phentsize = u16(wide ? 0x36 : 0x2a);
      const phnum = u16(wide ? 0x38 : 0x2c);
      for (let i = 0; i < phnum; i += 1) {
        const at = phoff + i * phentsize;
        if (at + phentsize > head.length) return null;
        if (u32(at) !== 3) continue; // PT_INTERP
        const offset = word(at + (wide ? 8 : 4));
        const size = word(at + (wide ? 0x20 : 0x10));
        const text = Buffer.alloc(Math.min(size, 4096));
        fs.readSync(fd, text, 0, text.length, offset);
        return text.toString('latin1').replace(/\0.*$/s, '');
      }
      return null;
    } finally {
      fs.closeSync(fd);
    }
  } catch {
    return null;
  }
}

// Whether this Node runs on musl: the loader its own executable names
// (/lib/ld-musl-<arch>.so.1), not a diagnostic report, which on some machines
// takes seconds, nor a look for musl files, which a glibc system may also have.
let musl;
function isMusl() {
  if (musl === undefined) musl = /\/ld-musl-/.test(elfInterpreter(process.execPath) || '');
  return musl;
}

// prebuilds/<platform>-<arch>, with a -musl suffix where the C library is not
// glibc: the Linux binaries are linked against glibc.
function platformTag() {
  let tag = `${process.platform}-${process.arch}`;
  if (process.platform === 'linux' && isMusl()) tag += '-musl';
  return tag;
}

function candidates(name, root = ROOT) {
  return [
    path.join(root, 'build', 'Release', `${name}.node`),
    path.join(root, 'prebuilds', platformTag(), `${name}.node`),
  ];
}

// The file to load for module `name`; throws an error that says what is missing.
function nativePath(name = 'trace_label', { env = process.env, root = ROOT } = {}) {
  let override = env[MODULES[name]];
  if (!override && name === 'trace_label' && env[RENDER_ALIAS]) {
    override = env[RENDER_ALIAS];
    if (!aliasWarned) {
      aliasWarned = true;
      process.emitWarning(`${RENDER_ALIAS} is deprecated: set ${MODULES[name]}, which names the one module`, {
        type: 'DeprecationWarning',
        code: 'TRACE_LABEL_RENDER_ADDON',
      });
    }
  }
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

module.exports = { nativePath, platformTag, elfInterpreter, isMusl, MODULES };
