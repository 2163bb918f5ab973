'use strict';
// The private scheduler is part of the package: `trace-label-printer/private-cups`
// resolves through package.json's exports, in the tarball too (its files), and
// its declarations name what it exports.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { ROOT } = require('../support/child');

test('trace-label-printer/private-cups is exported and declared', () => {
  const pkg = JSON.parse(fs.readFileSync(path.join(ROOT, 'package.json'), 'utf8'));
  const entry = pkg.exports['./private-cups'];
  // Resolved by the package's own name, as an app resolves it.
  const resolved = require.resolve('trace-label-printer/private-cups', { paths: [ROOT] });
  assert.equal(resolved, path.join(ROOT, entry.default));
  const mod = require(resolved);
  const dts = fs.readFileSync(path.join(ROOT, entry.types), 'utf8');
  const declared = [...dts.matchAll(/^export declare (?:class|function) (\w+)/gm)].map((m) => m[1]).sort();
  assert.deepEqual(Object.keys(mod).sort(), declared);
  for (const file of [entry.default, entry.types]) {
    assert.ok(pkg.files.some((f) => file.slice(2).startsWith(f)), `${file} is not packed`);
  }
});
