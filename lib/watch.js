'use strict';
// Events instead of polling. Each watcher is the add-on's _watch: a thread
// and a connection of its own holding an ippget subscription (see
// src/printer/watch_loop.h), so the engine's queue of calls never waits for
// it. Its events only say "something changed": what changed is read with
// the ordinary calls (getPrinter, getJob).

// How often a watcher asks when the scheduler refuses subscriptions.
const POLL_MS = 1000;

// The add-on's events for one target, as a queue that next() takes from;
// aborting `signal` stops the watcher at once. stop() answers once its
// thread has cancelled the subscription and ended.
function openWatcher(addon, target, signal) {
  const events = [];
  let wake = null;
  let closed;
  const done = new Promise((resolve) => (closed = resolve));
  const handle = addon._watch(target, (event) => {
    events.push(event);
    if (event.type === 'closed') closed();
    if (wake) wake();
  });
  const stop = () => handle.stop();
  if (signal) signal.addEventListener('abort', stop, { once: true });
  return {
    // The next event, or { type: 'aborted' }, or { type: 'timeout' } after `ms`.
    async next(ms = Infinity) {
      let timer;
      let onAbort;
      try {
        while (events.length === 0) {
          if (signal && signal.aborted) return { type: 'aborted' };
          const woken = new Promise((resolve) => {
            wake = resolve;
            onAbort = resolve;
            if (signal) signal.addEventListener('abort', onAbort, { once: true });
            if (ms !== Infinity) timer = setTimeout(() => resolve('timeout'), ms);
          });
          if ((await woken) === 'timeout' && events.length === 0) return { type: 'timeout' };
          clearTimeout(timer);
          if (signal) signal.removeEventListener('abort', onAbort);
        }
        return events.shift();
      } finally {
        wake = null;
        clearTimeout(timer);
        if (signal && onAbort) signal.removeEventListener('abort', onAbort);
      }
    },
    // Takes the changes already queued behind one just taken.
    drainChanges() {
      while (events.length && events[0].type === 'changed') events.shift();
    },
    stop() {
      stop();
      if (signal) signal.removeEventListener('abort', stop);
      return done;
    },
  };
}

// A pause that an abort cuts short; it leaves no listener behind.
const sleep = (ms, signal) =>
  new Promise((resolve) => {
    const done = () => {
      clearTimeout(timer);
      if (signal) signal.removeEventListener('abort', done);
      resolve();
    };
    const timer = setTimeout(done, ms);
    if (signal) signal.addEventListener('abort', done, { once: true });
  });

function createWatch({ addon, getPrinter, schedulerError, noSuchPrinter, invalid, validSignal, log }) {
  const failed = (event, what) => schedulerError(event.failure, what) || new Error(`${what}: ${event.failure.cupsMessage}`);

  // The queue's PrinterInfo now, then again each time its condition,
  // problems or message change. Ends when `signal` aborts or the loop
  // breaks out; either cancels the subscription before the iteration ends.
  async function* watchPrinter(name, { signal } = {}) {
    if (typeof name !== 'string' || name === '') throw invalid('name');
    if (!validSignal(signal)) throw invalid('signal');
    if (signal && signal.aborted) return;
    const what = `watching "${name}"`;
    const watcher = openWatcher(addon, { printer: name }, signal);
    try {
      const first = await watcher.next();
      if (first.type === 'aborted') return;
      if (first.type === 'notfound') throw noSuchPrinter(name);
      if (first.type === 'failed') throw failed(first, what);
      let polling = first.type === 'polling';
      if (polling) {
        const { cupsStatus, cupsMessage } = first.failure;
        log(`[DEBUG] watchPrinter: the scheduler refuses subscriptions (${cupsMessage || 'no reason given'}, IPP status 0x${cupsStatus.toString(16).padStart(4, '0')}): asking about "${name}" every ${POLL_MS} ms instead`);
      }
      let last = null;
      for (;;) {
        let printer;
        try {
          printer = await getPrinter(name);
        } catch (error) {
          if (signal && signal.aborted) return;
          throw error;
        }
        if (signal && signal.aborted) return;
        if (printer === null) throw noSuchPrinter(name);
        const now = JSON.stringify([printer.condition, printer.problems, printer.stateMessage]);
        if (now !== last) {
          last = now;
          yield printer;
          if (signal && signal.aborted) return;
        }
        if (polling) {
          await sleep(POLL_MS, signal);
          if (signal && signal.aborted) return;
          continue;
        }
        const event = await watcher.next();
        if (event.type === 'aborted') return;
        if (event.type === 'notfound') throw noSuchPrinter(name);
        if (event.type === 'failed') throw failed(event, what);
        // The queue was deleted (and maybe made again): look, then poll.
        if (event.type === 'closed') polling = true;
        watcher.drainChanges();
      }
    } finally {
      await watcher.stop();
    }
  }

  // For waitForJob: a job's watcher whose wait() resolves when the job may
  // have changed, or on abort. Until the scheduler has answered the
  // subscription, the first wait takes its answer: a subscription made after
  // the job was last read counts as a change, as one may have been missed.
  // Without subscriptions (refused, or the job unknown to them) wait() is a
  // plain pause.
  function jobChanges(jobId, signal) {
    const watcher = openWatcher(addon, { job: jobId }, signal);
    let subscribed = null;
    return {
      // `pause` without a subscription; with one, until an event or `left`.
      async wait(pause, left) {
        if (subscribed === null) {
          subscribed = (await watcher.next(left)).type === 'subscribed';
          return undefined;
        }
        if (!subscribed) return sleep(pause, signal);
        const event = await watcher.next(left);
        if (event.type !== 'changed' && event.type !== 'timeout') subscribed = false;
        watcher.drainChanges();
        return undefined;
      },
      stop: () => watcher.stop(),
    };
  }

  return { watchPrinter, jobChanges };
}

module.exports = { createWatch };
