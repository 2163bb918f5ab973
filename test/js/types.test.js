'use strict';
// The TypeScript declarations: a typed example compiles, and what they rule
// out does not. That they declare exactly the exports is exports.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { ROOT } = require('../support/child');

const TSC = path.join(ROOT, 'node_modules', 'typescript', 'bin', 'tsc');
const tsc = (project) => spawnSync(process.execPath, [TSC, '-p', project], { encoding: 'utf8' });

test('the typed example compiles with tsc --strict --noEmit', () => {
  const r = tsc(path.join(ROOT, 'test', 'types', 'tsconfig.json'));
  assert.equal(r.status, 0, r.stdout + r.stderr);
});

// An app folder that has the package in node_modules, so that every import
// goes through package.json "exports" as it does for a user.
test('the subpaths and the README ts blocks compile in an app, with node16 and bundler resolution', (t) => {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), 'types_app_'));
  t.after(() => fs.rmSync(app, { recursive: true, force: true }));
  fs.mkdirSync(path.join(app, 'node_modules', '@types'), { recursive: true });
  fs.symlinkSync(ROOT, path.join(app, 'node_modules', 'trace-label-printer'));
  fs.symlinkSync(path.join(ROOT, 'node_modules', '@types', 'node'), path.join(app, 'node_modules', '@types', 'node'));
  fs.copyFileSync(path.join(ROOT, 'test', 'types', 'subpaths.ts'), path.join(app, 'subpaths.ts'));
  const readme = fs.readFileSync(path.join(ROOT, 'README.md'), 'utf8');
  const blocks = [...readme.matchAll(/^```ts\n([^]*?)^```$/gm)].map((m) => m[1]);
  assert.ok(blocks.some((b) => b.includes("from 'trace-label-printer/lib/virtual-printer'")), 'a README ts block imports a subpath');
  // Each block is a module of its own, as a user would paste it.
  blocks.forEach((block, i) => fs.writeFileSync(path.join(app, `readme-${i}.ts`), `${block}export {};\n`));
  const files = ['subpaths.ts', ...blocks.map((_, i) => `readme-${i}.ts`)];
  for (const [module, moduleResolution] of [['node16', 'node16'], ['esnext', 'bundler']]) {
    const options = { strict: true, noEmit: true, target: 'es2022', module, moduleResolution, types: ['node'], skipLibCheck: false };
    fs.writeFileSync(path.join(app, 'tsconfig.json'), JSON.stringify({ compilerOptions: options, files }));
    const r = tsc(path.join(app, 'tsconfig.json'));
    assert.equal(r.status, 0, `${moduleResolution}: ${r.stdout}${r.stderr}`);
  }
});
