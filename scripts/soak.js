'use strict';
// Soak: a few hundred prints in every language, good and refused, and
// connection checks, all in this one process through a private scheduler.
// Afterwards: the open descriptors must not have grown since the warm-up, and
// every accepted job must have arrived intact and be the label of its own
// request (each request carries its number in the image's top row).
// scripts/soak.sh runs this under LeakSanitizer and checks from the log that
// none of the job files it names is left in /tmp.
//   node scripts/soak.js [PRINTS]        default 600
// The add-on's log goes to standard output; the figures go to standard error
// as one JSON line.
const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../lib/private-cups');
const { LANGUAGES } = require('../lib/virtual-printer');
const { numberedLabel, readNumberedJob } = require('../test/support/numbered-label');

// A sanitizer runtime preloaded for this process stays out of the scheduler
// and its tools, which would report their own leaks.
delete process.env.LD_PRELOAD;

const PRINTS = Number(process.argv[2] || 600);
const WARMUP = 30;
const QUEUE = 'soak';
const REJECTING = 'soak_rejecting';

const openDescriptors = () => fs.readdirSync('/proc/self/fd').length;

async function main() {
  const cups = await PrivateCups.start({ queues: [QUEUE, REJECTING] });
  try {
    cups.reject(REJECTING);
    // libcups reads these once, at its first call.
    Object.assign(process.env, { CUPS_SERVER: cups.env.CUPS_SERVER, HOME: cups.env.HOME });
    const addon = require('..');

    const badImage = Buffer.from('not a bitmap at all, but long enough to be looked at'.repeat(2));
    const throwing = {
      device: QUEUE,
      get instruction() {
        throw new Error('soak getter');
      },
    };
    const counts = { true: 0, false: 0, undefined: 0, threw: 0, checks: 0 };
    const expectedJobs = new Map(); // request number -> { language, withCutter }
    const wrong = [];
    let descriptorsAfterWarmup = 0;
    let rssAfterWarmup = 0;
    const started = Date.now();

    for (let i = 0; i < PRINTS; i++) {
      if (i === WARMUP) {
        descriptorsAfterWarmup = openDescriptors();
        rssAfterWarmup = process.memoryUsage().rss;
      }
      const language = LANGUAGES[i % LANGUAGES.length];
      const withCutter = i % 4 < 2;
      const good = { device: QUEUE, instruction: language, withCutter, width: 2, height: 1, buffer: numberedLabel(i) };
      // Ten kinds of call, four of them good.
      const kind = i % 10;
      const cases = [
        [good, true],
        [good, true],
        [good, true],
        [good, true],
        [{ ...good, device: 'soak_missing' }, false],
        [{ ...good, device: REJECTING }, false],
        [{ ...good, buffer: badImage }, false],
        [{ ...good, width: -3 }, false],
        [{ ...good, instruction: 'PCL' }, false],
        [i % 20 < 10 ? { ...good, height: 0 } : throwing, i % 20 < 10 ? undefined : 'threw'],
      ];
      const [request, expected] = cases[kind];
      let answer;
      try {
        answer = addon.printTraceCode(request);
      } catch {
        answer = 'threw';
      }
      counts[String(answer)]++;
      if (answer !== expected) wrong.push(`print ${i} (${language}, kind ${kind}): ${answer}, expected ${expected}`);
      if (answer === true) expectedJobs.set(i, { language, withCutter });

      const name = i % 2 ? QUEUE : 'soak_missing';
      const connected = addon.checkPrinterConnection(name);
      counts.checks++;
      if (connected !== (name === QUEUE)) wrong.push(`check ${i} (${name}): ${connected}`);
    }
    const seconds = (Date.now() - started) / 1000;
    const descriptorsAtEnd = openDescriptors();
    const rssAtEnd = process.memoryUsage().rss;

    // Every accepted job, decoded by the virtual printer, is its own request's label.
    const jobs = await cups.waitForJobs(QUEUE, expectedJobs.size, 60000);
    const seen = new Set();
    for (const job of jobs) {
      try {
        const { id, language, cutter } = readNumberedJob(job.data);
        const want = expectedJobs.get(id);
        if (!want) throw new Error(`carries request ${id}, which was not accepted`);
        if (seen.has(id)) throw new Error(`request ${id} arrived twice`);
        if (want.language !== language || want.withCutter !== cutter) {
          throw new Error(`request ${id} is ${language} cutter ${cutter}, asked ${want.language} cutter ${want.withCutter}`);
        }
        seen.add(id);
      } catch (err) {
        wrong.push(`job ${job.id}: ${err.message}`);
      }
    }
    for (const id of expectedJobs.keys()) if (!seen.has(id)) wrong.push(`request ${id}: no job`);

    const figures = {
      prints: PRINTS,
      answers: counts,
      jobs: jobs.length,
      seconds,
      descriptors: { afterWarmup: descriptorsAfterWarmup, atEnd: descriptorsAtEnd },
      rssMB: { afterWarmup: +(rssAfterWarmup / 2 ** 20).toFixed(1), atEnd: +(rssAtEnd / 2 ** 20).toFixed(1) },
      problems: wrong.length,
    };
    process.stderr.write(JSON.stringify(figures) + '\n');
    for (const w of wrong.slice(0, 20)) process.stderr.write(`  ${w}\n`);
    return wrong.length === 0 && descriptorsAtEnd <= descriptorsAfterWarmup ? 0 : 1;
  } finally {
    cups.stop();
  }
}

main().then(
  (code) => process.exit(code),
  (err) => {
    process.stderr.write(`${err.stack}\n`);
    process.exit(1);
  },
);
