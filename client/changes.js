// The page's side of the change stream (subprotocol "panel-changes-v1"): the
// server's first message is the whole picture, a BMP file image; every later
// one is either a whole picture again or a change message, applied here to
// the page's own copy of the file image. The message format and its rules
// are written once, in docs/protocol.md ("The change stream").
// A message is checked whole before any byte is applied, so one that cannot
// be applied leaves the copy as it was; the page then reconnects and starts
// again from a whole picture. Loaded by the page as a plain script
// (window.panelChanges) and by node's test runner as a module.
"use strict";

(function (root) {
  const PROTOCOL = "panel-changes-v1";
  const FORMAT = 1;
  const HEADER_SIZE = 18;
  const SPAN_HEADER_SIZE = 9;
  const SPAN_NEW = 0;
  const SPAN_XOR = 1;
  const SPAN_REPEAT = 2;

  // True when the message is a whole picture: a BMP file image starts "BM".
  function isWholePicture(bytes) {
    return bytes.length >= 2 && bytes[0] === 0x42 && bytes[1] === 0x4d;
  }

  // Applies a change message (Uint8Array) to held (Uint8Array, the file image
  // of version `version`, or null when the version is not known yet: after a
  // whole picture). Returns the version the copy now holds; throws an Error
  // naming the fault, with held untouched, when the message cannot be applied.
  function applyChange(held, message, version) {
    const fail = (what) => { throw new Error("change message: " + what); };
    if (message.length < HEADER_SIZE) fail("cut short");
    const view = new DataView(message.buffer, message.byteOffset, message.byteLength);
    if (message[0] !== FORMAT) fail("unknown format " + message[0]);
    if (message[1] !== 0) fail("unknown flags " + message[1]);
    const from = view.getUint32(2, true);
    const to = view.getUint32(6, true);
    const fileLength = view.getUint32(10, true);
    const count = view.getUint32(14, true);
    if (version !== null && from !== version) fail("from version " + from + ", held " + version);
    if (fileLength !== held.length) fail("file length " + fileLength + ", held " + held.length);
    let at = HEADER_SIZE;
    let end = 0;
    let previousLength = -1;
    for (let i = 0; i < count; i++) {
      if (at + SPAN_HEADER_SIZE > message.length) fail("span " + i + " cut short");
      const offset = end + view.getUint32(at, true);
      const length = view.getUint32(at + 4, true);
      const encoding = message[at + 8];
      if (encoding > SPAN_REPEAT) fail("unknown encoding " + encoding);
      if (encoding === SPAN_REPEAT && length !== previousLength) {
        fail("span " + i + " repeats nothing");
      }
      if (offset + length > fileLength) fail("span " + i + " outside the picture");
      end = offset + length;
      previousLength = length;
      at += SPAN_HEADER_SIZE + (encoding === SPAN_REPEAT ? 0 : length);
      if (at > message.length) fail("span " + i + " cut short");
    }
    if (at !== message.length) fail((message.length - at) + " bytes after the spans");
    at = HEADER_SIZE;
    end = 0;
    let previous = 0;
    for (let i = 0; i < count; i++) {
      const offset = end + view.getUint32(at, true);
      const length = view.getUint32(at + 4, true);
      const encoding = message[at + 8];
      const carried = encoding === SPAN_REPEAT ? 0 : length;
      const bytes = message.subarray(at + SPAN_HEADER_SIZE, at + SPAN_HEADER_SIZE + carried);
      if (encoding === SPAN_NEW) {
        held.set(bytes, offset);
      } else if (encoding === SPAN_XOR) {
        for (let k = 0; k < length; k++) held[offset + k] ^= bytes[k];
      } else {
        held.copyWithin(offset, previous, previous + length);
      }
      previous = offset;
      end = offset + length;
      at += SPAN_HEADER_SIZE + carried;
    }
    return to;
  }

  const api = { PROTOCOL, isWholePicture, applyChange };
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.panelChanges = api;
})(this);
