'use strict';
// The package entry: the add-on's two blocking functions as they are, their
// non-blocking twins, and rendering without printing.
//
// TRACE_LABEL_ADDON may name another build of the add-on (a sanitizer build,
// say) and TRACE_LABEL_RENDER_ADDON another build of the render module;
// otherwise lib/native-path.js picks a local build or this platform's prebuilt one.

const { nativePath } = require('./lib/native-path');
const { NativeWorker } = require('./lib/native-worker');
const { readPrintRequest, refusedPrinterName } = require('./lib/print-options');
const { LANGUAGES } = require('./lib/languages');
const { toBMP, withImage } = require('./lib/images');

const addonPath = nativePath('trace_label');

const addon = require(addonPath);
const worker = new NativeWorker(addonPath);


// The options are read here, at call time, exactly as printTraceCode reads
// them (same order, stop at the first refusal, a throwing getter rejects);
// only an accepted request goes to the worker, with its image copied once.
// Refusals settle at once; accepted jobs run and settle in call order.
function printTraceCodeAsync(...args) {
  try {
    if (args.length === 0) return Promise.resolve(undefined);
    const read = readPrintRequest(args[0]);
    if (read === null) return Promise.resolve(undefined);
    return worker.call('printTraceCode', [read.request], read.transfer);
  } catch (error) {
    return Promise.reject(error);
  }
}

function checkPrinterConnectionAsync(...args) {
  if (refusedPrinterName(args)) return Promise.resolve(null);
  return worker.call('checkPrinterConnection', [args[0]]);
}

// Loaded on first use, so a missing render module does not stop printing.
let renderModule = null;
function renderTraceCode(...args) {
  if (!renderModule) renderModule = require(nativePath('trace_label_render'));
  if (args.length > 0) args[0] = withImage(args[0]);
  return renderModule.renderTraceCode(...args);
}

module.exports = {
  checkPrinterConnection: addon.checkPrinterConnection,
  printTraceCode: addon.printTraceCode,
  checkPrinterConnectionAsync,
  printTraceCodeAsync,
  renderTraceCode,
  LANGUAGES,
  toBMP,
  ERROR_CODES: require('./lib/errors').ERROR_CODES,
};
