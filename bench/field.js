'use strict';
// Field figures for issue 11, against a private scheduler (lib/private-cups.js):
//   concurrency: N processes started at a barrier, 10 prints each: how many answer true
//   queues:      check and print with 1 and then 300 queues on the server, and
//                spawning `lp -o raw` for the same stream, median milliseconds
// The add-on is the build in build/Release (or TRACE_LABEL_ADDON); with
// BENCH_BEFORE=DIR the same runs also use DIR/trace_label.node, a build of an
// older commit, side by side on the same scheduler.
//   node bench/field.js [concurrency|queues]...
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { PrivateCups } = require('../lib/private-cups');
const { runInChild, ROOT } = require('../test/support/child');

const LABEL = path.join(ROOT, 'test/support/numbered-label.js');
const request = (queue, id) =>
  `({ device: ${JSON.stringify(queue)}, instruction: 'ZPL', withCutter: false, width: 50, height: 30,
      buffer: require(${JSON.stringify(LABEL)}).numberedLabel(${id}) })`;
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

const builds = () => {
  const list = [['after', {}]];
  if (process.env.BENCH_BEFORE) {
    list.unshift(['before', { TRACE_LABEL_ADDON: path.join(process.env.BENCH_BEFORE, 'trace_label.node') }]);
  }
  return list;
};

async function concurrency(counts = [2, 4, 8], rounds = 10) {
  const rows = [];
  for (const [build, extra] of builds()) for (const n of counts) {
    const cups = await PrivateCups.start({ queues: ['bench_many'] });
    try {
      const barrier = fs.mkdtempSync(path.join(cups.dir, 'barrier-'));
      const children = Array.from({ length: n }, (_, p) =>
        runInChild(
          `const labels = Array.from({ length: ${rounds} }, (_, r) => ${request('bench_many', `${p * rounds} + r`)});
          fs.writeFileSync(${JSON.stringify(barrier)} + '/ready-${p}', '');
          while (!fs.existsSync(${JSON.stringify(barrier)} + '/go')) Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 1);
          return labels.map((l) => addon.printTraceCode(l));`,
          { env: { ...cups.env, ...extra } },
        ),
      );
      while (fs.readdirSync(barrier).length < n) await new Promise((r) => setTimeout(r, 10));
      fs.writeFileSync(path.join(barrier, 'go'), '');
      const answers = (await Promise.all(children)).flatMap((r) => r.answer.value);
      rows.push({ build, processes: n, calls: answers.length, true: answers.filter((a) => a === true).length });
    } finally {
      cups.stop();
    }
  }
  return rows;
}

// Milliseconds of checks and prints in one process (the first of each not
// counted: it loads the library and warms the scheduler's connection).
async function sample(cups, queue, count, extra) {
  const r = await runInChild(
    `const time = (f) => { const t = process.hrtime.bigint(); const a = f(); return [Number(process.hrtime.bigint() - t) / 1e6, a]; };
    const checks = [], prints = [];
    for (let i = 0; i <= ${count}; i++) checks.push(time(() => addon.checkPrinterConnection(${JSON.stringify(queue)})));
    for (let i = 0; i <= ${count}; i++) prints.push(time(() => addon.printTraceCode(${request(queue, 7)})));
    return { checks: checks.slice(1), prints: prints.slice(1) };`,
    { env: { ...cups.env, ...extra } },
  );
  const { checks, prints } = r.answer.value;
  // Failed calls are counted, not timed (the older build's job-file names
  // collide with other processes printing in the same second).
  const ok = (calls) => calls.filter(([, a]) => a === true).map(([ms]) => ms);
  return { check: ok(checks), print: ok(prints), failed: checks.length + prints.length - ok(checks).length - ok(prints).length };
}

function spawnLp(cups, queue, streamFile) {
  const t = process.hrtime.bigint();
  const s = spawnSync('lp', ['-d', queue, '-o', 'raw', streamFile], { env: cups.env });
  if (s.status !== 0) throw new Error(`lp failed: ${s.stderr}`);
  return Number(process.hrtime.bigint() - t) / 1e6;
}

// Rounds alternate the builds and lp, so that a busy moment of a shared
// machine falls on all of them alike.
async function queues(counts = [1, 300], rounds = 8, perRound = 5) {
  const cups = await PrivateCups.start({ queues: ['bench_q000'] });
  try {
    const streamFile = path.join(cups.dir, 'label.zpl');
    const rendered = await runInChild(`return addon.renderTraceCode(${request('x', 7)}).toString('base64');`);
    fs.writeFileSync(streamFile, Buffer.from(rendered.answer.value, 'base64'));
    const rows = [];
    let have = 1;
    for (const count of counts) {
      for (; have < count; have++) cups.addQueue(`bench_q${String(have).padStart(3, '0')}`);
      // The queue asked about sits in the middle of the list.
      const queue = `bench_q${String(Math.floor((count - 1) / 2)).padStart(3, '0')}`;
      const samples = Object.fromEntries(builds().map(([build]) => [build, { check: [], print: [], failed: 0 }]));
      const lp = [];
      for (let round = 0; round < rounds; round++) {
        for (const [build, extra] of builds()) {
          const s = await sample(cups, queue, perRound, extra);
          samples[build].check.push(...s.check);
          samples[build].print.push(...s.print);
          samples[build].failed += s.failed;
        }
        for (let i = 0; i < perRound; i++) lp.push(spawnLp(cups, queue, streamFile));
      }
      for (const [build] of builds()) {
        const { check, print, failed } = samples[build];
        rows.push({ build, queues: count, check: median(check), print: median(print), lp: median(lp), calls: check.length + print.length + failed, failed });
      }
    }
    return rows;
  } finally {
    cups.stop();
  }
}

async function main(which) {
  const out = {};
  if (which.includes('concurrency')) out.concurrency = await concurrency();
  if (which.includes('queues')) out.queues = await queues();
  console.log(JSON.stringify(out, null, 2));
}

main(process.argv.length > 2 ? process.argv.slice(2) : ['concurrency', 'queues']).catch((err) => {
  console.error(err);
  process.exit(1);
});
