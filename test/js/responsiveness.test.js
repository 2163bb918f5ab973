'use strict';
// While an async print of a large image runs, the main thread keeps serving
// timers; the blocking call holds them for the whole job. Measured in a child
// process on the private scheduler; the figures are reported as diagnostics.
const test = require('node:test');
const assert = require('node:assert/strict');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');

const QUEUE = 'lag_label';

test('the main thread stays responsive during printTraceCodeAsync', async (t) => {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  t.after(() => cups.stop());

  // A 12 MB image on a 15000 x 15000-dot label: the label, not the source, is
  // the costly part. lag() gives how long the call itself held the thread, and
  // the longest gap between 5 ms timer ticks from then until the answer.
  const r = await runInChild(
    `
    const { performance } = require('perf_hooks');
    const { makeBmp } = require(${JSON.stringify(require.resolve('../../lib/bmp-writer'))});
    const band = [48, 48, 48], black = [0, 0, 0];
    const image = makeBmp({ width: 2000, height: 2000, pixel: (x, y) => (y % 4 < 2 ? band : black) });
    const options = { device: '${QUEUE}', instruction: 'TSPL', withCutter: false, width: 1875, height: 1875, buffer: image };

    async function lag(call) {
      const start = performance.now();
      const pending = call();
      const returned = performance.now();
      let last = returned, longest = 0;
      const timer = setInterval(() => {
        const now = performance.now();
        longest = Math.max(longest, now - last);
        last = now;
      }, 5);
      const answer = await pending;
      const end = performance.now();
      clearInterval(timer);
      longest = Math.max(longest, end - last);
      return { answer, call: returned - start, lag: longest, total: end - start };
    }
    const runs = [];
    for (const kind of ['async', 'sync', 'async', 'sync']) {
      const m = await lag(kind === 'async' ? () => addon.printTraceCodeAsync(options) : async () => addon.printTraceCode(options));
      runs.push({ kind, ...m });
    }
    return runs;`,
    { env: cups.env, timeoutMs: 120000 },
  );
  assert.equal(r.answer.kind, 'value', r.stderr);
  const runs = r.answer.value;
  for (const m of runs) {
    t.diagnostic(`${m.kind}: call ${m.call.toFixed(0)} ms, then longest timer gap ${m.lag.toFixed(0)} ms, answer after ${m.total.toFixed(0)} ms`);
    assert.equal(m.answer, true, m.kind);
  }
  await cups.waitForJobs(QUEUE, 4, 60000);

  // The blocking call holds the thread for the whole job (its "call" is the
  // job); the async one only for copying the image, then timers run on time.
  const sync = runs.filter((m) => m.kind === 'sync');
  const async = runs.filter((m) => m.kind === 'async');
  const blocked = Math.min(...sync.map((m) => m.call));
  const worstGap = Math.max(...async.map((m) => m.lag));
  assert.ok(blocked > 150, `the blocking call held the thread only ${blocked} ms`);
  assert.ok(worstGap < 50, `timers were held up to ${worstGap} ms while the async job ran`);
  assert.ok(worstGap * 5 < blocked, `async gap ${worstGap} ms is not small against ${blocked} ms blocked`);
  for (const m of async) assert.ok(m.call < blocked, `the async call itself took ${m.call} ms, blocking took ${blocked} ms`);
});
