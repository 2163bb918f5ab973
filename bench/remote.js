'use strict';
// A remote print server's round trips (issue 20), against a private scheduler:
//   relay:   printTraceCode, submitTraceCode and `lp -o raw` over TCP through
//            bench/lib/relay.js, which holds each chunk D ms each way
//            (D = 0, 10, 25), median milliseconds of 15 calls each
//   listing: listPrinters with 1 and 300 queues beside `lpstat -p` in the
//            same run, median of 15
//   split:   where the time of each call at D = 10 goes: chunks held by the
//            relay (the wire), the scheduler working, the add-on working;
//            medians over 15 calls of each kind; BENCH_GAP_MS=N waits N ms
//            after each call, so that each one finds the queue idle
// The add-on is the build in build/Release (or TRACE_LABEL_ADDON); with
// BENCH_BEFORE=DIR the same runs also use DIR/trace_label.node, side by side.
//   node bench/remote.js [relay|listing|split]...
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const { PrivateCups } = require('../lib/private-cups');
const { runInChild, ROOT } = require('../test/support/child');
const { startRelay } = require('./lib/relay');

const ROUNDS = 15;
const LABEL = path.join(ROOT, 'test/support/numbered-label.js');
const request = (queue) =>
  `({ device: ${JSON.stringify(queue)}, instruction: 'ZPL', withCutter: false, width: 50, height: 30,
      buffer: require(${JSON.stringify(LABEL)}).numberedLabel(7) })`;
const median = (xs) => (xs.length ? [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)] : null);

const builds = () => {
  const list = [['after', {}]];
  if (process.env.BENCH_BEFORE) {
    list.unshift(['before', { TRACE_LABEL_ADDON: path.join(process.env.BENCH_BEFORE, 'trace_label.node') }]);
  }
  return list;
};

// Timed calls in one process; the first of each kind loads the library and
// is not counted. Failed calls are counted, not timed.
async function sampleCalls(env, body) {
  const r = await runInChild(
    `addon.setLogger(null);
    const ms = (t) => Number(process.hrtime.bigint() - t) / 1e6;
    const out = { print: [], submit: [], list: [], failed: 0 };
    ${body}
    return out;`,
    { env, timeoutMs: 300000 },
  );
  if (!r.answer || r.answer.kind !== 'value') throw new Error(`child failed: ${JSON.stringify(r.answer)} ${r.stderr}`);
  return r.answer.value;
}

// Each counted call records `sample` (by default its milliseconds; `t` is
// its start) and is followed by `after`.
const printAndSubmit = (queue, sample = 'ms(t)', after = '') => `
  for (let i = 0; i <= ${ROUNDS}; i++) {
    const t = process.hrtime.bigint();
    const ok = addon.printTraceCode(${request(queue)});
    if (ok !== true) out.failed++; else if (i > 0) out.print.push(${sample});
    ${after}
  }
  for (let i = 0; i <= ${ROUNDS}; i++) {
    const t = process.hrtime.bigint();
    const ok = await addon.submitTraceCode(${request(queue)}).then((j) => j.jobId > 0, () => false);
    if (!ok) out.failed++; else if (i > 0) out.submit.push(${sample});
    ${after}
  }`;

// Asynchronous: the relay runs on this process's event loop.
function timedSpawn(cmd, args, env) {
  const t = process.hrtime.bigint();
  return new Promise((resolve, reject) => {
    const child = spawn(cmd, args, { env, stdio: ['ignore', 'ignore', 'pipe'] });
    let err = '';
    child.stderr.on('data', (c) => (err += c));
    child.on('error', reject);
    child.on('close', (status) =>
      status === 0 ? resolve(Number(process.hrtime.bigint() - t) / 1e6) : reject(new Error(`${cmd} failed: ${err}`)),
    );
  });
}

async function relay(delays = [0, 10, 25]) {
  const cups = await PrivateCups.start({ queues: ['bench_remote'], tcp: true });
  const rows = [];
  try {
    const streamFile = path.join(cups.dir, 'label.zpl');
    const rendered = await runInChild(`return addon.renderTraceCode(${request('x')}).toString('base64');`);
    fs.writeFileSync(streamFile, Buffer.from(rendered.answer.value, 'base64'));
    for (const delay of delays) {
      const hop = await startRelay(cups.port, delay);
      try {
        const env = { ...cups.env, CUPS_SERVER: `127.0.0.1:${hop.port}` };
        for (const [build, extra] of builds()) {
          const s = await sampleCalls({ ...env, ...extra }, printAndSubmit('bench_remote'));
          rows.push({ build, delayMs: delay, print: median(s.print), submit: median(s.submit), failed: s.failed });
        }
        const lp = [];
        for (let i = 0; i < ROUNDS; i++) lp.push(await timedSpawn('lp', ['-d', 'bench_remote', '-o', 'raw', streamFile], env));
        rows.push({ build: 'lp -o raw', delayMs: delay, lp: median(lp) });
      } finally {
        hop.close();
      }
    }
  } finally {
    cups.stop();
  }
  return rows;
}

// A call's time from its start to its end, by what it waited for: a chunk in
// the relay, the scheduler (the last chunk passed on was a request), or the
// add-on (before its first request, between an answer and the next request).
function splitCall(chunks, from, to) {
  const points = [];
  for (const c of chunks) {
    if (c.arrived < to && c.passed > from) points.push([c.arrived, 1, c.up], [c.passed, -1, c.up]);
  }
  points.sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
  const out = { total: Number(to - from) / 1e6, wire: 0, scheduler: 0, addon: 0 };
  let held = 0;
  let waitingForScheduler = false;
  let at = from;
  const until = (t) => {
    const end = t < from ? from : t > to ? to : t;
    const ms = Number(end - at) / 1e6;
    if (held > 0) out.wire += ms;
    else if (waitingForScheduler) out.scheduler += ms;
    else out.addon += ms;
    at = end;
  };
  for (const [t, step, up] of points) {
    until(t);
    held += step;
    if (step < 0) waitingForScheduler = up;
  }
  until(to);
  return out;
}

async function split(delay = 10) {
  const cups = await PrivateCups.start({ queues: ['bench_remote'], tcp: true });
  const rows = [];
  try {
    const hop = await startRelay(cups.port, delay, { trace: true });
    try {
      const gap = Number(process.env.BENCH_GAP_MS) || 0;
      const windows = await sampleCalls(
        { ...cups.env, CUPS_SERVER: `127.0.0.1:${hop.port}` },
        printAndSubmit(
          'bench_remote',
          '[String(t), String(process.hrtime.bigint())]',
          gap > 0 ? `await new Promise((resolve) => setTimeout(resolve, ${gap}));` : '',
        ),
      );
      if (windows.failed) throw new Error(`${windows.failed} calls failed`);
      const holds = hop.chunks.filter((c) => c.passed).map((c) => Number(c.passed - c.arrived) / 1e6);
      for (const call of ['print', 'submit']) {
        const parts = windows[call].map(([from, to]) => splitCall(hop.chunks, BigInt(from), BigInt(to)));
        const row = { call, delayMs: delay, calls: parts.length };
        for (const key of ['total', 'wire', 'scheduler', 'addon']) row[key] = +median(parts.map((p) => p[key])).toFixed(2);
        rows.push(row);
      }
      rows.push({ chunks: holds.length, meanHoldMs: +(holds.reduce((a, b) => a + b, 0) / holds.length).toFixed(2) });
    } finally {
      hop.close();
    }
  } finally {
    cups.stop();
  }
  return rows;
}

// Builds and lpstat alternate round by round, so that a busy moment of a
// shared machine falls on all of them alike.
async function listing(counts = [1, 300]) {
  const cups = await PrivateCups.start({ queues: ['bench_l000'] });
  const rows = [];
  try {
    let have = 1;
    for (const count of counts) {
      for (; have < count; have++) cups.addQueue(`bench_l${String(have).padStart(3, '0')}`);
      const samples = Object.fromEntries(builds().map(([build]) => [build, []]));
      const lpstat = [];
      for (let round = 0; round < 3; round++) {
        for (const [build, extra] of builds()) {
          const s = await sampleCalls(
            { ...cups.env, ...extra },
            `for (let i = 0; i <= ${ROUNDS / 3}; i++) {
              const t = process.hrtime.bigint();
              const list = await addon.listPrinters();
              if (list.length !== ${count}) out.failed++; else if (i > 0) out.list.push(ms(t));
            }`,
          );
          if (s.failed) throw new Error(`listPrinters missed queues (${build}, ${count})`);
          samples[build].push(...s.list);
        }
        for (let i = 0; i < ROUNDS / 3; i++) lpstat.push(await timedSpawn('lpstat', ['-p'], cups.env));
      }
      for (const [build] of builds()) rows.push({ build, queues: count, listPrinters: median(samples[build]), lpstat: median(lpstat) });
    }
  } finally {
    cups.stop();
  }
  return rows;
}

async function main(which) {
  const out = {};
  if (which.includes('relay')) out.relay = await relay();
  if (which.includes('listing')) out.listing = await listing();
  if (which.includes('split')) out.split = await split();
  console.log(JSON.stringify(out, null, 2));
}

main(process.argv.length > 2 ? process.argv.slice(2) : ['relay', 'listing']).catch((err) => {
  console.error(err);
  process.exit(1);
});
