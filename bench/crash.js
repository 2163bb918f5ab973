'use strict';
// The crash run: 16 processes submit 50 labels each (submitTraceCode, one
// after the other) to one private scheduler, which is killed with SIGKILL
// once half of all labels were accepted and started again at once. Twice:
// once keeping its spool, as a crash does, and once losing it too, so that
// job ids start again at 1. Afterwards every accepted label is asked about
// with getJob and waitForJob given the object submitTraceCode resolved
// ({ jobId, uuid }), and by its bare id for comparison. An answer is wrong
// when it gives a state of another job (another title or uuid), or says
// 'completed' about a label that never printed. Which labels printed is the
// backend's own record (<queue>.printed, by title: each label has its own).
//   node bench/crash.js

const path = require('path');
const { spawn } = require('child_process');
const { PrivateCups } = require('../lib/private-cups');

const PROCESSES = 16;
const LABELS = 50;
const QUEUE = 'crash_q';
const INDEX = path.join(__dirname, '..', 'index.js');

const CHILD = `
const fs = require('fs');
const addon = require(${JSON.stringify(INDEX)});
addon.setLogger(null);
const proc = Number(process.env.PROC);
const image = { width: 8, height: 8, channels: 1, data: Buffer.alloc(64, 0) };
(async () => {
  const results = [];
  for (let i = 0; i < ${LABELS}; i++) {
    const title = 'p' + proc + '-l' + i;
    // As an app would: a label the scheduler could not take is tried again
    // (a while, then given up).
    let refusals = 0;
    for (;;) {
      try {
        const job = await addon.submitTraceCode({ device: '${QUEUE}', instruction: 'ZPL', withCutter: false,
          width: 20, height: 10, image, title });
        results.push({ title, jobId: job.jobId, uuid: job.uuid, refusals });
        process.stdout.write('A\\n');
        break;
      } catch (error) {
        if (++refusals === 100) {
          results.push({ title, error: error.code, refusals });
          break;
        }
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
    }
  }
  fs.writeSync(3, JSON.stringify(results));
})();
`;

// Runs the processes; calls crash() once `half` labels were accepted.
function submitAll(cups, half, crash) {
  let accepted = 0;
  let crashed = null;
  const runs = Array.from({ length: PROCESSES }, (_, proc) => new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', CHILD], {
      env: { ...cups.env, PROC: String(proc), TRACE_LABEL_CUPS_TIMEOUT: '10' },
      stdio: ['ignore', 'pipe', 'inherit', 'pipe'],
    });
    const answer = [];
    child.stdout.on('data', (chunk) => {
      accepted += chunk.toString().split('A').length - 1;
      if (accepted >= half && crashed === null) crashed = crash();
    });
    child.stdio[3].on('data', (c) => answer.push(c));
    child.on('error', reject);
    child.on('close', (code) => (code === 0 ? resolve(JSON.parse(Buffer.concat(answer).toString())) : reject(new Error(`process ${proc} exited ${code}`))));
  }));
  return Promise.all(runs).then(async (all) => {
    if (crashed) await crashed;
    return all.flat();
  });
}

// Until the scheduler holds no pending job of the queue; bounded.
async function drained(cups) {
  for (let i = 0; i < 1200 && !cups.noPendingJobs(QUEUE); i++) await new Promise((r) => setTimeout(r, 100));
}

async function run(forgetJobs) {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  try {
    // The scheduler writes its queues to disk lazily: a stop that saves
    // them first, so that the crash loses jobs, not the queue.
    await cups.restart({ forgetJobs: false });
    const started = Date.now();
    const phase = (what) => console.error(`${forgetJobs ? 'spool lost' : 'spool kept'}: ${what} after ${Date.now() - started} ms`);
    const crash = () => cups.restart({ signal: 'SIGKILL', forgetJobs });
    const results = await submitAll(cups, (PROCESSES * LABELS) / 2, crash);
    phase('all submitted');
    await drained(cups);
    phase('drained');
    const printedTitles = new Map();
    for (const { title } of cups.printed(QUEUE)) printedTitles.set(title, (printedTitles.get(title) || 0) + 1);
    const accepted = results.filter((r) => r.jobId !== undefined);
    const ids = new Map();
    for (const r of accepted) ids.set(r.jobId, (ids.get(r.jobId) || 0) + 1);
    // libcups keeps the server it first used: one process per run.
    process.env.CUPS_SERVER = cups.env.CUPS_SERVER;
    const addon = require(INDEX);
    addon.setLogger(null);
    let wrong = 0;
    let wrongById = 0;
    let printedButLost = 0;
    for (const label of accepted) {
      const printed = printedTitles.has(label.title);
      const ref = { id: label.jobId, uuid: label.uuid };
      const waited = await addon.waitForJob(ref, { timeout: 0 }).catch((error) => ({ state: error.code }));
      const answers = [await addon.getJob(label), await addon.getJob(ref), waited];
      const mistaken = (job) =>
        job !== null && job.state !== 'lost' && (job.title !== label.title || (job.state === 'completed' && !printed));
      wrong += answers.filter(mistaken).length;
      if (printed && answers.some((job) => job?.state === 'lost')) printedButLost++;
      if (mistaken(await addon.getJob(label.jobId))) wrongById++;
    }
    phase('all asked about');
    return {
      run: forgetJobs ? 'spool lost' : 'spool kept',
      labels: results.length,
      accepted: accepted.length,
      printed: accepted.filter((r) => printedTitles.has(r.title)).length,
      lost: accepted.filter((r) => !printedTitles.has(r.title)).length,
      refused: results.reduce((n, r) => n + r.refusals, 0),
      given: results.length - accepted.length,
      reused: [...ids.values()].filter((n) => n > 1).length,
      wrong,
      printedButLost,
      wrongById,
    };
  } finally {
    cups.stop();
  }
}

function runApart(forgetJobs) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [__filename, forgetJobs ? '--lose-spool' : '--keep-spool'], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    child.stdout.on('data', (c) => (out += c));
    child.on('close', (code) => (code === 0 ? resolve(JSON.parse(out)) : reject(new Error(`run exited ${code}`))));
  });
}

async function main() {
  const mode = process.argv[2];
  if (mode === '--keep-spool' || mode === '--lose-spool') {
    return console.log(JSON.stringify(await run(mode === '--lose-spool')));
  }
  const rows = [];
  for (const forgetJobs of [false, true]) rows.push(await runApart(forgetJobs));
  console.log(`${PROCESSES} processes x ${LABELS} labels, scheduler killed (SIGKILL) and restarted after ${(PROCESSES * LABELS) / 2} were accepted\n`);
  console.log('| run | processes x labels | accepted | printed | lost | refusals (retried) | given up | ids reused | wrong answers ({id, uuid}) | printed, answered lost | wrong by bare id |');
  console.log('|---|---|---|---|---|---|---|---|---|---|---|');
  for (const r of rows) {
    console.log(`| ${r.run} | ${PROCESSES} x ${LABELS} | ${r.accepted} | ${r.printed} | ${r.lost} | ${r.refused} | ${r.given} | ${r.reused} | ${r.wrong} | ${r.printedButLost} | ${r.wrongById} |`);
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
