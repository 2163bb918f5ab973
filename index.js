'use strict';
// Loads the native add-on. TRACE_LABEL_ADDON may name another build of it
// (a sanitizer build, say); the default is the one `npm install` made.
const path = require('path');

const addonPath = process.env.TRACE_LABEL_ADDON || path.join(__dirname, 'build', 'Release', 'trace_label.node');

module.exports = require(addonPath);
