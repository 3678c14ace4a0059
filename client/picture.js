// The page's picture decoder: a BMP file image, as the server streams it,
// into RGBA rows for the canvas. Loaded by the page as a plain script
// (window.panelPicture) and by node's test runner as a module.
"use strict";

(function (root) {
  // Decodes a BMP file image into RGBA rows, top row first. Handles the 12-byte
  // core header and the 40/108/124-byte headers; 1, 4, 8, 16, 24 and 32 bits per
  // pixel, uncompressed or with bit-field masks; bottom-up and top-down rows.
  // Returns {width, height, bottomUp, rgba} or throws an Error naming the fault.
  function decodeBmp(buffer) {
    const view = new DataView(buffer);
    const size = buffer.byteLength;
    const need = (end, what) => { if (end > size) throw new Error(what + " cut short"); };
    need(26, "header");
    if (view.getUint16(0, true) !== 0x4d42) throw new Error("not a BMP picture");
    const pixelOffset = view.getUint32(10, true);
    const infoSize = view.getUint32(14, true);
    need(14 + Math.min(infoSize, 40), "info header");
    let width, height, bitCount, compression = 0, colourCount = 0, paletteEntry = 4;
    if (infoSize === 12) {
      width = view.getUint16(18, true);
      height = view.getInt16(20, true);
      bitCount = view.getUint16(24, true);
      paletteEntry = 3;
    } else if (infoSize >= 40) {
      width = view.getInt32(18, true);
      height = view.getInt32(22, true);
      bitCount = view.getUint16(28, true);
      compression = view.getUint32(30, true);
      colourCount = view.getUint32(46, true);
    } else {
      throw new Error("info header of " + infoSize + " bytes");
    }
    const bottomUp = height > 0;
    height = Math.abs(height);
    if (width <= 0 || height <= 0 || width * height > 1 << 24) {
      throw new Error("picture size " + width + " × " + height);
    }
    const BI_RGB = 0, BI_BITFIELDS = 3;
    if (compression !== BI_RGB && compression !== BI_BITFIELDS) {
      throw new Error("compressed picture (" + compression + ")");
    }

    // Colour masks for 16 and 32 bits; they follow the 40-byte header or sit in
    // the longer ones at the same place.
    let masks = null;
    if (bitCount === 16 || bitCount === 32) {
      if (compression === BI_BITFIELDS) {
        need(66, "colour masks");
        masks = [view.getUint32(54, true), view.getUint32(58, true), view.getUint32(62, true)];
      } else if (bitCount === 16) {
        masks = [0x7c00, 0x03e0, 0x001f];
      } else {
        masks = [0xff0000, 0x00ff00, 0x0000ff];
      }
    } else if (bitCount !== 24 && bitCount !== 8 && bitCount !== 4 && bitCount !== 1) {
      throw new Error(bitCount + " bits per pixel");
    }
    const channel = (mask) => {
      if (mask === 0) return () => 0;
      let shift = 0;
      while (((mask >>> shift) & 1) === 0) shift++;
      const max = mask >>> shift;
      return (value) => Math.round((((value & mask) >>> shift) * 255) / max);
    };
    const fields = masks && masks.map(channel);

    let palette = null;
    if (bitCount <= 8) {
      const entries = Math.min(colourCount || 1 << bitCount, 1 << bitCount);
      const start = 14 + infoSize;
      need(start + entries * paletteEntry, "palette");
      palette = new Uint8Array(256 * 3);
      for (let i = 0; i < entries; i++) {
        const at = start + i * paletteEntry;
        palette[i * 3] = view.getUint8(at + 2);
        palette[i * 3 + 1] = view.getUint8(at + 1);
        palette[i * 3 + 2] = view.getUint8(at);
      }
    }

    const stride = Math.floor((bitCount * width + 31) / 32) * 4;
    need(pixelOffset + stride * height, "pixel rows");
    const bytes = new Uint8Array(buffer);
    const rgba = new Uint8ClampedArray(width * height * 4);
    for (let row = 0; row < height; row++) {
      const source = pixelOffset + row * stride;
      const shown = bottomUp ? height - 1 - row : row;
      let out = shown * width * 4;
      for (let x = 0; x < width; x++, out += 4) {
        if (bitCount === 24) {
          const at = source + x * 3;
          rgba[out] = bytes[at + 2];
          rgba[out + 1] = bytes[at + 1];
          rgba[out + 2] = bytes[at];
        } else if (fields) {
          const value = bitCount === 16 ? view.getUint16(source + x * 2, true)
                                        : view.getUint32(source + x * 4, true);
          rgba[out] = fields[0](value);
          rgba[out + 1] = fields[1](value);
          rgba[out + 2] = fields[2](value);
        } else {
          const bit = x * bitCount;
          const index = (bytes[source + (bit >> 3)] >> (8 - bitCount - (bit & 7))) &
                        ((1 << bitCount) - 1);
          rgba[out] = palette[index * 3];
          rgba[out + 1] = palette[index * 3 + 1];
          rgba[out + 2] = palette[index * 3 + 2];
        }
        rgba[out + 3] = 255;
      }
    }
    return { width, height, bottomUp, rgba };
  }

  const api = { decodeBmp };
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.panelPicture = api;
})(this);
