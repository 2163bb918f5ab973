'use strict';
// lib/languages.js is the JavaScript side's one list of languages and one
// default resolution; index.d.ts must agree with it (the add-on's table and
// resolution are render.test.js's, which renders from the same list).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { ROOT } = require('../support/child');
const { LANGUAGES, EXTENSIONS } = require('../../lib/languages');

test('index.d.ts and the extensions name the same languages in the same order', () => {
  const union = /export type PrinterLanguage = ([^;]+);/.exec(fs.readFileSync(path.join(ROOT, 'index.d.ts'), 'utf8'));
  assert.deepEqual(union[1].split('|').map((s) => s.trim().slice(1, -1)), LANGUAGES);
  assert.deepEqual(Object.keys(EXTENSIONS), LANGUAGES);
});
