'use strict';
// Each failure with its own reason, over TCP on 127.0.0.1: a queue is
// missing only when the scheduler says so; a server that drops the
// connection mid-request, and one that nothing listens for, say what
// happened. The blocking calls keep their answers and lines.
const test = require('node:test');
const assert = require('node:assert/strict');
const net = require('net');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');

const BODY = `
const label = { device: 'gone_q', instruction: 'TSPL', withCutter: false, width: 20, height: 10,
  image: { width: 8, height: 8, channels: 1, data: Buffer.alloc(64, 0) } };
const outcome = (p) => p.then((v) => ({ ok: v && (v.name || v.jobId || v.id || v) }),
  (e) => ({ code: e.code, message: e.message, cupsMessage: e.cupsMessage }));
const lines = [];
addon.setLogger((l) => lines.push(l));
const check = addon.checkPrinterConnection('gone_q');
return {
  check, checkLines: lines.splice(0),
  print: addon.printTraceCode({ ...label, image: undefined, buffer: addon.toBMP(label.image) }),
  submit: await outcome(addon.submitTraceCode(label)),
  printer: await outcome(addon.getPrinter('gone_q')),
  list: await outcome(addon.listPrinters()),
  job: await outcome(addon.getJob(3)),
  cancel: await outcome(addon.cancelJob(3)),
};`;

const ask = (server, env = {}) =>
  runInChild(BODY, { env: { ...process.env, CUPS_SERVER: server, TRACE_LABEL_CUPS_TIMEOUT: '10', ...env } });

// What each kind of server makes of every call.
const NOT_FOUND_LINES = [
  '[DEBUG] Checking printer connection: gone_q',
  '[DEBUG] macOS平台: 未找到匹配的打印机',
  '[DEBUG] 最终连接状态: isConnected = false',
];

// Every call failing: the blocking ones as not found, each of the others with
// error(what it was doing).
const DOING = { submit: 'submitting the job for "gone_q"', printer: 'asking about "gone_q"', list: 'listing the queues',
  job: 'asking about job 3', cancel: 'cancelling job 3' };
const failing = (error) => ({ check: false, checkLines: NOT_FOUND_LINES, print: false,
  ...Object.fromEntries(Object.entries(DOING).map(([call, what]) => [call, error(what)])) });
// libcups's own words left out, where they differ from system to system.
const strip = (a) => Object.fromEntries(Object.entries(a).map(([k, v]) => [k, v && v.code ? { code: v.code, message: v.message } : v]));

function listen(onConnection) {
  const server = net.createServer(onConnection);
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

test('a server that drops each connection once it has the request: lost, never not found', async (t) => {
  const sockets = new Set();
  const server = await listen((socket) => {
    sockets.add(socket);
    socket.on('data', () => socket.destroy());
    socket.on('close', () => sockets.delete(socket));
  });
  t.after(() => server.close());
  const r = await ask(`127.0.0.1:${server.address().port}`);
  assert.equal(r.answer.kind, 'value', r.stderr);
  const a = r.answer.value;
  const lost = (what) => ({
    code: 'ERR_SCHEDULER_REFUSED',
    message: `the connection to the CUPS scheduler was lost (${what}): it closed the connection or stopped before it answered; try again`,
  });
  assert.deepEqual(strip(a), failing(lost));
});

test('no server at all: cannot connect, with the system\'s reason', async () => {
  const server = await listen(() => {});
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  const r = await ask(`127.0.0.1:${port}`);
  assert.equal(r.answer.kind, 'value', r.stderr);
  const a = r.answer.value;
  // libcups's reason for a refused connect (it reports EHOSTDOWN when every address refused).
  const reason = a.submit.cupsMessage;
  assert.ok(['Connection refused', 'Host is down'].includes(reason), reason);
  const unreachable = (what) => ({
    code: 'ERR_SCHEDULER_REFUSED',
    message: `cannot connect to the CUPS scheduler (${what}): is it running, and is CUPS_SERVER right?`,
    cupsMessage: reason,
  });
  assert.deepEqual(a, failing(unreachable));
});

const notFound = (answer) => ({
  ...failing(() => null),
  submit: { code: 'ERR_NO_SUCH_PRINTER', message: 'CUPS has no queue named "gone_q": see listPrinters() or lpstat -p' },
  printer: { ok: null },
  list: { ok: [{ ...answer.list.ok[0], name: 'other_q' }] },
  job: { ok: null },
  cancel: { ok: false },
});

// Schedulers over TCP with and without TLS, for the tests below.
let tls;
let plain;
test.before(async () => ([tls, plain] = await Promise.all([true, false].map((on) => PrivateCups.start({ queues: ['other_q'], tcp: true, tls: on })))));
test.after(() => [tls, plain].forEach((c) => c.stop()));

// Encryption asked for by CUPS_ENCRYPTION or by client.conf. Through TLS a
// scheduler that knows no such queue or job says so (the TLS runs below).
function encryptionCases(cups) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'label-home-'));
  fs.mkdirSync(path.join(home, '.cups'));
  fs.writeFileSync(path.join(home, '.cups', 'client.conf'), 'Encryption Required\n');
  return [
    ['Required', { CUPS_ENCRYPTION: 'Required' }],
    ['Always', { CUPS_ENCRYPTION: 'Always' }],
    ['client.conf', { HOME: home }],
  ].map(([name, env]) => ({ name, env: { ...cups.tcpEnv, ...env }, home }));
}

test('required encryption: a server with TLS answers through it, one without is named as such', async (t) => {
  const cases = [...encryptionCases(tls), ...encryptionCases(plain)];
  t.after(() => cases.forEach((c) => fs.rmSync(c.home, { recursive: true, force: true })));
  const runs = await Promise.all(cases.map((c) => ask(c.env.CUPS_SERVER, c.env)));
  // libcups's words for the failed negotiation (they differ between Required and Always).
  const refused = (what, reason) => ({
    code: 'ERR_SCHEDULER_REFUSED',
    message: `the CUPS server cannot encrypt the connection (${what}), and CUPS_ENCRYPTION or Encryption in client.conf requires it: ${reason}`,
  });
  runs.forEach((r, i) => {
    const { name } = cases[i];
    assert.equal(r.answer.kind, 'value', r.stderr);
    const a = r.answer.value;
    if (i < 3) {
      assert.deepEqual(a, notFound(a), name);
      return;
    }
    const reason = a.submit.cupsMessage;
    assert.ok(reason, name);
    assert.deepEqual(strip(a), failing((what) => refused(what, reason)), name);
  });
  // The certificate is made on the first encrypted connection: the answers above came through TLS.
  assert.ok(fs.readdirSync(path.join(tls.dir, 'ssl')).some((f) => f.endsWith('.crt')));
  assert.deepEqual(fs.readdirSync(path.join(plain.dir, 'ssl')), []);
});

test('a stopped scheduler: the encrypted connect gives up within the bound too', async (t) => {
  const cups = tls;
  const cases = encryptionCases(cups);
  t.after(() => fs.rmSync(cases[0].home, { recursive: true, force: true }));
  const body = `const lines = [];
    addon.setLogger((l) => lines.push(l));
    const check = addon.checkPrinterConnection('other_q');
    const submit = await addon.submitTraceCode({ device: 'other_q', instruction: 'TSPL', withCutter: false, width: 20, height: 10,
      image: { width: 8, height: 8, channels: 1, data: Buffer.alloc(64, 0) } }).then(() => 'accepted', (e) => e.code);
    return { check, submit, lines };`;
  cups.proc.kill('SIGSTOP');
  let runs;
  try {
    runs = await Promise.all(cases.map((c) => runInChild(body, { env: { ...c.env, TRACE_LABEL_CUPS_TIMEOUT: '2' } })));
  } finally {
    cups.proc.kill('SIGCONT');
  }
  const timeoutLine = '[DEBUG] macOS平台: CUPS调度程序在2秒内没有响应，已放弃';
  runs.forEach((r, i) => {
    assert.equal(r.answer.kind, 'value', `${cases[i].name}: ${r.stderr}`);
    const { check, submit, lines } = r.answer.value;
    assert.deepEqual({ check, submit, timeoutLines: lines.filter((l) => l === timeoutLine).length },
      { check: false, submit: 'ERR_SCHEDULER_TIMEOUT', timeoutLines: 2 }, cases[i].name);
  });
});
