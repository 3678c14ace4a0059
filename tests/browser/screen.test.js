// A real browser connects and receives the picture as a BMP it can decode.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const { startServer, openPage } = require('./harness');

// Connects, keeps the first binary message, and decodes it as an image.
const page = `<!doctype html><meta charset="utf-8"><title>screen</title>
<script>
window.connectTo = (port) => new Promise((resolve, reject) => {
  const socket = new WebSocket('ws://127.0.0.1:' + port + '/');
  socket.binaryType = 'arraybuffer';
  socket.onerror = () => reject(new Error('socket error'));
  socket.onmessage = async (event) => {
    if (!(event.data instanceof ArrayBuffer)) return;
    const bytes = new Uint8Array(event.data);
    const view = new DataView(event.data);
    const image = await createImageBitmap(new Blob([bytes], { type: 'image/bmp' }));
    socket.close();
    resolve({
      length: bytes.length,
      magic: String.fromCharCode(bytes[0], bytes[1]),
      sizeField: view.getUint32(2, true),
      width: image.width,
      height: image.height,
    });
  };
});
</script>`;

test('a browser receives the picture as one BMP of its size', { timeout: 30000 }, async () => {
  const server = await startServer({ width: 640, height: 480 });
  after(() => server.stop());
  const browser = await openPage(page);
  after(() => browser.stop());

  const screen = await browser.page.evaluate((port) => window.connectTo(port), server.port);
  assert.strictEqual(screen.magic, 'BM');
  assert.strictEqual(screen.length, 640 * 480 * 3 + 54);
  assert.strictEqual(screen.sizeField, screen.length);
  assert.deepStrictEqual([screen.width, screen.height], [640, 480]);
});
