// The page's picture decoder (client/picture.js) on small BMP file images:
// every layout the server may stream comes out as the same RGBA rows, top row
// first, and a file it cannot read throws naming the fault.
'use strict';

const { test } = require('node:test');
const assert = require('node:assert');
const { decodeBmp } = require('../../client/picture.js');

// A BMP file image: the 14-byte file header, an info header of infoSize
// bytes (12: the core form; colours: the palette's entries), then extra
// (palette or masks) and the rows as given, each padded to 4 bytes.
function bmp({ width, height, bits, rows, infoSize = 40, compression = 0, colours = 0, extra = [] }) {
  const stride = Math.floor((bits * width + 31) / 32) * 4;
  const offset = 14 + infoSize + extra.length;
  const out = new Uint8Array(offset + stride * rows.length);
  const view = new DataView(out.buffer);
  out.set([0x42, 0x4d]);
  view.setUint32(2, out.length, true);
  view.setUint32(10, offset, true);
  view.setUint32(14, infoSize, true);
  if (infoSize === 12) {
    view.setUint16(18, width, true);
    view.setInt16(20, height, true);
    view.setUint16(24, bits, true);
  } else {
    view.setInt32(18, width, true);
    view.setInt32(22, height, true);
    view.setUint16(28, bits, true);
    view.setUint32(30, compression, true);
    view.setUint32(46, colours, true);
  }
  out.set(extra, 14 + infoSize);
  rows.forEach((row, i) => out.set(row, offset + i * stride));
  return out.buffer;
}

// Three pixels wide, two high: red, green, blue over white, black, grey
// (as the picture shows them, top row first).
const WANT = [255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128];
const BOTTOM_24 = [255, 255, 255, 0, 0, 0, 128, 128, 128];  // white, black, grey as B, G, R
const TOP_24 = [0, 0, 255, 0, 255, 0, 255, 0, 0];           // red, green, blue as B, G, R
const PALETTE = [0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0,
                 128, 128, 128, 0];  // red, green, blue, white, black, grey (B, G, R, 0)

test('every layout the server streams decodes to the same rows', () => {
  const cases = [
    { name: '24 bits, bottom-up, padded rows', file: { bits: 24, height: 2, rows: [BOTTOM_24, TOP_24] } },
    { name: '24 bits, top-down', file: { bits: 24, height: -2, rows: [TOP_24, BOTTOM_24] } },
    { name: '24 bits, core header', file: { bits: 24, height: 2, infoSize: 12, rows: [BOTTOM_24, TOP_24] } },
    { name: '8 bits, palette', file: { bits: 8, height: 2, colours: 6, extra: PALETTE, rows: [[3, 4, 5], [0, 1, 2]] } },
    { name: '32 bits, masks', file: { bits: 32, height: 2, compression: 3,
        extra: [0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0],
        rows: [[255, 255, 255, 255, 0, 0, 0, 255, 128, 128, 128, 255],
               [0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255]] } },
  ];
  for (const c of cases) {
    const decoded = decodeBmp(bmp({ width: 3, ...c.file }));
    assert.deepStrictEqual([decoded.width, decoded.height], [3, 2], c.name);
    const rgb = [...decoded.rgba].filter((_, i) => i % 4 !== 3);
    assert.deepStrictEqual(rgb, WANT, c.name);
    assert.ok(decoded.rgba.every((v, i) => i % 4 !== 3 || v === 255), c.name);
  }
  // 16 bits without masks are 5-5-5: full red, full green, full blue.
  const five = decodeBmp(bmp({ width: 3, height: 1, bits: 16, rows: [[0, 0x7c, 0xe0, 0x03, 0x1f, 0]] }));
  assert.deepStrictEqual([...five.rgba], [255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255]);
});

test('a file it cannot read throws naming the fault', () => {
  const good = { width: 3, height: 2, bits: 24, rows: [BOTTOM_24, TOP_24] };
  const cut = new Uint8Array(bmp(good)).slice(0, 60).buffer;
  const notBm = new Uint8Array(bmp(good));
  notBm[0] = 0x41;
  const cases = [
    { name: 'cut header', buffer: new ArrayBuffer(20), fault: /header cut short/ },
    { name: 'not a BMP', buffer: notBm.buffer, fault: /not a BMP/ },
    { name: 'rows cut short', buffer: cut, fault: /pixel rows cut short/ },
    { name: 'no rows', buffer: bmp({ ...good, height: 0, rows: [] }), fault: /picture size/ },
    { name: 'run-length compressed', buffer: bmp({ ...good, compression: 1 }), fault: /compressed/ },
    { name: '2 bits per pixel', buffer: bmp({ ...good, bits: 2, rows: [[0], [0]] }), fault: /2 bits per pixel/ },
  ];
  for (const c of cases) assert.throws(() => decodeBmp(c.buffer), c.fault, c.name);
});
