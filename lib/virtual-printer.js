'use strict';
// The virtual printer: reads a command stream of any of the six languages
// back into the label it prints. Decoders are strict: a stream that does not
// parse (wrong header, unknown command, truncated raster, counts that
// disagree, trailing bytes) is refused with an Error naming the language.
//
// decode(language, bytes, { dotsPerMm }) returns
//   { language, width, height, dots, commands, image? }
// where dots is a Uint8Array of width x height, row-major from the top row,
// 1 for a printed (dark) dot. image is the stored BMP of PPLA and DPL.
// TSPL states its label size in millimetres only: give dotsPerMm (8 or 12)
// to crop its bitmap to the label width; otherwise the bitmap's own width is used.

const STX = 0x02;
const { LANGUAGES } = require('./languages');

class StreamError extends Error {}

class Reader {
  constructor(language, bytes) {
    if (!(bytes instanceof Uint8Array)) throw new TypeError('decode: expected a Buffer or Uint8Array');
    this.language = language;
    this.buf = Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    this.pos = 0;
  }

  fail(message) {
    throw new StreamError(`${this.language}: ${message} (at byte ${this.pos})`);
  }

  atEnd() {
    return this.pos >= this.buf.length;
  }

  // Latin-1 text of the bytes from `start`, cut short at the end of the stream.
  text(start, end) {
    return this.buf.toString('latin1', start, Math.min(end, this.buf.length));
  }

  startsWith(text) {
    return this.text(this.pos, this.pos + text.length) === text;
  }

  take(count, what) {
    if (this.buf.length - this.pos < count) {
      this.fail(`${what} truncated: ${count} bytes announced, ${this.buf.length - this.pos} left`);
    }
    const out = this.buf.subarray(this.pos, this.pos + count);
    this.pos += count;
    return out;
  }

  byte(what) {
    return this.take(1, what)[0];
  }

  // Text up to the line end, which is consumed. A bare LF inside a CR-ended
  // line (or a CR inside a CR LF one) stays in the text and so fails to match.
  line(eol) {
    const at = this.buf.indexOf(eol, this.pos, 'latin1');
    if (at < 0) this.fail(`line without its ${eol === '\r' ? 'CR' : 'CR LF'} end`);
    const text = this.text(this.pos, at);
    this.pos = at + eol.length;
    return text;
  }

  expect(text, what) {
    if (!this.startsWith(text)) this.fail(`expected ${what}`);
    this.pos += text.length;
  }
}

// Rows of `rowBytes`, top row first, most significant bit leftmost. Bits past
// `width` are filler and must be 0.
function unpackRaster(r, raster, rowBytes, rows, width, printedBit) {
  if (width > rowBytes * 8) r.fail(`label width ${width} dots exceeds ${rowBytes} bytes per row`);
  const dots = new Uint8Array(width * rows);
  for (let y = 0; y < rows; y++) {
    for (let x = 0; x < rowBytes * 8; x++) {
      const bit = (raster[y * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
      if (x < width) dots[y * width + x] = bit === printedBit ? 1 : 0;
      else if (bit) r.fail(`filler bit set past the label width in row ${y}`);
    }
  }
  return dots;
}

function hexToBytes(r, hex, count) {
  if (hex.length !== 2 * count) r.fail(`hex data has ${hex.length} digits, ${2 * count} expected`);
  if (!/^[0-9A-F]*$/.test(hex)) r.fail('hex data holds characters other than 0-9 and A-F');
  return Buffer.from(hex, 'hex');
}

// CRC-16/XMODEM (polynomial 0x1021, start 0) of a text's Latin-1 bytes.
function crc16(text) {
  let crc = 0;
  for (let i = 0; i < text.length; i++) {
    crc ^= text.charCodeAt(i) << 8;
    for (let bit = 0; bit < 8; bit++) crc = crc & 0x8000 ? ((crc << 1) ^ 0x1021) & 0xffff : (crc << 1) & 0xffff;
  }
  return crc;
}

// ZPL's :Z64: graphic data: a zlib stream in base64, then its CRC.
function z64ToBytes(r, data, count) {
  const m = /^:Z64:([A-Za-z0-9+/]*={0,2}):([0-9A-Fa-f]{4})$/.exec(data);
  if (!m) r.fail('malformed :Z64: data');
  const crc = int16(m[2]);
  if (crc16(m[1]) !== crc) r.fail(`:Z64: CRC ${m[2]} does not match the data's ${crc16(m[1]).toString(16).toUpperCase().padStart(4, '0')}`);
  let raster;
  try {
    raster = require('zlib').inflateSync(Buffer.from(m[1], 'base64'));
  } catch (error) {
    r.fail(`:Z64: data does not inflate (${error.message})`);
  }
  if (raster.length !== count) r.fail(`:Z64: data inflates to ${raster.length} bytes, ${count} expected`);
  return raster;
}

// ZPL's run-length hex: G..Y repeat the next digit 1 to 19 times and g..z 20 to
// 400 times (summed), "," fills the row with 0 digits and ":" repeats the
// row before. "!" (a fill of 1s) is refused: readers disagree on its digit.
function runLengthToBytes(r, data, count, rowBytes) {
  const digits = 2 * rowBytes;
  const rows = [];
  let row = '';
  let repeat = 0;
  const endRow = (text) => {
    if (repeat) r.fail('run-length count before a row end');
    rows.push(text);
    row = '';
  };
  for (const c of data) {
    if (c >= 'G' && c <= 'Y') repeat += c.charCodeAt(0) - 70;
    else if (c >= 'g' && c <= 'z') repeat += 20 * (c.charCodeAt(0) - 102);
    else if (/[0-9A-F]/.test(c)) {
      row += c.repeat(repeat || 1);
      repeat = 0;
      if (row.length > digits) r.fail(`run-length row of ${row.length} digits, ${digits} expected`);
      if (row.length === digits) endRow(row);
    } else if (c === ',') endRow(row.padEnd(digits, '0'));
    else if (c === ':') {
      if (row.length || rows.length === 0) r.fail('":" inside a row or before the first');
      endRow(rows.at(-1));
    } else r.fail(`run-length data holds ${JSON.stringify(c)}`);
  }
  if (repeat || row.length) r.fail('run-length data ends inside a row');
  if (rows.length * rowBytes !== count) r.fail(`run-length data has ${rows.length} rows, ${count / rowBytes} expected`);
  return Buffer.from(rows.join(''), 'hex');
}

// A ^GFA field's data in any of its three forms.
function graphicToBytes(r, data, count, rowBytes) {
  if (data.startsWith(':Z64:')) return z64ToBytes(r, data, count);
  if (/^[0-9A-F]*$/.test(data)) return hexToBytes(r, data, count);
  return runLengthToBytes(r, data, count, rowBytes);
}

const int = (text) => Number.parseInt(text, 10);
const int16 = (text) => Number.parseInt(text, 16);
const rowBytesFor = (width) => Math.ceil(width / 8);

function decodeTspl(bytes, { dotsPerMm } = {}) {
  const r = new Reader('TSPL', bytes);
  const commands = { cutter: false, tear: false, widthMm: null, heightMm: null, quantity: null };
  let bitmap = null;
  while (!r.atEnd()) {
    if (commands.quantity !== null) r.fail('data after PRINT');
    if (r.startsWith('BITMAP ')) {
      if (bitmap) r.fail('second BITMAP');
      const m = /^BITMAP (\d+),(\d+),(\d+),(\d+),(\d+),/.exec(r.text(r.pos, r.pos + 64));
      if (!m) r.fail('malformed BITMAP header');
      r.pos += m[0].length;
      const [x, y, rowBytes, rows, mode] = m.slice(1).map(int);
      if (x !== 0 || y !== 0) r.fail(`BITMAP at ${x},${y}; only the origin is supported`);
      if (mode !== 0) r.fail(`BITMAP mode ${mode}; only 0 (overwrite) is supported`);
      bitmap = { rowBytes, rows, raster: r.take(rowBytes * rows, 'BITMAP raster') };
      r.expect('\r\n', 'CR LF after the BITMAP raster');
      continue;
    }
    const line = r.line('\r\n');
    let m;
    if ((m = /^SIZE (\d+) mm, (\d+) mm$/.exec(line))) {
      commands.widthMm = int(m[1]);
      commands.heightMm = int(m[2]);
    } else if (line === 'CLS' || line === 'GAP 0,0' || line === 'OFFSET 0' || line === 'DIRECTION 1') {
      // Defaults this decoder assumes; any other value is refused below.
    } else if (line === 'SET TEAR ON') {
      commands.tear = true;
    } else if (line === 'SET CUTTER 1') {
      commands.cutter = true;
    } else if ((m = /^PRINT (\d+)$/.exec(line))) {
      commands.quantity = int(m[1]);
    } else {
      r.fail(`unknown command ${JSON.stringify(line)}`);
    }
  }
  if (commands.widthMm === null) r.fail('no SIZE');
  if (!bitmap) r.fail('no BITMAP');
  if (commands.quantity === null) r.fail('no PRINT');
  let width = bitmap.rowBytes * 8;
  if (dotsPerMm) {
    width = commands.widthMm * dotsPerMm;
    const height = commands.heightMm * dotsPerMm;
    if (rowBytesFor(width) !== bitmap.rowBytes || height !== bitmap.rows) {
      r.fail(`BITMAP of ${bitmap.rowBytes} bytes x ${bitmap.rows} rows does not fit a ${width} x ${height} dot label`);
    }
  }
  // TSPL's BITMAP leaves 1 bits unprinted.
  const dots = unpackRaster(r, bitmap.raster, bitmap.rowBytes, bitmap.rows, width, 0);
  return { language: 'TSPL', width, height: bitmap.rows, dots, commands };
}

// ZPL manuals document a ^GF byte count of 1 to 99,999.
const ZPL_MAX_FIELD_BYTES = 99999;

// One ^GFA graphic field, alone at the label home or as a band of whole rows
// placed with ^FO0,<first row>; the bands must cover the label exactly once.
function decodeZpl(bytes) {
  const r = new Reader('ZPL', bytes);
  const commands = { cutter: false, widthDots: null, heightDots: null, quantity: 1 };
  if (r.line('\r\n') !== '^XA') r.fail('stream does not start with ^XA');
  const graphics = [];
  let origin = null;
  let fieldOpen = false;
  let ended = false;
  while (!r.atEnd()) {
    if (ended) r.fail('data after ^XZ');
    const line = r.line('\r\n');
    let m;
    if ((m = /^\^PW(\d+)$/.exec(line))) commands.widthDots = int(m[1]);
    else if ((m = /^\^LL(\d+)$/.exec(line))) commands.heightDots = int(m[1]);
    else if (line === '^LH0,0') {
      // The label home this decoder assumes.
    } else if (line === '^MMC') commands.cutter = true;
    else if ((m = /^\^PQ(\d+)$/.exec(line))) commands.quantity = int(m[1]);
    else if ((m = /^\^FO(\d+),(\d+)$/.exec(line))) {
      if (fieldOpen || origin) r.fail('^FO inside a field');
      origin = { x: int(m[1]), y: int(m[2]) };
      if (origin.x !== 0) r.fail(`field at x ${origin.x}; only whole rows from x 0 are supported`);
    } else if ((m = /^\^GFA,(\d+),(\d+),(\d+),([^]*)$/.exec(line))) {
      if (fieldOpen) r.fail('graphic field inside a field');
      if (graphics.length > 0 && !(origin && graphics[0].placed)) r.fail('second graphic field without ^FO');
      const [total, fieldCount, rowBytes] = m.slice(1, 4).map(int);
      if (total !== fieldCount) r.fail(`^GFA byte count ${total} and field count ${fieldCount} disagree`);
      if (total < 1 || total > ZPL_MAX_FIELD_BYTES) r.fail(`^GFA byte count ${total} outside 1 to ${ZPL_MAX_FIELD_BYTES}`);
      if (rowBytes === 0 || total % rowBytes !== 0) r.fail(`^GFA count ${total} is not whole rows of ${rowBytes}`);
      graphics.push({ y: origin ? origin.y : 0, placed: origin !== null, rowBytes, rows: total / rowBytes, raster: graphicToBytes(r, m[4], total, rowBytes) });
      origin = null;
      fieldOpen = true;
    } else if (line === '^FS') {
      if (!fieldOpen) r.fail('^FS without a field');
      fieldOpen = false;
    } else if (line === '^XZ') ended = true;
    else r.fail(`unknown command ${JSON.stringify(line.slice(0, 40))}`);
  }
  if (!ended) r.fail('no ^XZ');
  if (fieldOpen) r.fail('graphic field not closed by ^FS');
  if (origin) r.fail('^FO without a graphic field');
  if (graphics.length === 0) r.fail('no ^GFA graphic field');
  const { widthDots: width, heightDots: height } = commands;
  if (width === null || height === null) r.fail('label size (^PW, ^LL) missing');
  const dots = new Uint8Array(width * height);
  const covered = new Uint8Array(height);
  for (const g of graphics) {
    if (rowBytesFor(width) !== g.rowBytes || g.y + g.rows > height) {
      r.fail(`graphic of ${g.rowBytes} bytes x ${g.rows} rows at row ${g.y} does not fit a ${width} x ${height} dot label`);
    }
    if (covered.subarray(g.y, g.y + g.rows).some((c) => c)) r.fail(`graphic fields overlap at row ${g.y}`);
    covered.fill(1, g.y, g.y + g.rows);
    dots.set(unpackRaster(r, g.raster, g.rowBytes, g.rows, width, 1), g.y * width);
  }
  const gap = covered.indexOf(0);
  if (gap >= 0) r.fail(`no graphic field covers row ${gap}`);
  return { language: 'ZPL', width, height, dots, commands };
}

function decodeEscPos(bytes) {
  const r = new Reader('ESC/POS', bytes);
  const commands = { cutter: false, feedLines: 0, quantity: 1 };
  if (!r.startsWith('\x1b@')) r.fail('stream does not start with ESC @');
  r.pos += 2;
  let image = null;
  while (!r.atEnd()) {
    const at = r.pos;
    const b = r.byte('command');
    if (commands.cutter) {
      r.pos = at;
      r.fail('data after the cut');
    }
    if (b === 0x0a) {
      commands.feedLines++;
    } else if (b === 0x1d && r.startsWith('v0')) {
      r.pos += 2;
      const mode = r.byte('GS v 0 mode');
      if (mode !== 0) r.fail(`GS v 0 mode ${mode}; only 0 (normal size) is supported`);
      if (image) r.fail('second raster image');
      const head = r.take(4, 'GS v 0 header');
      const rowBytes = head[0] | (head[1] << 8);
      const rows = head[2] | (head[3] << 8);
      image = { rowBytes, rows, raster: r.take(rowBytes * rows, 'GS v 0 raster') };
    } else if (b === 0x1d && r.startsWith('V')) {
      r.pos += 1;
      const mode = r.byte('GS V mode');
      if (mode !== 0 && mode !== 0x30) r.fail(`GS V mode ${mode}; only a full cut is supported`);
      commands.cutter = true;
    } else {
      r.pos = at;
      r.fail(`unknown command byte 0x${b.toString(16).padStart(2, '0')}`);
    }
  }
  if (!image) r.fail('no GS v 0 raster image');
  const width = image.rowBytes * 8;
  const dots = unpackRaster(r, image.raster, image.rowBytes, image.rows, width, 1);
  return { language: 'ESC/POS', width, height: image.rows, dots, commands };
}

function decodeCpcl(bytes) {
  const r = new Reader('CPCL', bytes);
  const head = /^! (\d+) (\d+) (\d+) (\d+) (\d+)$/.exec(r.line('\r\n'));
  if (!head) r.fail('stream does not start with a "! offset hres vres height quantity" header');
  const [offset, hres, vres, height, quantity] = head.slice(1).map(int);
  const commands = { cutter: false, offset, resolution: [hres, vres], widthDots: null, heightDots: height, quantity };
  let graphic = null;
  let printed = false;
  while (!r.atEnd()) {
    if (printed) r.fail('data after PRINT');
    const line = r.line('\r\n');
    let m;
    if ((m = /^PW (\d+)$/.exec(line))) commands.widthDots = int(m[1]);
    else if ((m = /^EG (\d+) (\d+) (\d+) (\d+) ([^]*)$/.exec(line))) {
      if (graphic) r.fail('second EG graphic');
      const [rowBytes, rows, x, y] = m.slice(1, 5).map(int);
      if (x !== 0 || y !== 0) r.fail(`EG at ${x},${y}; only the origin is supported`);
      graphic = { rowBytes, rows, raster: hexToBytes(r, m[5], rowBytes * rows) };
    } else if (line === 'CUT') commands.cutter = true;
    else if (line === 'PRINT') printed = true;
    else r.fail(`unknown command ${JSON.stringify(line.slice(0, 40))}`);
  }
  if (!printed) r.fail('no PRINT');
  if (!graphic) r.fail('no EG graphic');
  const width = commands.widthDots;
  if (width === null) r.fail('page width (PW) missing');
  if (rowBytesFor(width) !== graphic.rowBytes || height !== graphic.rows) {
    r.fail(`EG of ${graphic.rowBytes} bytes x ${graphic.rows} rows does not fit a ${width} x ${height} dot label`);
  }
  const dots = unpackRaster(r, graphic.raster, graphic.rowBytes, graphic.rows, width, 1);
  return { language: 'CPCL', width, height, dots, commands };
}

// An 8-bit, bottom-up, uncompressed BMP with a gray palette, read whole: its
// file size field must be its length. Dark is a gray level below 128.
function decodeGrayBmp(r, bmp) {
  const fail = (message) => r.fail(`stored image: ${message}`);
  if (bmp.length < 54 || bmp.toString('latin1', 0, 2) !== 'BM') fail('not a BMP');
  if (bmp.readUInt32LE(2) !== bmp.length) fail(`file size field ${bmp.readUInt32LE(2)} is not its length ${bmp.length}`);
  const offset = bmp.readUInt32LE(10);
  const headerSize = bmp.readUInt32LE(14);
  const width = bmp.readInt32LE(18);
  const height = bmp.readInt32LE(22);
  if (headerSize < 40) fail(`information header of ${headerSize} bytes`);
  if (width < 1 || height < 1) fail(`size ${width} x ${height}; only bottom-up images are read`);
  if (bmp.readUInt16LE(26) !== 1 || bmp.readUInt16LE(28) !== 8) fail('not 8 bits per pixel in one plane');
  if (bmp.readUInt32LE(30) !== 0) fail('compressed');
  const colours = bmp.readUInt32LE(46) || 256;
  const paletteAt = 14 + headerSize;
  if (colours > 256 || paletteAt + 4 * colours > offset) fail('palette overlaps the pixel data');
  const gray = new Uint8Array(256);
  for (let i = 0; i < colours; i++) {
    const [b, g, red] = bmp.subarray(paletteAt + 4 * i, paletteAt + 4 * i + 3);
    if (b !== g || g !== red) fail(`palette entry ${i} is not gray`);
    gray[i] = g;
  }
  const stride = (width + 3) & ~3;
  if (offset + stride * height !== bmp.length) {
    fail(`${bmp.length - offset} bytes of pixel data for ${height} rows of ${stride}`);
  }
  const dots = new Uint8Array(width * height);
  for (let y = 0; y < height; y++) {
    const row = offset + (height - 1 - y) * stride;
    for (let x = 0; x < width; x++) {
      const index = bmp[row + x];
      if (index >= colours) fail(`pixel value ${index} outside the ${colours}-entry palette`);
      dots[y * width + x] = gray[index] < 128 ? 1 : 0;
    }
  }
  return { width, height, dots };
}

// PPLA and DPL: STX setup lines, the BMP download under a name, then the
// label format placing that image. Only the line end differs.
function decodeStoredImage(language, bytes) {
  const eol = language === 'PPLA' ? '\r\n' : '\r';
  const r = new Reader(language, bytes);
  const commands = {
    cutter: false, lengthTenths: null, continuousTenths: null, cutEvery: null, formFeed: false, quantity: 1,
  };
  const stored = new Map();
  let placed = null;
  let formatting = false;
  let ended = false;
  while (!r.atEnd()) {
    if (commands.formFeed) r.fail('data after the form feed');
    if (r.buf[r.pos] === STX) {
      r.pos++;
      const line = r.line(eol);
      let m;
      if (ended && line !== 'F') r.fail(`STX ${JSON.stringify(line)} after the label format`);
      if (formatting) r.fail('STX command inside the label format');
      if (line === 'm' || line === 'MTT' || line === 'qA' || line === 'O0000') {
        // Metric units, media and memory set-up, no print offset.
      } else if ((m = /^M(\d{4,})$/.exec(line))) commands.lengthTenths = int(m[1]);
      else if ((m = /^c(\d{4,})$/.exec(line))) commands.continuousTenths = int(m[1]);
      else if (line === 'V1') commands.cutter = true;
      else if ((m = /^IAB(\w+)$/.exec(line))) {
        // The BMP announces its own length; its bytes may hold anything.
        if (!r.startsWith('BM') || r.buf.length - r.pos < 6) r.fail(`image ${m[1]} is not a BMP`);
        const size = r.buf.readUInt32LE(r.pos + 2);
        stored.set(m[1], r.take(size, `image ${m[1]}`));
        r.expect(eol, 'line end after the image');
      } else if (line === 'L') formatting = true;
      else if (line === 'F' && ended) commands.formFeed = true;
      else r.fail(`unknown command STX ${JSON.stringify(line)}`);
      continue;
    }
    if (!formatting) r.fail('label format line outside STX L');
    const line = r.line(eol);
    let m;
    if (line === 'C0000' || line === 'm' || line === 'H15' || line === 'D11') {
      // No column offset, metric, heat and dot size this decoder assumes.
    } else if ((m = /^1Y11000(\d{4})(\d{4})(\w+)$/.exec(line))) {
      if (placed) r.fail('second image record');
      const [row, column, name] = [int(m[1]), int(m[2]), m[3]];
      if (row !== 0 || column !== 0) r.fail(`image placed at row ${row}, column ${column}; only the origin is supported`);
      if (!stored.has(name)) r.fail(`image ${name} was never stored`);
      placed = name;
    } else if ((m = /^:(\d{4})$/.exec(line))) commands.cutEvery = int(m[1]);
    else if (line === 'E') {
      formatting = false;
      ended = true;
    } else r.fail(`unknown label format line ${JSON.stringify(line.slice(0, 40))}`);
  }
  if (!ended) r.fail('label format not ended with E');
  if (!placed) r.fail('no image record');
  if (commands.cutter !== (commands.cutEvery !== null)) r.fail('cutter on (STX V1) and cut count (:nnnn) disagree');
  const image = stored.get(placed);
  const { width, height, dots } = decodeGrayBmp(r, image);
  return { language, width, height, dots, commands, image, imageName: placed };
}

const DECODER_OF = {
  TSPL: decodeTspl,
  ZPL: decodeZpl,
  'ESC/POS': decodeEscPos,
  CPCL: decodeCpcl,
  PPLA: (bytes) => decodeStoredImage('PPLA', bytes),
  DPL: (bytes) => decodeStoredImage('DPL', bytes),
};
// The dispatch takes exactly the add-on's languages: one it speaks that has no
// decoder here fails loading, not a test run later.
const DECODERS = new Map(
  LANGUAGES.map((language) => {
    if (!DECODER_OF[language]) throw new Error(`virtual printer: no decoder for ${language}`);
    return [language, DECODER_OF[language]];
  }),
);

function decode(language, bytes, options = {}) {
  const decoder = DECODERS.get(language);
  if (!decoder) throw new Error(`unknown printer language ${JSON.stringify(language)}; one of ${LANGUAGES.join(', ')}`);
  return decoder(bytes, options);
}

// The language a stream is written in, from its first bytes; null when none fits.
function detectLanguage(bytes) {
  const buf = Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const head = buf.toString('latin1', 0, 8);
  if (head.startsWith('\x1b@')) return 'ESC/POS';
  if (head.startsWith('^XA')) return 'ZPL';
  if (head.startsWith('! ')) return 'CPCL';
  if (head.startsWith('SIZE ')) return 'TSPL';
  if (buf[0] === STX) {
    const cr = buf.indexOf(0x0d);
    if (cr > 0) return buf[cr + 1] === 0x0a ? 'PPLA' : 'DPL';
  }
  return null;
}

module.exports = { decode, detectLanguage, LANGUAGES, StreamError };
