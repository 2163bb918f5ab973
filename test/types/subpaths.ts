// The package's subpaths, imported by name as an app does: resolved through
// package.json "exports" (node16 and bundler resolution), with their types.
import * as fs from 'fs';
import { renderTraceCode, type PrinterLanguage } from 'trace-label-printer';
import { decode, detectLanguage, StreamError, type DecodedLabel } from 'trace-label-printer/lib/virtual-printer';
import { dotsToPng, FRAME_GRAY } from 'trace-label-printer/lib/preview';

const bmp = fs.readFileSync('label.bmp');
const stream = renderTraceCode({ device: 'x', instruction: 'ZPL', withCutter: false, width: 25, height: 25, buffer: bmp });
if (Buffer.isBuffer(stream)) {
  const language: PrinterLanguage | null = detectLanguage(stream);
  const label: DecodedLabel = decode(language ?? 'ZPL', stream, { dotsPerMm: 8 });
  const dark: number = label.dots.reduce((n, d) => n + d, 0);
  const cut: boolean = label.commands.cutter;
  const png: Buffer = dotsToPng(label, { scale: 2, frame: 0 });
  void [dark, cut, png, FRAME_GRAY];
}
try {
  decode('ZPL', Buffer.from('^XA'));
} catch (error) {
  if (error instanceof StreamError) void error.message;
}
// @ts-expect-error languages are named exactly
decode('zpl', Buffer.alloc(0));
// @ts-expect-error the stream is bytes, not text
decode('ZPL', '^XA^XZ');
// @ts-expect-error the scale is a number
dotsToPng({ width: 1, height: 1, dots: new Uint8Array(1) }, { scale: '2' });
