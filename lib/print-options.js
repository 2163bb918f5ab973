'use strict';
// Reads a printTraceCode options object on the calling thread the way the
// add-on does: the six properties in its order, each through [[Get]] (so
// getters and proxies run once), stopping at the first refusal. A getter that
// throws, or options that are undefined or null, throw here as they would
// there. What comes out is plain data, safe to hand to another thread.

const FIELDS = ['device', 'instruction', 'withCutter', 'width', 'height', 'buffer'];

// The add-on reads strings as C strings: the text ends at the first zero character.
const cString = (s) => {
  const zero = s.indexOf('\0');
  return zero < 0 ? s : s.slice(0, zero);
};

// Property value -> accepted value, or REFUSED. Mirrors the native readers:
// no conversion between types, int32 conversion for numbers, any
// ArrayBuffer view counts as a Buffer.
const REFUSED = Symbol('refused');
const accept = {
  device: (v) => (typeof v === 'string' && cString(v) !== '' ? v : REFUSED),
  instruction: (v) => (typeof v === 'string' && cString(v) !== '' ? v : REFUSED),
  withCutter: (v) => (typeof v === 'boolean' ? v : REFUSED),
  width: (v) => (typeof v === 'number' && (v | 0) !== 0 ? v : REFUSED),
  height: (v) => (typeof v === 'number' && (v | 0) !== 0 ? v : REFUSED),
  buffer: (v) => (ArrayBuffer.isView(v) ? v : REFUSED),
};

// Returns null for a request the add-on would answer with undefined, otherwise
// { request, transfer }: the request with its image copied once into a fresh
// ArrayBuffer (the caller's Buffer is neither shared nor detached), and the
// list to transfer that copy with.
function readPrintRequest(options) {
  if (options === undefined || options === null) {
    throw new TypeError('Cannot convert undefined or null to object');
  }
  const request = {};
  for (const field of FIELDS) {
    const value = accept[field](options[field]);
    if (value === REFUSED) return null;
    request[field] = value;
  }
  const view = request.buffer;
  const copy = new Uint8Array(view.byteLength);
  copy.set(new Uint8Array(view.buffer, view.byteOffset, view.byteLength));
  request.buffer = copy.buffer;
  return { request, transfer: [copy.buffer] };
}

// A name checkPrinterConnection would answer with null.
const refusedPrinterName = (args) => args.length === 0 || typeof args[0] !== 'string' || cString(args[0]) === '';

module.exports = { readPrintRequest, refusedPrinterName, FIELDS };
