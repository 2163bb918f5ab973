'use strict';
// What the package exports: the add-on's own exports are fixed; ES module
// importers get every export by name, the very objects CommonJS gets;
// index.d.ts declares exactly those, and the languages the add-on's own
// table lists (lib/languages.js hands them on). What checkPrinterConnection logs, state by state, is
// test/cpp/cups/query_test.cpp's; arguments of every type, hostile.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { runInChild, ROOT } = require('../support/child');
const { LANGUAGES, LIMITS, EXTENSIONS } = require('../../lib/languages');

const DECLARATIONS = fs.readFileSync(path.join(ROOT, 'index.d.ts'), 'utf8');

test('the add-on exports are read-only and not enumerable', async () => {
  const r = await runInChild(`
    const raw = require(process.env.TRACE_LABEL_ADDON || ${JSON.stringify(path.join(ROOT, 'build', 'Release', 'trace_label.node'))});
    const before = raw.checkPrinterConnection;
    raw.checkPrinterConnection = () => 'replaced';
    const d = Object.getOwnPropertyDescriptor(raw, 'checkPrinterConnection');
    return { keys: Object.keys(raw), same: raw.checkPrinterConnection === before,
             writable: d.writable, enumerable: d.enumerable, configurable: d.configurable };
  `);
  assert.deepEqual(r.answer.value, { keys: [], same: true, writable: false, enumerable: false, configurable: false });
});

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

test('index.d.ts declares every export and nothing else, the languages in order and the bounds', () => {
  const declared = [...DECLARATIONS.matchAll(/^export declare (?:function|const) (\w+)/gm)].map((m) => m[1]);
  assert.deepEqual([...new Set(declared)].sort(), Object.keys(require(ROOT)).sort());
  const union = /export type PrinterLanguage = ([^;]+);/.exec(DECLARATIONS);
  assert.deepEqual(union[1].split('|').map((s) => s.trim().slice(1, -1)), LANGUAGES);
  assert.deepEqual(Object.keys(EXTENSIONS), LANGUAGES);
  // The bounds it documents are the module's.
  assert.ok(DECLARATIONS.includes(`Copies of the label, ${LIMITS.minCopies} to ${LIMITS.maxCopies} `));
  assert.ok(DECLARATIONS.includes(`a side over ${LIMITS.maxImageSide} pixels`));
});
