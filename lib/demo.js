'use strict';
// The demo, on a machine with no printer: a private CUPS scheduler with one
// virtual label printer per language, a trace-code label printed through
// printTraceCode in all six languages, each captured job decoded the way the
// printer would read it, and a PNG preview of every label written to a
// folder. `trace-label demo` runs it with the sample label the package ships
// (assets/sample-label.png); `npm run demo` in a clone draws it anew.

const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('./private-cups');
const { LANGUAGES, EXTENSIONS } = require('./languages');

const LABEL = { width: 50, height: 30 }; // millimetres; 400 x 240 dots at 203 dpi
const DOTS_PER_MM = 8;
const SAMPLE_PNG = path.join(__dirname, '..', 'assets', 'sample-label.png');

const queueOf = (language) => `demo_${EXTENSIONS[language].slice(1)}`;

function table(rows) {
  const widths = rows[0].map((_, i) => Math.max(...rows.map((r) => String(r[i]).length)));
  const line = (r) => r.map((c, i) => String(c).padEnd(widths[i])).join('  ').trimEnd();
  return [line(rows[0]), widths.map((w) => '-'.repeat(w)).join('  '), ...rows.slice(1).map(line)].join('\n');
}

async function printAll(cups, image, out, log) {
  // The add-on asks CUPS_SERVER; set it before the first call.
  Object.assign(process.env, { CUPS_SERVER: cups.env.CUPS_SERVER, HOME: cups.env.HOME });
  const addon = require('..');
  const { decode } = require('./virtual-printer');
  const { dotsToPng } = require('./preview');
  const shown = (file) => path.relative(process.cwd(), file) || '.';

  fs.mkdirSync(out, { recursive: true });
  fs.writeFileSync(path.join(out, 'sample.bmp'), image);
  log(`Sample label: ${shown(path.join(out, 'sample.bmp'))} (${image.length} bytes, ${image.readUInt16LE(28)}-bit BMP)\n`);

  const results = [];
  let reference = null;
  for (const language of LANGUAGES) {
    const queue = queueOf(language);
    const result = { language, queue, bytes: '-', accepted: 'no', dots: '-', preview: '-', problem: null };
    results.push(result);
    log(`== ${language} on ${queue} ==`);
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
      const file = path.join(out, `preview-${EXTENSIONS[language].slice(1)}.png`);
      fs.writeFileSync(file, dotsToPng(label, { scale: 1 }));
      result.preview = shown(file);
    } catch (error) {
      result.problem = error.message;
      log(`[demo] ${language} failed: ${error.message}`);
    }
    log('');
  }

  log(table([
    ['language', 'queue', 'bytes sent', 'accepted', 'dots', 'preview'],
    ...results.map((r) => [r.language, r.queue, r.bytes, r.accepted, r.dots, r.preview]),
  ]));
  const failed = results.filter((r) => r.problem);
  log(failed.length ? `\n${failed.length} of ${results.length} languages failed.` : '\nAll six labels printed, decoded and previewed.');
  return failed.length ? 1 : 0;
}

// Runs the demo with `image` (BMP bytes; default the shipped sample label)
// and writes into `out`. Resolves to the exit code; always stops the
// scheduler, on a signal too. Rejects naming what to install when CUPS is missing.
async function runDemo({ image, out, log = console.log } = {}) {
  image ??= require('./images').toBMP(fs.readFileSync(SAMPLE_PNG));
  let cups = null;
  const stop = () => {
    if (cups) cups.stop();
    cups = null;
  };
  const onSignal = () => {
    stop();
    process.exit(130);
  };
  const signals = ['SIGINT', 'SIGTERM', 'SIGHUP'];
  for (const signal of signals) process.on(signal, onSignal);
  try {
    cups = await PrivateCups.start({ queues: LANGUAGES.map(queueOf) });
    return await printAll(cups, image, path.resolve(out), log);
  } finally {
    stop();
    for (const signal of signals) process.off(signal, onSignal);
  }
}

module.exports = { runDemo, SAMPLE_PNG, LABEL };
