'use strict';
// Which native module the package loads: an override from the environment,
// then a local build, then this platform's prebuilt binary; with none, an
// error that names what is missing.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { nativePath, platformTag } = require('../../lib/native-path');

test('the loader prefers an override, then a local build, then a prebuilt binary', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'label-native-'));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  const build = path.join(root, 'build', 'Release', 'trace_label.node');
  const prebuilt = path.join(root, 'prebuilds', platformTag(), 'trace_label.node');
  const place = (file) => {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, '');
  };
  const find = (env) => nativePath('trace_label', { env, root });

  const names = (e) => [build, prebuilt, 'npx trace-label build'].every((part) => e.message.includes(part));
  assert.throws(() => find({}), (e) => e.code === 'TRACE_LABEL_NO_BINARY' && names(e));
  place(prebuilt);
  assert.equal(find({}), prebuilt);
  place(build);
  assert.equal(find({}), build);
  assert.equal(nativePath(undefined, { env: {}, root }), build, 'the one module is the default');
  // The render module's old variable still names the module, below the add-on's own, with one warning.
  const warnings = [];
  const warned = (w) => warnings.push(w);
  process.on('warning', warned);
  t.after(() => process.off('warning', warned));
  assert.equal(find({ TRACE_LABEL_RENDER_ADDON: '/old.node', TRACE_LABEL_ADDON: '/this.node' }), '/this.node');
  assert.equal(find({ TRACE_LABEL_RENDER_ADDON: '/old.node' }), '/old.node');
  assert.equal(find({ TRACE_LABEL_RENDER_ADDON: '/old.node' }), '/old.node');
  await new Promise(setImmediate);
  assert.deepEqual(warnings.map((w) => [w.name, w.code]), [['DeprecationWarning', 'TRACE_LABEL_RENDER_ADDON']]);
});

// An ELF file with one PT_INTERP header naming `interp`, laid out by hand from
// the format: 32- or 64-bit, either byte order.
function elf({ wide, le, interp, type = 3 }) {
  const ehsize = wide ? 64 : 52;
  const phentsize = wide ? 56 : 32;
  const file = Buffer.alloc(ehsize + 2 * phentsize + interp.length + 1);
  const w16 = (v, at) => (le ? file.writeUInt16LE(v, at) : file.writeUInt16BE(v, at));
  const w32 = (v, at) => (le ? file.writeUInt32LE(v, at) : file.writeUInt32BE(v, at));
  const word = (v, at) => (wide ? (le ? file.writeBigUInt64LE(BigInt(v), at) : file.writeBigUInt64BE(BigInt(v), at)) : w32(v, at));
  file.writeUInt32BE(0x7f454c46, 0);
  file[4] = wide ? 2 : 1;
  file[5] = le ? 1 : 2;
  word(ehsize, wide ? 0x20 : 0x1c);
  w16(phentsize, wide ? 0x36 : 0x2a);
  w16(2, wide ? 0x38 : 0x2c);
  const text = ehsize + 2 * phentsize;
  w32(1, ehsize); // a PT_LOAD first, to be skipped
  const ph = ehsize + phentsize;
  w32(type, ph);
  word(text, ph + (wide ? 8 : 4));
  word(interp.length + 1, ph + (wide ? 0x20 : 0x10));
  file.write(interp, text, 'latin1');
  return file;
}

test('the C library is read from the ELF interpreter, not a diagnostic report', (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'label-elf-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const { elfInterpreter, isMusl } = require('../../lib/native-path');
  const cases = [
    [{ wide: true, le: true, interp: '/lib/ld-musl-x86_64.so.1' }, '/lib/ld-musl-x86_64.so.1'],
    [{ wide: true, le: false, interp: '/lib/ld-musl-aarch64_be.so.1' }, '/lib/ld-musl-aarch64_be.so.1'],
    [{ wide: false, le: true, interp: '/lib/ld-linux-armhf.so.3' }, '/lib/ld-linux-armhf.so.3'],
    [{ wide: false, le: false, interp: '/lib/ld.so.1' }, '/lib/ld.so.1'],
    [{ wide: true, le: true, interp: '/lib/ld-musl-x86_64.so.1', type: 4 }, null], // PT_NOTE: no interpreter
  ];
  for (const [layout, expected] of cases) {
    const file = path.join(dir, 'prog');
    fs.writeFileSync(file, elf(layout));
    assert.equal(elfInterpreter(file), expected, JSON.stringify(layout));
    fs.writeFileSync(file, elf(layout).subarray(0, 80)); // headers cut short
    assert.equal(elfInterpreter(file), null, `cut ${JSON.stringify(layout)}`);
  }
  fs.writeFileSync(path.join(dir, 'script'), '#!/bin/sh\necho not elf, but long enough to hold an ELF header.....\n');
  assert.equal(elfInterpreter(path.join(dir, 'script')), null);
  assert.equal(elfInterpreter(path.join(dir, 'missing')), null);
  // This Node: the report (slow, but independent) says which C library it has.
  if (process.platform === 'linux') {
    const glibc = Boolean(process.report.getReport().header.glibcVersionRuntime);
    assert.ok(elfInterpreter(process.execPath), 'this Node names a loader');
    assert.equal(isMusl(), !glibc);
  }
});
