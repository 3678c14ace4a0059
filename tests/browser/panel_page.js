// The browser page as the tests see it: picture pixels read from its canvas,
// presses at picture pixels (by mouse or by a finger), and places on the
// demonstration panel.
'use strict';

const WAIT_MS = 6000;  // two control-loop turns and a connection turn, with room

const GREY = [100, 100, 100];
const WHITE = [255, 255, 255];

// Places on the panel, in picture pixels (y counted from the bottom row).
const CIRCLE_BUTTON = { x: 50, y: 20 };
const DISC_BUTTON = { x: 140, y: 20 };
const SLIDER_ONE_AT_127 = { x: 20, y: 150 };

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

// Where the picture pixel is on screen, whatever the scale: [x, y].
async function screenPoint(page, at) {
  const box = await page.locator('#screen').boundingBox();
  const size = await page.evaluate(() => {
    const canvas = document.getElementById('screen');
    return [canvas.width, canvas.height];
  });
  return [box.x + ((at.x + 0.5) * box.width) / size[0],
          box.y + ((size[1] - 1 - at.y + 0.5) * box.height) / size[1]];
}

// Presses the picture pixel where it is on screen, with the mouse or (touch)
// a finger's tap; resolves to the moment of the press (page clock, ms).
async function pressAt(page, at, { touch = false } = {}) {
  const [screenX, screenY] = await screenPoint(page, at);
  const pressed = await page.evaluate(() => performance.now());
  if (touch) await page.touchscreen.tap(screenX, screenY);
  else await page.mouse.click(screenX, screenY);
  return pressed;
}

// A finger on the page's touch screen (Chromium's touch emulation): down(at),
// move(at) and up(), at picture pixels.
async function fingerOn(page) {
  const cdp = await page.context().newCDPSession(page);
  const touch = async (type, at) => {
    const points = at ? [(([x, y]) => ({ x, y, id: 1 }))(await screenPoint(page, at))] : [];
    await cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points });
  };
  return {
    down: (at) => touch('touchStart', at),
    move: (at) => touch('touchMove', at),
    up: () => touch('touchEnd'),
  };
}

// The page holds a control map: its controls are laid over the picture.
function waitForControls(page) {
  return page.waitForSelector('#controls [role="slider"]', { state: 'attached', timeout: WAIT_MS });
}

// Resolves when the picture pixel has not shown the colour within `ms`, a
// wait it would have shown it well inside had the page or the server acted;
// rejects when it shows it.
async function neverColour(page, at, colour, ms) {
  const seen = await waitForColour(page, at, colour, ms).then(() => true, (error) => {
    if (error.name === 'TimeoutError') return false;
    throw error;
  });
  if (seen) throw new Error(`the pixel (${at.x}, ${at.y}) turned [${colour}]`);
}

// The panel is drawn: slider 1's knob shows the value 100.
function waitForPanel(page) {
  return waitForColour(page, { x: 12, y: 140 }, WHITE, 10000);
}

module.exports = {
  WAIT_MS, GREY, WHITE, CIRCLE_BUTTON, DISC_BUTTON, SLIDER_ONE_AT_127,
  pixelIn, waitForColour, neverColour, pressAt, screenPoint, waitForPanel, fingerOn,
  waitForControls,
};
