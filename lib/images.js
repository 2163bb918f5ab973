'use strict';
// toBMP: the images applications have, made into a BMP the add-on's reader
// takes as it is. That reader reads only bottom-up, uncompressed 8-, 24- and
// 32-bit BMPs, takes an 8-bit pixel as its gray level whatever the colour
// table says, and prints a 32-bit pixel white when its alpha is below 128.
// So everything is decoded here and written as a 24-bit bottom-up BMP, with
// alpha laid over white paper (an anti-aliased edge keeps its gray instead of
// vanishing); a 24-bit BMP, or an 8-bit one whose colour table is the gray
// ramp, already prints as it looks and is returned as a copy of itself.

const zlib = require('zlib');
const { ERROR_CODES, makeError } = require('./errors');

// The add-on's reader refuses larger images.
const maxSide = () => require('./languages').LIMITS.maxImageSide;
const PNG_SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

const unreadable = (why, cause) => makeError(ERROR_CODES.UNREADABLE_IMAGE, `unreadable image: ${why}`, { cause });

function describe(value) {
  if (value === null) return 'null';
  if (typeof value !== 'object') return typeof value;
  return value.constructor && value.constructor.name ? `a ${value.constructor.name}` : 'an object';
}

function checkSize(width, height, what) {
  const fits = (n) => Number.isInteger(n) && n >= 1 && n <= maxSide();
  if (!fits(width) || !fits(height)) {
    const show = (n) => (typeof n === 'number' ? n : typeof n === 'string' ? JSON.stringify(n) : describe(n));
    throw unreadable(`${what} is ${show(width)} x ${show(height)} pixels; each side must be a whole number from 1 to ${maxSide()}`);
  }
}

// Pixels of 1 (gray), 3 (RGB) or 4 (RGBA) bytes, top row first, as a 24-bit
// bottom-up BMP. Header fields as lib/bmp-writer.js writes them.
function writeBmp24(width, height, channels, data) {
  const stride = (width * 3 + 3) & ~3;
  const out = Buffer.alloc(54 + stride * height);
  out.write('BM', 0, 'latin1');
  out.writeUInt32LE(out.length, 2);
  out.writeUInt32LE(54, 10);
  out.writeUInt32LE(40, 14);
  out.writeInt32LE(width, 18);
  out.writeInt32LE(height, 22);
  out.writeUInt16LE(1, 26);
  out.writeUInt16LE(24, 28);
  out.writeUInt32LE(stride * height, 34);
  out.writeInt32LE(2835, 38);
  out.writeInt32LE(2835, 42);
  for (let y = 0; y < height; y++) {
    let o = 54 + (height - 1 - y) * stride;
    let i = y * width * channels;
    for (let x = 0; x < width; x++, o += 3, i += channels) {
      let r = data[i];
      let g = r;
      let b = r;
      if (channels >= 3) {
        g = data[i + 1];
        b = data[i + 2];
      }
      const a = channels === 4 ? data[i + 3] : 255;
      if (a !== 255) {
        // c over white, rounded: (c * a + 255 * (255 - a)) / 255
        r = ((r * a + 255 * (255 - a) + 127) / 255) | 0;
        g = ((g * a + 255 * (255 - a) + 127) / 255) | 0;
        b = ((b * a + 255 * (255 - a) + 127) / 255) | 0;
      }
      out[o] = b;
      out[o + 1] = g;
      out[o + 2] = r;
    }
  }
  return out;
}

// ---- PNG ----

const PNG_CHANNELS = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };

// The chunks of a PNG, each checked for its length and checksum, up to IEND:
// clearer reasons than the decoder's for a cut or damaged file.
function pngChunks(bytes) {
  const chunks = [];
  for (let at = 8; ; ) {
    if (at + 12 > bytes.length) throw unreadable(`the PNG is truncated: it ends after ${bytes.length} bytes, before its end`);
    const type = bytes.toString('latin1', at + 4, at + 8);
    if (!/^[A-Za-z]{4}$/.test(type)) throw unreadable(`the PNG is damaged: no chunk starts at byte ${at}`);
    const end = at + 12 + bytes.readUInt32BE(at);
    if (end > bytes.length) throw unreadable(`the PNG is truncated: its ${type} chunk runs past the end of the file`);
    // zlib.crc32 is there from Node 20.15; pngjs checks the sums where it is not.
    if (zlib.crc32 && zlib.crc32(bytes.subarray(at + 4, end - 4)) !== bytes.readUInt32BE(end - 4)) {
      throw unreadable(`the PNG is damaged: the checksum of its ${type} chunk does not match`);
    }
    chunks.push({ type, data: bytes.subarray(at + 8, end - 4) });
    if (type === 'IEND') return chunks;
    at = end;
  }
}

// The size is checked before anything is inflated. pngjs bounds the inflated
// size of a plain PNG but not of an interlaced one, so a small interlaced file
// could inflate to gigabytes: that one is inflated here first, with a limit.
function fromPng(bytes) {
  const chunks = pngChunks(bytes);
  const ihdr = chunks[0].data;
  if (chunks[0].type !== 'IHDR' || ihdr.length !== 13) throw unreadable('the PNG is damaged: it does not start with its image header');
  const width = ihdr.readUInt32BE(0);
  const height = ihdr.readUInt32BE(4);
  checkSize(width, height, 'the PNG');
  if (ihdr[12] === 1) {
    const idat = Buffer.concat(chunks.filter((c) => c.type === 'IDAT').map((c) => c.data));
    const bitsPerPixel = ihdr[8] * (PNG_CHANNELS[ihdr[9]] || 4);
    // Adam7 adds a filter byte per row of each of its seven passes: under 2 per image row, plus 7.
    const limit = height * (Math.ceil((width * bitsPerPixel) / 8) + 2) + 7;
    try {
      zlib.inflateSync(idat, { maxOutputLength: limit });
    } catch (error) {
      throw unreadable(`the PNG is damaged: its pixel data does not inflate to a ${width} x ${height} image (${error.message})`, error);
    }
  }
  // Loaded here, on the first PNG: pngjs would add 13 ms or more to every load of the package.
  const { PNG } = require('pngjs');
  let png;
  try {
    png = PNG.sync.read(bytes);
  } catch (error) {
    throw unreadable(`the PNG is damaged (${error.message})`, error);
  }
  return writeBmp24(png.width, png.height, 4, png.data);
}

// ---- BMP ----

const BI_RGB = 0;
const BI_RLE8 = 1;
const BI_RLE4 = 2;
const BI_BITFIELDS = 3;
const BI_ALPHABITFIELDS = 6;

// A colour mask as a shift and a scale to 0..255; a zero mask reads as absent.
function channelOf(mask) {
  if (mask === 0) return null;
  let shift = 0;
  while (((mask >>> shift) & 1) === 0) shift++;
  const max = 2 ** Math.min(16, Math.round(Math.log2((mask >>> shift) + 1))) - 1;
  return { mask, shift, max };
}
const channelValue = (px, c) => Math.min(255, Math.round((((px & c.mask) >>> c.shift) * 255) / c.max));

function fromBmp(b) {
  if (b.length < 54) throw unreadable(`the BMP is truncated: ${b.length} bytes, not even its headers`);
  const dataOffset = b.readUInt32LE(10);
  const headerSize = b.readUInt32LE(14);
  if (headerSize < 40) throw unreadable(`BMP information headers of ${headerSize} bytes (OS/2 1.x) are not read; save it as a Windows BMP`);
  const width = b.readInt32LE(18);
  const rawHeight = b.readInt32LE(22);
  const bpp = b.readUInt16LE(28);
  const compression = b.readUInt32LE(30);
  const topDown = rawHeight < 0;
  const height = Math.abs(rawHeight);
  checkSize(width, height, 'the BMP');

  const rle = compression === BI_RLE8 || compression === BI_RLE4;
  const kind = `${bpp}-bit BMP with compression ${compression}`;
  const supported =
    (compression === BI_RGB && [1, 4, 8, 16, 24, 32].includes(bpp)) ||
    (compression === BI_RLE8 && bpp === 8) ||
    (compression === BI_RLE4 && bpp === 4) ||
    ((compression === BI_BITFIELDS || compression === BI_ALPHABITFIELDS) && (bpp === 16 || bpp === 32));
  if (!supported) throw unreadable(`a ${kind} cannot be read; save it as a 24-bit BMP or a PNG`);
  if (rle && topDown) throw unreadable('the BMP is damaged: a compressed BMP cannot be stored top-down');
  if (dataOffset >= b.length) throw unreadable('the BMP is truncated: its pixel data is missing');

  // Colour table: 4 bytes an entry, between the headers and the pixel data.
  let palette = null;
  if (bpp <= 8) {
    const listed = b.readUInt32LE(46) || 2 ** bpp;
    const start = 14 + headerSize;
    const room = Math.floor((Math.min(dataOffset, b.length) - start) / 4);
    const entries = Math.min(listed, 2 ** bpp, Math.max(0, room));
    if (entries === 0) throw unreadable(`the ${bpp}-bit BMP has no colour table`);
    palette = b.subarray(start, start + 4 * entries);
  }

  const stride = Math.floor((width * bpp + 31) / 32) * 4;
  const rowsFit = dataOffset + stride * (height - 1) + Math.ceil((width * bpp) / 8) <= b.length;
  if (!rle && !rowsFit) throw unreadable('the BMP is truncated: the file ends before its last pixel row');

  // What the add-on already reads as it looks goes through untouched.
  if (!topDown && compression === BI_RGB) {
    if (bpp === 24 || (bpp === 8 && isGrayRamp(palette))) return Buffer.from(b);
  }

  const rgba = Buffer.alloc(width * height * 4, 255);
  // Where pixel x of stored row y goes (rgba is top row first).
  const at = (x, y) => 4 * ((topDown ? y : height - 1 - y) * width + x);
  const setIndex = (x, y, index) => {
    if (4 * index >= palette.length) {
      throw unreadable(`the BMP is damaged: a pixel uses colour ${index} of a ${palette.length / 4}-colour table`);
    }
    const o = at(x, y);
    rgba[o] = palette[4 * index + 2];
    rgba[o + 1] = palette[4 * index + 1];
    rgba[o + 2] = palette[4 * index];
  };

  if (rle) decodeRle(b, dataOffset, width, height, compression === BI_RLE4, setIndex);
  else if (palette) {
    for (let y = 0; y < height; y++) {
      const row = dataOffset + y * stride;
      for (let x = 0; x < width; x++) {
        const bit = x * bpp;
        setIndex(x, y, (b[row + (bit >> 3)] >> (8 - bpp - (bit & 7))) & ((1 << bpp) - 1));
      }
    }
  } else if (bpp === 24) {
    for (let y = 0; y < height; y++) {
      const row = dataOffset + y * stride;
      for (let x = 0; x < width; x++) {
        const o = at(x, y);
        rgba[o] = b[row + 3 * x + 2];
        rgba[o + 1] = b[row + 3 * x + 1];
        rgba[o + 2] = b[row + 3 * x];
      }
    }
  } else {
    decodeMasked(b, { dataOffset, headerSize, width, height, bpp, compression, stride }, rgba, at);
  }
  return writeBmp24(width, height, 4, rgba);
}

const isGrayRamp = (palette) => {
  for (let i = 0; i < palette.length / 4; i++) {
    if (palette[4 * i] !== i || palette[4 * i + 1] !== i || palette[4 * i + 2] !== i) return false;
  }
  return true;
};

// 16- and 32-bit pixels through colour masks: the masks of the header for
// BI_BITFIELDS, else 5-5-5 or 8-8-8 (with an alpha byte that counts only when
// some pixel sets it, since most writers leave it 0).
function decodeMasked(b, { dataOffset, headerSize, width, height, bpp, compression, stride }, rgba, at) {
  let masks;
  if (compression === BI_RGB) {
    masks = bpp === 16 ? [0x7c00, 0x03e0, 0x001f, 0] : [0xff0000, 0xff00, 0xff, 0xff000000];
  } else {
    const alpha = compression === BI_ALPHABITFIELDS || headerSize >= 56;
    if (b.length < (alpha ? 70 : 66)) throw unreadable('the BMP is truncated: its colour masks are missing');
    masks = [54, 58, 62].map((at) => b.readUInt32LE(at));
    masks.push(alpha ? b.readUInt32LE(66) : 0);
  }
  const [r, g, bl, a] = masks.map(channelOf);
  if (!r || !g || !bl) throw unreadable('the BMP is damaged: a colour mask is empty');
  const read = bpp === 16 ? (at) => b.readUInt16LE(at) : (at) => b.readUInt32LE(at);
  let useAlpha = false;
  if (a) {
    for (let y = 0; y < height && !useAlpha; y++) {
      for (let x = 0; x < width && !useAlpha; x++) useAlpha = (read(dataOffset + y * stride + (x * bpp) / 8) & a.mask) !== 0;
    }
  }
  for (let y = 0; y < height; y++) {
    const row = dataOffset + y * stride;
    for (let x = 0; x < width; x++) {
      const px = read(row + (x * bpp) / 8);
      const o = at(x, y);
      rgba[o] = channelValue(px, r);
      rgba[o + 1] = channelValue(px, g);
      rgba[o + 2] = channelValue(px, bl);
      if (useAlpha) rgba[o + 3] = channelValue(px, a);
    }
  }
}

// Run-length pixel data (RLE8, or RLE4 with two pixels a byte), rows from the
// bottom. Every step consumes at least two bytes, so a damaged stream ends;
// pixels outside the image are dropped and pixels it skips stay white.
function decodeRle(b, at, width, height, four, setIndex) {
  let x = 0;
  let y = 0;
  const put = (index) => {
    if (x < width && y < height) setIndex(x, y, index);
    x++;
  };
  while (y < height) {
    if (at + 2 > b.length) throw unreadable('the BMP is truncated: its compressed pixel data ends early');
    const count = b[at];
    const value = b[at + 1];
    at += 2;
    if (count > 0) {
      for (let i = 0; i < count; i++) put(four ? (i & 1 ? value & 15 : value >> 4) : value);
    } else if (value === 0) {
      x = 0;
      y++;
    } else if (value === 1) {
      return;
    } else if (value === 2) {
      if (at + 2 > b.length) throw unreadable('the BMP is truncated: its compressed pixel data ends early');
      x += b[at];
      y += b[at + 1];
      at += 2;
    } else {
      const bytes = four ? Math.ceil(value / 2) : value;
      if (at + bytes > b.length) throw unreadable('the BMP is truncated: its compressed pixel data ends early');
      for (let i = 0; i < value; i++) put(four ? (i & 1 ? b[at + (i >> 1)] & 15 : b[at + (i >> 1)] >> 4) : b[at + i]);
      at += bytes + (bytes & 1);
    }
  }
}

// ---- raw pixels ----

function fromPixels(image) {
  const { width, height, data } = image;
  const channels = image.channels === undefined ? 4 : image.channels;
  checkSize(width, height, 'the pixel image');
  if (channels !== 1 && channels !== 3 && channels !== 4) {
    throw unreadable(`channels must be 1 (gray), 3 (RGB) or 4 (RGBA), not ${channels}`);
  }
  if (!ArrayBuffer.isView(data)) {
    throw unreadable(`data must be a Uint8Array, Uint8ClampedArray or Buffer of pixels, not ${describe(data)}`);
  }
  const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  const expected = width * height * channels;
  if (bytes.length !== expected) {
    throw unreadable(
      `data holds ${bytes.length} bytes, but ${width} x ${height} pixels of ${channels} byte(s) take ${expected}`,
    );
  }
  return writeBmp24(width, height, channels, bytes);
}

/**
 * A PNG or BMP file (Buffer, any typed array, DataView or ArrayBuffer), or raw
 * pixels { width, height, data, channels = 4 } (a canvas ImageData as it is),
 * as a BMP the print path reads. Throws an Error with code
 * ERR_UNREADABLE_IMAGE and the reason in its message.
 */
function toBMP(input) {
  if (input instanceof ArrayBuffer) input = new Uint8Array(input);
  if (ArrayBuffer.isView(input)) {
    const bytes = Buffer.from(input.buffer, input.byteOffset, input.byteLength);
    if (bytes.length >= 8 && bytes.subarray(0, 8).equals(PNG_SIGNATURE)) return fromPng(bytes);
    if (bytes.length >= 2 && bytes[0] === 0x42 && bytes[1] === 0x4d) return fromBmp(bytes);
    throw unreadable(`not a PNG or BMP file (${bytes.length} bytes that start with neither signature)`);
  }
  if (input !== null && typeof input === 'object') return fromPixels(input);
  const hint = typeof input === 'string' ? ' (a file name? pass the file\'s bytes: fs.readFileSync(name))' : '';
  throw unreadable(`expected PNG or BMP bytes or { width, height, data }, not ${describe(input)}${hint}`);
}

// The bytes the add-on is handed for `image`: a PNG as it is when the add-on
// decodes it on its own thread (nativePng: submitTraceCode), anything else
// made a BMP here. Throws toBMP's error for an image it cannot read.
function imageBytes(image, nativePng = false) {
  if (nativePng) {
    const view = image instanceof ArrayBuffer ? new Uint8Array(image) : image;
    if (ArrayBuffer.isView(view)) {
      const bytes = Buffer.from(view.buffer, view.byteOffset, view.byteLength);
      if (bytes.length >= 8 && bytes.subarray(0, 8).equals(PNG_SIGNATURE)) return { bytes, png: true };
    }
  }
  return { bytes: toBMP(image), png: false };
}

// renderTraceCode's options with `image` standing in for an absent `buffer`.
// The add-on reads the options through this proxy in its own order; only when
// it reads `buffer` and finds undefined is `image` read (and made a BMP, or
// its error thrown as a getter's would be). Every other read reaches the
// caller's object unchanged, so calls without `image` behave as before.
function withImage(options) {
  if (options === null || (typeof options !== 'object' && typeof options !== 'function')) return options;
  return new Proxy(
    {},
    {
      get(_, key) {
        const value = Reflect.get(options, key);
        if (key !== 'buffer' || value !== undefined) return value;
        const image = Reflect.get(options, 'image');
        return image === undefined ? undefined : imageBytes(image).bytes;
      },
      has: (_, key) => Reflect.has(options, key),
    },
  );
}

module.exports = { toBMP, withImage, imageBytes };
