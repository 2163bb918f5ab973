#!/usr/bin/env node
'use strict';
// trace-label: check a CUPS queue, print a PNG or BMP as a label, render the
// command stream to a file without printing, and preview a command stream as a PNG.
// Exit codes: 0 done, 1 the operation failed, 2 the command line is wrong.

const fs = require('fs');
const path = require('path');
const { parseArgs } = require('util');

const { LANGUAGES, EXTENSIONS, DEFAULT_DPI, dotsPerMm } = require('../lib/languages');
const { toBMP } = require('../lib/images');
const { ERROR_CODES } = require('../lib/errors');

// No label printer takes a label longer than a metre either way; past that a
// size is almost surely a typing slip, and it would make a huge job.
const MAX_LABEL_MM = 1000;
// The largest preview picture: 100 million pixels (100 MB of gray).
const MAX_PREVIEW_PIXELS = 100e6;

const HELP = {
  main: `Usage: trace-label <command> [options]

Commands:
  check NAME        ask CUPS whether the queue NAME exists
  print IMAGE       print a PNG or BMP as one label on a CUPS queue
  render IMAGE      write the printer commands for an image to a file, without printing
  preview FILE      draw the dots a command file will print as a PNG

Run "trace-label <command> --help" for a command's options.
Languages: ${LANGUAGES.join(', ')}
Exit codes: 0 done, 1 the operation failed, 2 the command line is wrong.`,
  check: `Usage: trace-label check NAME

Asks CUPS (CUPS_SERVER, or the local scheduler) whether a queue of exactly this
name exists. Exit code 0 when it does, 1 when it does not.`,
  print: `Usage: trace-label print --printer NAME --language LANG --width MM --height MM [--cutter] IMAGE

  -p, --printer NAME   CUPS queue to print on (a raw queue)
  -l, --language LANG  printer language: ${LANGUAGES.join(', ')}
      --width MM       label width in millimetres (at most ${MAX_LABEL_MM})
      --height MM      label height in millimetres (at most ${MAX_LABEL_MM})
      --cutter         cut after the label
      --force          allow a width or height over ${MAX_LABEL_MM} mm
IMAGE is a PNG or a BMP; transparent parts print as white paper. It is scaled
to the label size in dots at the queue's resolution (12 dots/mm at exactly
300 dpi, otherwise 8), so draw it at that size for the sharpest print.
Exit code 0 when CUPS accepted the job, 1 when it did not or the image
cannot be read.`,
  render: `Usage: trace-label render --language LANG --width MM --height MM [--dpi N] [--cutter] -o FILE IMAGE

  -l, --language LANG  printer language: ${LANGUAGES.join(', ')}
      --width MM       label width in millimetres (at most ${MAX_LABEL_MM})
      --height MM      label height in millimetres (at most ${MAX_LABEL_MM})
      --dpi N          printer resolution (default ${DEFAULT_DPI}; exactly 300 gives 12 dots/mm, others 8)
      --cutter         cut after the label
      --force          allow a width or height over ${MAX_LABEL_MM} mm
  -o, --output FILE    where to write the commands; "-" writes them to
                       standard output, and the log to standard error
  -p, --printer NAME   accepted so that a "print" command line renders as it
                       is; not used: render never asks CUPS (give --dpi)
IMAGE is a PNG or a BMP. Writes exactly the bytes "print" would send to a
printer of that resolution.`,
  preview: `Usage: trace-label preview [--language LANG] [--dpi N] [--scale N] FILE -o IMAGE.png

  -l, --language LANG  language of FILE (default: from its extension,
                       ${Object.entries(EXTENSIONS).map(([l, e]) => `${e} ${l}`).join(', ')},
                       else from its first bytes)
      --dpi N          resolution the stream was made for (default ${DEFAULT_DPI}); TSPL
                       gives its size in millimetres only, so this sets its width in dots
      --scale N        pixels per dot in the picture (default 1; the picture
                       may have at most ${MAX_PREVIEW_PIXELS / 1e6} million pixels)
  -o, --output FILE    where to write the PNG
Decodes the commands the way a label printer would and draws the dots that
would burn: black for a printed dot, white for none.`,
};

class UsageError extends Error {}
class Failure extends Error {}

function parse(command, args, options) {
  try {
    return parseArgs({ args, options: { help: { type: 'boolean' }, ...options }, allowPositionals: true, strict: true });
  } catch (error) {
    throw new UsageError(`${error.message.split('\n')[0]}`);
  }
}

function languageOf(name) {
  const wanted = name.toUpperCase().replace(/[-_]/g, '/');
  const found = LANGUAGES.find((l) => l === wanted || l.replace('/', '') === wanted);
  if (!found) throw new UsageError(`unknown language "${name}"; use one of ${LANGUAGES.join(', ')}`);
  return found;
}

function positiveInteger(name, text, { required = true } = {}) {
  if (text === undefined) {
    if (required) throw new UsageError(`--${name} is required`);
    return undefined;
  }
  if (!/^\d+$/.test(text) || Number(text) < 1 || Number(text) > 0x7fffffff) {
    throw new UsageError(`--${name} must be a whole number from 1, not "${text}"`);
  }
  return Number(text);
}

function onePositional(positionals, what) {
  if (positionals.length === 0) throw new UsageError(`missing ${what}`);
  if (positionals.length > 1) throw new UsageError(`unexpected argument "${positionals[1]}"`);
  return positionals[0];
}

function readInput(file) {
  try {
    return fs.readFileSync(file);
  } catch (error) {
    throw new Failure(`cannot read ${file}: ${error.code === 'ENOENT' ? 'no such file' : error.message}`);
  }
}

// The file as a BMP the add-on reads; an image it cannot read is its own fault, not the queue's.
function readImage(file) {
  const bytes = readInput(file);
  try {
    return toBMP(bytes);
  } catch (error) {
    if (error.code === ERROR_CODES.UNREADABLE_IMAGE) throw new Failure(`${file}: ${error.message}`);
    throw error;
  }
}

function writeOutput(file, bytes) {
  try {
    fs.writeFileSync(file, bytes);
  } catch (error) {
    throw new Failure(`cannot write ${file}: ${error.message}`);
  }
}

// The label options shared by print and render.
const LABEL_OPTIONS = {
  language: { type: 'string', short: 'l' },
  width: { type: 'string' },
  height: { type: 'string' },
  cutter: { type: 'boolean', default: false },
  force: { type: 'boolean', default: false },
};

function labelRequest(values, positionals) {
  if (values.language === undefined) throw new UsageError('--language is required');
  const instruction = languageOf(values.language);
  const width = positiveInteger('width', values.width);
  const height = positiveInteger('height', values.height);
  for (const [name, mm] of [['width', width], ['height', height]]) {
    if (mm > MAX_LABEL_MM && !values.force) {
      throw new UsageError(`--${name} ${mm} mm is larger than any label printer prints (${MAX_LABEL_MM} mm at most); give --force to make it anyway`);
    }
  }
  const file = onePositional(positionals, 'the image to print');
  return { instruction, withCutter: values.cutter, width, height, buffer: readImage(file) };
}

const addon = () => require('..');

const commands = {
  check(args, out) {
    const { values, positionals } = parse('check', args, {});
    if (values.help) return out.help('check');
    const name = onePositional(positionals, 'the queue name');
    if (name === '') throw new UsageError('the queue name is empty');
    const connected = addon().checkPrinterConnection(name);
    if (!connected) throw new Failure(`no CUPS queue named "${name}"`);
    out.log(`${name}: connected`);
    return 0;
  },

  print(args, out) {
    const { values, positionals } = parse('print', args, { printer: { type: 'string', short: 'p' }, ...LABEL_OPTIONS });
    if (values.help) return out.help('print');
    if (!values.printer) throw new UsageError('--printer is required');
    const request = { device: values.printer, ...labelRequest(values, positionals) };
    const accepted = addon().printTraceCode(request);
    if (accepted !== true) {
      throw new Failure(
        `the job was not accepted (see the log above); is "${values.printer}" a queue? try: trace-label check ${values.printer}`,
      );
    }
    out.log(`${request.instruction} label ${request.width} x ${request.height} mm sent to ${values.printer}`);
    return 0;
  },

  render(args, out) {
    const { values, positionals } = parse('render', args, {
      ...LABEL_OPTIONS,
      dpi: { type: 'string' },
      output: { type: 'string', short: 'o' },
      printer: { type: 'string', short: 'p' },
    });
    if (values.help) return out.help('render');
    if (!values.output) throw new UsageError('-o FILE is required');
    const dpi = positiveInteger('dpi', values.dpi, { required: false }) ?? DEFAULT_DPI;
    const request = { device: values.printer || 'render', ...labelRequest(values, positionals) };
    // Standard output carries nothing but the stream, so that it can be redirected to a file.
    const toStdout = values.output === '-';
    if (toStdout) addon().setLogger((line) => out.error(line));
    const bytes = addon().renderTraceCode(request, dpi);
    if (!Buffer.isBuffer(bytes)) throw new Failure('no commands could be made from this image (see the log above)');
    if (toStdout) out.write(bytes);
    else writeOutput(values.output, bytes);
    (toStdout ? out.error : out.log)(`${toStdout ? 'standard output' : values.output}: ${bytes.length} bytes of ${request.instruction} at ${dpi} dpi`);
    return 0;
  },

  preview(args, out) {
    const { values, positionals } = parse('preview', args, {
      language: { type: 'string', short: 'l' },
      dpi: { type: 'string' },
      scale: { type: 'string' },
      output: { type: 'string', short: 'o' },
    });
    if (values.help) return out.help('preview');
    const file = onePositional(positionals, 'the command file to preview');
    if (!values.output) throw new UsageError('-o IMAGE.png is required');
    const scale = positiveInteger('scale', values.scale, { required: false }) ?? 1;
    const dpi = positiveInteger('dpi', values.dpi, { required: false }) ?? DEFAULT_DPI;
    const bytes = readInput(file);
    const { decode, detectLanguage } = require('../lib/virtual-printer');
    let language;
    if (values.language !== undefined) language = languageOf(values.language);
    else {
      const ext = path.extname(file).toLowerCase();
      language = Object.keys(EXTENSIONS).find((l) => EXTENSIONS[l] === ext) || detectLanguage(bytes);
      if (!language) throw new UsageError(`cannot tell the language of "${file}"; give --language`);
    }
    let label;
    try {
      label = decode(language, bytes, { dotsPerMm: dotsPerMm(dpi) });
    } catch (error) {
      throw new Failure(`${file} is not a ${language} label this tool can read: ${error.message}`);
    }
    const pixels = (label.width * scale + 4) * (label.height * scale + 4);
    if (pixels > MAX_PREVIEW_PIXELS) {
      let fits = Math.floor(Math.sqrt(MAX_PREVIEW_PIXELS / (label.width * label.height)));
      while (fits >= 1 && (label.width * fits + 4) * (label.height * fits + 4) > MAX_PREVIEW_PIXELS) fits--;
      throw new UsageError(
        `--scale ${scale} would draw ${Math.round(pixels / 1e6)} million pixels for ${label.width} x ${label.height} dots; ` +
          (fits >= 1 ? `use --scale ${fits} or less` : 'the label is too large to preview'),
      );
    }
    const { dotsToPng } = require('../lib/preview');
    writeOutput(values.output, dotsToPng(label, { scale }));
    const dark = label.dots.reduce((n, d) => n + d, 0);
    out.log(`${values.output}: ${language} label of ${label.width} x ${label.height} dots, ${dark} printed`);
    return 0;
  },
};

function main(argv, out) {
  const [command, ...args] = argv;
  try {
    if (command === undefined) throw new UsageError('no command given');
    if (command === '--help' || command === '-h') return out.help('main');
    if (command === 'help') return out.help(commands[args[0]] ? args[0] : 'main');
    if (!Object.hasOwn(commands, command)) throw new UsageError(`unknown command "${command}"`);
    return commands[command](args, out);
  } catch (error) {
    if (error instanceof UsageError) {
      out.error(`trace-label: ${error.message}\nRun "trace-label ${commands[command] ? `${command} ` : ''}--help" for usage.`);
      return 2;
    }
    if (error instanceof Failure) {
      out.error(`trace-label: ${error.message}`);
      return 1;
    }
    throw error;
  }
}

if (require.main === module) {
  const out = {
    log: (text) => process.stdout.write(`${text}\n`),
    write: (bytes) => process.stdout.write(bytes),
    error: (text) => process.stderr.write(`${text}\n`),
    help: (name) => (process.stdout.write(`${HELP[name]}\n`), 0),
  };
  process.exitCode = main(process.argv.slice(2), out);
}

module.exports = { main };
