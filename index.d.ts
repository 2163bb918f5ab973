/// <reference types="node" />
// Types for trace-label-printer.

/** A printer language, by the exact name the add-on expects. */
export type PrinterLanguage = 'TSPL' | 'ZPL' | 'ESC/POS' | 'CPCL' | 'PPLA' | 'DPL';

/** The printer languages, in the add-on's order. */
export declare const LANGUAGES: readonly PrinterLanguage[];

/**
 * Bytes as the add-on takes them: a Buffer, or any other typed array or
 * DataView (the bytes it views, not its elements).
 */
export type Bytes = ArrayBufferView;

/**
 * Raw pixels, top row first, `channels` bytes each: 1 gray, 3 RGB, 4 RGBA
 * (the default, so a canvas ImageData works as it is).
 */
export interface RawPixels {
  width: number;
  height: number;
  data: Uint8Array | Uint8ClampedArray;
  channels?: 1 | 3 | 4;
}

/** What toBMP takes: the bytes of a PNG or BMP file, or raw pixels. */
export type ImageInput = Bytes | ArrayBuffer | RawPixels;

/** One label to print. Every property is required; none has a default. */
export interface TraceCodePrintOptions {
  /** Name of the CUPS queue (destination) to print on; not empty. */
  device: string;
  /** Printer language, by its exact name (the add-on answers false for any other text). */
  instruction: PrinterLanguage;
  /** Cut after the label. */
  withCutter: boolean;
  /** Label width in millimetres, converted to a 32-bit integer (fractions dropped); not 0. */
  width: number;
  /** Label height in millimetres, converted to a 32-bit integer (fractions dropped); not 0. */
  height: number;
  /** The complete bytes of an 8-, 24- or 32-bit bottom-up BMP file (toBMP makes one). */
  buffer: Bytes;
}

/** renderTraceCode's options with an image of any kind toBMP takes in place of `buffer`. */
export interface TraceCodeImageOptions extends Omit<TraceCodePrintOptions, 'buffer'> {
  buffer?: undefined;
  image: ImageInput;
}

/** The `code` of every Error the Promise-based calls and toBMP throw or reject with. */
export declare const ERROR_CODES: {
  readonly INVALID_OPTIONS: 'ERR_INVALID_OPTIONS';
  readonly UNKNOWN_LANGUAGE: 'ERR_UNKNOWN_LANGUAGE';
  readonly NO_SUCH_PRINTER: 'ERR_NO_SUCH_PRINTER';
  readonly UNREADABLE_IMAGE: 'ERR_UNREADABLE_IMAGE';
  readonly LABEL_TOO_LARGE: 'ERR_LABEL_TOO_LARGE';
  readonly JOB_FILE: 'ERR_JOB_FILE';
  readonly SCHEDULER_REFUSED: 'ERR_SCHEDULER_REFUSED';
  readonly SCHEDULER_TIMEOUT: 'ERR_SCHEDULER_TIMEOUT';
  readonly NOT_PRINTED: 'ERR_NOT_PRINTED';
  readonly AUTHENTICATION: 'ERR_AUTHENTICATION';
};

export type TraceLabelErrorCode = (typeof ERROR_CODES)[keyof typeof ERROR_CODES];

/** An Error of this package: `code` says what happened, the message says what to do. */
export interface TraceLabelError extends Error {
  code: TraceLabelErrorCode;
  /** For ERR_SCHEDULER_REFUSED: CUPS's status code and text. */
  cupsStatus?: number;
  cupsMessage?: string;
  /** For ERR_INVALID_OPTIONS: the option at fault. */
  property?: string;
  /** For waitForJob's ERR_SCHEDULER_TIMEOUT and ERR_NOT_PRINTED: the job as last seen. */
  job?: JobInfo;
  /** For ERR_LABEL_TOO_LARGE: the size in millimetres over the 1000 mm guard, or the size in dots. */
  mm?: { width: number; height: number };
  dots?: { width: number; height: number };
  /** For ERR_NOT_PRINTED: the queue when the wait ended (its condition and problems say why); null if gone. */
  printer?: PrinterInfo | null;
}

/**
 * A PNG (any colour type and bit depth, interlaced or not), a BMP (1-, 4-, 8-,
 * 16-, 24- or 32-bit, RLE8/RLE4, top-down or bottom-up) or raw pixels as a
 * 24-bit bottom-up BMP that printTraceCode reads, alpha laid over white; a
 * 24-bit or gray 8-bit bottom-up BMP comes back as a copy of itself.
 * @throws TraceLabelError ERR_UNREADABLE_IMAGE, with the reason, for a damaged
 * or truncated file, a side over 10000 pixels, or data of the wrong length.
 */
export declare function toBMP(input: ImageInput): Buffer;

/**
 * Asks CUPS whether a queue of exactly this name exists. Blocks the calling
 * thread while CUPS answers. null for a missing, non-string or empty name.
 */
export declare function checkPrinterConnection(name: string): boolean | null;

/**
 * Prints one label, blocking the calling thread for the whole job.
 * true: CUPS accepted the job. false: the language is unknown, the image could
 * not be prepared, or CUPS refused the job. undefined: the options were refused
 * (a property missing, of the wrong type, empty or 0).
 * @throws TypeError when options is undefined or null; whatever a getter throws.
 */
export declare function printTraceCode(options: TraceCodePrintOptions): boolean | undefined;

/** checkPrinterConnection off the calling thread; resolves with what it returns. */
export declare function checkPrinterConnectionAsync(name: string): Promise<boolean | null>;

/**
 * printTraceCode off the calling thread; resolves with what it returns and
 * rejects with what it throws. The options are read at call time; the
 * Buffer is read in place when the job gets to it, so leave it unchanged
 * until the Promise settles.
 */
export declare function printTraceCodeAsync(options: TraceCodePrintOptions): Promise<boolean | undefined>;

/**
 * The exact bytes printTraceCode would send for these options to a printer of
 * this resolution (default 203; exactly 300 gives 12 dots/mm, exactly 600
 * gives 24, any other value 8), without asking CUPS. false when the language is unknown or no image or
 * command could be made; undefined when the options or dpi are refused.
 * Without `buffer`, `image` is made a BMP by toBMP.
 * @throws TraceLabelError ERR_UNREADABLE_IMAGE when `image` cannot be read.
 */
export declare function renderTraceCode(
  options: (TraceCodePrintOptions | TraceCodeImageOptions) & CompressOption,
  dpi?: number,
): Buffer | false | undefined;

/** For renderTraceCode, submitTraceCode and submitTraceCodes. */
export interface CompressOption {
  /**
   * ZPL only: true writes each graphic field as :Z64: (zlib, base64, CRC) or
   * as run-length hex, whichever is shorter, in the same fields; the same dots.
   * The other languages ignore it. Default false: the bytes of the print path.
   */
  compress?: boolean;
}

/** Gets one line of the module's log, as text without its line end. */
export type Logger = (line: string) => void;

/**
 * Where the module's log lines go, for every call (blocking, async and
 * render) in this thread (a worker thread has its own logger). undefined,
 * the default: standard output, exactly as without setLogger. A function:
 * it gets each line instead, the same text in the same order, without the
 * line end, on this thread: a blocking call's lines just before it returns, an async call's before its Promise settles, to the
 * logger set when the call was made. null: no lines. An exception the
 * logger throws is dropped and changes no answer.
 * @throws TypeError (code ERR_INVALID_ARG_TYPE) for anything else.
 */
export declare function setLogger(logger: Logger | null | undefined): void;

/** The user name and password for a CUPS server that asks for them (Basic or Digest). */
export interface Credentials {
  user: string;
  password: string;
}

/**
 * The credentials every later call in this thread (a worker thread has its
 * own) gives a CUPS server that asks for a password; an async call uses those
 * set when it was made. null: none, and a server that asks is refused at
 * once (ERR_AUTHENTICATION; the blocking calls answer false). No call ever
 * prompts on a terminal, and the credentials never reach a log line.
 * @throws TypeError (code ERR_INVALID_ARG_TYPE) unless both are strings of
 * at most 255 bytes without NUL and the user is not empty, or null.
 */
export declare function setCredentials(credentials: Credentials | null): void;
/** submitTraceCode's options: printTraceCode's, with `image` allowed in place of `buffer`, and the job's own. */
export type SubmitOptions = (TraceCodePrintOptions | TraceCodeImageOptions) & {
  /** Copies of the label, 1 to 999 (the job's CUPS copies attribute); by default the queue's (1). */
  copies?: number;
  /** The printer's resolution: 203, 300 or 600 (8, 12 or 24 dots per mm). Given, CUPS is not asked for it. */
  dpi?: 203 | 300 | 600;
  /**
   * Resolve only once the job is completed (the device took it): true waits up
   * to 60000 ms, { timeout } as long as given. Rejects with ERR_NOT_PRINTED,
   * with `job` and `printer`, when the job is canceled or aborted, or still
   * not completed when the time is up.
   */
  wait?: boolean | { timeout?: number };
  /**
   * The job's title in CUPS; not empty, at most 255 bytes, no NUL. Default: the
   * label's language, size in whole mm and a short id of its own, as
   * "ZPL 50x30mm 3f2a9c", so that jobs tell apart in lpstat.
   */
  title?: string;
  /**
   * true lets `width` or `height` be over 1000 mm; without it such a label
   * rejects with ERR_LABEL_TOO_LARGE before any image is made.
   */
  allowLarge?: boolean;
} & CompressOption;

/** A job CUPS accepted. */
export interface SubmittedJob {
  jobId: number;
  /** The job's job-uuid: pass the job itself to getJob, waitForJob and cancelJob to tell it from a later job of the same id. */
  uuid: string;
  printer: string;
  language: PrinterLanguage;
  /** The resolution the label was made for. */
  dpi: number;
  /** The label's size in printer dots. */
  dots: { width: number; height: number };
  /** Bytes of the command stream sent. */
  bytes: number;
}

/**
 * Prints one label and says what happened: resolves when CUPS accepted the
 * job, with its id; rejects with a TraceLabelError whose code says why not.
 * Logs the lines printTraceCode logs.
 */
export declare function submitTraceCode(options: SubmitOptions): Promise<SubmittedJob>;

/** One label of a batch: submitTraceCode's options for that label, with its own copies. */
export type BatchLabel = (TraceCodePrintOptions | TraceCodeImageOptions) & CompressOption & {
  /** The label's stream this many times in a row, 1 to 999; default 1. */
  copies?: number;
};

/** The batch's own options. */
export interface BatchOptions extends CompressOption {
  /** Copies of the whole job (its CUPS copies attribute), 1 to 999. */
  copies?: number;
  /** 203, 300 or 600 (8, 12 or 24 dots per mm); given, CUPS is not asked for the queue's resolution. */
  dpi?: 203 | 300 | 600;
  /** The job's title; default the language, the size when all labels share one, the count and a short id: "ZPL 50x30mm 12 labels 3f2a9c" (an array or Set), else the language and a short id: "ZPL batch 3f2a9c". */
  title?: string;
  /** Resolve only once the whole job is completed, as submitTraceCode's `wait`. */
  wait?: boolean | { timeout?: number };
  /**
   * Called at most every 50 ms while the batch is made and sent, and once at
   * the end (then prepared and sent are the number of labels). `total` is the
   * number of labels of an array or Set, null for any other iterable.
   */
  onProgress?: (progress: BatchProgress) => void;
  /**
   * Aborted while the batch is being sent: the job is cancelled (nothing of
   * it prints) and the call rejects with the signal's reason.
   */
  signal?: AbortSignal;
}

/** How far a batch is: labels made, labels handed to the scheduler, of how many. */
export interface BatchProgress {
  prepared: number;
  sent: number;
  total: number | null;
}

/** A batch CUPS accepted as one job. */
export interface SubmittedBatch extends Omit<SubmittedJob, 'dots'> {
  /** How many labels the job holds. */
  labels: number;
}

/**
 * Many labels for one queue in one language (every label's `device` and
 * `instruction` are the first's) as one CUPS job: each label's stream exactly
 * as renderTraceCode makes it, in order. The labels are made on the add-on's
 * threads while the job is sent, so memory stays bounded whatever their
 * number; an iterable (a generator, say, or an async one) is read as the job goes. The options
 * of every label of an array or Set are checked before anything is sent; a
 * label that cannot be made cancels the job and rejects the batch with its
 * Error, whose `index` names the label.
 */
export declare function submitTraceCodes(labels: Iterable<BatchLabel> | AsyncIterable<BatchLabel>, options?: BatchOptions): Promise<SubmittedBatch>;

/** A CUPS queue as the scheduler describes it. */
export interface PrinterInfo {
  /** As the scheduler spells it. */
  name: string;
  state: 'idle' | 'processing' | 'stopped' | 'unknown';
  /** IPP keywords, e.g. "paused", "media-empty-error"; empty when there are none. */
  stateReasons: string[];
  /** A person's text, e.g. the reason given to cupsdisable -r; may be empty. */
  stateMessage: string;
  acceptingJobs: boolean;
  /** The queue lp prints to without -d. */
  isDefault: boolean;
  /** The resolution printTraceCode would take for this queue (203 when none is found). */
  dpi: number;
  deviceUri: string;
  makeAndModel: string;
  /** printer-info: the name a person gave the queue (lpadmin -D), for a printer picker; CUPS gives a queue without one its name. */
  description: string;
  /** printer-location (lpadmin -L); may be empty. */
  location: string;
  /**
   * Whether the device can print, in plain words: 'stopped' when the queue is
   * stopped; 'offline' when the device cannot be reached; 'needs-attention'
   * when a person must act (see `problems`); else 'printing' or 'ready'.
   */
  condition: PrinterCondition;
  /**
   * The reasons that need a person or mean the device cannot be reached, without
   * their -error/-warning/-report suffix: "media-empty", "media-jam", "door-open",
   * "paused", "offline" (also when the backend cannot reach the device), ...
   */
  problems: string[];
}

export type PrinterCondition = 'ready' | 'printing' | 'needs-attention' | 'offline' | 'stopped';

export type JobState =
  | 'pending'
  | 'held'
  | 'processing'
  | 'stopped'
  | 'canceled'
  | 'aborted'
  | 'completed'
  | 'unknown'
  /** waitForJob only: the scheduler keeps no job history and dropped the job after it ended. */
  | 'forgotten';

/** A CUPS job. */
export interface JobInfo {
  id: number;
  /** job-uuid; ids start again at 1 when a scheduler loses its job history. */
  uuid: string;
  printer: string;
  state: JobState;
  /** IPP keywords; empty when there are none. */
  stateReasons: string[];
  title: string;
  createdAt: Date | null;
  /** Set once the job has ended. */
  completedAt: Date | null;
}

/** Every CUPS queue, in the scheduler's order. */
export declare function listPrinters(): Promise<PrinterInfo[]>;
/** One queue (the scheduler matches the name without case); null when there is none. */
export declare function getPrinter(name: string): Promise<PrinterInfo | null>;
/** A job asked about with its uuid that the scheduler no longer holds, or whose id now names another job. */
export interface LostJob {
  id: number;
  uuid: string;
  state: 'lost';
}

/** A job id, or the job itself (what submitTraceCode resolved, or { id, uuid }). */
export type JobRef = number | { id: number; uuid?: string | null } | { jobId: number; uuid?: string | null };

/** One job; null when the scheduler does not know it; LostJob for a job given with its uuid that is gone or replaced. */
export declare function getJob(job: number, options?: { signal?: AbortSignal }): Promise<JobInfo | null>;
export declare function getJob(job: JobRef, options?: { signal?: AbortSignal }): Promise<JobInfo | LostJob | null>;
/** true when the job was cancelled; false when it had ended already, is unknown, or is lost (nothing is cancelled then). */
export declare function cancelJob(job: JobRef): Promise<boolean>;
/**
 * Resolves when the job is completed, canceled or aborted (or 'forgotten');
 * null for a job the scheduler never knew. Rejects with ERR_SCHEDULER_TIMEOUT
 * after `timeout` ms (default 60000; Infinity waits for ever). An aborted
 * `signal` ends the wait, rejecting with the signal's reason.
 */
export declare function waitForJob(job: number, options?: { timeout?: number; signal?: AbortSignal }): Promise<JobInfo | null>;
export declare function waitForJob(job: JobRef, options?: { timeout?: number; signal?: AbortSignal }): Promise<JobInfo | LostJob | null>;
/**
 * The queue now, then again each time its `condition`, `problems` or
 * `stateMessage` change, fed by the scheduler's events (an IPP subscription
 * on a thread and connection of the watcher's own). Aborting `signal`, or
 * leaving the loop, ends the iteration and cancels the subscription. A queue
 * that does not exist rejects with ERR_NO_SUCH_PRINTER; where the scheduler
 * refuses subscriptions the watcher asks once a second instead, and says so
 * once through the logger.
 */
export declare function watchPrinter(name: string, options?: { signal?: AbortSignal }): AsyncIterableIterator<PrinterInfo>;
