'use strict';
// The error codes of the Promise-based API, in one place: every Error it
// rejects or throws carries one of these as `code`, so an application can
// branch on what happened and show the English message to a person.

const ERROR_CODES = Object.freeze({
  INVALID_OPTIONS: 'ERR_INVALID_OPTIONS', // a missing or mistyped option, a value out of range
  UNKNOWN_LANGUAGE: 'ERR_UNKNOWN_LANGUAGE', // instruction is not one of LANGUAGES
  NO_SUCH_PRINTER: 'ERR_NO_SUCH_PRINTER', // CUPS has no queue of that name
  UNREADABLE_IMAGE: 'ERR_UNREADABLE_IMAGE', // not a PNG, BMP or pixel buffer that can be read; the message says why
  LABEL_TOO_LARGE: 'ERR_LABEL_TOO_LARGE', // the label in dots is more than a printer or a job can hold
  JOB_FILE: 'ERR_JOB_FILE', // the temporary job file could not be made or written
  SCHEDULER_REFUSED: 'ERR_SCHEDULER_REFUSED', // CUPS refused the job (cupsStatus, cupsMessage say how)
  SCHEDULER_TIMEOUT: 'ERR_SCHEDULER_TIMEOUT', // CUPS did not answer, or a job did not finish, in time
  NOT_PRINTED: 'ERR_NOT_PRINTED', // submitTraceCode's wait: the job did not complete (job, printer say why)
  AUTHENTICATION: 'ERR_AUTHENTICATION', // the CUPS server wants a password: none was given (setCredentials), or it refused it
});

const KNOWN = new Set(Object.values(ERROR_CODES));

// An Error with one of the codes above; `details` become properties of it
// (say { cupsStatus, cupsMessage }), and `cause` is kept as the standard cause.
function makeError(code, message, { cause, ...details } = {}) {
  if (!KNOWN.has(code)) throw new TypeError(`not a trace-label error code: ${code}`);
  const error = new Error(message, cause === undefined ? undefined : { cause });
  error.code = code;
  return Object.assign(error, details);
}

module.exports = { ERROR_CODES, makeError };
