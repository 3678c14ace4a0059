// The panel's controls for assistive technology and the keyboard: the page
// names every button and slider of the control map in reading order, with
// their state, and the keyboard presses buttons and steps sliders.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { startServer, openUrl } = require('./harness');
const { WAIT_MS, WHITE, waitForColour, waitForPanel, waitForControls } = require('./panel_page');

const CIRCLE_PRESSED = [127, 63, 63];

test('the controls are named in reading order and the keyboard works them', { timeout: 60000 },
  async () => {
    const server = await startServer({ width: 640, height: 480 });
    after(() => server.stop());
    const file = path.resolve(__dirname, '../../client/index.html');
    const browser = await openUrl(`file://${file}?host=127.0.0.1&port=${server.port}`,
                                  { width: 1000, height: 700 });
    after(() => browser.stop());
    const page = browser.page;
    await waitForPanel(page);
    await waitForControls(page);

    // As the browser hands them to assistive technology, in reading order:
    // the sliders stand above the button row.
    const cdp = await page.context().newCDPSession(page);
    const tree = async () => (await cdp.send('Accessibility.getFullAXTree')).nodes
      .filter((n) => !n.ignored && ['slider', 'button'].includes(n.role.value) &&
                     n.name.value !== 'Connect')
      .map((n) => {
        const has = Object.fromEntries((n.properties || []).map((p) => [p.name, p.value.value]));
        return n.role.value === 'slider'
          ? `${n.name.value} ${n.value.value} of ${has.valuemin}-${has.valuemax} ${has.orientation}`
          : `${n.name.value} pressed=${has.pressed}`;
      });
    assert.deepStrictEqual(await tree(), [
      ...[1, 2, 3].map((n) => `slider ${n} 100 of 0-255 vertical`),
      ...['circle', 'circlef', 'rect', 'reectf', 'triangle', 'clear'].map((name) => `${name} pressed=false`),
    ]);

    // Tab reaches slider 1 first, and shows where it is.
    const focused = (name) => page.evaluate((name) => document.activeElement.getAttribute(name), name);
    await page.keyboard.press('Tab');
    assert.strictEqual(await focused('aria-label'), 'slider 1');
    assert.strictEqual(await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle),
                       'solid');
    // Up one: the next value a press can give, as the map reports it; then Home.
    const valueShown = (value) => page.waitForFunction(
      (value) => document.activeElement.getAttribute('aria-valuenow') === value, value,
      { timeout: WAIT_MS });
    await page.keyboard.press('ArrowUp');
    await valueShown('102');
    await waitForColour(page, { x: 12, y: 143 }, WHITE);
    await page.keyboard.press('Home');
    await valueShown('2');

    // Enter held on "circle": pressed until the key lifts, then the circle in
    // the red slider 1 now gives.
    await page.getByRole('button', { name: 'circle', exact: true }).focus();
    await page.keyboard.down('Enter');
    await waitForColour(page, { x: 50, y: 13 }, CIRCLE_PRESSED);
    await page.waitForFunction(() => document.activeElement.getAttribute('aria-pressed') === 'true',
                               null, { timeout: WAIT_MS });
    assert.strictEqual((await tree())[3], 'circle pressed=true');
    await page.keyboard.up('Enter');
    await waitForColour(page, { x: 320, y: 290 }, [2, 100, 100]);
  });
