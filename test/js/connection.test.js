'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, ROOT } = require('../support/child');

const NOT_FOUND = '[DEBUG] macOS平台: 未找到匹配的打印机\n[DEBUG] 最终连接状态: isConnected = false\n';
const found = (state, extra = '') =>
  '[DEBUG] macOS平台: 找到匹配的打印机\n' +
  `[DEBUG] macOS平台: 使用cupsGetOption获取到打印机状态 = ${state}\n` +
  extra +
  '[DEBUG] 最终连接状态: isConnected = true\n';

test('checkPrinterConnection against a private scheduler', async (t) => {
  const cups = await PrivateCups.start({ queues: ['label_ready', 'label_paused', 'label_busy'] });
  t.after(() => cups.stop());
  cups.disable('label_paused');
  cups.addPpdQueue('label_driver', { resolution: 300 });
  // label_busy prints a job that its backend holds until the hold file goes.
  const hold = path.join(cups.captureDir, 'label_busy.hold');
  fs.writeFileSync(hold, '');
  t.after(() => fs.rmSync(hold, { force: true }));
  fs.writeFileSync(path.join(cups.dir, 'busy.txt'), 'busy');
  cups.admin('lp', ['-d', 'label_busy', '-o', 'raw', path.join(cups.dir, 'busy.txt')]);
  for (let i = 0; i < 400 && !/now printing/.test(cups.run('lpstat', ['-p', 'label_busy']).stdout); i++) {
    await new Promise((r) => setTimeout(r, 25));
  }

  const check = (args, env = cups.env) =>
    runInChild(`return addon.checkPrinterConnection(${args});`, { env });

  await t.test('bad arguments answer null and print nothing', async () => {
    for (const args of ['', '42', "''", "['label_ready']"]) {
      const r = await check(args);
      assert.deepEqual(r.answer, { kind: 'value', value: null }, args);
      assert.equal(r.stdout, '', args);
    }
  });

  const cases = [
    { name: 'an existing idle queue', args: "'label_ready'", value: true, log: found(3) },
    { name: 'extra arguments are ignored', args: "'label_ready', 'other', 3", value: true, log: found(3) },
    {
      name: 'a disabled queue still counts, with the default line',
      args: "'label_paused'",
      value: true,
      log: found(5, '[DEBUG] macOS平台: 无法获取打印机状态，默认设为已连接\n'),
    },
    { name: 'a queue that is printing (state 4)', args: "'label_busy'", value: true, log: found(4) },
    { name: 'a queue with a driver', args: "'label_driver'", value: true, log: found(3) },
    { name: 'an unknown name', args: "'label_missing'", value: false, log: NOT_FOUND },
    { name: 'case matters', args: "'LABEL_READY'", value: false, log: NOT_FOUND },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const r = await check(c.args);
      const shown = eval(c.args.split(',')[0]);
      assert.deepEqual(r.answer, { kind: 'value', value: c.value });
      assert.equal(r.stdout, `[DEBUG] Checking printer connection: ${shown}\n` + c.log);
    });
  }

  await t.test('an instance from lpoptions is found by its printer name', async () => {
    const home = path.join(cups.dir, 'home-instance');
    cups.writeLpoptions(['Dest label_ready/second printer-resolution-default=203dpi'], home);
    const r = await check("'label_ready'", { ...cups.env, HOME: home });
    assert.deepEqual(r.answer, { kind: 'value', value: true });
    assert.equal(r.stdout, '[DEBUG] Checking printer connection: label_ready\n' + found(3));
  });

  await t.test('lpoptions can override the state: a non-numeric one reads as 0', async () => {
    const home = path.join(cups.dir, 'home-state');
    cups.writeLpoptions(['Dest label_ready printer-state=idle'], home);
    const r = await check("'label_ready'", { ...cups.env, HOME: home });
    assert.deepEqual(r.answer, { kind: 'value', value: true });
    assert.equal(
      r.stdout,
      '[DEBUG] Checking printer connection: label_ready\n' + found(0, '[DEBUG] macOS平台: 无法获取打印机状态，默认设为已连接\n'),
    );
  });

  await t.test('an unreachable scheduler answers false', async () => {
    const env = { ...cups.env, CUPS_SERVER: path.join(cups.dir, 'missing.sock') };
    const r = await check("'label_ready'", env);
    assert.deepEqual(r.answer, { kind: 'value', value: false });
    assert.equal(r.stdout, '[DEBUG] Checking printer connection: label_ready\n' + NOT_FOUND);
  });
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
