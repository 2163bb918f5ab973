'use strict';
// checkPrinterConnection's boundary: what it answers and logs around the
// query. The query's own log, state by state, is test/cpp/cups/query_test.cpp's;
// arguments of every type are hostile.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, ROOT } = require('../support/child');

test('checkPrinterConnection against a private scheduler', async (t) => {
  const cups = await PrivateCups.start({ queues: ['label_ready'] });
  t.after(() => cups.stop());
  const check = (args) => runInChild(`return addon.checkPrinterConnection(${args});`, { env: cups.env });

  // [arguments, answer]: the name is logged first, the answer is the query's last line.
  for (const [args, value] of [["'label_ready'", true], ["'label_ready', 'other', 3", true], ["'label_missing'", false]]) {
    await t.test(`checkPrinterConnection(${args})`, async () => {
      const r = await check(args);
      assert.deepEqual(r.answer, { kind: 'value', value });
      const lines = r.stdout.split('\n');
      assert.equal(lines[0], `[DEBUG] Checking printer connection: ${args.split("'")[1]}`);
      assert.equal(lines.at(-2), `[DEBUG] 最终连接状态: isConnected = ${value}`);
    });
  }
});

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
