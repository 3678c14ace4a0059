// The real browser page against the real server: it shows the panel, its
// presses reach the buttons and sliders, several pages follow one another,
// and it finds the server again after a restart.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const os = require('node:os');
const path = require('node:path');
const { startServer, openUrl } = require('./harness');

const pageFile = path.resolve(__dirname, '../../client/index.html');
const screenshot = process.env.PANEL_SCREENSHOT || path.join(os.tmpdir(), 'panel-screenshot.png');
const WAIT_MS = 6000;  // two control-loop turns and a connection turn, with room

const GREY = [100, 100, 100];
const WHITE = [255, 255, 255];

// Places on the panel, in picture pixels (y counted from the bottom row).
const CIRCLE_BUTTON = { x: 50, y: 20 };
const DISC_BUTTON = { x: 140, y: 20 };
const SLIDER_ONE_AT_127 = { x: 20, y: 150 };

function pageUrl(port) {
  return 'file://' + pageFile + '?host=127.0.0.1&port=' + port;
}

async function openPanel(port) {
  const browser = await openUrl(pageUrl(port), { width: 1000, height: 700 });
  after(() => browser.stop());
  return browser.page;
}

// Colour [r, g, b] of a picture pixel as the page's canvas shows it.
function pixelIn(page, x, y) {
  return page.evaluate(([x, y]) => {
    const canvas = document.getElementById('screen');
    const row = canvas.height - 1 - y;
    const data = canvas.getContext('2d').getImageData(x, row, 1, 1).data;
    return [data[0], data[1], data[2]];
  }, [x, y]);
}

// Waits until the picture pixel shows the colour; resolves to the moment
// (page clock, ms) it was first seen.
async function waitForColour(page, at, colour, timeout = WAIT_MS) {
  const seen = await page.waitForFunction(([x, y, colour]) => {
    const canvas = document.getElementById('screen');
    if (document.body.dataset.state !== 'live') return false;
    const data = canvas.getContext('2d').getImageData(x, canvas.height - 1 - y, 1, 1).data;
    return data[0] === colour[0] && data[1] === colour[1] && data[2] === colour[2] &&
           performance.now();
  }, [at.x, at.y, colour], { polling: 'raf', timeout });
  return seen.jsonValue();
}

// Records, on every frame the page paints, the first moment each named
// pixel showed its colour. done() stops and resolves to {name: moment|null}.
async function watchFor(page, named) {
  await page.evaluate((named) => {
    const canvas = document.getElementById('screen');
    const context = canvas.getContext('2d');
    const seen = Object.fromEntries(Object.keys(named).map((name) => [name, null]));
    window.panelWatch = { seen, running: true };
    const look = () => {
      for (const [name, [at, colour]] of Object.entries(named)) {
        if (seen[name] !== null) continue;
        const data = context.getImageData(at.x, canvas.height - 1 - at.y, 1, 1).data;
        if (data[0] === colour[0] && data[1] === colour[1] && data[2] === colour[2]) {
          seen[name] = performance.now();
        }
      }
      if (window.panelWatch.running) requestAnimationFrame(look);
    };
    requestAnimationFrame(look);
  }, named);
  return {
    done: () => page.evaluate(() => {
      window.panelWatch.running = false;
      return window.panelWatch.seen;
    }),
  };
}

// Presses the picture pixel where it is on screen, whatever the scale;
// resolves to the moment of the press (page clock, ms).
async function pressAt(page, at) {
  const box = await page.locator('#screen').boundingBox();
  const size = await page.evaluate(() => {
    const canvas = document.getElementById('screen');
    return [canvas.width, canvas.height];
  });
  const screenX = box.x + ((at.x + 0.5) * box.width) / size[0];
  const screenY = box.y + ((size[1] - 1 - at.y + 0.5) * box.height) / size[1];
  const pressed = await page.evaluate(() => performance.now());
  await page.mouse.click(screenX, screenY);
  return pressed;
}

// The panel is drawn: slider 1's knob shows the value 100.
function waitForPanel(page) {
  return waitForColour(page, { x: 12, y: 140 }, WHITE, 10000);
}

test('the page shows the panel and its presses draw in every open page', { timeout: 60000 },
  async () => {
    const server = await startServer({ width: 640, height: 480 });
    after(() => server.stop());
    const first = await openPanel(server.port);
    const second = await openPanel(server.port);
    await waitForPanel(first);
    await waitForPanel(second);
    assert.strictEqual(await first.textContent('#size'), '640 × 480');
    // The browser offered per-message compression and the server took it: the
    // pictures arrive compressed and the presses below are sent compressed.
    assert.strictEqual(await first.evaluate(() => socket.extensions),
      'permessage-deflate; server_no_context_takeover; client_no_context_takeover');

    // "circle": the button may be seen pressed (for one control-loop turn),
    // then the grey outline appears in both pages.
    const watch = await watchFor(first, { pressed: [{ x: 50, y: 13 }, [127, 63, 63]],
                                    drawn: [{ x: 320, y: 290 }, GREY] });
    const pressed = await pressAt(first, CIRCLE_BUTTON);
    await waitForColour(first, { x: 320, y: 290 }, GREY);
    for (const at of [{ x: 320, y: 190 }, { x: 370, y: 240 }, { x: 270, y: 240 }]) {
      assert.deepStrictEqual(await pixelIn(first, at.x, at.y), GREY);
    }
    assert.deepStrictEqual(await pixelIn(first, 320, 240), await pixelIn(second, 320, 240));
    await waitForColour(second, { x: 320, y: 290 }, GREY);
    assert.strictEqual(await first.textContent('#press'), '50, 20');
    const seen = await watch.done();
    const since = (moment) => (moment ? Math.round(moment - pressed) + ' ms' : 'not seen');
    console.log(`click to pressed look ${since(seen.pressed)}, click to circle ${since(seen.drawn)}`);

    // Slider 1 to 127, then "circlef": a disc of (127, 100, 100).
    await pressAt(first, SLIDER_ONE_AT_127);
    await waitForColour(first, { x: 12, y: 150 }, WHITE);
    await pressAt(first, DISC_BUTTON);
    await waitForColour(first, { x: 320, y: 240 }, [127, 100, 100]);
    await waitForColour(second, { x: 320, y: 240 }, [127, 100, 100]);
    await first.screenshot({ path: screenshot });
  });

test('the page reconnects by itself when the server restarts', { timeout: 60000 }, async () => {
  const server = await startServer({ width: 640, height: 480 });
  after(() => server.stop());
  const page = await openPanel(server.port);
  await waitForPanel(page);
  await server.stop();
  await page.waitForFunction(() => document.body.dataset.state === 'closed', null,
                             { timeout: WAIT_MS });

  const again = await startServer({ width: 640, height: 480, port: server.port });
  after(() => again.stop());
  await page.waitForFunction(() => document.body.dataset.state === 'live', null,
                             { timeout: 20000 });
  await pressAt(page, CIRCLE_BUTTON);
  await waitForColour(page, { x: 320, y: 290 }, GREY);
});
