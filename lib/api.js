'use strict';
// The Promise-based calls that say what happened. The add-on answers with
// plain records; this turns a failure record into an Error of lib/errors.js
// whose message a person can act on, and checks the arguments the add-on
// does not read itself.

const { ERROR_CODES, makeError } = require('./errors');
const { LANGUAGES } = require('./languages');
const { toBMP, withImage } = require('./images');

const OPTION_RULES = {
  options: 'the options must be an object',
  device: 'options.device must be a non-empty string: the name of a CUPS queue',
  instruction: `options.instruction must be one of ${LANGUAGES.join(', ')}`,
  withCutter: 'options.withCutter must be true or false',
  width: 'options.width must be a number of millimetres above 0',
  height: 'options.height must be a number of millimetres above 0',
  buffer: 'options.buffer must be a Buffer, typed array or DataView holding a BMP file, or give options.image instead',
  copies: 'options.copies must be a whole number from 1 to 999',
  dpi: 'options.dpi must be 203, 300 or 600',
  title: 'options.title must be a non-empty string of at most 255 bytes',
  name: 'the queue name must be a non-empty string',
  jobId: 'a job id must be a whole number from 1',
  timeout: 'options.timeout must be a number of milliseconds from 0 (Infinity waits for ever)',
};

const invalid = (property) => makeError(ERROR_CODES.INVALID_OPTIONS, OPTION_RULES[property], { property });

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
      return makeError(ERROR_CODES.UNKNOWN_LANGUAGE, `unknown printer language "${language}": use one of ${LANGUAGES.join(', ')} (exact case)`);
    case 'image':
      return makeError(ERROR_CODES.UNREADABLE_IMAGE, bufferReason(options.buffer));
    case 'size':
      return makeError(
        ERROR_CODES.LABEL_TOO_LARGE,
        `a label of ${dots.width} x ${dots.height} dots (${dpi} dpi) is more than ${language} or this machine can make into one job: check width and height, which are millimetres`,
        { dots },
      );
    case 'jobFile':
      return makeError(ERROR_CODES.JOB_FILE, 'cannot create or write the temporary job file in /tmp: check that /tmp is writable and not full');
    case 'printer':
      return makeError(ERROR_CODES.NO_SUCH_PRINTER, `CUPS has no queue named "${printer}": see listPrinters() or lpstat -p`);
    default:
      return schedulerError(record, `submitting the job for "${printer}"`);
  }
}

function createApi(addon) {
  // The options are read by the add-on at call time, in printTraceCode's
  // order, then copies, dpi and title; `image` only when `buffer` is undefined.
  function submitTraceCode(options) {
    if (options === null || typeof options !== 'object') return Promise.reject(invalid('options'));
    return addon._submitTraceCode(withImage(options)).then((record) => {
      if (record.failure === 'options') throw invalid(record.property);
      if (record.failure) throw submitError(record, options);
      return record;
    });
  }

  function listPrinters() {
    return addon._listPrinters().then(settle('listing the queues'));
  }

  function getPrinter(name) {
    if (typeof name !== 'string' || name === '') return Promise.reject(invalid('name'));
    return addon._getPrinter(name).then(settle(`asking about "${name}"`));
  }

  const validId = (id) => Number.isInteger(id) && id >= 1 && id <= 0x7fffffff;

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

  function getJob(job) {
    const ref = jobRef(job);
    if (!ref) return Promise.reject(invalid('jobId'));
    return lookUp(ref);
  }

  // With a uuid, another job of that id is never cancelled: a lost job answers false.
  async function cancelJob(job) {
    const ref = jobRef(job);
    if (!ref) throw invalid('jobId');
    if (ref.uuid !== null && (await lookUp(ref)).state === 'lost') return false;
    return addon._cancelJob(ref.id).then(settle(`cancelling job ${ref.id}`));
  }

  // Polls getJob until the job is completed, canceled or aborted. A scheduler
  // that keeps no job history forgets a job once it has ended: a job seen
  // before and then gone resolves as last seen, with state 'forgotten'. A job
  // never seen resolves null, as getJob does.
  // A job given with its uuid that is lost (never seen, or replaced by
  // another of its id) resolves { id, uuid, state: 'lost' }.
  async function waitForJob(job, { timeout = 60000 } = {}) {
    const ref = jobRef(job);
    if (!ref) throw invalid('jobId');
    const jobId = ref.id;
    if (typeof timeout !== 'number' || !(timeout >= 0)) throw invalid('timeout');
    const deadline = Date.now() + timeout;
    let last = null;
    for (let pause = 20; ; pause = Math.min(pause * 2, 250)) {
      const job = await addon._getJob(jobId).then(settle(`asking about job ${jobId}`));
      // Another job at that id: the scheduler restarted without ours.
      if (job !== null && ref.uuid !== null && job.uuid !== ref.uuid) return { id: jobId, uuid: ref.uuid, state: 'lost' };
      if (job === null && last) return { ...last, state: 'forgotten' };
      if (job === null) return ref.uuid === null ? null : { id: jobId, uuid: ref.uuid, state: 'lost' };
      last = job;
      if (['completed', 'canceled', 'aborted'].includes(job.state)) return job;
      const left = deadline - Date.now();
      if (left <= 0) {
        throw makeError(ERROR_CODES.SCHEDULER_TIMEOUT, `job ${jobId} did not end within ${timeout} ms; it is ${job.state}${job.stateReasons.length ? ` (${job.stateReasons.join(', ')})` : ''}`, { job });
      }
      await new Promise((resolve) => setTimeout(resolve, Math.min(pause, left)));
    }
  }

  return { submitTraceCode, listPrinters, getPrinter, getJob, cancelJob, waitForJob };
}

module.exports = { createApi };
