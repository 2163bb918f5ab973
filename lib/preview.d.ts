// Pictures of what a printer will print.
import type { DecodedLabel } from './virtual-printer';

/** The gray of the frame drawn around the label. */
export declare const FRAME_GRAY: number;

/**
 * The dots as a gray PNG: black where a dot burns, white where none does,
 * `scale` x `scale` pixels a dot (default 1), in a gray frame of `frame`
 * pixels (default 2).
 * @throws RangeError for a scale below 1, a negative frame, or no dots.
 */
export declare function dotsToPng(
  label: Pick<DecodedLabel, 'width' | 'height' | 'dots'>,
  options?: { scale?: number; frame?: number },
): Buffer;
