'use strict';
// Body of the add-on worker: loads the add-on in this thread and answers each
// call in turn. The add-on logs through C stdio, straight to the process's
// standard output, so its lines are the same as from a call on the main thread.

const { parentPort, workerData } = require('worker_threads');

let addon = null;
let loadError = null;
try {
  addon = require(workerData.addonPath);
} catch (error) {
  loadError = error;
}

parentPort.on('message', ({ id, fn, args }) => {
  try {
    if (loadError) throw loadError;
    if (fn === 'printTraceCode') {
      // The image arrives as a transferred ArrayBuffer; wrap it without copying.
      const request = args[0];
      args = [{ ...request, buffer: Buffer.from(request.buffer, 0, request.buffer.byteLength) }];
    }
    const value = addon[fn](...args);
    parentPort.postMessage({ id, ok: true, value });
  } catch (error) {
    const name = error && error.name !== undefined ? String(error.name) : 'Error';
    const message = error && error.message !== undefined ? String(error.message) : String(error);
    parentPort.postMessage({ id, ok: false, error: { name, message } });
  }
});
