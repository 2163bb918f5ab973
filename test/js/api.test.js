'use strict';
// The calls that say what happened (submitTraceCode, the printer and job
// queries), through the private scheduler.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, loggedJobFiles } = require('../support/child');
const { decode } = require('../../lib/virtual-printer');

// A 20 x 10 px PNG: a black left half; and the same as a 24-bit BMP.
const { PNG } = require('pngjs');
const png = new PNG({ width: 20, height: 10 });
for (let i = 0; i < 200; i++) png.data.fill((i % 20) < 10 ? 0 : 255, i * 4, i * 4 + 3).fill(255, i * 4 + 3, i * 4 + 4);
const PNG_FILE = path.join(fs.mkdtempSync('/tmp/js_api_'), 'label.png');
fs.writeFileSync(PNG_FILE, PNG.sync.write(png));
test.after(() => fs.rmSync(path.dirname(PNG_FILE), { recursive: true, force: true }));

const PRELUDE = `
const image = fs.readFileSync(${JSON.stringify(PNG_FILE)});
const label = (device, more = {}) => ({ device, instruction: 'ZPL', withCutter: false, width: 5, height: 2, image, ...more });
const outcome = (p) => p.then((v) => v, (e) => ({ code: e.code, message: e.message, ...e }));
`;
const child = (cups, body, env = {}) => runInChild(`${PRELUDE}${body}`, { env: { ...cups.env, ...env } });

test('submitTraceCode: the job, its options and title, and the print path log', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q'] });
  t.after(() => cups.stop());
  cups.addPpdQueue('api_ppd300', { resolution: 300 });
  const r = await child(
    cups,
    `const a = addon.printTraceCode({ ...label('api_q'), image: undefined, buffer: addon.toBMP(image) });
    process.stdout.write('---\\n');
    const b = await addon.submitTraceCode(label('api_q'));
    process.stdout.write('---\\n');
    const c = await addon.submitTraceCode(label('api_q', { copies: 3, title: 'Batch 7' }));
    const e = await addon.submitTraceCode(label('api_ppd300'));
    const f = await addon.submitTraceCode(label('api_q', { dpi: 600, width: 5.9 }));
    const g = await addon.submitTraceCode(label('api_q', { compress: true, dpi: 203 }));
    const done = await Promise.all([b, c, e, f, g].map((j) => addon.waitForJob(j.jobId)));
    return { a, b, c, e, f, done: done.map((j) => j.state), packed: addon.renderTraceCode(label('api_q', { compress: true })).toString('base64') };`,
  );
  const { a, b, c, e, f, done, packed } = r.answer.value;
  assert.equal(a, true);
  assert.deepEqual(done, Array(5).fill('completed'));
  assert.deepEqual(b, { jobId: 2, uuid: b.uuid, printer: 'api_q', language: 'ZPL', dpi: 203, dots: { width: 40, height: 16 }, bytes: b.bytes });
  assert.match(b.uuid, /^urn:uuid:/);
  assert.deepEqual([c.jobId, e.dpi, f.dpi, f.dots], [3, 300, 600, { width: 120, height: 48 }]);

  // The same lines as printTraceCode, but for the job file and the job id, and
  // that the add-on decodes a PNG into an 8-bit gray image, not a 24-bit BMP.
  const mask = (log) => log.replace(/printer_command_\d+_\d+_\d+/, 'FILE').replace(/ID=\d+/, 'ID=N');
  const [logA, logB, rest] = r.stdout.split('---\n');
  assert.equal(mask(logB), mask(logA).replace('成功将24位BMP转换为8位灰度BMP', '成功将8位BMP转换为8位灰度BMP'));
  // A given dpi asks CUPS for no resolution and logs no lookup.
  assert.equal(rest.split('尝试加载打印机默认设置').length - 1, 2, rest);
  assert.deepEqual(loggedJobFiles(r.stdout).filter((file) => fs.existsSync(file)), []);

  const [jobA, jobB, jobC, jobF, jobG] = await cups.waitForJobs('api_q', 5);
  assert.deepEqual(jobB.data, jobA.data);
  assert.ok(jobG.data.equals(Buffer.from(packed, 'base64')) && !jobG.data.equals(jobB.data), 'compress: true reaches the job');
  assert.equal(jobB.data.length, b.bytes);
  // The default title names the label and tells two of one size apart; the print path keeps its own.
  const ids = [jobB, jobF].map((job) => job.title.match(/^ZPL 5x2mm ([0-9a-f]{6})$/)?.[1]);
  assert.ok(ids[0] && ids[1] && ids[0] !== ids[1], `${jobB.title} / ${jobF.title}`);
  assert.deepEqual([jobA.title, jobB.copies, jobC.title, jobC.copies], ['Qorvin', 1, 'Batch 7', 3]);
  const [at300] = await cups.waitForJobs('api_ppd300', 1);
  assert.deepEqual([decode('ZPL', at300.data).width, decode('ZPL', jobF.data).width], [60, 120]);
});

// Every refused value names its option and the rule; the values at the rule's
// edges pass it. The queue rejects jobs, so a call whose options pass ends at
// the scheduler (ERR_SCHEDULER_REFUSED) without printing. Where a row gives
// them, the options read, in order: a refusal, or a getter that throws
// ('throws' here), stops the reading; a bad image comes before a negative size.
test('submitTraceCode refuses with a code and a reason, each refusal states the rule', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q', 'api_rejecting'] });
  t.after(() => cups.stop());
  cups.reject('api_rejecting');
  const all = 'wait device instruction withCutter width height buffer image copies dpi title allowLarge has compress compress';
  const cases = [
    ['null', 'ERR_INVALID_OPTIONS', /object/],
    ["label('api_q', { instruction: 'zpl' })", 'ERR_UNKNOWN_LANGUAGE', /"zpl".*ZPL/],
    ["label('api_q', { image: Buffer.from('GIF89a') })", 'ERR_UNREADABLE_IMAGE', /neither signature/],
    ["label('api_q', { buffer: image })", 'ERR_UNREADABLE_IMAGE', /options\.image/],
    ["label('api_q', { buffer: image.subarray(0, 30) })", 'ERR_UNREADABLE_IMAGE', /truncated/],
    ["label('api_q', { width: 1e6, allowLarge: true })", 'ERR_LABEL_TOO_LARGE', /8000000 x 16 dots/],
    ["label('api_q', { width: 1001 })", 'ERR_LABEL_TOO_LARGE', /^a label of 1001 x 2 mm is larger than any label printer prints \(1000 mm on a side at most\).*allowLarge: true$/, all.replace(' has compress compress', '')],
    ["label('api_q', { height: 1001, allowLarge: false })", 'ERR_LABEL_TOO_LARGE', /5 x 1001 mm/],
    ["label('api_q', { width: 0, height: NaN })", 'ERR_INVALID_OPTIONS', /width/, 'wait device instruction withCutter width'],
    ["label('api_q', { width: -5, buffer: 'BM' })", 'ERR_INVALID_OPTIONS', /buffer/, 'wait device instruction withCutter width height buffer'],
    ["label('api_q', { dpi: 'throws', title: 5 })", undefined, /^no dpi$/, 'wait device instruction withCutter width height buffer image copies dpi'],
    ["label('api_rejecting', { copies: 2, dpi: 203, title: 'x', compress: true })", 'ERR_SCHEDULER_REFUSED', /not accepting jobs/, all],
  ];
  const first = await child(cups, `return Promise.all([${cases.map(([call]) => `spied(${call})`)}]);
    function spied(options, seen = []) {
      return outcome(addon.submitTraceCode(options && new Proxy(options, {
        get: (o, k) => { seen.push(k); if (o[k] === 'throws') throw new RangeError('no ' + k); return o[k]; },
        has: (o, k) => (seen.push(\`has \${k}\`), k in o) }))).then((e) => ({ ...e, reads: seen.join(' ') }));
    }`);
  cases.forEach(([call, code, message, reads], i) => {
    const got = first.answer.value[i];
    assert.equal(got.code, code, `${call}: ${JSON.stringify(got)}`);
    assert.match(got.message, message, call);
    if (reads) assert.equal(got.reads, reads, call);
  });
  assert.equal(first.answer.value.at(-1).cupsStatus, 0x506);
  assert.equal(cups.jobs('api_q').length, 0);
  const size = /^options\.(width|height) must be a number of millimetres from 1 to 1000 \(fractions are dropped, so 1\.9 is 1 and 0\.5 is 0, refused; over 1000 needs allowLarge: true\)$/;
  const rules = [
    // option, refused values, accepted values, the message
    ['device', ["''", '5'], [], /^options\.device must be a non-empty string: the name of a CUPS queue$/],
    ['instruction', ["''", '5'], [], /^options\.instruction must be a string, one of TSPL, ZPL, ESC\/POS, CPCL, PPLA, DPL$/],
    ['withCutter', ['1', 'null'], ['true', 'false'], /^options\.withCutter must be true or false$/],
    ['width', ['0.5', '-0.5', '-5', 'NaN', 'Infinity', "'5'", '2 ** 32'], ['1', '1.9', '1000', '2 ** 32 + 3'], size],
    ['height', ['0.99', '-1', "'2'"], ['1', '1000.9'], size],
    ['buffer', ['[1, 2]', "'BM'"], [], /^options\.buffer must be a Buffer, typed array or DataView holding a BMP file, or give options\.image instead$/],
    ['copies', ['0', '1000', '2.5', "'2'"], ['1', '999'], /^options\.copies must be a whole number from 1 to 999 \(a fraction is refused\)$/],
    ['dpi', ['200', '300.5', "'300'"], ['203', '300', '600'], /^options\.dpi must be the number 203, 300 or 600$/],
    ['title', ["''", '5', "'\u00e9'.repeat(128)", "'a\\0b'"], ["'\u00e9'.repeat(127) + 'a'", "'x'"], /^options\.title must be a non-empty string of at most 255 bytes of UTF-8$/],
    ['allowLarge', ['1', "'yes'"], ['true', 'false'], /^options\.allowLarge must be true or false \(true lets width or height be over 1000 mm\)$/],
    ['compress', ['1', "'yes'"], ['true', 'false'], /^options\.compress must be true or false$/],
  ];
  const calls = rules.flatMap(([option, refused, accepted]) =>
    [...refused.map((v) => [option, v, true]), ...accepted.map((v) => [option, v, false])]);
  const ids = [['0', true], ['1.5', true], ['2 ** 31', true], ["'7'", true], ['null', true], ['{ id: 0 }', true],
    ['{}', true], ['{ id: 1, uuid: 5 }', true], ["{ jobId: 'x' }", true], ['2 ** 31 - 1', false], ['{ id: 2 ** 31 - 1 }', false]];
  const r = await child(cups, `return Promise.all([
    ${calls.map(([option, v]) => `outcome(addon.submitTraceCode(label('api_rejecting', { ${option}: ${v} })))`)},
    ${ids.map(([v]) => `outcome(addon.getJob(${v})), outcome(addon.cancelJob(${v})), outcome(addon.waitForJob(${v}))`)},
    outcome(addon.getPrinter('')), outcome(addon.waitForJob(1, { timeout: NaN })), outcome(addon.submitTraceCode(5))]);`);
  const got = r.answer.value;
  calls.forEach(([option, v, refused], i) => {
    const what = `${option}: ${v} -> ${JSON.stringify(got[i])}`;
    if (!refused) return assert.equal(got[i].code, 'ERR_SCHEDULER_REFUSED', what);
    assert.deepEqual([got[i].code, got[i].property], ['ERR_INVALID_OPTIONS', option], what);
    assert.match(got[i].message, rules.find(([o]) => o === option)[3], what);
  });
  const rest = got.slice(calls.length);
  ids.forEach(([v, refused], i) => {
    for (const answer of rest.slice(3 * i, 3 * i + 3)) {
      if (refused) assert.deepEqual([answer.code, answer.property, answer.message], ['ERR_INVALID_OPTIONS', 'jobId', 'a job id must be a whole number from 1 to 2147483647'], v);
      else assert.ok(answer === null || answer === false, `${v}: ${JSON.stringify(answer)}`);
    }
  });
  assert.deepEqual(rest.slice(3 * ids.length).map((e) => [e.property, e.message]), [
    ['name', 'the queue name must be a non-empty string'],
    ['timeout', 'options.timeout must be a number of milliseconds from 0 (Infinity waits for ever)'],
    ['options', 'the options must be an object'],
  ]);
});

test('printers: state, reason, default, description and location, the resolution a driver gives', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_raw', 'api_paused', 'api_reject'] });
  t.after(() => cups.stop());
  cups.addPpdQueue('api_ppd300', { resolution: 300 });
  cups.reject('api_reject');
  cups.admin('cupsdisable', ['-r', 'out of labels', 'api_paused']);
  cups.admin('lpadmin', ['-d', 'api_paused']);
  // What a printer picker shows: a description and a location, in any script; CUPS gives a queue
  // without a description its name, and one without a location ''.
  cups.admin('lpadmin', ['-p', 'api_paused', '-D', 'Packing line 2 · 标签机', '-L', 'Hall B, bench 4']);
  cups.admin('lpadmin', ['-p', 'api_reject', '-L', 'Dock']);
  const body = `return [await addon.listPrinters(), await addon.getPrinter('api_paused'), await addon.submitTraceCode(label('api_paused'))];`;
  const [list, paused, job] = (await child(cups, body)).answer.value;
  const summary = (p) => [p.name, p.state, p.acceptingJobs, p.isDefault, p.dpi, p.makeAndModel, p.description, p.location];
  assert.deepEqual(list.map(summary).sort(), [
    ['api_paused', 'stopped', true, true, 203, 'Local Raw Printer', 'Packing line 2 · 标签机', 'Hall B, bench 4'],
    ['api_ppd300', 'idle', true, false, 300, 'Test api_ppd300', 'api_ppd300', ''],
    ['api_raw', 'idle', true, false, 203, 'Local Raw Printer', 'api_raw', ''],
    ['api_reject', 'idle', false, false, 203, 'Local Raw Printer', 'api_reject', 'Dock'],
  ]);
  assert.deepEqual(paused, list.find((p) => p.name === 'api_paused'));
  assert.deepEqual([paused.stateReasons, paused.stateMessage, paused.deviceUri], [['paused'], 'out of labels', 'capture:/api_paused']);
  assert.equal(list.find((p) => p.name === 'api_reject').stateMessage, 'Rejecting Jobs');
  assert.ok(job.jobId >= 1, 'a stopped queue still takes jobs');
});

test('jobs: a held job times out, is cancelled, then reads canceled', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q'] });
  t.after(() => cups.stop());
  cups.admin('lp', ['-d', 'api_q', '-H', 'hold', PNG_FILE]);
  const r = await child(
    cups,
    `const held = await addon.getJob(1);
    const waited = await outcome(addon.waitForJob(1, { timeout: 50 }));
    const cancelled = await addon.cancelJob(1);
    const final = await addon.waitForJob(1, { timeout: 30000 });
    return { held, waited, cancelled, again: await addon.cancelJob(1), final, never: await addon.waitForJob(98) };`,
  );
  const { held, waited, cancelled, again, final, never } = r.answer.value;
  assert.deepEqual({ ...held, createdAt: typeof held.createdAt, uuid: /^urn:uuid:/.test(held.uuid) }, { id: 1, printer: 'api_q', state: 'held',
    stateReasons: ['job-hold-until-specified'], title: 'label.png', uuid: true, createdAt: 'string', completedAt: null });
  assert.deepEqual([waited.code, waited.job.state], ['ERR_SCHEDULER_TIMEOUT', 'held']);
  assert.deepEqual([cancelled, again, final.state, never], [true, false, 'canceled', null]);
  assert.ok(new Date(final.completedAt) >= new Date(held.createdAt));
  assert.equal(cups.jobs('api_q').length, 0);
});

// Counts of requests, not time: the job is held until its watcher has asked
// the scheduler for events eight times with nothing to report.
test('waitForJob waits on a job subscription: the job is read again only when it changes', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q'] });
  t.after(() => cups.stop());
  const release = cups.hold('api_q');
  t.after(release);
  const r = await child(
    cups,
    `const log = ${JSON.stringify(path.join(cups.dir, 'log/access_log'))};
    const count = (op) => (fs.readFileSync(log, 'utf8').match(new RegExp(' ' + op + ' ', 'g')) || []).length;
    const job = await addon.submitTraceCode(label('api_q'));
    const waiting = addon.waitForJob(job, { timeout: 60000 });
    for (let i = 0; i < 6000 && count('Get-Notifications') < 8; i++) await new Promise((r) => setTimeout(r, 10));
    const asked = count('Get-Job-Attributes');
    fs.unlinkSync(${JSON.stringify(path.join(cups.captureDir, 'api_q.hold'))});
    const done = await waiting;
    return { done: done.state, asked, after: count('Get-Job-Attributes') - asked, subscribed: count('Create-Job-Subscriptions') };`,
  );
  assert.equal(r.answer.kind, 'value', r.stderr);
  const { done, asked, after, subscribed } = r.answer.value;
  assert.deepEqual([done, subscribed], ['completed', 1], cups.operations().join(' '));
  // Once before the subscription's answer, once after it, and once more if
  // the job started only then; polling every 250 ms would read it about ten
  // times while the watcher asks eight.
  assert.ok(asked <= 3, `read ${asked} times while held`);
  // (The scheduler logs a request after answering it: the last may not be counted yet.)
  assert.ok(after <= 3, `read ${after} times as it ended`);
});

test('without job history: a job seen and then gone resolves as forgotten', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q'], jobHistory: false });
  t.after(() => cups.stop());
  const hold = path.join(cups.captureDir, 'api_q.hold'); // the backend waits while it exists
  fs.writeFileSync(hold, '');
  const r = await child(
    cups,
    `const job = await addon.submitTraceCode(label('api_q'));
    const waiting = addon.waitForJob(job.jobId);
    const seen = await addon.getJob(job.jobId); // after waitForJob's first look: calls run in order
    fs.unlinkSync(${JSON.stringify(hold)});
    const done = await waiting;
    return [['pending', 'processing'].includes(seen.state), done.state, done.title, await addon.getJob(job.jobId),
      await addon.cancelJob(job.jobId)];`,
  );
  const [seen, state, title, ...rest] = r.answer.value;
  assert.deepEqual([seen, state, rest], [true, 'forgotten', [null, false]]);
  assert.match(title, /^ZPL 5x2mm [0-9a-f]{6}$/);
});

test('watchPrinter: a subscription the scheduler dropped is made again, and nothing is missed', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q'] });
  t.after(() => cups.stop());
  const support = JSON.stringify(require.resolve('../support/ipp-printer'));
  const r = await child(
    cups,
    `const { execFileSync } = require('child_process');
    const { subscriptions, cancelSubscription } = require(${support});
    const at = { dir: ${JSON.stringify(cups.dir)}, socket: ${JSON.stringify(cups.socket)} };
    const controller = new AbortController();
    const seen = [];
    let ids;
    for await (const p of addon.watchPrinter('api_q', { signal: controller.signal })) {
      seen.push(p.condition);
      if (seen.length === 1) {
        ids = subscriptions(at, 'api_q');
        cancelSubscription(at, 'api_q', ids[0]); // as its lease running out would
        execFileSync('cupsdisable', ['api_q']);
      }
      if (seen.length === 2) {
        ids.push(...subscriptions(at, 'api_q'));
        controller.abort();
      }
    }
    return { seen, ids };`,
  );
  assert.equal(r.answer.kind, 'value', r.stderr);
  const { seen, ids } = r.answer.value;
  assert.deepEqual(seen, ['ready', 'stopped']);
  assert.equal(ids.length, 2);
  assert.notEqual(ids[0], ids[1], 'a new subscription');
});

test('a scheduler that refuses subscriptions: watchPrinter polls and says so once; waitForJob still ends', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_q'], subscriptions: false });
  t.after(() => cups.stop());
  const r = await child(
    cups,
    `const { execFileSync } = require('child_process');
    const lines = [];
    addon.setLogger((line) => lines.push(line));
    const controller = new AbortController();
    const seen = [];
    for await (const p of addon.watchPrinter('api_q', { signal: controller.signal })) {
      seen.push([p.condition, p.stateMessage]);
      if (seen.length === 1) execFileSync('cupsdisable', ['-r', 'roll change', 'api_q']);
      if (seen.length === 2) execFileSync('cupsenable', ['api_q']);
      if (seen.length === 3) controller.abort();
    }
    const job = await addon.submitTraceCode(label('api_q'));
    const done = await addon.waitForJob(job, { timeout: 30000 });
    return { seen, said: lines.filter((l) => l.includes('watchPrinter')), done: done.state };`,
  );
  assert.equal(r.answer.kind, 'value', r.stderr);
  const { seen, said, done } = r.answer.value;
  assert.deepEqual(seen, [['ready', ''], ['stopped', 'roll change'], ['ready', '']]);
  assert.equal(said.length, 1, 'said once');
  assert.match(said[0], /the scheduler refuses subscriptions \(.*IPP status 0x0\d{3}\): asking about "api_q" every 1000 ms instead$/, said[0]);
  assert.equal(done, 'completed');
  const ops = cups.operations();
  assert.ok(ops.includes('Create-Printer-Subscriptions') && ops.includes('Create-Job-Subscriptions'));
  assert.ok(!ops.includes('Get-Notifications'), 'no subscription, so nothing to read');
});

// The blocking calls answer false and log the timeout; the others reject.
test('a scheduler that stops answering: every call gives up within the timeout, and says so', async (t) => {
  const cups = await PrivateCups.start({ queues: ['api_hung'] });
  t.after(() => cups.stop());
  process.kill(cups.proc.pid, 'SIGSTOP');
  let r;
  try {
    r = await child(
      cups,
      `const check = addon.checkPrinterConnection('api_hung');
      process.stdout.write('---\\n');
      const print = addon.printTraceCode({ ...label('api_hung'), image: undefined, buffer: addon.toBMP(image) });
      process.stdout.write('---\\n');
      return [check, print, ...await Promise.all([addon.submitTraceCode(label('api_hung')), addon.listPrinters(),
        addon.getPrinter('api_hung'), addon.getJob(1), addon.cancelJob(1),
        addon.watchPrinter('api_hung')[Symbol.asyncIterator]().next()].map((p) => outcome(p).then((e) => e.code)))];`,
      { TRACE_LABEL_CUPS_TIMEOUT: '0.5' },
    );
  } finally {
    process.kill(cups.proc.pid, 'SIGCONT');
  }
  assert.deepEqual(r.answer.value, [false, false, ...Array(6).fill('ERR_SCHEDULER_TIMEOUT')]);
  const timeout = '[DEBUG] macOS平台: CUPS调度程序在0.5秒内没有响应，已放弃\n';
  const [check, print] = r.stdout.split('---\n');
  assert.equal(check, `[DEBUG] Checking printer connection: api_hung\n${timeout}[DEBUG] 最终连接状态: isConnected = false\n`);
  assert.match(print, /加载打印机默认设置失败，将使用内置默认值\n/);
  assert.ok(print.endsWith('[DEBUG] macOS平台: 发送打印任务到CUPS...\n[DEBUG] macOS平台: 打印失败，错误码=1280\n' +
    `${timeout}[DEBUG] macOS平台: 释放CUPS选项资源\n[DEBUG] macOS平台: 删除临时文件\n`), print);
  assert.deepEqual(loggedJobFiles(print).filter((f) => fs.existsSync(f)), []);
});
