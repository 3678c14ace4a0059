// The real browser page against the real server: it shows the panel, its
// presses reach the buttons and sliders, several pages follow one another,
// and it finds the server again after a restart.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { startServer, openUrl } = require('./harness');
const {
  WAIT_MS, GREY, WHITE, CIRCLE_BUTTON, DISC_BUTTON, SLIDER_ONE_AT_127,
  pixelIn, waitForColour, neverColour, pressAt, screenPoint, waitForPanel,
} = require('./panel_page');

const CIRCLE_FACE = [255, 127, 127];
const CIRCLE_PRESSED = [127, 63, 63];

const pageFile = path.resolve(__dirname, '../../client/index.html');
// A screenshot of the panel is written only where PANEL_SCREENSHOT names a file.
const screenshot = process.env.PANEL_SCREENSHOT;

function pageUrl(port) {
  return 'file://' + pageFile + '?host=127.0.0.1&port=' + port;
}

async function openPanel(port) {
  const browser = await openUrl(pageUrl(port), { width: 1000, height: 700 });
  after(() => browser.stop());
  return browser.page;
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
    if (screenshot) await first.screenshot({ path: screenshot });
  });

test('a held button stays pressed until the lift and a held slider follows the pointer',
  { timeout: 60000 }, async () => {
    const server = await startServer({ width: 640, height: 480 });
    after(() => server.stop());
    const page = await openPanel(server.port);
    await waitForPanel(page);

    // "circle" held longer than a press is shown: pressed, and no circle,
    // until the mouse lifts; then the circle, drawn once.
    await page.mouse.move(...(await screenPoint(page, CIRCLE_BUTTON)));
    await page.mouse.down();
    // A press that is let go draws the circle 0.1 s after its look: held,
    // nothing comes within 2 s.
    await waitForColour(page, { x: 50, y: 13 }, CIRCLE_PRESSED);
    await neverColour(page, { x: 320, y: 290 }, GREY, 2000);
    assert.deepStrictEqual(await pixelIn(page, 50, 13), CIRCLE_PRESSED);
    await page.mouse.up();
    await waitForColour(page, { x: 320, y: 290 }, GREY);
    await waitForColour(page, { x: 50, y: 13 }, CIRCLE_FACE);

    // Slider 1 held and dragged: its knob follows (value 204 at y 180, then
    // 51 at y 120) before the lift. Its red, 51, then draws the disc.
    await page.mouse.move(...(await screenPoint(page, SLIDER_ONE_AT_127)));
    await page.mouse.down();
    await page.mouse.move(...(await screenPoint(page, { x: 20, y: 180 })), { steps: 4 });
    await waitForColour(page, { x: 12, y: 177 }, WHITE);
    await page.mouse.move(...(await screenPoint(page, { x: 20, y: 120 })), { steps: 4 });
    await waitForColour(page, { x: 12, y: 123 }, WHITE);
    await page.mouse.up();
    // Had "circle" run again, its outline would now be (51, 100, 100).
    assert.deepStrictEqual(await pixelIn(page, 320, 290), GREY);
    await pressAt(page, DISC_BUTTON);
    await waitForColour(page, { x: 320, y: 240 }, [51, 100, 100]);
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
  // The page may be live before the new server has drawn its panel.
  await waitForPanel(page);
  await pressAt(page, CIRCLE_BUTTON);
  await waitForColour(page, { x: 320, y: 290 }, GREY);
});
