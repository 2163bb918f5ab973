'use strict';
// The add-on's exports themselves. What checkPrinterConnection logs, state by
// state, is test/cpp/cups/query_test.cpp's; arguments of every type are
// hostile.test.js's; the name line before the query, scheduler.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { runInChild, ROOT } = require('../support/child');

test('the exports are read-only and not enumerable', async () => {
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
