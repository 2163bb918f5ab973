/// <reference types="node" />
// Types for trace-label-printer.

/** A printer language, by the exact name the add-on expects. */
export type PrinterLanguage = 'TSPL' | 'ZPL' | 'ESC/POS' | 'CPCL' | 'PPLA' | 'DPL';

/** The printer languages, in the add-on's order. */
export declare const LANGUAGES: readonly PrinterLanguage[];

/** One label to print. Every property is required; none has a default. */
export interface TraceCodePrintOptions {
  /** Name of the CUPS queue (destination) to print on; not empty. */
  device: string;
  /** Printer language; any other text (including other letter case) makes the call answer false. */
  instruction: PrinterLanguage | (string & {});
  /** Cut after the label. */
  withCutter: boolean;
  /** Label width in millimetres, converted to a 32-bit integer (fractions dropped); not 0. */
  width: number;
  /** Label height in millimetres, converted to a 32-bit integer (fractions dropped); not 0. */
  height: number;
  /** The complete bytes of an 8-, 24- or 32-bit BMP file. */
  buffer: Buffer | Uint8Array;
}

/**
 * Asks CUPS whether a queue of exactly this name exists. Blocks the calling
 * thread while CUPS answers. null for a missing, non-string or empty name.
 */
export declare function checkPrinterConnection(name: string): boolean | null;
export declare function checkPrinterConnection(name?: unknown): boolean | null;

/**
 * Prints one label, blocking the calling thread for the whole job.
 * true: CUPS accepted the job. false: the language is unknown, the image could
 * not be prepared, or CUPS refused the job. undefined: the options were refused
 * (a property missing, of the wrong type, empty or 0).
 * @throws TypeError when options is undefined or null; whatever a getter throws.
 */
export declare function printTraceCode(options: TraceCodePrintOptions): boolean | undefined;
export declare function printTraceCode(options?: unknown): boolean | undefined;

/** checkPrinterConnection off the calling thread; resolves with what it returns. */
export declare function checkPrinterConnectionAsync(name: string): Promise<boolean | null>;
export declare function checkPrinterConnectionAsync(name?: unknown): Promise<boolean | null>;

/**
 * printTraceCode off the calling thread; resolves with what it returns and
 * rejects with what it throws. The options are read at call time; the
 * Buffer is read in place when the job gets to it, so leave it unchanged
 * until the Promise settles.
 */
export declare function printTraceCodeAsync(options: TraceCodePrintOptions): Promise<boolean | undefined>;
export declare function printTraceCodeAsync(options?: unknown): Promise<boolean | undefined>;

/**
 * The exact bytes printTraceCode would send for these options to a printer of
 * this resolution (default 203; exactly 300 gives 12 dots/mm, any other value
 * 8), without asking CUPS. false when the language is unknown or no image or
 * command could be made; undefined when the options or dpi are refused.
 */
export declare function renderTraceCode(options: TraceCodePrintOptions, dpi?: number): Buffer | false | undefined;
export declare function renderTraceCode(options?: unknown, dpi?: unknown): Buffer | false | undefined;
