'use strict';
// One thread of lib/render-pool.js: renderTraceCode with a render module of
// its own, silent (its lines could reach no logger function here), for the
// labels the JavaScript thread hands over.
const { parentPort } = require('worker_threads');
const { nativePath } = require('./native-path');
const { withImage } = require('./images');

const render = require(nativePath('trace_label_render'));
render.setLogger(null);

parentPort.on('message', ({ id, label, dpi }) => {
  let bytes = null;
  try {
    bytes = render.renderTraceCode(withImage(label), dpi);
  } catch {}
  if (!(bytes instanceof Uint8Array)) return parentPort.postMessage({ id, bytes: null });
  // Moved, not copied, unless the Buffer shares its memory with others.
  const own = bytes.byteOffset === 0 && bytes.byteLength === bytes.buffer.byteLength;
  parentPort.postMessage({ id, bytes }, own ? [bytes.buffer] : []);
});
