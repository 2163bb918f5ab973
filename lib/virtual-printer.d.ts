// The virtual printer: a command stream read back into the label it prints.
import type { PrinterLanguage } from '../index';

/** What the stream's commands said besides the image; the fields beyond these depend on the language. */
export interface DecodedCommands {
  /** The stream asks for a cut after the label. */
  cutter: boolean;
  /** Copies the stream prints (TSPL: null when it gives none). */
  quantity: number | null;
  [field: string]: unknown;
}

/** A decoded label: width x height dots, row-major from the top row, 1 for a printed dot. */
export interface DecodedLabel {
  language: PrinterLanguage;
  width: number;
  height: number;
  dots: Uint8Array;
  commands: DecodedCommands;
  /** PPLA and DPL: the stored BMP and its name. */
  image?: Buffer;
  imageName?: string;
}

/** The Error a stream that does not parse is refused with; its message names the language and the byte. */
export declare class StreamError extends Error {}

/**
 * Decodes a command stream strictly. TSPL gives its size in millimetres only:
 * `dotsPerMm` (8 or 12) crops its bitmap to the label width.
 * @throws StreamError when the stream does not parse; Error for an unknown language.
 */
export declare function decode(
  language: PrinterLanguage,
  bytes: Uint8Array,
  options?: { dotsPerMm?: number },
): DecodedLabel;

/** The language a stream is written in, from its first bytes; null when none fits. */
export declare function detectLanguage(bytes: Uint8Array): PrinterLanguage | null;

export declare const LANGUAGES: readonly PrinterLanguage[];
