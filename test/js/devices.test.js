'use strict';
// Real devices behind the private scheduler: an IPP Everywhere printer
// (ippeveprinter) that checks every job's options and keeps what it prints,
// and an AppSocket printer that keeps each connection's bytes.
// Every language reaches it byte for byte as renderTraceCode makes it, through
// each of the three calls that print; the printer running out of labels and
// disappearing show in getPrinter's condition and problems.
const test = require('node:test');
const assert = require('node:assert/strict');
const { PrivateCups } = require('../../lib/private-cups');
const { LANGUAGES } = require('../../lib/languages');
const { runInChild, readmeApp } = require('../support/child');
const { numberedLabel } = require('../support/numbered-label');
const { DeviceRig, unavailable, socketUnavailable, addIppBackend, subscriptions } = require('../support/ipp-printer');

const CALLS = ['printTraceCode', 'printTraceCodeAsync', 'submitTraceCode'];

// In a child (the add-on logs to standard output): submits one label to
// `queue`, then reads getPrinter until its condition is `until` (a minute at
// most), and answers every distinct { state, stateReasons, stateMessage,
// condition, problems } seen, in order.
const watchCondition = (cups, queue, until, { submit = true } = {}) =>
  runInChild(
    `if (${submit}) await addon.submitTraceCode({ device: '${queue}', instruction: 'TSPL', withCutter: false, width: 2,
       height: 1, buffer: Buffer.from('${numberedLabel(7).toString('hex')}', 'hex') });
    const seen = [];
    for (let i = 0; i < 600; i++) {
      const { state, stateReasons, stateMessage, condition, problems } = await addon.getPrinter('${queue}');
      const now = JSON.stringify({ state, stateReasons, stateMessage, condition, problems });
      if (seen.at(-1) !== now) seen.push(now);
      if (condition === '${until}') break;
      await new Promise((r) => setTimeout(r, 100));
    }
    return seen.map((s) => JSON.parse(s));`,
    { env: cups.env },
  ).then((r) => {
    assert.equal(r.answer.kind, 'value', r.stderr);
    return r.answer.value;
  });

test('an IPP printer', { skip: unavailable() || false }, async (t) => {
  const rig = await DeviceRig.start();
  t.after(() => rig.stop());
  const cups = await PrivateCups.start();
  t.after(() => cups.stop());
  addIppBackend(cups);
  const printer = await rig.ippPrinter('label');
  cups.admin('lpadmin', ['-p', 'ipp_label', '-E', '-v', printer.uri]);

  // Each device, through each call, in each language: one job apiece, each
  // label numbered so a job names its request.
  const socket = await rig.socketPrinter();
  cups.admin('lpadmin', ['-p', 'socket_label', '-E', '-v', socket.uri]);
  const DEVICES = [
    ['the IPP printer', 'ipp_label', printer],
    ['an AppSocket printer', 'socket_label', socket, socketUnavailable()],
  ];
  for (const [device, queue, kept, skip] of DEVICES) {
    await t.test(`${device} receives every language from every call, as rendered`, { skip: skip || false }, async () => {
      const before = kept.jobs().length;
      const requests = CALLS.flatMap((call) => LANGUAGES.map((instruction) => ({ call, instruction })));
      const r = await runInChild(
        `const requests = ${JSON.stringify(requests)};
        const out = [];
        for (const [i, { call, instruction }] of requests.entries()) {
          const options = { device: '${queue}', instruction, withCutter: i % 2 === 0, width: 2, height: 1,
                            buffer: Buffer.from(LABELS[i], 'hex') };
          const answer = await addon[call](options);
          out.push({ answer: call === 'submitTraceCode' ? answer.jobId > 0 : answer,
                     expected: addon.renderTraceCode(options).toString('base64') });
        }
        return out;`.replace('LABELS', JSON.stringify(requests.map((_, i) => numberedLabel(i + 1).toString('hex')))),
        { env: cups.env },
      );
      assert.equal(r.answer.kind, 'value', r.stderr);
      const sent = r.answer.value;
      assert.deepEqual(sent.map((s) => s.answer), requests.map(() => true));
      const jobs = (await kept.waitForJobs(before + requests.length)).slice(before);
      assert.equal(jobs.length, requests.length);
      // The scheduler hands jobs to the device one at a time, in order.
      jobs.forEach((job, i) => {
        assert.equal(job.data.toString('base64'), sent[i].expected, `${requests[i].call} ${requests[i].instruction}`);
      });
    });
  }

  const LABEL = `{ device: 'ipp_label', instruction: 'ZPL', withCutter: false, width: 2, height: 1,
    buffer: Buffer.from('${numberedLabel(9).toString('hex')}', 'hex') }`;
  const inChild = (body) =>
    runInChild(`const outcome = (p) => p.then((v) => ({ ok: v }), (e) => ({ code: e.code, name: e.name, message: e.message,
      job: e.job && e.job.state, printer: e.printer && [e.printer.condition, e.printer.problems] }));
      const label = ${LABEL}; ${body}`, { env: cups.env }).then((r) => {
      assert.equal(r.answer && r.answer.kind, 'value', r.stderr);
      return r.answer.value;
    });

  await t.test('wait: resolves once the device has the job', async () => {
    const before = printer.jobs().length;
    const r = await inChild(`const job = await addon.submitTraceCode({ ...label, wait: true });
      return [job.job.state, job.job.id === job.jobId, await outcome(addon.submitTraceCode({ ...label, wait: { timeout: -1 } }))];`);
    assert.deepEqual(r.slice(0, 2), ['completed', true]);
    assert.equal(r[2].code, 'ERR_INVALID_OPTIONS');
    assert.equal(printer.jobs().length, before + 1, 'one job printed, none for the refused wait');
  });

  await t.test('out of labels: needs attention and wait rejects ERR_NOT_PRINTED, ready once refilled', async () => {
    const before = printer.jobs().length;
    const refill = printer.mediaEmpty();
    try {
      const seen = await watchCondition(cups, 'ipp_label', 'needs-attention');  // the first job is held
      assert.ok(seen.at(-1).stateReasons.includes('media-empty-warning'), 'the raw reasons stay');
      const r = await inChild(`
        const waited = await outcome(addon.submitTraceCode({ ...label, wait: { timeout: 500 } }));
        const job = await addon.submitTraceCode(label);
        const controller = new AbortController();
        const stopped = outcome(addon.waitForJob(job.jobId, { timeout: 60000, signal: controller.signal }));
        controller.abort();
        return { waited, stopped: await stopped, early: await outcome(addon.getJob(job.jobId, { signal: AbortSignal.abort() })),
                 bad: await outcome(addon.getJob(job.jobId, { signal: 'no' })) };`);
      assert.deepEqual([r.waited.code, r.waited.job, r.waited.printer], ['ERR_NOT_PRINTED', 'pending', ['needs-attention', ['media-empty']]]);
      assert.match(r.waited.message, /still pending after 500 ms; the printer is needs-attention \(media-empty\)/);
      assert.equal(r.stopped.name, 'AbortError');
      assert.equal(r.early.name, 'AbortError');
      assert.equal(r.bad.code, 'ERR_INVALID_OPTIONS');
      assert.ok(printer.holding());
      assert.equal(printer.jobs().length, before, 'nothing came out');
    } finally {
      refill();
    }
    await printer.waitForJobs(before + 3);
    const after = await watchCondition(cups, 'ipp_label', 'ready', { submit: false });
    assert.deepEqual(after.at(-1).problems, []);
  });

  // The next job id is the probe's plus one: this scheduler has no other client.
  await t.test('wait: a job canceled before it printed rejects ERR_NOT_PRINTED with the job', async () => {
    const refill = printer.mediaEmpty();
    try {
      const r = await inChild(`
        const probe = await addon.submitTraceCode(label);
        const waited = outcome(addon.submitTraceCode({ ...label, wait: true }));
        let job = null;
        for (let i = 0; i < 600 && !job; i++) job = (await addon.getJob(probe.jobId + 1)) || (await new Promise((r) => setTimeout(r, 20)));
        return { cancelled: await addon.cancelJob(probe.jobId + 1), waited: await waited };`);
      assert.equal(r.cancelled, true);
      assert.deepEqual([r.waited.code, r.waited.job], ['ERR_NOT_PRINTED', 'canceled']);
      assert.match(r.waited.message, /did not print: it was canceled/);
    } finally {
      refill();
    }
  });

  // The printer cancels the job, and CUPS's ipp backend passes that on: the
  // wait rejects with the job canceled. Now and then (once in nine runs here) the
  // backend misses the printer's word and the job reads completed, the
  // backend's processing-to-stop-point left on it: a false success that
  // only CUPS can fix.
  const refusedAsCupsSaysIt = (waited) => {
    if (waited.ok) return assert.deepEqual([waited.ok.job.state, waited.ok.job.stateReasons], ['completed', ['processing-to-stop-point']]);
    assert.deepEqual([waited.code, waited.job], ['ERR_NOT_PRINTED', 'canceled'], JSON.stringify(waited));
    assert.match(waited.message, /did not print: it was canceled/);
  };

  // In a child: watches `queue`; after the first PrinterInfo, `then` runs
  // (a snippet) and the scheduler's subscriptions are counted; once the
  // condition is `until`, the signal aborts. Answers what was seen, in order.
  const watchUntil = (queue, until, then = '') =>
    inChild(`const { subscriptions } = require(${JSON.stringify(require.resolve('../support/ipp-printer'))});
      const count = () => subscriptions({ dir: ${JSON.stringify(cups.dir)}, socket: ${JSON.stringify(cups.socket)} }, '${queue}');
      const controller = new AbortController();
      const seen = [];
      let during;
      for await (const p of addon.watchPrinter('${queue}', { signal: controller.signal })) {
        seen.push([p.condition, p.problems]);
        if (seen.length === 1) { ${then}; during = count(); }
        if (p.condition === '${until}') controller.abort();
      }
      return { seen, during, after: count() };`);

  await t.test('watchPrinter: out of labels, as it happens; abort cancels the subscription', async () => {
    const own = await rig.ippPrinter('watched');
    cups.admin('lpadmin', ['-p', 'ipp_watched', '-E', '-v', own.uri]);
    const refill = own.mediaEmpty();
    try {
      const r = await watchUntil('ipp_watched', 'needs-attention', `await addon.submitTraceCode({ ...label, device: 'ipp_watched' })`);
      assert.deepEqual(r.seen[0], ['ready', []]);
      assert.deepEqual(r.seen.at(-1), ['needs-attention', ['media-empty']], JSON.stringify(r.seen));
      assert.equal(r.during.length, 1, 'one subscription while watching');
      assert.deepEqual(r.after, [], 'none once the iteration ended');
      assert.ok(cups.operations().includes('Cancel-Subscription'));
    } finally {
      refill();
    }
  });

  await t.test('a device that disappears: offline in watchPrinter, and in getPrinter while CUPS says only processing', async () => {
    const gone = await rig.ippPrinter('gone');
    cups.admin('lpadmin', ['-p', 'ipp_gone', '-E', '-v', gone.uri]);
    gone.stop();
    const offline = await watchUntil('ipp_gone', 'offline', `await addon.submitTraceCode({ ...label, device: 'ipp_gone' })`);
    assert.deepEqual(offline.seen.at(-1), ['offline', ['offline']], JSON.stringify(offline.seen));
    assert.deepEqual(offline.after, []);
    const seen = await watchCondition(cups, 'ipp_gone', 'offline', { submit: false });
    const last = seen.at(-1);
    assert.deepEqual([last.state, last.condition, last.problems], ['processing', 'offline', ['offline']], JSON.stringify(seen));
  });

  // The refusal passes over the queue (printing, then ready, its message as
  // it happens to be read), so the watch runs beside the wait and ends on the
  // first ready once the job has ended: the device is fine, the job was not.
  await t.test('a device that refuses the job: it did not print, and the queue is fine', async () => {
    const refusing = await rig.ippPrinter('refusing');
    cups.admin('lpadmin', ['-p', 'ipp_refusing', '-E', '-v', refusing.uri]);
    refusing.refuseJobs();
    const r = await inChild(`const controller = new AbortController();
      const seen = [];
      let ended = false;
      const waited = outcome(addon.submitTraceCode({ ...label, device: 'ipp_refusing', wait: { timeout: 30000 } })).then((w) => {
        ended = true;
        if (seen.length && seen.at(-1)[0] === 'ready') controller.abort();
        return w;
      });
      for await (const p of addon.watchPrinter('ipp_refusing', { signal: controller.signal })) {
        seen.push([p.condition, p.problems]);
        if (ended && p.condition === 'ready') controller.abort();
      }
      const { state, condition, problems } = await addon.getPrinter('ipp_refusing');
      return { waited: await waited, seen, printer: [state, condition, problems] };`);
    refusedAsCupsSaysIt(r.waited);
    assert.deepEqual(r.seen.at(-1), ['ready', []], JSON.stringify(r.seen));
    assert.deepEqual(r.printer, ['idle', 'ready', []], 'the queue is fine for the next job');
    assert.equal(refusing.jobs().length, 0);
  });

  await t.test('watchPrinter: a queue that does not exist or is deleted, bad arguments, and break', async () => {
    cups.admin('lpadmin', ['-p', 'ipp_doomed', '-E', '-v', printer.uri]);
    const r = await inChild(`const first = (it) => outcome(it[Symbol.asyncIterator]().next());
      const { execFileSync } = require('child_process');
      const deleted = await outcome((async () => {
        for await (const p of addon.watchPrinter('ipp_doomed')) execFileSync('lpadmin', ['-x', 'ipp_doomed']);
      })());
      for await (const p of addon.watchPrinter('ipp_label')) break;
      return [await first(addon.watchPrinter('no_such_queue')), deleted, await first(addon.watchPrinter('')),
              await first(addon.watchPrinter('ipp_label', { signal: 'no' })),
              await first(addon.watchPrinter('ipp_label', { signal: AbortSignal.abort() }))];`);
    assert.deepEqual(r.map((o) => o.code || o.ok.done), ['ERR_NO_SUCH_PRINTER', 'ERR_NO_SUCH_PRINTER', 'ERR_INVALID_OPTIONS', 'ERR_INVALID_OPTIONS', true]);
    assert.deepEqual(subscriptions(cups, 'ipp_label'), [], 'break cancelled the subscription');
  });

  await t.test('the README\'s "Did it print?" example, ready and out of labels', async () => {
    // A printer of its own: the jobs of the tests above may still be on their way.
    const own = await rig.ippPrinter('readme');
    cups.admin('lpadmin', ['-p', 'ipp_readme', '-E', '-v', own.uri]);
    const app = readmeApp(cups.dir, 'did-it-print-example');
    const run = (...args) => app.run(cups.env, 'ipp_readme', ...args);
    const lines = (r) => r.stdout.split('\n').filter((l) => !l.startsWith('[DEBUG]') && l !== '');

    const ready = run();
    assert.equal(ready.status, 0, ready.stdout + ready.stderr);
    assert.deepEqual(lines(ready).map((l) => l.replace(/\d+/, 'N')), ['job N printed']);
    const [kept] = await own.waitForJobs(1);
    assert.match(kept.data.toString('latin1'), /^SIZE 50 mm, 30 mm\r\n/);

    const refill = own.mediaEmpty();
    try {
      await watchCondition(cups, 'ipp_readme', 'needs-attention'); // a first job is held
      const empty = run('500');
      assert.equal(empty.status, 0, empty.stdout + empty.stderr);
      assert.deepEqual(lines(empty).map((l) => l.replace(/\d+/, 'N')), [
        'ipp_readme is needs-attention media-empty',
        'job N is pending; the printer is needs-attention media-empty',
      ]);
    } finally {
      refill();
    }
  });
});

// The rules on their own, for reasons the rig's printer cannot report.
test('describeCondition', () => {
  const { describeCondition } = require('../../lib/condition');
  const rows = [
    ['idle', [], '', 'ready', []],
    ['processing', ['cups-waiting-for-job-completed'], 'Printing.', 'printing', []],
    ['processing', ['media-jam-error', 'door-open-warning', 'media-low-report'], '', 'needs-attention', ['media-jam', 'door-open']],
    ['processing', ['marker-supply-empty-warning', 'offline-report'], '', 'offline', ['marker-supply-empty', 'offline']],
    ['processing', [], 'Unable to connect to printer; will retry in 30 seconds...', 'offline', ['offline']],
    ['idle', [], 'The printer may not exist or is unavailable at this time.', 'ready', []],
    ['stopped', ['paused', 'media-empty-error'], 'out of labels', 'stopped', ['paused', 'media-empty']],
    ['idle', ['media-empty', 'media-empty-error'], '', 'needs-attention', ['media-empty']],
  ];
  for (const [state, stateReasons, stateMessage, condition, problems] of rows) {
    assert.deepEqual(describeCondition({ state, stateReasons, stateMessage }), { condition, problems }, `${state} ${stateReasons}`);
  }
});
