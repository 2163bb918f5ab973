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

// Exactly 300 dpi prints 12 dots per millimetre; every other value 8.
const dotsPerMm = (dpi) => (dpi === 300 ? 12 : 8);

module.exports = { LANGUAGES, EXTENSIONS, DEFAULT_DPI, dotsPerMm };
