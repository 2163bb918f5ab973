'use strict';
// The TypeScript declarations: a typed example compiles (and what they rule
// out does not), and they declare exactly what the package exports.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { ROOT } = require('../support/child');

test('the typed example compiles with tsc --strict --noEmit', () => {
  const tsc = path.join(ROOT, 'node_modules', 'typescript', 'bin', 'tsc');
  const r = spawnSync(process.execPath, [tsc, '-p', path.join(ROOT, 'test', 'types', 'tsconfig.json')], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stdout + r.stderr);
});

test('every export is declared, and nothing else', () => {
  const declared = [...fs.readFileSync(path.join(ROOT, 'index.d.ts'), 'utf8').matchAll(/^export declare (?:function|const) (\w+)/gm)]
    .map((m) => m[1]);
  const exported = Object.keys(require(ROOT));
  assert.deepEqual([...new Set(declared)].sort(), exported.sort());
});
