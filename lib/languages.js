'use strict';
// The printer languages the add-on speaks, by the names it expects (exact
// case), and the file extension the command-line tool gives each stream.

const LANGUAGES = Object.freeze(['TSPL', 'ZPL', 'ESC/POS', 'CPCL', 'PPLA', 'DPL']);

const EXTENSIONS = Object.freeze({
  TSPL: '.tspl',
  ZPL: '.zpl',
  'ESC/POS': '.escpos',
  CPCL: '.cpcl',
  PPLA: '.ppla',
  DPL: '.dpl',
});

module.exports = { LANGUAGES, EXTENSIONS };
