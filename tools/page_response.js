// How fast the browser page answers, measured in Debian's headless Chromium
// on loopback against servers of the demonstration panel, one after another
// in one run (for example a build of an older tree and this one):
//   node tools/page_response.js <make-picture> <label>=<panel-server> ...
// For each server: page opened -> first picture (navigation start to the
// panel on the canvas, over five loads), then clicks alternating on "circle"
// and "clear": click -> pressed look and click -> drawing, timed from the
// pointer going down to the first painted frame that shows it. Prints the
// median and p95 of each. playwright-core comes from tests/browser
// (`make browser-setup`).
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { freePort, waitForPort, tempFolder, spawnServer } = require('../tests/browser/harness');
const { waitForColour, screenPoint } = require('../tests/browser/panel_page');
const { chromium } = require('../tests/browser/node_modules/playwright-core');

const LOADS = 5;
const PAUSE_MS = 100;  // between clicks
const CLICKS = Number(process.env.PANEL_CLICKS || 20);  // of each button
const BLACK = [0, 0, 0];
const GREY = [100, 100, 100];
// Places on the demonstration panel (picture pixels, y from the bottom row):
// a face pixel of each button away from its label, and a pixel of the circle.
const CIRCLE = { at: { x: 50, y: 20 }, face: { x: 15, y: 15 }, pressed: [127, 63, 63] };
const CLEAR = { at: { x: 500, y: 20 }, face: { x: 470, y: 15 }, pressed: [127, 127, 127] };
const SHAPE = { x: 320, y: 290 };

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
    await waitForPort(port, 5000);
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

async function measure(bin, picture) {
  const server = await startServer(bin, picture);
  const profile = tempFolder('response-profile');
  let context = null;
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: process.env.PANEL_CHROMIUM || '/usr/bin/chromium',
      headless: true,
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--disable-quic'],
      viewport: { width: 1000, height: 700 },
    });
    const page = context.pages()[0] || (await context.newPage());
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
  } finally {
    if (context) await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
    await server.stop();
  }
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
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
