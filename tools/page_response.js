// How fast the browser page answers, measured in Debian's headless Chromium
// on loopback against servers of the demonstration panel, one after another
// in one run (for example a build of an older tree and this one):
//   node tools/page_response.js <make-picture> <label>=<panel-server> ...
// For each server: page opened -> first picture (navigation start to the
// panel on the canvas, over five loads), then clicks alternating on "circle"
// and "clear": click -> pressed look and click -> drawing, timed from the
// pointer going down to the first painted frame that shows it. Then, where
// the server sends the control map, on a phone (390 x 844, three device
// pixels to the CSS pixel, touch): finger down -> pressed look and lift ->
// action (the finger held 150 ms, past the press minimum), slider 1 dragged
// back and forth (each step from the finger's move to the knob painted at
// its new place), and Enter on a focused button -> pressed look and ->
// action. Prints the median and p95 of each. playwright-core comes from
// tests/browser (`make browser-setup`).
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { freePort, waitForPort, tempFolder, spawnServer } = require('../tests/browser/harness');
const { waitForColour, screenPoint, fingerOn, waitForControls } = require('../tests/browser/panel_page');
const { chromium } = require('../tests/browser/node_modules/playwright-core');

const LOADS = 5;
const PAUSE_MS = 100;  // between clicks
const CLICKS = Number(process.env.PANEL_CLICKS || 20);  // of each button
const HOLD_MS = 150;  // a finger held on a button before it lifts
const BLACK = [0, 0, 0];
const WHITE = [255, 255, 255];
const GREY = [100, 100, 100];
// Places on the demonstration panel (picture pixels, y from the bottom row):
// a face pixel of each button away from its label, and a pixel of the circle.
const CIRCLE = { at: { x: 50, y: 20 }, face: { x: 15, y: 15 }, pressed: [127, 63, 63] };
const CLEAR = { at: { x: 500, y: 20 }, face: { x: 470, y: 15 }, pressed: [127, 127, 127] };
const SHAPE = { x: 320, y: 290 };
// Slider 1 pressed at y 150 and y 180 (127 and 204): a pixel of its knob at each.
const SLIDER_STOPS = [{ at: { x: 20, y: 180 }, knob: { x: 12, y: 177 } },
                      { at: { x: 20, y: 150 }, knob: { x: 12, y: 150 } }];
const BROWSER_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                       '--disable-background-networking', '--disable-component-update',
                       '--disable-sync', '--disable-quic'];

async function startServer(bin, picture) {
  const folder = tempFolder('response');
  fs.copyFileSync(picture, path.join(folder, 'work.bmp'));
  const port = await freePort();
  const child = spawnServer(bin, ['-p', String(port)], { cwd: folder, stdio: 'ignore' });
  // A server that cannot start (a wrong path) ends like one that exits.
  const exited = new Promise((resolve) => {
    child.once('exit', resolve);
    child.once('error', resolve);
  });
  const stop = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    await exited;
    fs.rmSync(folder, { recursive: true, force: true });
  };
  try {
    await waitForPort(port, undefined, child);
  } catch (error) {
    await stop();
    throw error;
  }
  return { port, stop };
}

// One click on the button: the moments (ms after the pointer went down) its
// pressed look and the shape's new colour were first painted; null when the
// pressed look was never painted.
async function click(page, button, shapeColour) {
  await page.evaluate(([face, pressed, shape, colour]) => {
    const canvas = document.getElementById('screen');
    const context = canvas.getContext('2d');
    const is = (at, want) => {
      const data = context.getImageData(at.x, canvas.height - 1 - at.y, 1, 1).data;
      return data[0] === want[0] && data[1] === want[1] && data[2] === want[2];
    };
    const watch = { down: null, pressed: null, drawn: null };
    window.responseWatch = watch;
    canvas.addEventListener('pointerdown', () => { watch.down = performance.now(); },
                            { capture: true, once: true });
    const look = () => {
      if (watch.down !== null) {
        if (watch.pressed === null && is(face, pressed)) watch.pressed = performance.now();
        if (watch.drawn === null && is(shape, colour)) watch.drawn = performance.now();
      }
      if (watch.drawn === null || watch.pressed === null) requestAnimationFrame(look);
    };
    requestAnimationFrame(look);
  }, [button.face, button.pressed, SHAPE, shapeColour]);
  const [x, y] = await screenPoint(page, button.at);
  await page.mouse.click(x, y);
  // The action runs as the button springs back, so the drawing comes with
  // (or after) the raised look: the button is ready for the next click.
  await page.waitForFunction(() => window.responseWatch.drawn !== null, null, { timeout: 10000 });
  await new Promise((resolve) => setTimeout(resolve, PAUSE_MS));
  const watch = await page.evaluate(() => window.responseWatch);
  return {
    pressed: watch.pressed === null ? null : watch.pressed - watch.down,
    drawn: watch.drawn - watch.down,
  };
}

function percentile(values, share) {
  const sorted = values.filter((v) => v !== null).sort((a, b) => a - b);
  if (sorted.length === 0) return NaN;
  return sorted[Math.min(sorted.length - 1, Math.ceil(share * sorted.length) - 1)];
}

function summary(values) {
  const seen = values.filter((v) => v !== null).length;
  const missed = values.length - seen;
  const shown = `${percentile(values, 0.5).toFixed(0)} ms median, ` +
                `${percentile(values, 0.95).toFixed(0)} ms p95`;
  return missed ? `${shown} (${missed} of ${values.length} not seen)` : shown;
}

// Runs use(page) in a fresh Chromium profile with these context options
// added; the browser and its profile are gone afterwards.
async function inBrowser(options, use) {
  const profile = tempFolder('response-profile');
  let context = null;
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: process.env.PANEL_CHROMIUM || '/usr/bin/chromium',
      headless: true,
      args: BROWSER_FLAGS,
      ...options,
    });
    return await use(context.pages()[0] || (await context.newPage()));
  } finally {
    if (context) await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

async function measure(bin, picture) {
  const server = await startServer(bin, picture);
  try {
    const desktop = await inBrowser({ viewport: { width: 1000, height: 700 } }, async (page) => {
      const firstPicture = [];
      for (let i = 0; i < LOADS; i++) {
        await page.goto(`http://127.0.0.1:${server.port}/`);
        // Slider 1's knob at 100: the panel is on the canvas.
        firstPicture.push(await waitForColour(page, { x: 12, y: 140 }, [255, 255, 255], 10000));
      }
      // The shapes area starts black only after a first "clear".
      await click(page, CLEAR, BLACK);
      const pressed = [];
      const drawn = [];
      for (let i = 0; i < CLICKS; i++) {
        for (const [button, colour] of [[CIRCLE, GREY], [CLEAR, BLACK]]) {
          const result = await click(page, button, colour);
          pressed.push(result.pressed);
          drawn.push(result.drawn);
        }
      }
      return { firstPicture, pressed, drawn };
    });
    return { ...desktop, phone: await measurePhone(server.port) };
  } finally {
    await server.stop();
  }
}

// From the next `start` event on the page, the first painted frame in which
// each named picture pixel shows its colour ({name: [at, colour]}). Resolves
// to a function that waits for them all: {name: ms after the event}.
async function watchFrom(page, start, named) {
  await page.evaluate(([start, named]) => {
    const canvas = document.getElementById('screen');
    const context = canvas.getContext('2d');
    const watch = { at: null, seen: {} };
    window.responseWatch = watch;
    window.addEventListener(start, () => { watch.at = performance.now(); },
                            { capture: true, once: true });
    const look = () => {
      for (const [name, [at, want]] of Object.entries(named)) {
        if (watch.at === null || name in watch.seen) continue;
        const data = context.getImageData(at.x, canvas.height - 1 - at.y, 1, 1).data;
        if (data[0] === want[0] && data[1] === want[1] && data[2] === want[2]) {
          watch.seen[name] = performance.now() - watch.at;
        }
      }
      if (Object.keys(watch.seen).length < Object.keys(named).length) requestAnimationFrame(look);
    };
    requestAnimationFrame(look);
  }, [start, named]);
  return async () => {
    await page.waitForFunction((count) => Object.keys(window.responseWatch.seen).length === count,
                               Object.keys(named).length, { timeout: 10000 });
    return page.evaluate(() => window.responseWatch.seen);
  };
}

// The phone's figures (see the top of this file), or null when the server
// sends no control map.
async function measurePhone(port) {
  const phone = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, isMobile: true,
                  hasTouch: true };
  return inBrowser(phone, async (page) => {
      await page.goto(`http://127.0.0.1:${port}/`);
      await waitForColour(page, { x: 12, y: 140 }, WHITE, 10000);
      if ((await page.evaluate(() => socket.protocol)) !== 'panel-controls-v1') return null;
      await waitForControls(page);
      const finger = await fingerOn(page);
      const figures = { pressed: [], acted: [], step: [], keyPressed: [], keyActed: [] };
      const buttons = [[CIRCLE, GREY, 'circle'], [CLEAR, BLACK, 'clear']];
      // The shapes area starts black only after a first "clear".
      await finger.down(CLEAR.at);
      await finger.up();
      await waitForColour(page, SHAPE, BLACK, 10000);
      for (let i = 0; i < CLICKS; i++) {
        for (const [button, colour] of buttons) {
          let done = await watchFrom(page, 'pointerdown', { pressed: [button.face, button.pressed] });
          await finger.down(button.at);
          figures.pressed.push((await done()).pressed);
          await new Promise((resolve) => setTimeout(resolve, HOLD_MS));
          done = await watchFrom(page, 'pointerup', { acted: [SHAPE, colour] });
          await finger.up();
          figures.acted.push((await done()).acted);
        }
      }
      for (let i = 0; i < CLICKS; i++) {
        for (const [button, colour, name] of buttons) {
          await page.getByRole('button', { name, exact: true }).focus();
          const done = await watchFrom(page, 'keydown',
                                       { pressed: [button.face, button.pressed], acted: [SHAPE, colour] });
          await page.keyboard.press('Enter');
          const seen = await done();
          figures.keyPressed.push(seen.pressed);
          figures.keyActed.push(seen.acted);
        }
      }
      // Last: the drag changes the shapes' colour.
      await finger.down(SLIDER_STOPS[1].at);
      await waitForColour(page, SLIDER_STOPS[1].knob, WHITE, 10000);
      for (let i = 0; i < 2 * CLICKS; i++) {
        const stop = SLIDER_STOPS[i % 2];
        const done = await watchFrom(page, 'pointermove', { moved: [stop.knob, WHITE] });
        await finger.move(stop.at);
        figures.step.push((await done()).moved);
      }
      await finger.up();
      return figures;
  });
}

async function main() {
  const usage = 'usage: node tools/page_response.js <make-picture> <label>=<panel-server> ...';
  const [makePicture, ...servers] = process.argv.slice(2);
  if (makePicture === '--help' || makePicture === '-h') {
    console.log(usage);
    process.exit(0);
  }
  if (!makePicture || servers.length === 0 || servers.some((s) => !s.includes('='))) {
    console.error(usage);
    process.exit(2);
  }
  const folder = tempFolder('response-picture');
  try {
    const picture = path.join(folder, 'work.bmp');
    execFileSync(makePicture, [picture]);
    for (const entry of servers) {
      const label = entry.slice(0, entry.indexOf('='));
      const bin = path.resolve(entry.slice(entry.indexOf('=') + 1));
      const result = await measure(bin, picture);
      console.log(`${label}:`);
      console.log(`  page opened -> first picture  ${summary(result.firstPicture)} (${LOADS} loads)`);
      console.log(`  click -> pressed look         ${summary(result.pressed)} (${result.pressed.length} clicks)`);
      console.log(`  click -> drawing              ${summary(result.drawn)}`);
      const phone = result.phone;
      if (!phone) {
        console.log('  phone: no control map from this server');
        continue;
      }
      console.log(`  phone, finger down -> pressed ${summary(phone.pressed)} (${phone.pressed.length} presses)`);
      console.log(`  phone, lift -> action         ${summary(phone.acted)} (held ${HOLD_MS} ms)`);
      console.log(`  phone, drag step -> knob      ${summary(phone.step)} (${phone.step.length} steps)`);
      console.log(`  Enter -> pressed look         ${summary(phone.keyPressed)} (${phone.keyPressed.length} presses)`);
      console.log(`  Enter -> action               ${summary(phone.keyActed)}`);
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
