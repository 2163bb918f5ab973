'use strict';
// The package entry: the add-on's two blocking functions as they are, their
// non-blocking twins (native too: see src/engine.h), and rendering without
// printing.
//
// TRACE_LABEL_ADDON may name another build of the add-on (a sanitizer build,
// say) and TRACE_LABEL_RENDER_ADDON another build of the render module; the
// defaults are the ones `npm install` made.

const path = require('path');
const { LANGUAGES } = require('./lib/languages');

const release = path.join(__dirname, 'build', 'Release');
const addonPath = process.env.TRACE_LABEL_ADDON || path.join(release, 'trace_label.node');
const renderPath = process.env.TRACE_LABEL_RENDER_ADDON || path.join(release, 'trace_label_render.node');

const addon = require(addonPath);
// Loaded on first use, so a missing render module does not stop printing.
let renderModule = null;
function renderTraceCode(...args) {
  if (!renderModule) renderModule = require(renderPath);
  return renderModule.renderTraceCode(...args);
}

module.exports = {
  checkPrinterConnection: addon.checkPrinterConnection,
  printTraceCode: addon.printTraceCode,
  checkPrinterConnectionAsync: addon.checkPrinterConnectionAsync,
  printTraceCodeAsync: addon.printTraceCodeAsync,
  renderTraceCode,
  LANGUAGES,
};
