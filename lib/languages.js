'use strict';
// The printer languages the add-on speaks, by the names it expects (exact
// case), and the file extension the command-line tool gives each stream; the
// resolution the add-on assumes when CUPS reports none, and the dot density
// a resolution gives. The add-on's own copies are checked against these by
// test/js/round-trip.test.js (every language) and render.test.js (the default
// resolution).

const LANGUAGES = Object.freeze(['TSPL', 'ZPL', 'ESC/POS', 'CPCL', 'PPLA', 'DPL']);

const EXTENSIONS = Object.freeze({
  TSPL: '.tspl',
  ZPL: '.zpl',
  'ESC/POS': '.escpos',
  CPCL: '.cpcl',
  PPLA: '.ppla',
  DPL: '.dpl',
});

const DEFAULT_DPI = 203;

// The dot density of a resolution, as the add-on has it (loaded on first use,
// so that the language list needs no binary).
const dotsPerMm = (dpi) => require(require('./native-path').nativePath('trace_label'))._dotsPerMm(dpi);

module.exports = { LANGUAGES, EXTENSIONS, DEFAULT_DPI, dotsPerMm };
