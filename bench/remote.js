'use strict';
// A remote print server's round trips (issue 20), against a private scheduler:
//   relay:   printTraceCode, submitTraceCode and `lp -o raw` over TCP through
//            bench/lib/relay.js, which holds each chunk D ms each way
//            (D = 0, 10, 25), median milliseconds of 15 calls each
//   listing: listPrinters with 1 and 300 queues beside `lpstat -p` in the
//            same run, median of 15
// The add-on is the build in build/Release (or TRACE_LABEL_ADDON); with
// BENCH_BEFORE=DIR the same runs also use DIR/trace_label.node, side by side.
//   node bench/remote.js [relay|listing]...
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const { PrivateCups } = require('../lib/private-cups');
const { runInChild, ROOT } = require('../test/support/child');
const { startRelay } = require('../test/support/relay');

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

const printAndSubmit = (queue) => `
  for (let i = 0; i <= ${ROUNDS}; i++) {
    const t = process.hrtime.bigint();
    const ok = addon.printTraceCode(${request(queue)});
    if (ok !== true) out.failed++; else if (i > 0) out.print.push(ms(t));
  }
  for (let i = 0; i <= ${ROUNDS}; i++) {
    const t = process.hrtime.bigint();
    const ok = await addon.submitTraceCode(${request(queue)}).then((j) => j.jobId > 0, () => false);
    if (!ok) out.failed++; else if (i > 0) out.submit.push(ms(t));
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
  console.log(JSON.stringify(out, null, 2));
}

main(process.argv.length > 2 ? process.argv.slice(2) : ['relay', 'listing']).catch((err) => {
  console.error(err);
  process.exit(1);
});
