// The page's change-stream decoder (client/changes.js) on crafted messages:
// good ones change exactly the bytes they name, bad ones throw and leave the
// held copy as it was.
'use strict';

const { test } = require('node:test');
const assert = require('node:assert');
const { applyChange, isWholePicture } = require('../../client/changes.js');

// A message: header fields, then spans [offset, encoding, bytes, length],
// each written with its skip from the end of the one before.
function message({ format = 1, flags = 0, from = 4, to = 5, fileLength = 16, spans = [],
                   count = spans.length, extra = [] }) {
  const out = [format, flags];
  const u32 = (v) => out.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
  [from, to, fileLength, count].forEach(u32);
  let end = 0;
  for (const [offset, encoding, bytes, length = bytes.length] of spans) {
    u32(offset - end);
    end = offset + length;
    u32(length);
    out.push(encoding, ...bytes);
  }
  out.push(...extra);
  return Uint8Array.from(out);
}

const held = () => Uint8Array.from({ length: 16 }, (_, i) => i);

test('good messages change exactly the bytes they name', () => {
  const cases = [
    { name: 'no span', spans: [], want: held() },
    { name: 'new bytes', spans: [[3, 0, [9, 9]]], want: [0, 1, 2, 9, 9, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15] },
    { name: 'XOR', spans: [[14, 1, [1, 1]]], want: [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 14] },
    { name: 'both, to the last byte', spans: [[0, 1, [255]], [15, 0, [0]]],
      want: [255, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0] },
    { name: 'a repeat of the new bytes before', spans: [[1, 1, [3, 3]], [6, 2, [], 2]],
      want: [0, 2, 1, 3, 4, 5, 2, 1, 8, 9, 10, 11, 12, 13, 14, 15] },
  ];
  for (const c of cases) {
    const copy = held();
    assert.strictEqual(applyChange(copy, message({ spans: c.spans }), 4), 5, c.name);
    assert.deepStrictEqual([...copy], [...c.want], c.name);
  }
  // After a whole picture the version is not known yet: any from is taken.
  assert.strictEqual(applyChange(held(), message({ from: 77, to: 78 }), null), 78);
});

test('bad messages throw and leave the copy as it was', () => {
  const good = [[2, 0, [7]]];
  const cases = [
    { name: 'cut header', bytes: message({}).subarray(0, 17) },
    { name: 'unknown format', bytes: message({ format: 2, spans: good }) },
    { name: 'unknown flags', bytes: message({ flags: 1, spans: good }) },
    { name: 'another version held', bytes: message({ from: 3, spans: good }) },
    { name: 'another file length', bytes: message({ fileLength: 17, spans: good }) },
    { name: 'span past the end', bytes: message({ spans: [[1, 0, [5]], [15, 0, [1, 2]]] }) },
    { name: 'offset beyond 32 bits of room', bytes: message({ spans: [[0xffffffff, 0, [1]]] }) },
    { name: 'unknown encoding', bytes: message({ spans: [[1, 3, [5]]] }) },
    { name: 'a first span repeating', bytes: message({ spans: [[1, 2, [], 1]] }) },
    { name: 'a repeat of another length', bytes: message({ spans: [[1, 0, [5]], [4, 2, [], 2]] }) },
    { name: 'span cut short', bytes: message({ spans: [[1, 0, [5], 4]] }) },
    { name: 'more spans announced', bytes: message({ spans: good, count: 2 }) },
    { name: 'bytes after the spans', bytes: message({ spans: good, extra: [0] }) },
  ];
  for (const c of cases) {
    const copy = held();
    assert.throws(() => applyChange(copy, c.bytes, 4), /change message/, c.name);
    assert.deepStrictEqual(copy, held(), c.name);
  }
});

test('a whole picture is told from a change by its BM start', () => {
  assert.strictEqual(isWholePicture(Uint8Array.from([0x42, 0x4d, 0])), true);
  assert.strictEqual(isWholePicture(message({})), false);
});
