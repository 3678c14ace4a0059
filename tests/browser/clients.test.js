// The server against npm's ws client, as a script in node uses it: with
// keep-alive pings 0.2 s apart, compression offered and not, it stays
// connected, sees every change its clicks make, and has its close answered
// with its own code.
const test = require('node:test');
const assert = require('node:assert');
const WebSocket = require('ws');
const { startServer } = require('./harness');

// The demonstration panel: "circlef" fills a disc around (320, 240), "clear"
// blacks out the drawing area; the sliders start the drawing colour at
// grey 100.
const CIRCLEF = [140, 20];
const CLEAR = [500, 20];
const PING_MS = 200;

// The blue, green and red bytes of a 24-bit BMP at (x, y), y from the bottom.
function pixel(picture, x, y) {
  const start = picture.readUInt32LE(10);
  const width = picture.readInt32LE(18);
  const at = start + y * ((width * 3 + 3) & ~3) + x * 3;
  return [picture[at], picture[at + 1], picture[at + 2]];
}

// Resolves with the next whole picture for which `wanted(pixel at the
// centre)` holds; rejects after 10 s.
function pictureWhere(socket, wanted) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no picture showed the click')), 10000);
    const look = (data) => {
      if (data.length < 2 || data[0] !== 0x42 || data[1] !== 0x4d) return;
      if (!wanted(pixel(data, 320, 240))) return;
      clearTimeout(timer);
      socket.off('message', look);
      resolve();
    };
    socket.on('message', look);
  });
}

async function click(socket, [x, y], wanted) {
  const shown = pictureWhere(socket, wanted);
  socket.send(`mouse_X: ${x}\r\nmouse_Y: ${y}\r\n`);
  await shown;
}

for (const perMessageDeflate of [true, false]) {
  test(`ws client, compression ${perMessageDeflate ? 'offered' : 'not offered'}`, async (t) => {
    const server = await startServer();
    t.after(server.stop);
    const socket = new WebSocket(`ws://127.0.0.1:${server.port}/`, { perMessageDeflate });
    const closed = new Promise((resolve) => socket.once('close', (code) => resolve(code)));
    await new Promise((resolve, reject) => {
      socket.once('open', resolve);
      socket.once('error', reject);
    });
    // A keep-alive as the library's users write one: a ping PING_MS after
    // the last pong came back.
    let pings = 0;
    let pongs = 0;
    let keepalive = null;
    let running = true;
    const ping = () => { pings += 1; socket.ping('node'); };
    socket.on('pong', () => {
      pongs += 1;
      if (running) keepalive = setTimeout(ping, PING_MS);
    });
    ping();
    try {
      // Streaming (after the server's two pings) once the first picture is in.
      await pictureWhere(socket, () => true);
      for (let round = 0; round < 3; round += 1) {
        await click(socket, CLEAR, (bgr) => bgr.every((byte) => byte === 0));
        await click(socket, CIRCLEF, (bgr) => bgr.every((byte) => byte === 100));
      }
    } finally {
      running = false;
      clearTimeout(keepalive);
    }
    assert.ok(pings >= 3, `only ${pings} pings in the session`);
    // A ping still out is answered before the close answer.
    socket.close(4000, 'done');
    assert.strictEqual(await closed, 4000);
    assert.strictEqual(pongs, pings);
  });
}
