'use strict';
// The Promise-based calls that say what happened. The add-on answers with
// plain records; this turns a failure record into an Error of lib/errors.js
// whose message a person can act on. The options of these calls are checked
// here, once, and handed to the add-on plain and typed.

const { ERROR_CODES, makeError } = require('./errors');
// The module's facts are read on first use: the command-line tool loads this
// file before it knows there is a module.
const facts = require('./languages');
const { dotsPerMm: dotsPerMillimetre } = facts;
const validCopies = (n) => Number.isInteger(n) && n >= facts.LIMITS.minCopies && n <= facts.LIMITS.maxCopies;
const { toBMP, imageBytes } = require('./images');
const { withCondition } = require('./condition');
const { createWatch } = require('./watch');
// Labels of a batch handed to the add-on and not yet sent, at most.
const BACKLOG = 32;

// Each message states the rule its reader applies: submitRequest below, or
// for the print path's options src/napi_utils.cpp.
const OPTION_RULES = {
  options: 'the options must be an object',
  device: 'options.device must be a non-empty string: the name of a CUPS queue',
  get instruction() { return `options.instruction must be a string, one of ${facts.LANGUAGES.join(', ')}`; },
  withCutter: 'options.withCutter must be true or false',
  width: 'options.width must be a number of millimetres from 1 to 1000 (fractions are dropped, so 1.9 is 1 and 0.5 is 0, refused; over 1000 needs allowLarge: true)',
  height: 'options.height must be a number of millimetres from 1 to 1000 (fractions are dropped, so 1.9 is 1 and 0.5 is 0, refused; over 1000 needs allowLarge: true)',
  buffer: 'options.buffer must be a Buffer, typed array or DataView holding a BMP file, or give options.image instead',
  get copies() { return `options.copies must be a whole number from ${facts.LIMITS.minCopies} to ${facts.LIMITS.maxCopies} (a fraction is refused)`; },
  dpi: 'options.dpi must be the number 203, 300 or 600',
  title: 'options.title must be a non-empty string of at most 255 bytes of UTF-8',
  allowLarge: 'options.allowLarge must be true or false (true lets width or height be over 1000 mm)',
  compress: 'options.compress must be true or false',
  name: 'the queue name must be a non-empty string',
  jobId: 'a job id must be a whole number from 1 to 2147483647',
  timeout: 'options.timeout must be a number of milliseconds from 0 (Infinity waits for ever)',
  labels: 'labels must be a non-empty array or iterable of label options',
  wait: 'options.wait must be true, false or { timeout } with timeout a number of milliseconds from 0',
  signal: 'options.signal must be an AbortSignal',
  onProgress: 'options.onProgress must be a function',
};

const invalid = (property) => makeError(ERROR_CODES.INVALID_OPTIONS, OPTION_RULES[property], { property });

// The add-on reads text up to its first NUL, as C does, and a number as
// ToInt32 does (2 ** 32 + 5 is 5): so do these rules.
const cText = (v) => (typeof v === 'string' ? v.split('\0')[0] : '');
const int32 = (v) => (typeof v === 'number' ? v | 0 : 0);
const validTitle = (v) => typeof v === 'string' && v !== '' && Buffer.byteLength(v) <= 255 && !v.includes('\0');
const validDpi = (v) => v === 203 || v === 300 || v === 600;
// No label printer takes a label over a metre either way: past that a size
// is most likely a slip (inches, dots), and it would make a huge job.
const LARGEST_LABEL_MM = 1000;

// submitTraceCode's options as the add-on takes them, plain and typed; throws
// the Error for the first one refused. Each is read once, in this order, and
// none after a refused one; a getter's exception propagates. `image` is read
// only when `buffer` is undefined, and a PNG there is handed over undecoded.
function submitRequest(options) {
  const take = (name, rule) => {
    const value = options[name];
    if (!rule(value)) throw invalid(name);
    return value;
  };
  const optional = (rule) => (v) => v === undefined || rule(v);
  const flag = (v) => typeof v === 'boolean';
  const device = cText(take('device', (v) => cText(v) !== ''));
  const instruction = cText(take('instruction', (v) => cText(v) !== ''));
  const withCutter = take('withCutter', flag);
  const width = int32(take('width', (v) => int32(v) !== 0));
  const height = int32(take('height', (v) => int32(v) !== 0));
  let [buffer, png] = [options.buffer, false];
  if (buffer === undefined) {
    const image = options.image;
    if (image !== undefined) ({ bytes: buffer, png } = imageBytes(image, true));
  }
  if (!ArrayBuffer.isView(buffer)) throw invalid('buffer');
  // A negative size was refused only once the image had been read.
  if (width < 0 || height < 0) throw invalid(width < 0 ? 'width' : 'height');
  const copies = take('copies', optional(validCopies)) ?? 0;
  const dpi = take('dpi', optional(validDpi));
  // Untitled, a job is named by its label and a short id, to tell it apart in lpstat.
  const title = take('title', optional(validTitle)) ?? `${instruction} ${width}x${height}mm ${shortId()}`;
  if (!take('allowLarge', optional(flag)) && (width > LARGEST_LABEL_MM || height > LARGEST_LABEL_MM)) {
    throw submitError({ failure: 'large', width, height, limit: LARGEST_LABEL_MM });
  }
  // Asked first, as the print path asks, so that a request without it reads no more.
  const compress = ('compress' in options && take('compress', optional(flag))) || false;
  return { device, instruction, withCutter, width, height, buffer, png, copies, dpi, title, compress };
}

// Six hex digits: two jobs of one size share a title only by chance, 1 in 16 million.
const shortId = () => require('crypto').randomBytes(3).toString('hex');

// The scheduler's part of a failure record as an Error, or null.
function schedulerError(record, what) {
  const details = { cupsStatus: record.cupsStatus, cupsMessage: record.cupsMessage };
  switch (record.failure) {
    case 'timeout':
      return makeError(
        ERROR_CODES.SCHEDULER_TIMEOUT,
        `the CUPS scheduler did not answer in time (${what}; TRACE_LABEL_CUPS_TIMEOUT seconds, 30 by default): it is hung or overloaded`,
        details,
      );
    case 'unreachable':
      return makeError(
        ERROR_CODES.SCHEDULER_REFUSED,
        `cannot connect to the CUPS scheduler (${what}): is it running, and is CUPS_SERVER right?`,
        details,
      );
    case 'encryption':
      return makeError(
        ERROR_CODES.SCHEDULER_REFUSED,
        `the CUPS server cannot encrypt the connection (${what}), and CUPS_ENCRYPTION or Encryption in client.conf requires it: ${record.cupsMessage || 'no reason given'}`,
        details,
      );
    case 'authentication':
      return makeError(
        ERROR_CODES.AUTHENTICATION,
        record.withCredentials
          ? 'the CUPS server refused the user name and password: check what was given to setCredentials(...)'
          : 'the CUPS server wants a user name and password: setCredentials(...)',
        details,
      );
    case 'lost':
      return makeError(
        ERROR_CODES.SCHEDULER_REFUSED,
        `the connection to the CUPS scheduler was lost (${what}): it closed the connection or stopped before it answered; try again`,
        details,
      );
    case 'refused': {
      const hint = record.cupsStatus === 0x506 ? ' (the queue is not accepting jobs: cupsaccept QUEUE)' : '';
      const status = `0x${record.cupsStatus.toString(16).padStart(4, '0')}`;
      return makeError(
        ERROR_CODES.SCHEDULER_REFUSED,
        `the CUPS scheduler refused (${what}): ${record.cupsMessage || 'no reason given'} (IPP status ${status})${hint}`,
        details,
      );
    }
    default:
      return null;
  }
}

const settle = (what) => (record) => {
  const error = record && schedulerError(record, what);
  if (error) throw error;
  if (record && record.failure === 'options') throw invalid(record.property);
  return record;
};

// Why the print path could not read `buffer`: toBMP's reason for a damaged
// file, or that it is a kind of image only `image` takes.
function bufferReason(buffer) {
  try {
    toBMP(buffer);
  } catch (error) {
    return error.message;
  }
  return 'unreadable image: options.buffer takes an uncompressed 8-, 24- or 32-bit bottom-up BMP only; give this image as options.image, or pass it through toBMP';
}

function submitError(record, options) {
  const { failure, printer, language, dpi, dots } = record;
  switch (failure) {
    case 'language':
      return makeError(ERROR_CODES.UNKNOWN_LANGUAGE, `unknown printer language "${language}": use one of ${facts.LANGUAGES.join(', ')} (exact case)`);
    case 'image':
      return makeError(ERROR_CODES.UNREADABLE_IMAGE, record.reason || bufferReason(options.buffer));
    case 'size':
      return makeError(
        ERROR_CODES.LABEL_TOO_LARGE,
        `a label of ${dots.width} x ${dots.height} dots (${dpi} dpi) is more than ${language} or this machine can make into one job: check width and height, which are millimetres`,
        { dots },
      );
    case 'large':
      return makeError(
        ERROR_CODES.LABEL_TOO_LARGE,
        `a label of ${record.width} x ${record.height} mm is larger than any label printer prints (${record.limit} mm on a side at most): check width and height, which are millimetres, or give allowLarge: true`,
        { mm: { width: record.width, height: record.height } },
      );
    case 'jobFile':
      return makeError(ERROR_CODES.JOB_FILE, 'cannot create or write the temporary job file in /tmp: check that /tmp is writable and not full');
    case 'printer':
      return makeError(ERROR_CODES.NO_SUCH_PRINTER, `CUPS has no queue named "${printer}": see listPrinters() or lpstat -p`);
    default:
      return schedulerError(record, `submitting the job for "${printer}"`);
  }
}

// A batch's refusal of one label: the label's Error, its message led by the
// label's index, and the index on the Error.
function atLabel(index, error) {
  error.message = `label ${index}: ${error.message}`;
  error.index = index;
  return error;
}

// A batch's label as readLabel read it, with its image, as the add-on takes
// it: plain and typed; null where the print path's reader would refuse it.
function plainLabel(read, buffer, compress) {
  const [device, instruction] = [cText(read.device), cText(read.instruction)];
  if (device === '' || instruction === '' || !ArrayBuffer.isView(buffer)) return null;
  const { withCutter, width, height } = read;
  return { device, instruction, withCutter, width: int32(width), height: int32(height), buffer, compress: read.compress ?? compress ?? false };
}

// Whether toBMP reads `buffer` as the BMP it is (not a PNG it would convert).
function isBmp(buffer) {
  try {
    const bytes = Buffer.from(buffer.buffer, buffer.byteOffset, buffer.byteLength);
    return bytes.toString('latin1', 0, 2) === 'BM' && toBMP(buffer) !== null;
  } catch {
    return false;
  }
}

// A batch's default title, like a label's (submitRequest): its language, the
// size when all labels share one, the count and a short id of its own
// ("ZPL 50x30mm 12 labels 3f2a9c").
// Labels not known before the end of their iterable (null) give the
// language and the id only ("ZPL batch 3f2a9c").
function batchTitle(labels, first) {
  const id = shortId();
  if (labels === null) return [first.instruction, 'batch', id].join(' ');
  const sizes = new Set(labels.map((l) => `${Math.trunc(l.width)}x${Math.trunc(l.height)}mm`));
  return [labels[0].instruction, ...(sizes.size === 1 ? sizes : []), `${labels.length} label${labels.length === 1 ? '' : 's'}`, id].join(' ');
}

// log(line): a line for the application's logger (setLogger).
function createApi(addon, renderTraceCode, log = () => {}) {
  // The options are read at call time: wait, then submitRequest's.
  async function submitTraceCode(options) {
    if (options === null || typeof options !== 'object') throw invalid('options');
    // Checked before submitting: a bad wait must not leave a job behind.
    const timeout = waitTimeout(options.wait);
    if (timeout === null) throw invalid('wait');
    const request = submitRequest(options);
    const record = await addon._submitTraceCode(request);
    if (record.failure === 'options') throw invalid(record.property);
    if (record.failure) throw submitError(record, request);
    return timeout === undefined ? record : untilPrinted(record, timeout);
  }

  // Why a batch's label (as read, with its buffer) could not be made, as
  // renderTraceCode says it.
  function unmadeError(label, index, dpi, compress) {
    let bytes;
    try {
      bytes = renderTraceCode({ ...label, compress: label.compress ?? compress }, dpi);
    } catch (error) {
      return atLabel(index, error);
    }
    if (bytes === false) {
      if (!facts.LANGUAGES.includes(label.instruction)) return atLabel(index, submitError({ failure: 'language', language: label.instruction }, label));
      if (label.buffer !== undefined && !isBmp(label.buffer)) return atLabel(index, submitError({ failure: 'image' }, label));
      const dotsPerMm = dotsPerMillimetre(dpi);
      const dots = { width: Math.trunc(label.width) * dotsPerMm, height: Math.trunc(label.height) * dotsPerMm };
      return atLabel(index, submitError({ failure: 'size', language: label.instruction, dpi, dots }, label));
    }
    return atLabel(index, invalid('buffer'));
  }

  // A batch's label options but its image, each read once, in this order and
  // up to the first refused: as plain values, or the Error. Every label
  // after the first (`first`, as read) goes to its queue in its language.
  function readLabel(label, index, first) {
    if (label === null || typeof label !== 'object') return atLabel(index, invalid('options'));
    const text = (v) => typeof v === 'string' && v !== '';
    const mm = (v) => typeof v === 'number' && Math.trunc(v) > 0 && v < 2 ** 31;
    const optional = (rule) => (v) => v === undefined || rule(v);
    const checks = { device: text, instruction: text, withCutter: (v) => typeof v === 'boolean', width: mm, height: mm,
      compress: optional((v) => typeof v === 'boolean'), copies: optional(validCopies) };
    const read = {};
    for (const [key, rule] of Object.entries(checks)) {
      const value = (read[key] = label[key]);
      if (first && (key === 'device' || key === 'instruction') && value !== first[key]) {
        return atLabel(index, makeError(ERROR_CODES.INVALID_OPTIONS, `options.${key} ${JSON.stringify(value)} differs from the first label's ${JSON.stringify(first[key])}: a batch goes to one queue in one language`, { property: key }));
      }
      if (!rule(value)) return atLabel(index, invalid(key));
    }
    return read;
  }

  // Many labels for one queue in one language as one CUPS job: each label's
  // stream as renderTraceCode makes it, in order, sent while the next ones
  // are made. An array or a Set has every label's options checked before
  // anything is sent; any other iterable (async ones too) is read as the job
  // goes, so a label refused there cancels the job.
  async function submitTraceCodes(labels, options = {}) {
    const iterable = (key) => labels !== null && typeof labels === 'object' && typeof labels[key] === 'function';
    if (!iterable(Symbol.iterator) && !iterable(Symbol.asyncIterator)) throw invalid('labels');
    if (options === null || typeof options !== 'object') throw invalid('options');
    const total = Array.isArray(labels) ? labels.length : labels instanceof Set ? labels.size : null;
    if (total === 0) throw invalid('labels');
    const { title: givenTitle, copies, dpi: givenDpi, compress, onProgress, signal } = options;
    if (copies !== undefined && !validCopies(copies)) throw invalid('copies');
    const title = givenTitle;
    if (title !== undefined && !validTitle(title)) throw invalid('title');
    if (givenDpi !== undefined && !validDpi(givenDpi)) throw invalid('dpi');
    if (compress !== undefined && typeof compress !== 'boolean') throw invalid('compress');
    if (onProgress !== undefined && typeof onProgress !== 'function') throw invalid('onProgress');
    if (!validSignal(signal)) throw invalid('signal');
    const timeout = waitTimeout(options.wait);
    if (timeout === null) throw invalid('wait');
    if (signal && signal.aborted) throw signal.reason;
    const collection = total !== null;
    const iterator = iterable(Symbol.asyncIterator) ? labels[Symbol.asyncIterator]() : labels[Symbol.iterator]();
    const step = await iterator.next();
    if (step.done) throw invalid('labels');
    const reads = [readLabel(step.value, 0, null)];
    const first = reads[0];
    if (first instanceof Error) throw first;
    for (const label of collection ? [...labels].slice(1) : []) {
      const read = readLabel(label, reads.length, first);
      if (read instanceof Error) throw read;
      reads.push(read);
    }
    const { device, instruction } = first;
    let dpi = givenDpi;
    if (dpi === undefined) {
      const printer = await getPrinter(device);
      if (printer === null) throw submitError({ failure: 'printer', printer: device }, first);
      dpi = printer.dpi;
    }
    if (signal && signal.aborted) throw signal.reason;
    const stream = await openJobStream({ device, title: title ?? batchTitle(collection ? reads : null, first), copies: copies ?? 0 });
    if (stream.failure) throw submitError(stream.failure, first);

    const onAbort = () => stream.wake();
    if (signal) signal.addEventListener('abort', onAbort, { once: true });
    const aborted = () => signal !== undefined && signal.aborted;
    // The labels handed over and not yet sent, to explain one the add-on could not make.
    const waiting = new Map();
    let [handed, bytes, lastReport] = [0, 0, -Infinity];
    const report = (final = false) => {
      const now = Date.now();
      if (!onProgress || (!final && now - lastReport < 50)) return;
      lastReport = now;
      onProgress(final ? { prepared: handed, sent: handed, total } : { prepared: stream.prepared, sent: stream.written, total });
    };
    // Why label `at` could not be made, as renderTraceCode says it.
    const unmade = (at) => unmadeError(waiting.get(at), at, dpi, compress);
    const cancel = async (error) => {
      if (!collection && typeof iterator.return === 'function') {
        try {
          await iterator.return();
        } catch {}
      }
      await stream.end(true);
      throw error;
    };
    try {
      for (let index = 0; ; index++) {
        let [label, read] = [step.value, first];
        if (index > 0) {
          let next;
          try {
            next = await iterator.next();
          } catch (error) {
            return await cancel(error);
          }
          if (next.done) break;
          label = next.value;
          read = collection ? reads[index] : readLabel(label, index, first);
          if (read instanceof Error) return await cancel(read);
        }
        while (handed - stream.written >= BACKLOG && !stream.record && stream.failedAt < 0 && !aborted()) await stream.next();
        if (aborted()) return await cancel(signal.reason);
        if (stream.failedAt >= 0) return await cancel(unmade(stream.failedAt));
        if (stream.record) break;
        let buffer = label.buffer;
        let taken;
        try {
          const image = buffer === undefined ? label.image : undefined;
          if (image !== undefined) buffer = imageBytes(image).bytes;
          const plain = plainLabel(read, buffer, compress);
          taken = plain !== null && addon._jobStreamPrepare(stream.handle, plain, dpi, read.copies ?? 1);
        } catch (error) {
          return await cancel(atLabel(index, error));
        }
        waiting.set(index, { ...read, buffer });
        if (!taken) return await cancel(unmade(index));
        handed++;
        for (const at of waiting.keys()) {
          if (at >= stream.written) break;
          waiting.delete(at);
        }
        report();
      }
      // The last labels are still being sent: an abort now still cancels the job.
      if (!stream.record) addon._jobStreamEnd(stream.handle, false);
      for (let abandoned = false; !stream.record; report()) {
        if (aborted() && !abandoned) {
          abandoned = true;
          addon._jobStreamEnd(stream.handle, true);
        }
        await stream.next();
      }
      const { record } = stream;
      if (record.canceled && stream.failedAt < 0) {
          throw signal.reason;
      }
      if (stream.failedAt >= 0) {
          throw unmade(stream.failedAt);
      }
      if (record.failure) {
          throw submitError(record, first);
      }
      bytes = record.bytes;
      report(true);
      const result = { jobId: stream.jobId, printer: device, language: instruction, dpi, bytes, labels: handed };
      return timeout === undefined ? result : untilPrinted(result, timeout);
    } finally {
      if (signal) signal.removeEventListener('abort', onAbort);
    }
  }

  // The streamed job of src/job_stream_api.h: { failure } when it could not
  // be created; otherwise its handle and id, the labels written and made so
  // far, a label it could not make (-1: none), the end record once there is
  // one, next() for the next change and end(cancel).
  async function openJobStream(request) {
    let wake = () => {};
    const stream = {
      written: 0,
      prepared: 0,
      failedAt: -1,
      record: null,
      next: () => new Promise((resolve) => (wake = resolve)),
      wake: () => wake(),
      end(cancel) {
        addon._jobStreamEnd(this.handle, cancel);
        return (async () => {
          while (!this.record) await this.next();
          return this.record;
        })();
      },
    };
    const record = await addon._openJobStream(request, (written, end, prepared, failedAt) => {
      Object.assign(stream, { written, prepared, failedAt });
      if (end) stream.record = end;
      wake();
    });
    if (record.failure) return { failure: record };
    return Object.assign(stream, { handle: record.handle, jobId: record.jobId });
  }

  // undefined: no wait; null: not a valid wait.
  function waitTimeout(wait) {
    if (wait === undefined || wait === false) return undefined;
    const timeout = wait === true ? 60000 : wait !== null && typeof wait === 'object' ? wait.timeout ?? 60000 : NaN;
    return typeof timeout === 'number' && timeout >= 0 ? timeout : null;
  }

  // The submitted job, once completed; else ERR_NOT_PRINTED with the job and
  // the queue as they were when the wait ended.
  async function untilPrinted(record, timeout) {
    let job;
    let timedOut = false;
    try {
      job = await waitForJob(record.jobId, { timeout });
    } catch (error) {
      if (error.code !== ERROR_CODES.SCHEDULER_TIMEOUT || !error.job) throw error;
      [job, timedOut] = [error.job, true];
    }
    if (job && job.state === 'completed') return { ...record, job };
    const printer = await getPrinter(record.printer).catch(() => null);
    const reasons = (list) => (list && list.length ? ` (${list.join(', ')})` : '');
    let why;
    if (timedOut) {
      why = `is still ${job.state} after ${timeout} ms; the printer is ${printer ? printer.condition + reasons(printer.problems) : 'gone'}`;
    } else if (job === null || job.state === 'forgotten') {
      why = 'ended, but the scheduler keeps no job history, so whether it printed is unknown';
    } else {
      why = `was ${job.state}${reasons(job.stateReasons)}`;
    }
    throw makeError(ERROR_CODES.NOT_PRINTED, `job ${record.jobId} on "${record.printer}" did not print: it ${why}`, { job, printer });
  }

  function listPrinters() {
    return addon._listPrinters().then(settle('listing the queues')).then((list) => list.map(withCondition));
  }

  function getPrinter(name) {
    if (typeof name !== 'string' || name === '') return Promise.reject(invalid('name'));
    return addon._getPrinter(name).then(settle(`asking about "${name}"`)).then(withCondition);
  }

  const validId = (id) => Number.isInteger(id) && id >= 1 && id <= 0x7fffffff;

  const validSignal = (signal) => signal === undefined || (signal !== null && typeof signal.aborted === 'boolean' && typeof signal.addEventListener === 'function');

  // The promise, or the signal's reason as soon as it is aborted. The
  // scheduler's answer still arrives; nobody waits for it.
  function abortable(promise, signal) {
    if (signal === undefined) return promise;
    if (signal.aborted) return Promise.reject(signal.reason);
    return new Promise((resolve, reject) => {
      const onAbort = () => reject(signal.reason);
      signal.addEventListener('abort', onAbort, { once: true });
      promise.then(resolve, reject).finally(() => signal.removeEventListener('abort', onAbort));
    });
  }

  // A job id, or a job as submitTraceCode resolved it ({ jobId, uuid }) or
  // as { id, uuid }: { id, uuid } (uuid null for a bare id), or null.
  function jobRef(job) {
    if (validId(job)) return { id: job, uuid: null };
    if (job === null || typeof job !== 'object') return null;
    const id = job.id !== undefined ? job.id : job.jobId;
    if (!validId(id)) return null;
    if (job.uuid === undefined || job.uuid === null || job.uuid === '') return { id, uuid: null };
    return typeof job.uuid === 'string' ? { id, uuid: job.uuid } : null;
  }

  // The scheduler's job of that id, or { id, uuid, state: 'lost' } when it
  // has another identity or is gone: after a restart that lost the job
  // history, ids are handed out again.
  async function lookUp(ref) {
    const job = await addon._getJob(ref.id).then(settle(`asking about job ${ref.id}`));
    if (ref.uuid === null || (job !== null && job.uuid === ref.uuid)) return job;
    return { id: ref.id, uuid: ref.uuid, state: 'lost' };
  }

  function getJob(job, { signal } = {}) {
    const ref = jobRef(job);
    if (!ref) return Promise.reject(invalid('jobId'));
    if (!validSignal(signal)) return Promise.reject(invalid('signal'));
    return abortable(lookUp(ref), signal);
  }

  // With a uuid, another job of that id is never cancelled: a lost job answers false.
  async function cancelJob(job) {
    const ref = jobRef(job);
    if (!ref) throw invalid('jobId');
    if (ref.uuid !== null && (await lookUp(ref)).state === 'lost') return false;
    return addon._cancelJob(ref.id).then(settle(`cancelling job ${ref.id}`));
  }

  // Polls the job until it is completed, canceled or aborted. A scheduler
  // that keeps no job history forgets a job once it has ended: a job seen
  // before and then gone resolves as last seen, with state 'forgotten'. A job
  // never seen resolves null, as getJob does; one given with its uuid that is
  // lost (never seen, or replaced by another of its id) resolves
  // { id, uuid, state: 'lost' }.
  async function waitForJob(job, { timeout = 60000, signal } = {}) {
    const ref = jobRef(job);
    if (!ref) throw invalid('jobId');
    const jobId = ref.id;
    if (typeof timeout !== 'number' || !(timeout >= 0)) throw invalid('timeout');
    if (!validSignal(signal)) throw invalid('signal');
    const deadline = Date.now() + timeout;
    let last = null;
    // Woken by the job's events; a plain pause where there are none.
    const changes = watch.jobChanges(jobId, signal);
    try {
      for (let pause = 20; ; pause = Math.min(pause * 2, 250)) {
        const job = await abortable(addon._getJob(jobId).then(settle(`asking about job ${jobId}`)), signal);
        // Another job at that id: the scheduler restarted without ours.
        if (job !== null && ref.uuid !== null && job.uuid !== ref.uuid) return { id: jobId, uuid: ref.uuid, state: 'lost' };
        if (job === null && last) return { ...last, state: 'forgotten' };
        if (job === null) return ref.uuid === null ? null : { id: jobId, uuid: ref.uuid, state: 'lost' };
        last = job;
        if (facts.LIMITS.finalJobStates.includes(job.state)) return job;
        const left = deadline - Date.now();
        if (left <= 0) {
          throw makeError(ERROR_CODES.SCHEDULER_TIMEOUT, `job ${jobId} did not end within ${timeout} ms; it is ${job.state}${job.stateReasons.length ? ` (${job.stateReasons.join(', ')})` : ''}`, { job });
        }
        await abortable(changes.wait(Math.min(pause, left), left), signal);
      }
    } finally {
      // Not waited for: the watcher's thread cancels its subscription on its own.
      changes.stop();
    }
  }

  const noSuchPrinter = (name) => submitError({ failure: 'printer', printer: name }, {});
  const watch = createWatch({ addon, getPrinter, schedulerError, noSuchPrinter, invalid, validSignal, log });
  const { watchPrinter } = watch;

  return { submitTraceCode, submitTraceCodes, listPrinters, getPrinter, getJob, cancelJob, waitForJob, watchPrinter };
}

// The rules the command-line tool holds its own options to.
const rules = { validCopies, validDpi, validTitle, LARGEST_LABEL_MM };

module.exports = { createApi, rules };
