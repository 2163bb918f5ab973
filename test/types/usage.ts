// Compiled with tsc --strict --noEmit: what users write must type-check, and
// what the declarations rule out must not (each @ts-expect-error fails the
// build when the line it guards compiles after all).
import * as fs from 'fs';
import {
  ERROR_CODES,
  ImageInput,
  LANGUAGES,
  PrinterLanguage,
  TraceCodePrintOptions,
  TraceLabelError,
  TraceLabelErrorCode,
  JobInfo,
  PrinterInfo,
  SubmittedJob,
  SubmittedBatch,
  cancelJob,
  checkPrinterConnection,
  getJob,
  getPrinter,
  listPrinters,
  submitTraceCode,
  submitTraceCodes,
  waitForJob,
  watchPrinter,
  checkPrinterConnectionAsync,
  printTraceCode,
  printTraceCodeAsync,
  renderTraceCode,
  setLogger,
  setCredentials,
  toBMP,
} from 'trace-label-printer';

const options: TraceCodePrintOptions = {
  device: 'label',
  instruction: 'ZPL',
  withCutter: false,
  width: 50,
  height: 30,
  buffer: fs.readFileSync('label.bmp'),
};
const { buffer, ...label } = options;

const connected: boolean | null = checkPrinterConnection('label');
const printed: boolean | undefined = printTraceCode(options);
// Any ArrayBuffer view is bytes to the add-on.
const views = [new Uint8Array(54), new Uint8ClampedArray(54), new DataView(new ArrayBuffer(54)), new Float64Array(8)];
const fromViews = views.map((view) => printTraceCode({ ...options, buffer: view }));

// Everything toBMP takes, and canvas-style ImageData as it is.
const imageData = { width: 2, height: 1, data: new Uint8ClampedArray(8), colorSpace: 'srgb' as const };
const images: ImageInput[] = [
  fs.readFileSync('label.png'),
  new Uint8Array(8).buffer,
  imageData,
  { width: 2, height: 1, data: new Uint8Array(2), channels: 1 },
];
const bmp: Buffer = toBMP(images[0]);
const rendered = images.map((image) => renderTraceCode({ ...label, image }));

async function run(): Promise<void> {
  const ok: boolean | null = await checkPrinterConnectionAsync('label');
  const answer: boolean | undefined = await printTraceCodeAsync({ ...options, buffer: bmp });
  const packed: Buffer | false | undefined = renderTraceCode({ ...options, compress: true }, 300);
  if (packed) fs.writeFileSync('label.z64.zpl', packed);
  void ok;
  void answer;
}

const explain = (e: TraceLabelError): TraceLabelErrorCode | false => e.code === ERROR_CODES.UNREADABLE_IMAGE && e.code;

const first: PrinterLanguage = LANGUAGES[0];

const log: string[] = [];
setLogger((line) => log.push(line));
setLogger(console.error);
setLogger(null);
setLogger(undefined);
async function app(): Promise<void> {
  const job: SubmittedJob = await submitTraceCode({ ...label, image: imageData, copies: 2, dpi: 600, title: 'Batch 7' });
  const printers: PrinterInfo[] = await listPrinters();
  const one: PrinterInfo | null = await getPrinter(printers[0].name);
  const picker: string[] = printers.map((p) => `${p.description} (${p.location})`);
  void picker;
  if (one && one.condition === 'needs-attention') void one.problems.includes('media-empty');
  // @ts-expect-error not a condition
  if (one && one.condition === 'idle') void one;
  const state: JobInfo | null = await getJob(job.jobId);
  const done = await waitForJob(job.jobId, { timeout: 5000 });
  await waitForJob(job.jobId, { signal: AbortSignal.timeout(1000) });
  await getJob(job.jobId, { signal: new AbortController().signal });
  for await (const p of watchPrinter('label', { signal: AbortSignal.timeout(1000) })) void p.condition;
  // @ts-expect-error the signal is an AbortSignal
  watchPrinter('label', { signal: true });
  try {
    await submitTraceCode({ ...label, image: imageData, wait: { timeout: 10000 } });
    await submitTraceCode({ ...label, image: imageData, wait: true });
  } catch (e) {
    const error = e as TraceLabelError;
    if (error.code === ERROR_CODES.NOT_PRINTED && error.printer) void error.printer.condition;
  }
  // @ts-expect-error wait takes a timeout, not a number
  await submitTraceCode({ ...label, image: imageData, wait: 5000 });
  const cancelled: boolean = await cancelJob(job.jobId);
  const known = await getJob(job);
  const lost: boolean = known !== null && known.state === 'lost';
  const byRef = await waitForJob({ id: job.jobId, uuid: job.uuid });
  const safely: boolean = await cancelJob(job);
  void [lost, byRef && byRef.state, safely];
  try {
    await waitForJob(job.jobId);
  } catch (e) {
    const error = e as TraceLabelError;
    if (error.code === ERROR_CODES.SCHEDULER_TIMEOUT && error.job) void error.job.state;
  }
  await submitTraceCode({ ...options, width: 1200, allowLarge: true }).catch((e: TraceLabelError) => e.mm?.width);
  // @ts-expect-error allowLarge is true or false
  await submitTraceCode({ ...options, allowLarge: 1 });
  // @ts-expect-error a queue may be unknown
  const sure: PrinterInfo = await getPrinter('label');
  // @ts-expect-error copies is a number
  await submitTraceCode({ ...options, copies: '2' });
  const batch: SubmittedBatch = await submitTraceCodes([{ ...label, image: imageData, copies: 2 }, options], { title: 'Carton 9', compress: true });
  console.log(batch.labels);
  // @ts-expect-error a batch is 203, 300 or 600 dpi
  await submitTraceCodes([options], { dpi: 601 });
  // @ts-expect-error compress is true or false
  await submitTraceCode({ ...options, compress: 'yes' });
  // @ts-expect-error only 203, 300 and 600 dpi
  await submitTraceCode({ ...options, dpi: 200 });
  // @ts-expect-error an image or a buffer is required
  await submitTraceCode(label);
  // @ts-expect-error the timeout is a number of milliseconds
  await waitForJob(job.jobId, { timeout: '5s' });
  void [one, state, done, cancelled, sure];
}

// @ts-expect-error the answer may be null
const strict: boolean = checkPrinterConnection('label');
// @ts-expect-error the answer may be undefined
const strictPrint: boolean = printTraceCode(options);
// @ts-expect-error options are required
printTraceCode();
// @ts-expect-error withCutter is a boolean
printTraceCode({ ...options, withCutter: 1 });
// @ts-expect-error languages are named exactly
printTraceCode({ ...options, instruction: 'zpl' });
// @ts-expect-error the image is bytes, not a file name
printTraceCode({ ...options, buffer: 'label.bmp' });
// @ts-expect-error withCutter is required
printTraceCode({ device: 'label', instruction: 'ZPL', width: 50, height: 30, buffer });
// @ts-expect-error printTraceCode takes BMP bytes only, not an image
printTraceCode({ ...label, image: imageData });
// @ts-expect-error the async calls answer with promises
const notAwaited: boolean | undefined = printTraceCodeAsync(options);
// @ts-expect-error the resolution is a number
renderTraceCode(options, '300');
// @ts-expect-error a file name is not an image
renderTraceCode({ ...label, image: 'label.png' });
// @ts-expect-error two channels (gray and alpha) are not a pixel layout
toBMP({ width: 2, height: 1, data: new Uint8Array(4), channels: 2 });
// @ts-expect-error the logger gets text
setLogger((line: Buffer) => line.length);
// @ts-expect-error a stream is not a logger
setLogger(process.stderr);
// @ts-expect-error undefined restores standard output, but only when said
setLogger();
setCredentials({ user: 'clerk', password: 'secret' });
setCredentials(null);
// @ts-expect-error the password is needed too
setCredentials({ user: 'clerk' });
// @ts-expect-error null forgets them, but only when said
setCredentials();
// @ts-expect-error the list is read-only
LANGUAGES.push('PCL');

void [connected, printed, fromViews, rendered, run, app, explain, first, strict, strictPrint, notAwaited];
