// A finger on a phone works the panel as on a local touch screen: held on a
// button it shows the pressed look before it lifts, dragged on a slider it
// moves the knob, a touch just beside a small control takes it, and a finger
// off the controls still pans the zoomed page.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { startServer, openUrl } = require('./harness');
const {
  WAIT_MS, GREY, WHITE, CIRCLE_BUTTON, SLIDER_ONE_AT_127, pixelIn, waitForColour, screenPoint,
  waitForPanel, fingerOn, waitForControls,
} = require('./panel_page');

const CIRCLE_PRESSED = [127, 63, 63];
const PHONE = { deviceScaleFactor: 3, isMobile: true, hasTouch: true };

async function openPhone() {
  const server = await startServer({ width: 640, height: 480 });
  after(() => server.stop());
  const page = path.resolve(__dirname, '../../client/index.html');
  const browser = await openUrl(`file://${page}?host=127.0.0.1&port=${server.port}`,
                                { width: 390, height: 844 }, { device: PHONE });
  after(() => browser.stop());
  await waitForPanel(browser.page);
  await waitForControls(browser.page);
  return browser.page;
}

test('a finger holds a button, drags a slider and takes a touch beside a control',
  { timeout: 60000 }, async () => {
    const page = await openPhone();
    const finger = await fingerOn(page);

    await finger.down(CIRCLE_BUTTON);
    await waitForColour(page, { x: 50, y: 13 }, CIRCLE_PRESSED);
    assert.notDeepStrictEqual(await pixelIn(page, 320, 290), GREY, 'no circle before the lift');
    await finger.up();
    await waitForColour(page, { x: 320, y: 290 }, GREY);

    // Slider 1 from 127 up to 204 (y 180): the knob follows before the lift.
    await finger.down(SLIDER_ONE_AT_127);
    await waitForColour(page, { x: 12, y: 150 }, WHITE);
    for (const y of [160, 170, 180]) await finger.move({ x: 20, y });
    await waitForColour(page, { x: 12, y: 177 }, WHITE);
    await finger.up();

    // 6 pixels (4 CSS pixels) below "circlef": the disc, in red 204.
    await finger.down({ x: 140, y: 4 });
    await finger.up();
    await waitForColour(page, { x: 320, y: 240 }, [204, 100, 100]);
  });

test('a finger off the controls still pans the zoomed page', { timeout: 60000 }, async () => {
  const page = await openPhone();
  const cdp = await page.context().newCDPSession(page);
  const [x, y] = await screenPoint(page, { x: 320, y: 240 });
  await cdp.send('Input.synthesizePinchGesture', { x, y, scaleFactor: 2 });
  await page.waitForFunction(() => visualViewport.scale > 1.5, null, { timeout: WAIT_MS });
  const offset = () => page.evaluate(() => [visualViewport.offsetLeft, visualViewport.offsetTop]);
  const before = await offset();
  // A finger drawn up and to the left across the middle of the window, the
  // middle of the picture: the page moves down and to the right under it.
  const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points });
  await touch('touchStart', [{ x: 195, y: 422, id: 1 }]);
  for (let step = 1; step <= 6; step++) {
    await touch('touchMove', [{ x: 195 - 10 * step, y: 422 - 10 * step, id: 1 }]);
  }
  await touch('touchEnd', []);
  await page.waitForFunction(([left, top]) => visualViewport.offsetLeft > left &&
                             visualViewport.offsetTop > top, before, { timeout: WAIT_MS });
});
