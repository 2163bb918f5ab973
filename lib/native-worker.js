'use strict';
// One worker thread that runs the add-on's blocking calls, one at a time in
// the order they were made, so the calling thread keeps serving its event
// loop. The worker starts on first use and is kept for later calls; it holds
// the process open only while calls are pending.

const path = require('path');
const { Worker } = require('worker_threads');

const BODY = path.join(__dirname, 'native-worker-thread.js');
const ERRORS = { Error, TypeError, RangeError, SyntaxError, ReferenceError, EvalError, URIError };

// Errors cross threads as plain data; rebuild one with the same class, name and message.
function rebuildError({ name, message }) {
  const error = new (ERRORS[name] || Error)(message);
  if (error.name !== name) error.name = name;
  return error;
}

class NativeWorker {
  constructor(addonPath) {
    this.addonPath = addonPath;
    this.worker = null;
    this.pending = new Map();
    this.nextId = 1;
  }

  call(fn, args, transfer = []) {
    return new Promise((resolve, reject) => {
      const worker = this.start();
      const id = this.nextId++;
      this.pending.set(id, { resolve, reject });
      if (this.pending.size === 1) worker.ref();
      worker.postMessage({ id, fn, args }, transfer);
    });
  }

  start() {
    if (this.worker) return this.worker;
    const worker = new Worker(BODY, { workerData: { addonPath: this.addonPath } });
    worker.on('message', ({ id, ok, value, error }) => {
      const job = this.pending.get(id);
      if (!job) return;
      this.pending.delete(id);
      if (this.pending.size === 0) worker.unref();
      if (ok) job.resolve(value);
      else job.reject(rebuildError(error));
    });
    // The worker is gone: fail what it still held; the next call starts a new one.
    const lost = (error) => {
      if (this.worker !== worker) return;
      this.worker = null;
      const jobs = [...this.pending.values()];
      this.pending.clear();
      for (const job of jobs) job.reject(error);
    };
    worker.on('error', lost);
    worker.on('exit', (code) => lost(new Error(`the add-on worker stopped (exit code ${code})`)));
    worker.unref();
    this.worker = worker;
    return worker;
  }
}

module.exports = { NativeWorker };
