'use strict';
// The demo, on a machine with no printer: a private CUPS scheduler with one
// virtual label printer per language, a made-up trace-code label printed
// through printTraceCode in all six languages, each captured job decoded the
// way the printer would read it, and a PNG preview of every label written to
// demo-output/ (or DEMO_OUTPUT). Exits non-zero when any step fails; always stops the scheduler.

const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../lib/private-cups');
const { sampleLabelBmp } = require('./sample-label');
const { LANGUAGES, EXTENSIONS } = require('../lib/languages');

const ROOT = path.join(__dirname, '..');
const OUT = process.env.DEMO_OUTPUT ? path.resolve(process.env.DEMO_OUTPUT) : path.join(ROOT, 'demo-output');
const LABEL = { width: 50, height: 30 }; // millimetres; 400 x 240 dots at 203 dpi
const DOTS_PER_MM = 8;

const queueOf = (language) => `demo_${EXTENSIONS[language].slice(1)}`;

function table(rows) {
  const widths = rows[0].map((_, i) => Math.max(...rows.map((r) => String(r[i]).length)));
  const line = (r) => r.map((c, i) => String(c).padEnd(widths[i])).join('  ').trimEnd();
  return [line(rows[0]), widths.map((w) => '-'.repeat(w)).join('  '), ...rows.slice(1).map(line)].join('\n');
}

async function printAll(cups) {
  // The add-on asks CUPS_SERVER; set it before the first call.
  Object.assign(process.env, { CUPS_SERVER: cups.env.CUPS_SERVER, HOME: cups.env.HOME });
  const addon = require('..');
  const { decode } = require('../lib/virtual-printer');
  const { dotsToPng } = require('../lib/preview');

  fs.mkdirSync(OUT, { recursive: true });
  const image = sampleLabelBmp({ width: LABEL.width * DOTS_PER_MM, height: LABEL.height * DOTS_PER_MM });
  fs.writeFileSync(path.join(OUT, 'sample.bmp'), image);
  console.log(`Sample label: ${path.relative(ROOT, path.join(OUT, 'sample.bmp'))} (${image.length} bytes, 24-bit BMP)\n`);

  const results = [];
  let reference = null;
  for (const language of LANGUAGES) {
    const queue = queueOf(language);
    const result = { language, queue, bytes: '-', accepted: 'no', dots: '-', preview: '-', problem: null };
    results.push(result);
    console.log(`== ${language} on ${queue} ==`);
    try {
      if (addon.checkPrinterConnection(queue) !== true) throw new Error(`queue ${queue} not found`);
      const answer = addon.printTraceCode({ device: queue, instruction: language, withCutter: true, ...LABEL, buffer: image });
      if (answer !== true) throw new Error(`printTraceCode answered ${answer}`);
      result.accepted = 'yes';
      const [job] = await cups.waitForJobs(queue, 1);
      result.bytes = job.data.length;
      const label = decode(language, job.data, { dotsPerMm: DOTS_PER_MM });
      const expected = [LABEL.width * DOTS_PER_MM, LABEL.height * DOTS_PER_MM];
      if (label.width !== expected[0] || label.height !== expected[1]) {
        throw new Error(`decoded ${label.width} x ${label.height} dots, expected ${expected.join(' x ')}`);
      }
      // Every language must print the same dots from the same image.
      reference ??= label.dots;
      if (!Buffer.from(label.dots).equals(Buffer.from(reference))) throw new Error(`dots differ from ${LANGUAGES[0]}'s`);
      result.dots = `${label.width}x${label.height}, ${label.dots.reduce((n, d) => n + d, 0)} dark`;
      const file = path.join(OUT, `preview-${EXTENSIONS[language].slice(1)}.png`);
      fs.writeFileSync(file, dotsToPng(label, { scale: 1 }));
      result.preview = path.relative(ROOT, file);
    } catch (error) {
      result.problem = error.message;
      console.log(`[demo] ${language} failed: ${error.message}`);
    }
    console.log('');
  }

  console.log(table([
    ['language', 'queue', 'bytes sent', 'accepted', 'dots', 'preview'],
    ...results.map((r) => [r.language, r.queue, r.bytes, r.accepted, r.dots, r.preview]),
  ]));
  const failed = results.filter((r) => r.problem);
  console.log(failed.length ? `\n${failed.length} of ${results.length} languages failed.` : '\nAll six labels printed, decoded and previewed.');
  return failed.length ? 1 : 0;
}

async function main() {
  let cups = null;
  const stop = () => {
    if (cups) cups.stop();
    cups = null;
  };
  for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
    process.on(signal, () => {
      stop();
      process.exit(130);
    });
  }
  try {
    cups = await PrivateCups.start({ queues: LANGUAGES.map(queueOf) });
    return await printAll(cups);
  } finally {
    stop();
  }
}

main().then(
  (code) => process.exit(code),
  (error) => {
    console.error(`demo failed: ${error.message}`);
    process.exit(1);
  },
);
