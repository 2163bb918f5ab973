'use strict';
// The facts the native module holds, as it exports them: the printer
// languages it speaks, by the names it expects (exact case), and the bounds
// it holds requests to (LIMITS: the largest image side, the copies a job may
// ask for, the resolution it assumes when CUPS reports none, the job states
// that are final); the dot density a resolution gives. Each is read from the
// module on first use, so that `trace-label build` runs where it is missing.
// Beside them the file extension the command-line tool gives each stream.

let native;
const addon = () => (native ??= require(require('./native-path').nativePath()));

let languages;
let limits;

module.exports = {
  get LANGUAGES() {
    return (languages ??= Object.freeze([...addon()._facts.languages]));
  },
  get LIMITS() {
    const { languages: _, finalJobStates, ...rest } = addon()._facts;
    return (limits ??= Object.freeze({ ...rest, finalJobStates: Object.freeze([...finalJobStates]) }));
  },
  get DEFAULT_DPI() {
    return module.exports.LIMITS.defaultDpi;
  },
  dotsPerMm: (dpi) => addon()._dotsPerMm(dpi),
  EXTENSIONS: Object.freeze({
    TSPL: '.tspl',
    ZPL: '.zpl',
    'ESC/POS': '.escpos',
    CPCL: '.cpcl',
    PPLA: '.ppla',
    DPL: '.dpl',
  }),
};
