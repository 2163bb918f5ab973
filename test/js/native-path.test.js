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

test('the loader prefers an override, then a local build, then a prebuilt binary', (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'label-native-'));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  const build = path.join(root, 'build', 'Release', 'trace_label_render.node');
  const prebuilt = path.join(root, 'prebuilds', platformTag(), 'trace_label_render.node');
  const place = (file) => {
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, '');
  };
  const find = (env) => nativePath('trace_label_render', { env, root });

  const names = (e) => [build, prebuilt, 'npx trace-label build'].every((part) => e.message.includes(part));
  assert.throws(() => find({}), (e) => e.code === 'TRACE_LABEL_NO_BINARY' && names(e));
  place(prebuilt);
  assert.equal(find({}), prebuilt);
  place(build);
  assert.equal(find({}), build);
  const env = { TRACE_LABEL_RENDER_ADDON: '/elsewhere.node', TRACE_LABEL_ADDON: '/not-this.node' };
  assert.equal(find(env), '/elsewhere.node');
});
