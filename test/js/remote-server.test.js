'use strict';
// The app-facing calls against a print server over TCP on 127.0.0.1, reached
// through a relay that counts connections: one connection per environment,
// kept between calls, opened again after a restart without sending a job
// twice; a worker's own; the specified calls' own per call; and a listing in
// one exchange that answers what each queue's own question answers.
// The add-on runs in this process (its lines dropped), so that the relay,
// on this event loop, sees every connection the calls make.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { Worker } = require('worker_threads');
const { PrivateCups } = require('../../lib/private-cups');
const { startRelay } = require('../../bench/lib/relay');

const INDEX = path.resolve(__dirname, '../../index.js');
let cups;
let relay;
let addon;
const label = (n) => ({
  device: 'kept_q', instruction: 'TSPL', withCutter: false, width: 20, height: 10, title: `kept-${n}`,
  image: { width: 8, height: 8, channels: 1, data: Buffer.alloc(64, n * 40) },
});

test.before(async () => {
  cups = await PrivateCups.start({ queues: ['kept_q'], tcp: true });
  relay = await startRelay(cups.port, 0);
  // libcups reads these once per thread, on each thread's first call.
  process.env.CUPS_SERVER = `127.0.0.1:${relay.port}`;
  process.env.HOME = cups.home;
  addon = require(INDEX);
  addon.setLogger(null);
});
test.after(() => {
  relay.close();
  cups.stop();
});

const ownedJobs = () => cups.admin('lpstat', ['-W', 'all', '-o', 'kept_q']).split('\n').filter(Boolean);

test('one kept connection: a restart between two calls opens a new one, and each job is sent once', async () => {
  const before = relay.accepted;
  const asked = cups.operations().length;
  const first = await addon.submitTraceCode(label(1));
  assert.deepEqual(cups.operations().slice(asked), ['Get-Printer-Attributes', 'Print-Job']);
  assert.equal((await addon.getJob(first)).uuid, first.uuid);
  await addon.listPrinters();
  await addon.getPrinter('kept_q');
  const second = await addon.submitTraceCode(label(2));
  assert.equal(relay.accepted - before, 1, 'calls between restarts share one connection');

  await cups.restart({ forgetJobs: false });
  const third = await addon.submitTraceCode(label(3));
  assert.equal(relay.accepted - before, 2, 'the closed connection is opened again, once');
  assert.deepEqual(new Set([first.jobId, second.jobId, third.jobId]).size, 3);
  const jobs = await cups.waitForJobs('kept_q', 3);
  assert.deepEqual(jobs.map((j) => j.title), ['kept-1', 'kept-2', 'kept-3']);
  assert.equal(ownedJobs().length, 3, 'the scheduler holds no job twice');
});

test('a worker keeps its own connection; the specified calls open one per call', async () => {
  await addon.submitTraceCode(label(4));
  const base = relay.accepted;
  const inWorker = await new Promise((resolve, reject) => {
    const w = new Worker(
      `const addon = require(${JSON.stringify(INDEX)});
      const { parentPort, workerData } = require('worker_threads');
      addon.setLogger(null);
      (async () => {
        const a = await addon.submitTraceCode(workerData.label);
        const b = await addon.submitTraceCode(workerData.label);
        parentPort.postMessage([a.jobId, b.jobId]);
      })().catch((e) => parentPort.postMessage(e.message));`,
      { eval: true, workerData: { label: label(5) } },
    );
    w.once('message', resolve);
    w.once('error', reject);
  });
  assert.ok(inWorker.every((id) => id > 0), String(inWorker));
  assert.equal(relay.accepted - base, 1, "the worker's two jobs share its own connection");
  await addon.submitTraceCode(label(6));
  assert.equal(relay.accepted - base, 1, "the main thread's connection is still its own");

  const { device, instruction, withCutter, width, height, image } = label(7);
  const printRequest = { device, instruction, withCutter, width, height, buffer: addon.toBMP(image) };
  // The lookup, then one Print-Job with its document, sent without waiting for "100 Continue".
  const heads = relay.requests.length;
  assert.equal(await addon.printTraceCodeAsync(printRequest), true);
  const waits = relay.requests.slice(heads).map((head) => /^Expect: 100-continue/im.test(head));
  assert.deepEqual(waits, [true, false]);
  assert.equal(await addon.checkPrinterConnectionAsync('kept_q'), true);
  assert.equal(relay.accepted - base, 3, 'printTraceCodeAsync and the check keep nothing between calls');
});

test('listPrinters: one exchange for all queues, answering what each queue answers alone', async () => {
  for (let i = 0; i < 24; i++) cups.addQueue(`kept_l${String(i).padStart(2, '0')}`);
  cups.addPpdQueue('kept_ppd300', { resolution: 300 });
  cups.disable('kept_l02');
  cups.admin('lpadmin', ['-d', 'kept_l03']);
  cups.writeLpoptions([
    'Dest kept_l05/small printer-resolution-default=300dpi',
    'Dest kept_l07 printer-resolution-default=dpi Resolution=600dpi',
  ]);
  const before = cups.operations().length;
  const list = await addon.listPrinters();
  const asked = cups.operations().slice(before).filter((op) => op !== 'CUPS-Add-Modify-Printer');
  assert.equal(list.length, 26);
  assert.deepEqual(asked.filter((op) => op === 'CUPS-Get-Printers'), ['CUPS-Get-Printers']);
  assert.ok(asked.length <= 3, `the default destination adds at most two: ${asked}`);

  const alone = await Promise.all(list.map((p) => addon.getPrinter(p.name)));
  assert.deepEqual(list, alone);
  const dpi = Object.fromEntries(list.map((p) => [p.name, p.dpi]));
  assert.deepEqual([dpi.kept_ppd300, dpi.kept_l05, dpi.kept_l07, dpi.kept_l06], [300, 300, 600, 203]);
  assert.deepEqual(list.filter((p) => p.isDefault).map((p) => p.name), ['kept_l03']);
  assert.equal(list.find((p) => p.name === 'kept_l02').state, 'stopped');
});
