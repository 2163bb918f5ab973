'use strict';
// Each failure with its own reason, over TCP on 127.0.0.1: a queue is
// missing only when the scheduler says so; a server that drops the
// connection mid-request, and one that nothing listens for, say what
// happened. The blocking calls keep their answers and lines.
const test = require('node:test');
const assert = require('node:assert/strict');
const net = require('net');
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

const ask = (server) =>
  runInChild(BODY, { env: { ...process.env, CUPS_SERVER: server, TRACE_LABEL_CUPS_TIMEOUT: '10' } });

// What each kind of server makes of every call.
const NOT_FOUND_LINES = [
  '[DEBUG] Checking printer connection: gone_q',
  '[DEBUG] macOS平台: 未找到匹配的打印机',
  '[DEBUG] 最终连接状态: isConnected = false',
];

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
  const strip = ({ cupsMessage, ...rest }) => rest;
  assert.deepEqual(
    { ...a, submit: strip(a.submit), printer: strip(a.printer), list: strip(a.list), job: strip(a.job), cancel: strip(a.cancel) },
    {
      check: false,
      checkLines: NOT_FOUND_LINES,
      print: false,
      submit: lost('submitting the job for "gone_q"'),
      printer: lost('asking about "gone_q"'),
      list: lost('listing the queues'),
      job: lost('asking about job 3'),
      cancel: lost('cancelling job 3'),
    },
  );
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
  assert.deepEqual(a, {
    check: false,
    checkLines: NOT_FOUND_LINES,
    print: false,
    submit: unreachable('submitting the job for "gone_q"'),
    printer: unreachable('asking about "gone_q"'),
    list: unreachable('listing the queues'),
    job: unreachable('asking about job 3'),
    cancel: unreachable('cancelling job 3'),
  });
});

test('a scheduler that knows no such queue or job says so', async (t) => {
  const cups = await PrivateCups.start({ queues: ['other_q'], tcp: true });
  t.after(() => cups.stop());
  const r = await ask(cups.tcpEnv.CUPS_SERVER);
  assert.equal(r.answer.kind, 'value', r.stderr);
  assert.deepEqual(r.answer.value, {
    check: false,
    checkLines: NOT_FOUND_LINES,
    print: false,
    submit: {
      code: 'ERR_NO_SUCH_PRINTER',
      message: 'CUPS has no queue named "gone_q": see listPrinters() or lpstat -p',
    },
    printer: { ok: null },
    list: { ok: [{ ...r.answer.value.list.ok[0], name: 'other_q' }] },
    job: { ok: null },
    cancel: { ok: false },
  });
});
