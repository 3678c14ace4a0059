// The change stream in the real page: on photograph-like pictures of 24 and
// 16 bits, every press of the click script changes the server's picture, and
// the page's canvas, built from change messages, equals that picture pixel
// for pixel (as a raw client that offered nothing receives it whole).
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { startServer, openUrl, tempFolder } = require('./harness');
const { pressAt, waitForPanel } = require('./panel_page');

// A smooth gradient with a little noise from a fixed seed, as a camera would
// give, in 16 bits (5-5-5) or 24.
function photograph(width, height, bits) {
  const stride = Math.ceil((width * bits) / 32) * 4;
  const size = 54 + stride * height;
  const bytes = Buffer.alloc(size);
  bytes.write('BM', 0, 'latin1');
  bytes.writeUInt32LE(size, 2);
  bytes.writeUInt32LE(54, 10);
  bytes.writeUInt32LE(40, 14);
  bytes.writeInt32LE(width, 18);
  bytes.writeInt32LE(height, 22);
  bytes.writeUInt16LE(1, 26);
  bytes.writeUInt16LE(bits, 28);
  let seed = 12345;
  const noise = () => {
    seed = (seed * 1103515245 + 12345) >>> 0;
    return ((seed >>> 16) % 17) - 8;
  };
  const clamp = (v) => Math.max(0, Math.min(255, v));
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const r = clamp(Math.round((255 * x) / width) + noise());
      const g = clamp(Math.round((255 * y) / height) + noise());
      const b = clamp(128 + noise());
      const at = 54 + y * stride + (x * bits) / 8;
      if (bits === 24) {
        bytes[at] = b;
        bytes[at + 1] = g;
        bytes[at + 2] = r;
      } else {
        bytes.writeUInt16LE(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3), at);
      }
    }
  }
  return bytes;
}

// The click script: the five shape buttons, two sliders, "clear".
const SCRIPT = [
  ['circle', { x: 50, y: 20 }], ['circlef', { x: 140, y: 20 }], ['rect', { x: 230, y: 20 }],
  ['reectf', { x: 320, y: 20 }], ['triangle', { x: 410, y: 20 }],
  ['slider 1', { x: 20, y: 180 }], ['slider 3', { x: 70, y: 120 }], ['clear', { x: 500, y: 20 }],
];

// In the page: the server's picture as a client that offers nothing gets it,
// a checksum of its bytes, and how many pixels of the canvas differ from it.
function compareWithServer(port) {
  return new Promise((resolve, reject) => {
    const raw = new WebSocket('ws://127.0.0.1:' + port + '/');
    raw.binaryType = 'arraybuffer';
    raw.onerror = () => reject(new Error('raw client failed'));
    raw.onmessage = (event) => {
      raw.close();
      const bytes = new Uint8Array(event.data);
      let sum = 0;
      for (let i = 0; i < bytes.length; i++) sum = (sum * 31 + bytes[i]) >>> 0;
      const decoded = decodeBmp(event.data);
      const canvas = document.getElementById('screen');
      if (canvas.width !== decoded.width || canvas.height !== decoded.height) {
        resolve({ sum, differing: -1 });
        return;
      }
      const shown = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let differing = 0;
      for (let i = 0; i < shown.length; i += 4) {
        if (shown[i] !== decoded.rgba[i] || shown[i + 1] !== decoded.rgba[i + 1] ||
            shown[i + 2] !== decoded.rgba[i + 2]) differing++;
      }
      resolve({ sum, differing });
    };
  });
}

// Waits until the server's picture is no longer `before` and the canvas
// equals it; the new picture's checksum.
async function waitForEqual(page, port, before, what) {
  const deadline = Date.now() + 8000;
  let last = null;
  while (Date.now() < deadline) {
    last = await page.evaluate(compareWithServer, port);
    if (last.sum !== before && last.differing === 0) return last.sum;
    await new Promise((resolve) => setTimeout(resolve, 150));
  }
  assert.fail(`${what}: ${JSON.stringify(last)} (checksum before ${before})`);
}

for (const bits of [24, 16]) {
  test(`the page follows the click script pixel-exact on a ${bits}-bit photograph`,
    { timeout: 90000 }, async () => {
      const folder = tempFolder('stream');
      after(() => fs.rmSync(folder, { recursive: true, force: true }));
      const picture = path.join(folder, 'photo.bmp');
      // 24 bits: the tool's photograph-like picture; 16 bits: one made here.
      if (bits === 24) execFileSync(process.env.PANEL_MAKE_PICTURE, ['--photo', picture]);
      else fs.writeFileSync(picture, photograph(640, 480, bits));
      const server = await startServer({ picture });
      after(() => server.stop());
      const browser = await openUrl(`http://127.0.0.1:${server.port}/`, { width: 1000, height: 700 });
      after(() => browser.stop());
      const page = browser.page;
      await page.waitForFunction(() => document.body.dataset.state === 'live');
      assert.strictEqual(await page.evaluate(() => socket.protocol), 'panel-controls-v1');
      if (bits === 24) await waitForPanel(page);

      let sum = await waitForEqual(page, server.port, null, 'the first picture');
      for (const [what, at] of SCRIPT) {
        await pressAt(page, at);
        sum = await waitForEqual(page, server.port, sum, what);
      }
      // The canvas came from change messages: the page holds a version.
      assert.strictEqual(typeof (await page.evaluate(() => heldVersion)), 'number');
    });
}
