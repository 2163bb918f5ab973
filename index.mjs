// The ES module entry: the CommonJS exports of index.js under the same names
// (one instance of the add-on and its worker for both kinds of importer).
// A new export of index.js gets its name added here too.
import addon from './index.js';

export const {
  checkPrinterConnection,
  checkPrinterConnectionAsync,
  printTraceCode,
  printTraceCodeAsync,
  renderTraceCode,
  setLogger,
  setCredentials,
  LANGUAGES,
  toBMP,
  ERROR_CODES,
  submitTraceCode,
  submitTraceCodes,
  listPrinters,
  getPrinter,
  getJob,
  cancelJob,
  waitForJob,
  watchPrinter,
} = addon;
export default addon;
