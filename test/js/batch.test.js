'use strict';
// submitTraceCodes: many labels as one CUPS job, through the private
// scheduler. Each label's part of the job must be what renderTraceCode makes
// of it, in the order given, and nothing is sent for a batch with a bad label.
const test = require('node:test');
const assert = require('node:assert/strict');
const addon = require('../..');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { decode } = require('../../lib/virtual-printer');

addon.setLogger(() => {});

const { mark } = require('../support/batch-labels');

const PRELUDE = `
const { mark } = require(${JSON.stringify(require.resolve('../support/batch-labels'))});
const outcome = (p) => p.then((v) => v, (e) => ({ code: e.code, message: e.message, index: e.index, property: e.property }));
`;
const child = (cups, body) => runInChild(`${PRELUDE}${body}`, { env: cups.env });
const rendered = (labels, dpi = 203) => Buffer.concat(labels.map((l) => {
  const one = addon.renderTraceCode(l, dpi);
  return Buffer.concat(Array(l.copies || 1).fill(one));
}));

test('submitTraceCodes', async (t) => {
  const cups = await PrivateCups.start({ queues: ['batch_q'] });
  t.after(() => cups.stop());
  let jobs = 0;

  await t.test('one job: each label as renderTraceCode makes it, in order', async () => {
    const r = await child(cups, `
      const labels = [mark(1, 0), mark(1, 1, { withCutter: true }), mark(1, 2, { width: 3, copies: 2 }),
        mark(1, 3, { compress: true }), mark(1, 4, { height: 2 })];
      // An iterable, not an array; each label tells what was read of it.
      const reads = labels.map(() => []);
      const spied = labels.map((l, i) => new Proxy(l, { get: (o, k) => (reads[i].push(k), o[k]) }));
      const job = await addon.submitTraceCodes(new Set(spied), { copies: 2 });
      return { ...job, reads: reads.map((keys) => keys.join(' ')) };`);
    assert.equal(r.answer.kind, 'value', r.stdout + r.stderr);
    // Each option once, in one order, the image last.
    assert.deepEqual(r.answer.value.reads, Array(5).fill('device instruction withCutter width height compress copies buffer'));
    delete r.answer.value.reads;
    const labels = [mark(1, 0), mark(1, 1, { withCutter: true }), mark(1, 2, { width: 3, copies: 2 }),
      mark(1, 3, { compress: true }), mark(1, 4, { height: 2 })];
    const expected = rendered(labels);
    assert.deepEqual(r.answer.value, { jobId: r.answer.value.jobId, printer: 'batch_q', language: 'ZPL', dpi: 203, bytes: expected.length, labels: 5 });
    const job = (await cups.waitForJobs('batch_q', ++jobs)).at(-1);
    assert.match(job.title, /^ZPL 5 labels [0-9a-f]{6}$/); // sizes differ: none named
    assert.equal(job.copies, 2);
    assert.ok(job.data.equals(expected));
    // Read back label by label: six streams (one label twice), each the label's own dots.
    const streams = job.data.toString('latin1').split(/(?<=\^XZ\r\n)/).map((s) => Buffer.from(s, 'latin1'));
    assert.equal(streams.length, 6);
    const order = [0, 1, 2, 2, 3, 4];
    streams.forEach((stream, i) => {
      assert.deepEqual(decode('ZPL', stream).dots, decode('ZPL', addon.renderTraceCode({ ...labels[order[i]], compress: false }, 203)).dots, `stream ${i}`);
    });
  });

  await t.test('a label that cannot be made rejects the batch and sends nothing', async () => {
    const r = await child(cups, `
      const bad = [
        [mark(2, 0), mark(2, 1, { buffer: Buffer.from('not an image') }), mark(2, 2)],
        [mark(2, 0), mark(2, 1), mark(2, 2, { instruction: 'TSPL' }), mark(2, 3, { device: 'other' })],
        [mark(2, 0), mark(2, 1, { width: -2 })],
        [mark(2, 0), mark(2, 1, { width: 20000, height: 20000 })],
        [mark(2, 0, { copies: 0 })],
        [mark(2, 0), mark(2, 1, { buffer: [1, 2] })],
        [mark(2, 0), mark(2, 1), mark(2, 2, { buffer: undefined, image: Buffer.from('GIF89a') })],
        [],
        [mark(2, 0)],
      ];
      const answers = [];
      for (const labels of bad.slice(0, -1)) answers.push(await outcome(addon.submitTraceCodes(labels)));
      answers.push(await outcome(addon.submitTraceCodes(bad.at(-1), { dpi: 601 })));
      answers.push(await outcome(addon.submitTraceCodes([{ ...mark(2, 0), device: 'nowhere' }])));
      const good = await addon.submitTraceCodes([mark(3, 0)], { title: 'after the bad ones' });
      return { answers, good };`);
    assert.equal(r.answer.kind, 'value', r.stdout + r.stderr);
    const summary = r.answer.value.answers.map(({ code, index, property, message }) => [code, index, property, message.split(':')[0]]);
    assert.deepEqual(summary, [
      ['ERR_UNREADABLE_IMAGE', 1, undefined, 'label 1'],
      ['ERR_INVALID_OPTIONS', 2, 'instruction', 'label 2'],
      ['ERR_INVALID_OPTIONS', 1, 'width', 'label 1'],
      ['ERR_LABEL_TOO_LARGE', 1, undefined, 'label 1'],
      ['ERR_INVALID_OPTIONS', 0, 'copies', 'label 0'],
      ['ERR_INVALID_OPTIONS', 1, 'buffer', 'label 1'],
      ['ERR_UNREADABLE_IMAGE', 2, undefined, 'label 2'],
      ['ERR_INVALID_OPTIONS', undefined, 'labels', 'labels must be a non-empty array or iterable of label options'],
      ['ERR_INVALID_OPTIONS', undefined, 'dpi', 'options.dpi must be the number 203, 300 or 600'],
      ['ERR_NO_SUCH_PRINTER', undefined, undefined, 'CUPS has no queue named "nowhere"'],
    ]);
    // The next job the queue got is the good batch.
    const job = (await cups.waitForJobs('batch_q', ++jobs)).at(-1);
    assert.equal(job.id, r.answer.value.good.jobId);
    assert.equal(job.title, 'after the bad ones');
    assert.ok(job.data.equals(rendered([mark(3, 0)])));
  });

  await t.test('a generator: a bad label or an abort midway cancels the job; progress adds up', async () => {
    const r = await child(cups, `
      function* labels(n, bad, onPull = () => {}) {
        for (let i = 0; i < n; i++) {
          onPull(i);
          yield i === bad ? mark(4, i, { buffer: Buffer.from('BM not an image') }) : mark(4, i);
        }
      }
      const broken = await outcome(addon.submitTraceCodes(labels(150, 120)));
      const controller = new AbortController();
      const abort = (i) => i === 100 && controller.abort();
      const aborted = await addon.submitTraceCodes(labels(150, -1, abort), { signal: controller.signal }).catch((e) => e.name);
      const queued = require('child_process').execFileSync('lpstat', ['-o', 'batch_q'], { encoding: 'utf8' });
      const calls = [];
      const good = await addon.submitTraceCodes(labels(150, -1), { onProgress: (p) => calls.push(p) });
      const array = [];
      await addon.submitTraceCodes([...labels(40, -1)], { onProgress: (p) => array.push(p), dpi: 203 });
      return { broken, aborted, queued, calls, array, good, canceled: [await addon.getJob(good.jobId - 1), await addon.getJob(good.jobId - 2)].map((j) => j.state) };`);
    assert.equal(r.answer.kind, 'value', r.stdout + r.stderr);
    const { broken, aborted, queued, calls, array, good, canceled } = r.answer.value;
    assert.deepEqual([broken.code, broken.index, broken.message.split(':')[0]], ['ERR_UNREADABLE_IMAGE', 120, 'label 120']);
    assert.equal(aborted, 'AbortError');
    // Both jobs were created, then cancelled before their document ended: nothing printed, nothing queued.
    assert.deepEqual([canceled, queued], [['canceled', 'canceled'], '']);
    jobs += 2;
    const got = await cups.waitForJobs('batch_q', jobs);
    assert.deepEqual(got.slice(-2).map((j) => j.id), [good.jobId, good.jobId + 1]);
    assert.ok(got.at(-2).data.equals(rendered(Array.from({ length: 150 }, (_, i) => mark(4, i)))));
    assert.match(got.at(-2).title, /^ZPL batch [0-9a-f]{6}$/);
    for (const [list, total] of [[calls, null], [array, 40]]) {
      assert.deepEqual(list.at(-1), { prepared: total ?? 150, sent: total ?? 150, total });
      list.forEach((p, i) => {
        assert.equal(p.total, total);
        assert.ok(p.sent <= p.prepared, JSON.stringify(p));
        if (i > 0) assert.ok(p.prepared >= list[i - 1].prepared && p.sent >= list[i - 1].sent, JSON.stringify(list));
      });
    }
  });

  await t.test('a batch whose thread goes away midway leaves no job queued', async () => {
    const r = await child(cups, `
      const { Worker } = require('worker_threads');
      const worker = new Worker(\`
        const { parentPort } = require('worker_threads');
        const addon = require(${JSON.stringify(require.resolve('../..'))});
        const { mark } = require(${JSON.stringify(require.resolve('../support/batch-labels'))});
        addon.setLogger(null);
        function* endless() {
          for (let i = 0; ; i++) {
            if (i === 100) parentPort.postMessage('midway');
            yield mark(5, i);
          }
        }
        addon.submitTraceCodes(endless(), { dpi: 203 });\`, { eval: true });
      await new Promise((resolve) => worker.once('message', resolve));
      await worker.terminate();
      // The add-on cancels the job on a thread of its own: this process stays until the scheduler says so.
      const pending = () => require('child_process').execFileSync('lpstat', ['-o', 'batch_q'], { encoding: 'utf8' }) !== '';
      for (let i = 0; i < 400 && pending(); i++) await new Promise((resolve) => setImmediate(resolve));
      return pending();`);
    assert.deepEqual(r.answer, { kind: 'value', value: false }, r.stdout + r.stderr);
    assert.ok(cups.noPendingJobs('batch_q'));
    assert.equal(cups.jobs('batch_q').length, jobs);
  });

  await t.test('two processes at once: two jobs, each its own labels in order', async () => {
    const batch = (n) => `return await addon.submitTraceCodes(Array.from({ length: 200 }, (_, i) => mark(${n}, i)));`;
    const [a, b] = await Promise.all([child(cups, batch(10)), child(cups, batch(11))]);
    assert.equal(a.answer.kind, 'value', a.stdout + a.stderr);
    assert.equal(b.answer.kind, 'value', b.stdout + b.stderr);
    jobs += 2;
    const got = (await cups.waitForJobs('batch_q', jobs)).slice(-2);
    const expected = {
      [a.answer.value.jobId]: rendered(Array.from({ length: 200 }, (_, i) => mark(10, i))),
      [b.answer.value.jobId]: rendered(Array.from({ length: 200 }, (_, i) => mark(11, i))),
    };
    assert.deepEqual(got.map((j) => j.id).sort(), Object.keys(expected).map(Number).sort());
    for (const job of got) assert.ok(job.data.equals(expected[job.id]), `job ${job.id}`);
  });
});
