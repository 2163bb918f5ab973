'use strict';
// The package entry: the add-on's two blocking functions as they are, their
// non-blocking twins (native too: see src/engine.h), rendering without
// printing, and the calls that report jobs, queues and reasons (lib/api.js).
//
// TRACE_LABEL_ADDON may name another build of the add-on (a sanitizer build,
// say) and TRACE_LABEL_RENDER_ADDON another build of the render module;
// otherwise lib/native-path.js picks a local build or this platform's prebuilt one.

const { nativePath } = require('./lib/native-path');
const { LANGUAGES } = require('./lib/languages');
const { toBMP, withImage } = require('./lib/images');
const { createApi } = require('./lib/api');

const addonPath = nativePath('trace_label');

const addon = require(addonPath);
// Loaded on first use, so a missing render module does not stop printing.
let renderModule = null;
// The render module has its own copy of the core and so its own logger: it
// gets the same one, when it is loaded and whenever the logger changes.
let logger;
function renderTraceCode(...args) {
  if (!renderModule) {
    renderModule = require(nativePath('trace_label_render'));
    renderModule.setLogger(logger);
  }
  if (args.length > 0) args[0] = withImage(args[0]);
  return renderModule.renderTraceCode(...args);
}

// Where the lines of every call go (see index.d.ts); the add-on checks the
// argument, so a refused one changes neither module.
function setLogger(fn) {
  addon.setLogger(fn);
  logger = fn;
  if (renderModule) renderModule.setLogger(fn);
}
// A line of the JavaScript side, where the add-on's lines go.
function log(line) {
  if (logger === undefined) process.stdout.write(`${line}\n`);
  else if (typeof logger === 'function') {
    try {
      logger(line);
    } catch {}
  }
}
const api = createApi(addon, renderTraceCode, log);

module.exports = {
  checkPrinterConnection: addon.checkPrinterConnection,
  printTraceCode: addon.printTraceCode,
  checkPrinterConnectionAsync: addon.checkPrinterConnectionAsync,
  printTraceCodeAsync: addon.printTraceCodeAsync,
  renderTraceCode,
  setLogger,
  setCredentials: addon.setCredentials,
  LANGUAGES,
  toBMP,
  ERROR_CODES: require('./lib/errors').ERROR_CODES,
  ...api,
};
