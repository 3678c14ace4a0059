// The page with an access key: the address with #key= signs in, shows the
// live picture and is obeyed; a view key shows "view only" (on a phone too)
// and its presses change nothing, nor show as if they did. The time from the key to the live picture is printed.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { startServer, openUrl, tempFolder } = require('./harness');
const {
  GREY, CIRCLE_BUTTON, pixelIn, waitForColour, neverColour, pressAt, waitForPanel,
} = require('./panel_page');

// A key file with a control and a view key; resolves to { file, control, view }.
function makeKeys() {
  const folder = tempFolder('keys');
  after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const file = path.join(folder, 'keys');
  const keyOf = (args) => /^Key: (\S+)$/m.exec(execFileSync(process.env.PANEL_KEY_BIN, args, { encoding: 'utf8' }))[1];
  return { file, control: keyOf([file]), view: keyOf(['--view', file]) };
}

async function openWithKey(keys, key) {
  const server = await startServer({ width: 640, height: 480, env: { PANEL_KEY_FILE: keys.file } });
  after(() => server.stop());
  const started = Date.now();
  const browser = await openUrl(`http://127.0.0.1:${server.port}/#key=${key}`, { width: 1000, height: 700 });
  after(() => browser.stop());
  await waitForPanel(browser.page);
  return { page: browser.page, server, ms: Date.now() - started };
}

test('the address with the key reaches the live picture and is obeyed', { timeout: 60000 }, async () => {
  const keys = makeKeys();
  const { page, server, ms } = await openWithKey(keys, keys.control);
  console.log(`key in the address to the live picture: ${ms} ms (page load included)`);
  assert.strictEqual(new URL(page.url()).hash, '', 'the key is gone from the address bar');
  assert.strictEqual(await page.isVisible('#view-only'), false);
  await pressAt(page, CIRCLE_BUTTON);
  await waitForColour(page, { x: 320, y: 290 }, GREY);
  assert.ok(!server.output().includes(keys.control), 'the server never prints the key');

  // Signing out ends the session: the prompt comes back, and a typed key
  // opens the picture again.
  await page.click('#logout');
  await page.waitForSelector('#key-form', { state: 'visible' });
  const typed = Date.now();
  await page.fill('#key', keys.control);
  await page.press('#key', 'Enter');
  await page.waitForFunction(() => document.body.dataset.state === 'live', null, { timeout: 10000 });
  console.log(`typed key to the live picture: ${Date.now() - typed} ms`);

  // A link with the key pasted into the tab that shows the prompt signs in
  // without a reload, and leaves the address bar at once.
  await page.click('#logout');
  await page.waitForSelector('#key-form', { state: 'visible' });
  await page.evaluate((key) => { location.hash = '#key=' + key; }, keys.control);
  await page.waitForFunction(() => document.body.dataset.state === 'live', null, { timeout: 10000 });
  assert.strictEqual(new URL(page.url()).hash, '', 'the pasted key is gone from the address bar');
});

test('a view key shows "view only" and its presses change nothing', { timeout: 60000 }, async () => {
  const keys = makeKeys();
  const { page } = await openWithKey(keys, keys.view);
  assert.strictEqual(await page.textContent('#view-only'), 'view only');
  assert.strictEqual(await page.isVisible('#view-only'), true);
  const before = await pixelIn(page, 320, 290);
  assert.notDeepStrictEqual(before, GREY);
  // An obeyed press shows its look at once and the circle 0.1 s later: a
  // view session's shows neither within 3 s.
  await pressAt(page, CIRCLE_BUTTON);
  await Promise.all([
    neverColour(page, { x: 50, y: 13 }, [127, 63, 63], 3000),
    neverColour(page, { x: 320, y: 290 }, GREY, 3000),
  ]);
  assert.deepStrictEqual(await pixelIn(page, 320, 290), before);
  assert.strictEqual(await page.textContent('#press'), '–', 'no press is shown as if it happened');
  // On a phone the header is folded away; "view only" shows beside its button.
  await page.setViewportSize({ width: 390, height: 844 });
  assert.strictEqual(await page.isVisible('header'), false);
  assert.strictEqual(await page.isVisible('#fold-view'), true);
});

// A streaming client of the raw protocol on the server's port with the key:
// it answers the two pings and then reads and drops whatever comes.
function rawViewer(port, key) {
  const net = require('node:net');
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    let pongs = 0;
    let buffered = Buffer.alloc(0);
    socket.on('error', reject);
    socket.on('connect', () => socket.write(
      'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
      'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n' +
      `Authorization: Bearer ${key}\r\n\r\n`));
    socket.on('data', (bytes) => {
      if (pongs === 2) return;
      buffered = Buffer.concat([buffered, bytes]);
      const ping = Buffer.from([0x89, 5, ...Buffer.from('Hello')]);
      for (let at = buffered.indexOf(ping); at >= 0 && pongs < 2; at = buffered.indexOf(ping)) {
        buffered = buffered.subarray(at + ping.length);
        socket.write(Buffer.from([0x8a, 0x85, 0, 0, 0, 0, ...Buffer.from('Hello')]));
        if (++pongs === 2) resolve(socket);
      }
    });
  });
}

test('a page that gives its place to the owner says so', { timeout: 60000 }, async () => {
  const keys = makeKeys();
  const { page, server } = await openWithKey(keys, keys.view);
  const viewers = [];
  after(() => viewers.forEach((socket) => socket.destroy()));
  for (let i = 0; i < 4; i++) viewers.push(await rawViewer(server.port, keys.view));
  viewers.push(await rawViewer(server.port, keys.control));
  await page.waitForFunction(
    () => document.getElementById('state-text').textContent.startsWith('the owner took this place'),
    null, { timeout: 10000 });
});
