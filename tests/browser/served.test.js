// The page as the server hands it out: it drives the panel on a desktop and
// on a phone, and the server refuses the pages of other sites (another port
// of this machine, a frame of another site, a name another site points here)
// while its own page goes on working.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { startServer, openUrl, freePort, tempFolder } = require('./harness');
const {
  WAIT_MS, GREY, WHITE, CIRCLE_BUTTON, DISC_BUTTON, SLIDER_ONE_AT_127,
  waitForColour, pressAt, waitForPanel,
} = require('./panel_page');

const clientFolder = path.resolve(__dirname, '../../client');
const DISC = [127, 100, 100];  // "circlef" with slider 1 at 127
const REBOUND = 'rebound.example';  // a name the browser resolves to loopback

// Serves `pages` ({ path: text }) on a free loopback port, scripts (.js) as
// scripts and the rest as HTML; resolves to its port.
async function startStaticServer(pages) {
  const port = await freePort();
  const server = http.createServer((request, response) => {
    const where = request.url.split('?')[0];
    const text = pages[where];
    const type = where.endsWith('.js') ? 'text/javascript' : 'text/html';
    response.writeHead(text ? 200 : 404, { 'Content-Type': type + '; charset=utf-8' });
    response.end(text || '');
  });
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  after(() => new Promise((resolve) => server.close(resolve)));
  return port;
}

function waitForOutput(server, line) {
  return new Promise((resolve, reject) => {
    const deadline = Date.now() + WAIT_MS;
    const look = () => {
      if (server.output().includes(line)) resolve();
      else if (Date.now() > deadline) reject(new Error(`no "${line}" in:\n${server.output()}`));
      else setTimeout(look, 50);
    };
    look();
  });
}

// No part of the page reaches past the window's right edge.
function overflow(page) {
  return page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
}

test('the served page drives the panel and the pages of other sites are refused',
  { timeout: 60000 }, async () => {
    const server = await startServer({ width: 640, height: 480 });
    after(() => server.stop());
    const own = `http://127.0.0.1:${server.port}/`;
    const browser = await openUrl(own, { width: 1000, height: 700 },
                                  { args: [`--host-resolver-rules=MAP ${REBOUND} 127.0.0.1`] });
    after(() => browser.stop());
    const page = browser.page;
    await waitForPanel(page);

    // A copy of the page and its scripts, as another site could serve them.
    const scripts = fs.readdirSync(clientFolder).filter((name) => name.endsWith('.js'));
    const otherPort = await startStaticServer({
      '/page': fs.readFileSync(path.join(clientFolder, 'index.html'), 'utf8'),
      '/frame': `<iframe sandbox="allow-scripts" src="${own}"></iframe>`,
      ...Object.fromEntries(scripts.map((name) =>
        ['/' + name, fs.readFileSync(path.join(clientFolder, name), 'utf8')])),
    });
    const context = page.context();
    // The same page served from another port: its origin is another site.
    const copy = await context.newPage();
    await copy.goto(`http://127.0.0.1:${otherPort}/page?host=127.0.0.1&port=${server.port}`);
    await waitForOutput(server, 'Refused a connection: Origin is another site.');
    // A name that another site points at the device: Host names that site.
    const rebound = await context.newPage();
    await rebound.goto(`http://${REBOUND}:${server.port}/`);
    await waitForOutput(server, 'Refused a connection: Host names another site.');
    // A sandboxed frame of another site may not even show the page.
    const framing = await context.newPage();
    await framing.goto(`http://127.0.0.1:${otherPort}/frame`);
    await framing.waitForFunction(() => document.querySelector('iframe'));
    const frame = framing.frames().find((f) => f !== framing.mainFrame());
    const deadline = Date.now() + WAIT_MS;
    while (frame.url() === 'about:blank' && Date.now() < deadline) await framing.waitForTimeout(50);
    assert.match(frame.url(), /^chrome-error:/);

    for (const refused of [copy, rebound]) {
      assert.notStrictEqual(await refused.evaluate(() => document.body.dataset.state), 'live');
    }
    // Meanwhile the device's own page goes on: a press draws the circle.
    await pressAt(page, CIRCLE_BUTTON);
    await waitForColour(page, { x: 320, y: 290 }, GREY);
    if (process.env.PANEL_SCREENSHOT) await page.screenshot({ path: process.env.PANEL_SCREENSHOT });
  });

test('on a phone the picture fills the width and taps press the right pixel',
  { timeout: 60000 }, async () => {
    const server = await startServer({ width: 640, height: 480 });
    after(() => server.stop());
    const browser = await openUrl(`http://127.0.0.1:${server.port}/`, { width: 390, height: 844 },
                                  { device: { deviceScaleFactor: 3, isMobile: true, hasTouch: true } });
    after(() => browser.stop());
    const page = browser.page;
    await waitForPanel(page);
    const shown = await page.locator('#screen').boundingBox();
    assert.strictEqual(Math.round(shown.width), 390);
    assert.strictEqual(await overflow(page), 0);
    assert.ok(!(await page.locator('header').isVisible()), 'the header is folded away');

    await pressAt(page, SLIDER_ONE_AT_127, { touch: true });
    await waitForColour(page, { x: 12, y: 150 }, WHITE);
    await pressAt(page, DISC_BUTTON, { touch: true });
    await waitForColour(page, { x: 320, y: 240 }, DISC);
    if (process.env.PANEL_PHONE_SCREENSHOT) {
      await page.screenshot({ path: process.env.PANEL_PHONE_SCREENSHOT, scale: 'css' });
    }

    // The folded controls open over the picture, still within the width.
    await page.locator('#fold').tap();
    assert.ok(await page.locator('#host').isVisible());
    assert.strictEqual(await overflow(page), 0);
    await page.locator('#fold').tap();

    // Turned sideways: whole device pixels per picture pixel, within the window.
    await page.setViewportSize({ width: 844, height: 390 });
    await page.waitForFunction(() => document.getElementById('screen').classList.contains('crisp'));
    const sideways = await page.locator('#screen').boundingBox();
    assert.ok(sideways.height <= 390 && sideways.height * 3 / 2 >= 390 * (2 / 3), `${sideways.height}`);
    assert.strictEqual(await overflow(page), 0);
    // Slider 1 back to 100: its knob moves back to where it started.
    await pressAt(page, { x: 20, y: 140 }, { touch: true });
    await waitForColour(page, { x: 12, y: 140 }, WHITE);
  });

test('a picture the server refused is told as such, not as unreadable', { timeout: 60000 }, async () => {
  const folder = tempFolder('refused');
  after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const picture = path.join(folder, 'work.bmp');
  fs.writeFileSync(picture, '');
  const server = await startServer({ picture });
  after(() => server.stop());
  await waitForOutput(server, 'Picture refused: ');
  const browser = await openUrl(`http://127.0.0.1:${server.port}/`, { width: 1000, height: 700 });
  after(() => browser.stop());
  await browser.page.waitForFunction(
    () => document.getElementById('screen-note').textContent === 'no picture to show', null,
    { timeout: WAIT_MS });
  assert.match(await browser.page.textContent('#state-text'), /no picture to show: the server's output says why/);
});
