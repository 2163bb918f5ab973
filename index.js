'use strict';
// The package entry: the add-on's two blocking functions as they are, their
// non-blocking twins (native too: see src/engine.h), rendering without
// printing, and the calls that report jobs, queues and reasons (lib/api.js),
// all from one native module with one logger.
//
// TRACE_LABEL_ADDON may name another build of the add-on (a sanitizer build,
// say); otherwise lib/native-path.js picks a local build or this platform's
// prebuilt one.

const { nativePath } = require('./lib/native-path');
const { LANGUAGES } = require('./lib/languages');
const { toBMP, withImage } = require('./lib/images');
const { createApi } = require('./lib/api');

const addon = require(nativePath());

function renderTraceCode(...args) {
  if (args.length > 0) args[0] = withImage(args[0]);
  return addon.renderTraceCode(...args);
}

const api = createApi(addon, renderTraceCode);

module.exports = {
  checkPrinterConnection: addon.checkPrinterConnection,
  printTraceCode: addon.printTraceCode,
  checkPrinterConnectionAsync: addon.checkPrinterConnectionAsync,
  printTraceCodeAsync: addon.printTraceCodeAsync,
  renderTraceCode,
  setLogger: addon.setLogger,
  setCredentials: addon.setCredentials,
  LANGUAGES,
  toBMP,
  ERROR_CODES: require('./lib/errors').ERROR_CODES,
  ...api,
};
