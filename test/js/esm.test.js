'use strict';
// ES module importers get every export by name, the very objects CommonJS gets.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('child_process');
const { ROOT } = require('../support/child');

test('import { ... } from the package names every export', () => {
  const names = Object.keys(require(ROOT));
  const script = `
    import { createRequire } from 'node:module';
    import { ${names.join(', ')} } from 'trace-label-printer';
    import * as all from 'trace-label-printer';
    const cjs = createRequire(import.meta.url)('trace-label-printer');
    const named = { ${names.join(', ')} };
    const same = Object.keys(named).filter((k) => named[k] !== undefined && named[k] === cjs[k]);
    console.log(JSON.stringify({ same, all: Object.keys(all).filter((k) => k !== 'default').sort() }));`;
  const r = spawnSync(process.execPath, ['--input-type=module', '-e', script], { cwd: ROOT, encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(JSON.parse(r.stdout), { same: names, all: [...names].sort() });
});
