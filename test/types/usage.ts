// Compiled with tsc --noEmit: what users write must type-check, and what the
// declarations rule out must not (each @ts-expect-error fails the build when
// the line it guards compiles after all).
import * as fs from 'fs';
import {
  LANGUAGES,
  PrinterLanguage,
  TraceCodePrintOptions,
  checkPrinterConnection,
  checkPrinterConnectionAsync,
  printTraceCode,
  printTraceCodeAsync,
  renderTraceCode,
} from 'trace-label-printer';

const options: TraceCodePrintOptions = {
  device: 'label',
  instruction: 'ZPL',
  withCutter: false,
  width: 50,
  height: 30,
  buffer: fs.readFileSync('label.bmp'),
};

const connected: boolean | null = checkPrinterConnection('label');
const printed: boolean | undefined = printTraceCode(options);
const fromBytes: boolean | undefined = printTraceCode({ ...options, buffer: new Uint8Array(54) });
const anyLanguage: TraceCodePrintOptions = { ...options, instruction: 'tspl' };

async function run(): Promise<void> {
  const ok: boolean | null = await checkPrinterConnectionAsync('label');
  const answer: boolean | undefined = await printTraceCodeAsync(options);
  const rendered = renderTraceCode(options, 300);
  if (rendered) {
    const bytes: Buffer = rendered;
    fs.writeFileSync('label.zpl', bytes);
  } else {
    const why: false | undefined = rendered;
    void why;
  }
  void ok;
  void answer;
}

const first: PrinterLanguage = LANGUAGES[0];

// @ts-expect-error the answer may be null
const strict: boolean = checkPrinterConnection('label');
// @ts-expect-error the answer may be undefined
const strictPrint: boolean = printTraceCode(options);
// @ts-expect-error width is a number of millimetres
const badWidth: TraceCodePrintOptions = { ...options, width: '50' };
// @ts-expect-error the image is a Buffer, not a file name
const badBuffer: TraceCodePrintOptions = { ...options, buffer: 'label.bmp' };
// @ts-expect-error withCutter is required
const noCutter: TraceCodePrintOptions = { device: 'label', instruction: 'ZPL', width: 50, height: 30, buffer: Buffer.alloc(0) };
// @ts-expect-error the async calls answer with promises
const notAwaited: boolean | undefined = printTraceCodeAsync(options);
// @ts-expect-error the list is read-only
LANGUAGES.push('PCL');

void [connected, printed, fromBytes, anyLanguage, run, first, strict, strictPrint, badWidth, badBuffer, noCutter, notAwaited];
