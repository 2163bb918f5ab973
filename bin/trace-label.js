#!/usr/bin/env node
'use strict';
// trace-label: check a CUPS queue, print a BMP as a label, render the command
// stream to a file without printing, and preview a command stream as a PNG.
// Exit codes: 0 done, 1 the operation failed, 2 the command line is wrong.

const fs = require('fs');
const path = require('path');
const { parseArgs } = require('util');

const { LANGUAGES, EXTENSIONS, DEFAULT_DPI, dotsPerMm } = require('../lib/languages');

const HELP = {
  main: `Usage: trace-label <command> [options]

Commands:
  check NAME        ask CUPS whether the queue NAME exists
  print IMAGE.bmp   print a BMP as one label on a CUPS queue
  render IMAGE.bmp  write the printer commands for a BMP to a file, without printing
  preview FILE      draw the dots a command file will print as a PNG

Run "trace-label <command> --help" for a command's options.
Languages: ${LANGUAGES.join(', ')}
Exit codes: 0 done, 1 the operation failed, 2 the command line is wrong.`,
  check: `Usage: trace-label check NAME

Asks CUPS (CUPS_SERVER, or the local scheduler) whether a queue of exactly this
name exists. Exit code 0 when it does, 1 when it does not.`,
  print: `Usage: trace-label print --printer NAME --language LANG --width MM --height MM [--cutter] IMAGE.bmp

  -p, --printer NAME   CUPS queue to print on (a raw queue)
  -l, --language LANG  printer language: ${LANGUAGES.join(', ')}
      --width MM       label width in millimetres
      --height MM      label height in millimetres
      --cutter         cut after the label
IMAGE.bmp is an 8-, 24- or 32-bit BMP; it is scaled to the label size in dots at
the queue's resolution (12 dots/mm at exactly 300 dpi, otherwise 8).
Exit code 0 when CUPS accepted the job, 1 when it did not.`,
  render: `Usage: trace-label render --language LANG --width MM --height MM [--dpi N] [--cutter] -o FILE IMAGE.bmp

  -l, --language LANG  printer language: ${LANGUAGES.join(', ')}
      --width MM       label width in millimetres
      --height MM      label height in millimetres
      --dpi N          printer resolution (default ${DEFAULT_DPI}; exactly 300 gives 12 dots/mm, others 8)
      --cutter         cut after the label
  -o, --output FILE    where to write the commands
Writes exactly the bytes "print" would send to a printer of that resolution.`,
  preview: `Usage: trace-label preview [--language LANG] [--dpi N] [--scale N] FILE -o IMAGE.png

  -l, --language LANG  language of FILE (default: from its extension,
                       ${Object.entries(EXTENSIONS).map(([l, e]) => `${e} ${l}`).join(', ')},
                       else from its first bytes)
      --dpi N          resolution the stream was made for (default ${DEFAULT_DPI}); TSPL
                       gives its size in millimetres only, so this sets its width in dots
      --scale N        pixels per dot in the picture (default 1)
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
};

function labelRequest(values, positionals) {
  if (values.language === undefined) throw new UsageError('--language is required');
  const instruction = languageOf(values.language);
  const width = positiveInteger('width', values.width);
  const height = positiveInteger('height', values.height);
  const file = onePositional(positionals, 'the BMP image to print');
  return { instruction, withCutter: values.cutter, width, height, buffer: readInput(file) };
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
    const bytes = addon().renderTraceCode(request, dpi);
    if (!Buffer.isBuffer(bytes)) throw new Failure('no commands could be made from this image (see the log above)');
    writeOutput(values.output, bytes);
    out.log(`${values.output}: ${bytes.length} bytes of ${request.instruction} at ${dpi} dpi`);
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
    error: (text) => process.stderr.write(`${text}\n`),
    help: (name) => (process.stdout.write(`${HELP[name]}\n`), 0),
  };
  process.exitCode = main(process.argv.slice(2), out);
}

module.exports = { main };
