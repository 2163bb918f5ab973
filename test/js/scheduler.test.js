'use strict';
// The print path and the scheduler as the field meets them: many processes
// printing at once, blocking and async calls mixed, queues with a driver, a
// server asked about one queue only, an upload or an answer that stalls. A
// scheduler that stops answering altogether is api.test.js's.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const net = require('net');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, loggedJobFiles, ROOT } = require('../support/child');
const { readNumberedJob } = require('../support/numbered-label');
const { makeBmp } = require('../../lib/bmp-writer');
const { LANGUAGES } = require('../../lib/languages');

// Child prelude: request(queue, id) prints numbered label `id` as TSPL, 2 x 1 mm.
const PRELUDE = `
const { numberedLabel } = require(${JSON.stringify(path.join(ROOT, 'test/support/numbered-label.js'))});
const request = (device, id, size = [2, 1]) => ({ device, instruction: 'TSPL', withCutter: false,
  width: size[0], height: size[1], buffer: numberedLabel(id) });
`;
const TIMEOUT_LINE = (s) => `[DEBUG] macOS平台: CUPS调度程序在${s}秒内没有响应，已放弃\n`;

// What renderTraceCode makes of each request, at a resolution.
async function renders(ids, dpi, size) {
  const r = await runInChild(
    `${PRELUDE} return ${JSON.stringify(ids)}.map((id) =>
      addon.renderTraceCode(request('x', id, ${JSON.stringify(size)}), ${dpi}).toString('base64'));`,
  );
  return r.answer.value.map((b) => Buffer.from(b, 'base64'));
}

// Request id: blocking when id % 3 == 0, else async; every seventh goes to a
// queue that does not exist; language and cutter rotate.
const plan = (id) => ({ id, queue: id % 7 === 6 ? 'field_missing' : 'field_many', language: LANGUAGES[id % 6],
  cutter: id % 4 < 2, blocking: id % 3 === 0 });

let cups;
test.before(async () => (cups = await PrivateCups.start({ queues: ['field_many', 'field_raw', 'field_one', 'field_other', 'field_stall'] })));
test.after(() => cups.stop());

test('8 processes started together, mixing blocking and async calls: every job is its own label, once', async () => {
  const PROCESSES = 8;
  const ROUNDS = 10;
  const barrier = fs.mkdtempSync(path.join(cups.dir, 'barrier-'));
  const plans = Array.from({ length: PROCESSES }, (_, p) => Array.from({ length: ROUNDS }, (_, r) => plan(p * ROUNDS + r)));
  // Checks ride along on both sides.
  const children = plans.map((mine, p) =>
    runInChild(
      `${PRELUDE}
      const plans = ${JSON.stringify(mine)};
      const labels = plans.map(({ id, queue, language, cutter }) => ({ ...request(queue, id), instruction: language, withCutter: cutter }));
      fs.writeFileSync(${JSON.stringify(barrier)} + '/ready-${p}', '');
      while (!fs.existsSync(${JSON.stringify(barrier)} + '/go')) Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 1);
      const answers = [];
      const checks = [];
      const pending = [];
      for (const [i, { blocking }] of plans.entries()) {
        if (blocking) answers[i] = addon.printTraceCode(labels[i]);
        else pending.push(addon.printTraceCodeAsync(labels[i]).then((a) => { answers[i] = a; }));
        if (i % 5 === 0) pending.push(addon.checkPrinterConnectionAsync('field_many').then((a) => checks.push(a)));
        checks.push(addon.checkPrinterConnection(i % 2 ? 'field_many' : 'field_missing') === (i % 2 === 1));
      }
      await Promise.all(pending);
      return { answers, checks };`,
      { env: cups.env },
    ),
  );
  while (fs.readdirSync(barrier).length < PROCESSES) await new Promise((r) => setTimeout(r, 10));
  fs.writeFileSync(path.join(barrier, 'go'), '');
  const results = await Promise.all(children);

  const all = plans.flat();
  assert.deepEqual(results.map((r) => r.answer.value.answers).flat(), all.map((c) => c.queue === 'field_many'));
  assert.ok(results.every((r) => r.answer.value.checks.length === ROUNDS + 2 && r.answer.value.checks.every((c) => c)));
  const names = results.flatMap((r) => loggedJobFiles(r.stdout));
  assert.equal(new Set(names).size, names.length);
  assert.deepEqual(names.filter((f) => fs.existsSync(f)), []);
  const wanted = all.filter((c) => c.queue === 'field_many').map(({ id, language, cutter }) => ({ id, language, cutter }));
  const jobs = await cups.waitForJobs('field_many', wanted.length);
  // Each job's bytes being its request's is render.test.js's; here, each request once.
  assert.deepEqual(jobs.map((job) => readNumberedJob(job.data)).sort((x, y) => x.id - y.id), wanted);
});

test('queues with a driver: the scheduler gives the resolution when lpoptions do not', async () => {
  cups.addPpdQueue('field_ppd203', { resolution: 203 });
  cups.addPpdQueue('field_ppd300', { resolution: 300 });
  cups.addPpdQueue('field_ppd_none'); // CUPS reports 300 dpi for a PPD that names none
  const home = cups.writeLpoptions(['Dest field_ppd300/small printer-resolution-default=203dpi'], path.join(cups.dir, 'home-lp'));
  const base = '[DEBUG] BaseInstruction: ';
  const got = (dpi) => `${base}macOS平台，成功获取DPI: ${dpi}\n${base}加载打印机默认设置成功\n`;
  const cases = [
    ['field_raw', cups.env, 203, `${base}加载打印机默认设置失败，将使用内置默认值\n`],
    ['field_ppd203', cups.env, 203, got(203)],
    ['field_ppd300', cups.env, 300, got(300)],
    ['field_ppd_none', cups.env, 300, got(300)],
    // An lpoptions value wins, and the scheduler is not asked for another.
    ['field_ppd300', { ...cups.env, HOME: home }, 203, got(203)],
  ];
  const expected = { 203: await renders([5], 203), 300: await renders([5], 300) };
  for (const [queue, env, dpi, lines] of cases) {
    const before = cups.jobs(queue).length;
    const r = await runInChild(`${PRELUDE} return addon.printTraceCode(request('${queue}', 5));`, { env });
    assert.deepEqual(r.answer, { kind: 'value', value: true }, r.stdout);
    assert.ok(r.stdout.startsWith(`${base}尝试加载打印机默认设置\n${lines}${base}开始准备准备8bit\n`), `${queue}\n${r.stdout}`);
    const job = (await cups.waitForJobs(queue, before + 1)).at(-1);
    assert.deepEqual(job.data, expected[dpi][0], `${queue} at ${dpi} dpi`);
  }
});

test('a check and a print ask the scheduler about their queue only', async () => {
  const ops = async (body) => {
    const before = cups.operations().length;
    const r = await runInChild(`${PRELUDE} return ${body};`, { env: cups.env });
    // lpadmin's own requests from the set-up may reach the access log late.
    const ops = cups.operations().slice(before).filter((op) => op !== 'CUPS-Add-Modify-Printer');
    return [r.answer.value, ops];
  };
  const lookup = 'Get-Printer-Attributes';
  assert.deepEqual(await ops("addon.checkPrinterConnection('field_one')"), [true, [lookup]]);
  assert.deepEqual(await ops("addon.checkPrinterConnection('field_none')"), [false, [lookup]]);
  assert.deepEqual(await ops("addon.printTraceCode(request('field_one', 1))"), [true, [lookup, 'Print-Job']]);
  assert.deepEqual(await ops("addon.printTraceCode(request('field_none', 1))"), [false, [lookup]]);
});

// A socket between the add-on and the scheduler that passes everything on
// until the add-on has sent `after` bytes, then stops reading the add-on's
// bytes ('upload') or stops passing the scheduler's back ('answer').
function stallingProxy(cups, after, what) {
  const socket = path.join(cups.dir, `stalling-${what}.sock`);
  const sockets = [];
  let forwarded = 0;
  const server = net.createServer((client) => {
    const upstream = net.connect(cups.socket);
    sockets.push(client, upstream);
    upstream.on('data', (piece) => (what === 'answer' && forwarded >= after) || client.write(piece));
    client.on('data', (piece) => {
      upstream.write(piece);
      forwarded += piece.length;
      if (what === 'upload' && forwarded >= after) client.pause();
    });
    for (const s of [client, upstream]) s.on('error', () => {});
    client.on('close', () => upstream.destroy());
  });
  server.listen(socket);
  const close = () => {
    for (const s of sockets) s.destroy();
    server.close();
  };
  return { env: { ...cups.env, CUPS_SERVER: socket }, close };
}

test('an upload that stops moving, or an answer that never comes, is a failure that says so', async (t) => {
  // 200 x 150 mm at 203 dpi of random dots: 240,000 raster bytes that do
  // not compress on the way.
  let seed = 12345;
  const noise = () => ((seed = (seed * 1103515245 + 12345) >>> 0) >>> 30) & 1;
  const image = path.join(cups.dir, 'noise.bmp');
  fs.writeFileSync(image, makeBmp({ width: 1600, height: 1200, bpp: 8, pixel: () => (noise() ? 0 : 255) }));
  // The answer to the document comes once all of it is in.
  for (const [what, after] of [['upload', 64 * 1024], ['answer', 240000]]) {
    const stall = stallingProxy(cups, after, what);
    t.after(stall.close);
    const r = await runInChild(
      `return addon.printTraceCode({ device: 'field_stall', instruction: 'TSPL', withCutter: false, width: 200,
        height: 150, buffer: require('fs').readFileSync(${JSON.stringify(image)}) });`,
      { env: { ...stall.env, TRACE_LABEL_CUPS_TIMEOUT: '1' } },
    );
    assert.deepEqual(r.answer, { kind: 'value', value: false }, what);
    assert.ok(r.stdout.includes(`[DEBUG] macOS平台: 打印失败，错误码=1280\n${TIMEOUT_LINE(1)}`), r.stdout);
    assert.deepEqual(loggedJobFiles(r.stdout).filter((f) => fs.existsSync(f)), []);
  }
});
