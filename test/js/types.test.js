'use strict';
// The TypeScript declarations: a typed example compiles, and what they rule
// out does not. That they declare exactly the exports is exports.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { spawnSync } = require('child_process');
const { ROOT } = require('../support/child');

test('the typed example compiles with tsc --strict --noEmit', () => {
  const tsc = path.join(ROOT, 'node_modules', 'typescript', 'bin', 'tsc');
  const r = spawnSync(process.execPath, [tsc, '-p', path.join(ROOT, 'test', 'types', 'tsconfig.json')], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stdout + r.stderr);
});
