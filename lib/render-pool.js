'use strict';
// The labels of a batch made on worker threads, as many as the machine has
// cores (at most 8), so that the JavaScript thread only hands labels out and
// sends what comes back. The threads start with the first batch that needs
// them and stay for the next; they keep the process alive only while a batch
// uses them.
const os = require('os');
const path = require('path');
const { Worker } = require('worker_threads');

const cores = typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;

class RenderPool {
  constructor(size = Math.max(1, Math.min(cores, 8))) {
    this.size = size;
    this.slots = [];
    this.users = 0;
    this.nextId = 0;
  }

  acquire() {
    if (this.users++ === 0) {
      while (this.slots.length < this.size) this.slots.push(this.spawn());
      for (const slot of this.slots) slot.worker.ref();
    }
  }

  release() {
    if (--this.users === 0) for (const slot of this.slots) slot.worker.unref();
  }

  spawn() {
    const worker = new Worker(path.join(__dirname, 'render-worker.js'));
    const slot = { worker, waiting: new Map() };
    worker.on('message', ({ id, bytes }) => {
      const resolve = slot.waiting.get(id);
      slot.waiting.delete(id);
      resolve(bytes === null ? null : Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength));
    });
    // A thread that failed: its labels go back to the caller, which makes them itself.
    const lost = () => {
      this.slots = this.slots.filter((s) => s !== slot);
      for (const resolve of slot.waiting.values()) resolve(undefined);
      slot.waiting.clear();
    };
    worker.on('error', lost);
    worker.on('exit', lost);
    return slot;
  }

  // renderTraceCode(label, dpi) on the least busy thread: its bytes; null
  // when it made none (the caller finds out why); undefined when the label
  // could not be handed over (a value that does not clone) or no thread is left.
  render(label, dpi) {
    let slot = null;
    for (const s of this.slots) if (slot === null || s.waiting.size < slot.waiting.size) slot = s;
    if (slot === null) return Promise.resolve(undefined);
    const id = this.nextId++;
    return new Promise((resolve) => {
      slot.waiting.set(id, resolve);
      try {
        slot.worker.postMessage({ id, label, dpi });
      } catch {
        slot.waiting.delete(id);
        resolve(undefined);
      }
    });
  }
}

module.exports = { RenderPool };
