#!/usr/bin/env node
'use strict';
// trace-label: check a CUPS queue, print a PNG or BMP as a label, render the
// command stream to a file without printing, preview a command stream as a
// PNG, and show the queues and jobs CUPS has.
// Exit codes: 0 done, 1 the printer, the scheduler or a file said no, 2 the
// command line is wrong. A reader that closes standard output early (head)
// ends the command quietly with 0, as it would a Unix tool.

const fs = require('fs');
const path = require('path');
const { parseArgs } = require('util');

// The module's facts, read on first use: `build` runs where there is no module.
const facts = require('../lib/languages');
const { EXTENSIONS, dotsPerMm } = facts;
const { toBMP } = require('../lib/images');
const { ERROR_CODES } = require('../lib/errors');

const { rules } = require('../lib/api');
const MAX_LABEL_MM = rules.LARGEST_LABEL_MM;
// The largest preview picture: 100 million pixels (100 MB of gray).
const MAX_PREVIEW_PIXELS = 100e6;

const HELP = {
  get main() {
    return `Usage: trace-label <command> [options]

Commands:
  check NAME        ask CUPS whether the queue NAME exists
  print IMAGE...    print PNGs or BMPs, one label each, as one job on a CUPS queue
  render IMAGE      write the printer commands for an image to a file, without printing
  preview FILE      draw the dots a command file will print as a PNG
  list              list the CUPS queues with their state and resolution
  status NAME       show one queue: state, reasons, resolution, device
  watch NAME        show a queue's condition, and a line each time it changes
  job ID            show one job: its queue, state and title
  build             build the native module from source where no binary ships
  demo              print a sample label in every language on virtual printers
  cancel ID         cancel one job

Options of every command:
  -q, --quiet       leave out the add-on's log lines (the default when
                    standard output is not a terminal)
      --verbose     show them even when standard output is not a terminal
  -h, --help        explain the command
Options of check, print, list, status, job and cancel:
  -u, --user NAME   the user name for a CUPS server that asks for a password;
                    the password is TRACE_LABEL_CUPS_PASSWORD, or is asked for
                    on the terminal (not shown as it is typed)
trace-label --version (-v) prints the version.

Run "trace-label <command> --help" for a command's options.
Languages: ${facts.LANGUAGES.join(', ')}
Exit codes: 0 done; 1 the printer, the scheduler or a file said no (no such
queue or job, the job refused, an unreadable image); 2 the command line is
wrong (unknown command or option, a missing or bad value).`;
  },
  check: `Usage: trace-label check NAME

Asks CUPS (CUPS_SERVER, or the local scheduler) whether a queue of exactly this
name exists. Exit code 0 when it does, 1 when it does not.`,
  get print() {
    return `Usage: trace-label print --printer NAME --language LANG --width MM --height MM [--copies N] [--dpi N] [--title TEXT] [--cutter] IMAGE...|DIRECTORY|--list FILE

  -p, --printer NAME   CUPS queue to print on (a raw queue)
  -l, --language LANG  printer language: ${facts.LANGUAGES.join(', ')}
      --width MM       label width in millimetres (at most ${MAX_LABEL_MM})
      --height MM      label height in millimetres (at most ${MAX_LABEL_MM})
      --copies N       print N copies, ${facts.LIMITS.minCopies} to ${facts.LIMITS.maxCopies} (default: the queue's, 1)
      --dpi N          the printer's resolution, 203, 300 or 600 (8, 12 or 24
                       dots/mm); given, CUPS is not asked for it
      --title TEXT     the job's title in CUPS (at most 255 bytes; default the
                       language, size and a short id: "TSPL 50x30mm 3f2a9c")
      --cutter         cut after the label
      --force          allow a width or height over ${MAX_LABEL_MM} mm
      --list FILE      also print the images FILE names, one path a line
IMAGE is a PNG or a BMP; transparent parts print as white paper. It is scaled
to the label size in dots at the queue's resolution (12 dots/mm at exactly
300 dpi, otherwise 8, or as --dpi says), so draw it at that size for the
sharpest print.
Prints the job id once CUPS accepted the job ("trace-label job ID" follows it).
Exit code 0 when CUPS accepted the job, 1 when it did not or the image
cannot be read.
Several IMAGEs print as one job, one label each in the order given, as do a
DIRECTORY (its .png and .bmp files, in name order) and --list FILE (one image
path a line); each image is read when its label is made, so a batch of any
size takes little memory. A missing file, or one that is neither PNG nor BMP,
sends nothing; an image found damaged while the job is sent cancels the job,
so none of it prints. On a terminal a line on standard error says how many
labels are sent (not with --quiet).`;
  },
  list: `Usage: trace-label list [--json]

Lists the queues of the CUPS scheduler (CUPS_SERVER, or the local one): name,
state (idle, processing, stopped), the resolution a print would take, whether
it accepts jobs and is the default, and the state message. --json prints the
records of listPrinters() instead.`,
  status: `Usage: trace-label status [--json] NAME

Shows one queue as the scheduler describes it. Exit code 1 when there is no
queue of that name.`,
  watch: `Usage: trace-label watch [--json] NAME

Shows the queue's condition (ready, printing, needs-attention, offline or
stopped) with what needs doing and the scheduler's message, then a line each
time one of them changes, until interrupted (Ctrl-C), which ends it with exit
code 0. Each line starts with the time. --json writes each PrinterInfo as one
line of JSON. Exit code 1 when there is no queue of that name or the
scheduler cannot be asked.`,
  job: `Usage: trace-label job [--json] ID

Shows one job: its queue, state (pending, held, processing, stopped,
canceled, aborted, completed), the scheduler's reasons and its title. Exit
code 1 when the scheduler does not know it (one that keeps no job history
forgets a job once it has ended).`,
  build: `Usage: trace-label build

Builds the native module from source, into the installed package's build/,
for a platform that has no prebuilt binary (requiring the package then says
so). Needs CMake 3.16 or newer, a C++17 compiler, make or ninja, the CUPS
headers and cmake-js in the app; when one is missing it names it and how to
get it. Does nothing when the module already loads. Exit code 0 when it loads.`,
  demo: `Usage: trace-label demo [-o DIR]

  -o, --output DIR     where to write the previews (default: trace-label-demo
                       in the current folder)
Tries the package without a printer: starts a private CUPS scheduler (the
system's cupsd, on a socket of its own; no CUPS service needs to run) with one
virtual label printer per language, prints the sample label in all six
languages, decodes each job the way the printer would and writes a PNG preview
of every label to DIR. Needs cupsd and lpadmin (Debian and Ubuntu: apt-get
install cups-daemon cups-client). Exit code 0 when every language printed.`,
  cancel: `Usage: trace-label cancel ID

Cancels one job. Exit code 1 when the job had ended already, the scheduler
does not know it, or refused to cancel it.`,
  get render() {
    return `Usage: trace-label render --language LANG --width MM --height MM [--dpi N] [--cutter] -o FILE IMAGE

  -l, --language LANG  printer language: ${facts.LANGUAGES.join(', ')}
      --width MM       label width in millimetres (at most ${MAX_LABEL_MM})
      --height MM      label height in millimetres (at most ${MAX_LABEL_MM})
      --dpi N          printer resolution (default ${facts.DEFAULT_DPI}; exactly 300 gives 12 dots/mm, 600 gives 24, others 8)
      --cutter         cut after the label
      --force          allow a width or height over ${MAX_LABEL_MM} mm
  -o, --output FILE    where to write the commands; "-" writes them to
                       standard output, and the log to standard error
  -p, --printer NAME   accepted so that a "print" command line renders as it
                       is; not used: render never asks CUPS (give --dpi)
IMAGE is a PNG or a BMP. Writes exactly the bytes "print" would send to a
printer of that resolution.`;
  },
  get preview() {
    return `Usage: trace-label preview [--language LANG] [--dpi N] [--scale N] FILE -o IMAGE.png

  -l, --language LANG  language of FILE (default: from its extension,
                       ${Object.entries(EXTENSIONS).map(([l, e]) => `${e} ${l}`).join(', ')},
                       else from its first bytes)
      --dpi N          resolution the stream was made for (default ${facts.DEFAULT_DPI}); TSPL
                       gives its size in millimetres only, so this sets its width in dots
      --scale N        pixels per dot in the picture (default 1; the picture
                       may have at most ${MAX_PREVIEW_PIXELS / 1e6} million pixels)
  -o, --output FILE    where to write the PNG
Decodes the commands the way a label printer would and draws the dots that
would burn: black for a printed dot, white for none.`;
  },
};

class UsageError extends Error {}
class Failure extends Error {}

// The options every command takes.
const COMMON_OPTIONS = {
  help: { type: 'boolean', short: 'h' },
  quiet: { type: 'boolean', short: 'q' },
  verbose: { type: 'boolean' },
};
// The commands that talk to CUPS take --user too.
const CUPS_COMMANDS = new Set(['check', 'print', 'list', 'status', 'job', 'cancel']);
const USER_OPTION = { user: { type: 'string', short: 'u' } };

// The password for --user: TRACE_LABEL_CUPS_PASSWORD, or typed on the
// controlling terminal with echo off. Standard input and output stay the
// command's own, so a pipeline can still feed and read it.
function askPassword(user) {
  const given = process.env.TRACE_LABEL_CUPS_PASSWORD;
  if (given !== undefined) return given;
  let tty;
  try {
    tty = fs.openSync('/dev/tty', 'r+');
  } catch {
    throw new Failure(`no terminal to ask the password of "${user}" on: set TRACE_LABEL_CUPS_PASSWORD`);
  }
  const { spawnSync } = require('child_process');
  const stty = (setting) => spawnSync('stty', [setting], { stdio: [tty, 'ignore', 'ignore'] }).status === 0;
  try {
    if (!stty('-echo')) throw new Failure(`cannot turn off echo on the terminal to ask the password of "${user}": set TRACE_LABEL_CUPS_PASSWORD`);
    try {
      fs.writeSync(tty, `Password for ${user} on the CUPS server: `);
      const chunks = [];
      const buffer = Buffer.alloc(256);
      // One line, bounded: a password longer than 255 bytes is refused anyway.
      for (let total = 0; total <= 1024; ) {
        const n = fs.readSync(tty, buffer, 0, buffer.length, null);
        if (n === 0) break;
        chunks.push(Buffer.from(buffer.subarray(0, n)));
        total += n;
        if (buffer.subarray(0, n).includes(10)) break;
      }
      return Buffer.concat(chunks).toString('utf8').split('\n')[0].replace(/\r$/, '');
    } finally {
      stty('echo');
      fs.writeSync(tty, '\n');
    }
  } finally {
    fs.closeSync(tty);
  }
}

// --user of the command being run; its password is asked for only once the
// command line has been found right, just before the add-on is first used.
let pendingUser;

function checkUser(values) {
  pendingUser = values.help ? undefined : values.user;
  if (pendingUser === '') throw new UsageError('--user needs a user name');
  if (pendingUser !== undefined && Buffer.byteLength(pendingUser) > 255) {
    throw new UsageError('--user takes a name of at most 255 bytes');
  }
}

// The add-on answers a server that asks for a password with these.
function useCredentials(addon, user) {
  const password = askPassword(user);
  if (Buffer.byteLength(password) > 255 || password.includes('\0')) {
    throw new UsageError(`the password of "${user}" must be at most 255 bytes, with no NUL byte`);
  }
  addon.setCredentials({ user, password });
}

// A value that starts with "-" (--width -5, -o -) is joined to its option,
// so that it is refused by the option's own rule, not taken for an option.
function joinDashValues(args, options) {
  const long = new Map(Object.entries(options).map(([name, o]) => [`--${name}`, [name, o]]));
  for (const [name, o] of Object.entries(options)) if (o.short) long.set(`-${o.short}`, [name, o]);
  const joined = [];
  for (let i = 0; i < args.length; i++) {
    const option = long.get(args[i]);
    const next = args[i + 1];
    if (option && option[1].type === 'string' && next !== undefined && next.startsWith('-') && !long.has(next.split('=')[0])) {
      joined.push(`--${option[0]}=${next}`);
      i++;
    } else joined.push(args[i]);
  }
  return joined;
}

function parse(command, args, options) {
  const all = { ...COMMON_OPTIONS, ...(CUPS_COMMANDS.has(command) ? USER_OPTION : {}), ...options };
  let parsed;
  try {
    parsed = parseArgs({ args: joinDashValues(args, all), options: all, allowPositionals: true, strict: true });
  } catch (error) {
    // parseArgs names the option as '-o, --output <value>' or '--width'.
    const named = error.message.match(/'(?:-(\w), )?(--?[^' ,]+)/) || [];
    const option = named[2];
    if (error.code === 'ERR_PARSE_ARGS_UNKNOWN_OPTION') throw new UsageError(`unknown option "${option}"`);
    if (error.code === 'ERR_PARSE_ARGS_INVALID_OPTION_VALUE' && option) {
      const name = option.replace(/^-+/, '');
      const entry = Object.entries(all).find(([n, o]) => n === name || o.short === name);
      if (entry && entry[1].type === 'boolean') throw new UsageError(`--${entry[0]} takes no value`);
      throw new UsageError(`--${entry ? entry[0] : name} needs a value`);
    }
    throw new UsageError(error.message.split('\n')[0]);
  }
  checkUser(parsed.values);
  return parsed;
}

function languageOf(name) {
  const wanted = name.toUpperCase().replace(/[-_]/g, '/');
  const found = facts.LANGUAGES.find((l) => l === wanted || l.replace('/', '') === wanted);
  if (!found) throw new UsageError(`unknown language "${name}"; use one of ${facts.LANGUAGES.join(', ')}`);
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

function jobId(positionals) {
  const text = onePositional(positionals, 'the job id');
  if (!/^\d+$/.test(text) || Number(text) < 1 || Number(text) > 0x7fffffff) {
    throw new UsageError(`the job id must be a whole number from 1, not "${text}"`);
  }
  return Number(text);
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
  return { instruction, withCutter: values.cutter, width, height, buffer: readImage(file), allowLarge: values.force };
}

const addon = () => {
  const loaded = require('..');
  if (pendingUser !== undefined) {
    const user = pendingUser;
    pendingUser = undefined;
    useCredentials(loaded, user);
  }
  return loaded;
};

// A question to the scheduler; its failure (no answer, refused) is the command's.
async function scheduler(ask) {
  try {
    return await ask();
  } catch (error) {
    if (error.code) throw new Failure(error.message);
    throw error;
  }
}

// The images of a batch: the positionals (a directory gives its PNG and BMP
// files, by name) and the lines of --list FILE, in that order; none when the
// command names a single image.
function batchFiles(values, positionals) {
  const files = [];
  if (values.list !== undefined) {
    files.push(...readInput(values.list).toString('utf8').split(/\r?\n/).filter((line) => line.trim() !== ''));
    if (files.length === 0) throw new Failure(`${values.list} names no image`);
  }
  let directory = false;
  for (const name of positionals) {
    if (!fs.statSync(name, { throwIfNoEntry: false })?.isDirectory()) {
      files.push(name);
      continue;
    }
    directory = true;
    const inside = fs
      .readdirSync(name)
      .filter((entry) => /\.(png|bmp)$/i.test(entry) && !entry.startsWith('.'))
      .sort((a, b) => a.localeCompare(b, 'en', { numeric: true }))
      .map((entry) => path.join(name, entry));
    if (inside.length === 0) throw new Failure(`${name}: the directory holds no .png or .bmp file`);
    files.push(...inside);
  }
  return files.length > 1 || directory || values.list !== undefined ? files : [];
}

// Checked before the job starts, so that a missing or foreign file sends
// nothing: each file is there and starts as a PNG or a BMP does.
function checkImageFile(file) {
  let head = Buffer.alloc(0);
  try {
    const fd = fs.openSync(file, 'r');
    try {
      head = Buffer.alloc(8);
      head = head.subarray(0, fs.readSync(fd, head, 0, 8, 0));
    } finally {
      fs.closeSync(fd);
    }
  } catch (error) {
    throw new Failure(`cannot read ${file}: ${error.code === 'ENOENT' ? 'no such file' : error.message}`);
  }
  const png = head.equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]));
  if (!png && head.toString('latin1', 0, 2) !== 'BM') throw new Failure(`${file}: unreadable image: neither a PNG nor a BMP`);
}

// print with several images: one label each, all in one job, each image
// read only when its label is made. On a terminal (standard error) a line
// says how far the job is, unless --quiet.
async function printBatch(values, files, { copies, dpi, title }, out) {
  files.forEach(checkImageFile);
  out.logTo('log', values);
  const first = { device: values.printer, ...labelRequest(values, [files[0]]) };
  function* labels() {
    yield first;
    for (const file of files.slice(1)) yield { ...first, buffer: readImage(file) };
  }
  const progress = values.quiet ? null : out.progress;
  const onProgress = progress ? ({ prepared, sent }) => progress(`${sent} of ${files.length} labels sent (${prepared} made)`) : undefined;
  let job;
  try {
    // The default title of an array of these labels; a generator's would not know their size or count.
    const named = title ?? `${first.instruction} ${first.width}x${first.height}mm ${files.length} labels ${require('crypto').randomBytes(3).toString('hex')}`;
    job = await addon().submitTraceCodes(labels(), { copies, dpi, title: named, onProgress });
  } catch (error) {
    if (error.code === ERROR_CODES.NO_SUCH_PRINTER) {
      throw new Failure(`no CUPS queue named "${values.printer}"; the queues are listed by: trace-label list`);
    }
    if (error.code) throw new Failure(error.index === undefined ? error.message : `${files[error.index]}: ${error.message}`);
    throw error;
  } finally {
    if (progress) progress(null);
  }
  const { instruction, width, height } = first;
  const times = copies > 1 ? `${copies} copies of ` : '';
  out.log(`${times}${files.length} ${instruction} labels ${width} x ${height} mm sent to ${values.printer} as job ${job.jobId}`);
  return 0;
}

const commands = {
  build(args, out) {
    const { values, positionals } = parse('build', args, {});
    if (values.help) return out.help('build');
    if (positionals.length) throw new UsageError('build takes no arguments');
    return require('../lib/build-from-source').buildFromSource();
  },

  async demo(args, out) {
    const { values, positionals } = parse('demo', args, { output: { type: 'string', short: 'o' } });
    if (values.help) return out.help('demo');
    if (positionals.length) throw new UsageError('demo takes no arguments');
    if (values.output === '') throw new UsageError('the output folder is empty');
    const dir = path.resolve(values.output ?? 'trace-label-demo');
    out.logTo('log', values);
    try {
      const code = await require('../lib/demo').runDemo({ out: dir, log: out.log });
      out.log(`The previews are in ${dir}`);
      return code === 0 ? 0 : 1;
    } catch (error) {
      throw new Failure(`the demo could not start: ${error.message}`);
    }
  },

  check(args, out) {
    const { values, positionals } = parse('check', args, {});
    if (values.help) return out.help('check');
    const name = onePositional(positionals, 'the queue name');
    if (name === '') throw new UsageError('the queue name is empty');
    out.logTo('log', values);
    const connected = addon().checkPrinterConnection(name);
    if (!connected) throw new Failure(`no CUPS queue named "${name}"`);
    out.log(`${name}: connected`);
    return 0;
  },

  async print(args, out) {
    const { values, positionals } = parse('print', args, {
      printer: { type: 'string', short: 'p' },
      copies: { type: 'string' },
      dpi: { type: 'string' },
      title: { type: 'string' },
      list: { type: 'string' },
      ...LABEL_OPTIONS,
    });
    if (values.help) return out.help('print');
    if (!values.printer) throw new UsageError('--printer is required');
    const copies = positiveInteger('copies', values.copies, { required: false });
    if (copies !== undefined && !rules.validCopies(copies)) throw new UsageError(`--copies must be at most ${facts.LIMITS.maxCopies}, not ${copies}`);
    if (values.dpi !== undefined && !(String(Number(values.dpi)) === values.dpi && rules.validDpi(Number(values.dpi)))) {
      throw new UsageError(`--dpi must be 203, 300 or 600, not "${values.dpi}"`);
    }
    const dpi = values.dpi && Number(values.dpi);
    const { title } = values;
    if (title !== undefined && !rules.validTitle(title)) {
      throw new UsageError(`--title must be 1 to 255 bytes of text, not ${Buffer.byteLength(title)}`);
    }
    const files = batchFiles(values, positionals);
    if (files.length) return printBatch(values, files, { copies, dpi, title }, out);
    const request = { device: values.printer, ...labelRequest(values, positionals), copies, dpi, title };
    out.logTo('log', values);
    let job;
    try {
      job = await addon().submitTraceCode(request);
    } catch (error) {
      if (error.code === ERROR_CODES.NO_SUCH_PRINTER) {
        throw new Failure(`no CUPS queue named "${values.printer}"; the queues are listed by: trace-label list`);
      }
      if (error.code) throw new Failure(error.message);
      throw error;
    }
    const times = copies > 1 ? `${copies} copies of a ` : '';
    out.log(`${times}${request.instruction} label ${request.width} x ${request.height} mm sent to ${values.printer} as job ${job.jobId}`);
    return 0;
  },

  async render(args, out) {
    const { values, positionals } = parse('render', args, {
      ...LABEL_OPTIONS,
      dpi: { type: 'string' },
      output: { type: 'string', short: 'o' },
      printer: { type: 'string', short: 'p' },
    });
    if (values.help) return out.help('render');
    if (!values.output) throw new UsageError('-o FILE is required');
    const dpi = positiveInteger('dpi', values.dpi, { required: false }) ?? facts.DEFAULT_DPI;
    const request = { device: values.printer || 'render', ...labelRequest(values, positionals) };
    // Standard output carries nothing but the stream, so that it can be redirected to a file.
    const toStdout = values.output === '-';
    out.logTo(toStdout ? 'error' : 'log', values);
    const bytes = addon().renderTraceCode(request, dpi);
    if (!Buffer.isBuffer(bytes)) throw new Failure('no commands could be made from this image (see the log above)');
    // The count is told once the reader has all of it; a reader that left early wanted no more.
    if (toStdout && !(await out.write(bytes))) return 0;
    if (!toStdout) writeOutput(values.output, bytes);
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
    const dpi = positiveInteger('dpi', values.dpi, { required: false }) ?? facts.DEFAULT_DPI;
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

  async list(args, out) {
    const { values, positionals } = parse('list', args, { json: { type: 'boolean' } });
    if (values.help) return out.help('list');
    if (positionals.length) throw new UsageError(`unexpected argument "${positionals[0]}"`);
    const printers = await scheduler(() => addon().listPrinters());
    if (values.json) return out.log(JSON.stringify(printers, null, 2)), 0;
    if (printers.length === 0) return out.log('no CUPS queues'), 0;
    const rows = [['QUEUE', 'STATE', 'DPI', 'JOBS', 'DEFAULT', 'MESSAGE']];
    for (const p of printers) {
      rows.push([p.name, p.state, String(p.dpi), p.acceptingJobs ? 'accepted' : 'rejected', p.isDefault ? 'yes' : '', p.stateMessage]);
    }
    const widths = rows[0].map((_, i) => Math.max(...rows.map((row) => row[i].length)));
    for (const row of rows) out.log(row.map((cell, i) => cell.padEnd(widths[i])).join('  ').trimEnd());
    return 0;
  },

  async status(args, out) {
    const { values, positionals } = parse('status', args, { json: { type: 'boolean' } });
    if (values.help) return out.help('status');
    const name = onePositional(positionals, 'the queue name');
    if (name === '') throw new UsageError('the queue name is empty');
    const p = await scheduler(() => addon().getPrinter(name));
    if (!p) throw new Failure(`no CUPS queue named "${name}"; the queues are listed by: trace-label list`);
    if (values.json) return out.log(JSON.stringify(p, null, 2)), 0;
    out.log(
      [
        `${p.name}: ${p.state}${p.stateReasons.length ? ` (${p.stateReasons.join(', ')})` : ''}${p.stateMessage ? `: ${p.stateMessage}` : ''}`,
        `  ${p.acceptingJobs ? 'accepting jobs' : 'rejecting jobs'}${p.isDefault ? ', the default queue' : ''}`,
        `  resolution: ${p.dpi} dpi (${dotsPerMm(p.dpi)} dots/mm)`,
        `  device: ${p.deviceUri}`,
        `  model: ${p.makeAndModel}`,
      ].join('\n'),
    );
    return 0;
  },

  async watch(args, out) {
    const { values, positionals } = parse('watch', args, { json: { type: 'boolean' } });
    if (values.help) return out.help('watch');
    const name = onePositional(positionals, 'the queue name');
    if (name === '') throw new UsageError('the queue name is empty');
    out.logTo('error', values);
    // Ctrl-C ends the watch (and its subscription) rather than the process.
    const controller = new AbortController();
    const stop = () => controller.abort();
    process.once('SIGINT', stop);
    try {
      for await (const p of addon().watchPrinter(name, { signal: controller.signal })) {
        if (values.json) {
          out.log(JSON.stringify(p));
          continue;
        }
        const problems = p.problems.length ? ` (${p.problems.join(', ')})` : '';
        out.log(`${new Date().toISOString()} ${p.name}: ${p.condition}${problems}${p.stateMessage ? `: ${p.stateMessage}` : ''}`);
      }
    } catch (error) {
      if (error.code === ERROR_CODES.NO_SUCH_PRINTER) {
        throw new Failure(`no CUPS queue named "${name}"; the queues are listed by: trace-label list`);
      }
      if (error.code) throw new Failure(error.message);
      throw error;
    } finally {
      process.removeListener('SIGINT', stop);
    }
    return 0;
  },

  async job(args, out) {
    const { values, positionals } = parse('job', args, { json: { type: 'boolean' } });
    if (values.help) return out.help('job');
    const id = jobId(positionals);
    const job = await scheduler(() => addon().getJob(id));
    if (!job) throw new Failure(`CUPS knows no job ${id}`);
    if (values.json) return out.log(JSON.stringify(job, null, 2)), 0;
    const when = (date) => (date ? date.toISOString() : '-');
    out.log(
      [
        `job ${job.id} on ${job.printer}: ${job.state}${job.stateReasons.length ? ` (${job.stateReasons.join(', ')})` : ''}`,
        `  title: ${job.title}`,
        `  created: ${when(job.createdAt)}, ended: ${when(job.completedAt)}`,
      ].join('\n'),
    );
    return 0;
  },

  async cancel(args, out) {
    const { values, positionals } = parse('cancel', args, {});
    if (values.help) return out.help('cancel');
    const id = jobId(positionals);
    if (!(await scheduler(() => addon().cancelJob(id)))) {
      throw new Failure(`job ${id} was not cancelled: it had ended already, or CUPS does not know it`);
    }
    out.log(`job ${id} cancelled`);
    return 0;
  },
};

// The exit code, or a Promise of it for the commands that wait for CUPS.
function main(argv, out) {
  const [command, ...args] = argv;
  const fail = (error) => {
    if (error instanceof UsageError) {
      out.error(`trace-label: ${error.message}\nRun "trace-label ${commands[command] ? `${command} ` : ''}--help" for usage.`);
      return 2;
    }
    if (error instanceof Failure) {
      out.error(`trace-label: ${error.message}`);
      return 1;
    }
    throw error;
  };
  try {
    if (command === undefined) throw new UsageError('no command given');
    if (command === '--help' || command === '-h') return out.help('main');
    if (command === '--version' || command === '-v') return out.log(require('../package.json').version), 0;
    if (command === 'help') return out.help(commands[args[0]] ? args[0] : 'main');
    if (!Object.hasOwn(commands, command)) throw new UsageError(`unknown command "${command}"`);
    const code = commands[command](args, out);
    return code instanceof Promise ? code.catch(fail) : code;
  } catch (error) {
    return fail(error);
  }
}

if (require.main === module) {
  // Once the reader has gone (EPIPE), nothing more is written to standard output.
  let closed = false;
  process.stdout.on('error', (error) => {
    if (error.code !== 'EPIPE') throw error;
    closed = true;
  });
  const print = (text) => closed || process.stdout.write(text);
  const out = {
    log: (text) => print(`${text}\n`),
    // true once all of `bytes` is written, false when the reader closed first.
    write: (bytes) =>
      new Promise((resolve, reject) => {
        if (closed) return resolve(false);
        process.stdout.write(bytes, (error) => {
          if (!error) resolve(true);
          else if (error.code === 'EPIPE') resolve(false);
          else reject(error);
        });
      }),
    error: (text) => process.stderr.write(`${text}\n`),
    // A line that rewrites itself on a terminal; null ends it.
    progress: process.stderr.isTTY ? (text) => process.stderr.write(text === null ? '\n' : `\r${text}\x1b[K`) : null,
    help: (name) => (print(`${HELP[name]}\n`), 0),
    // The add-on's log lines: to out.log or out.error, or nowhere with --quiet,
    // or by default when that stream is not a terminal (a script reads it), unless --verbose.
    logTo: (to, values) => {
      const tty = (to === 'log' ? process.stdout : process.stderr).isTTY;
      const quiet = values.quiet || (!values.verbose && !tty);
      addon().setLogger(quiet ? null : (line) => out[to](line));
    },
  };
  Promise.resolve(main(process.argv.slice(2), out)).then((code) => {
    process.exitCode = code;
  });
}

module.exports = { main };
