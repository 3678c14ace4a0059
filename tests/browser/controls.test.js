// The page's reading of the control map: which control a finger takes, and
// the slider places the keys ask for, against the values the server gives.
'use strict';

const { test } = require('node:test');
const assert = require('node:assert');
const { readMap, controlAt, valueAlong, alongForKey } = require('../../client/controls.js');

// The demonstration panel's slider 1 and its first two buttons, as the map
// carries them.
const SLIDER = '{"index":0,"x":10,"y":100,"w":20,"h":100,"orientation":"vertical","min":0,"max":255,"value":100}';
const MAP = readMap('{"buttons":[{"index":0,"label":"circle","x":10,"y":10,"w":80,"h":20,"pressed":false},' +
                    '{"index":1,"label":"circlef","x":100,"y":10,"w":80,"h":20,"pressed":false}],' +
                    `"sliders":[${SLIDER}]}`);

test('a map is read whole, and entries it cannot place are left out', () => {
  assert.deepStrictEqual(MAP.controls.map((c) => c.label || c.kind), ['circle', 'circlef', 'slider']);
  assert.strictEqual(MAP.sliders[0].vertical, true);
  for (const text of ['', 'null', '{"buttons":[]}', '{"buttons":{},"sliders":[]}', '[1,2']) {
    assert.strictEqual(readMap(text), null, text);
  }
  const damaged = readMap('{"buttons":[{"index":0,"x":"1","y":2,"w":3,"h":4},null],' +
                          '"sliders":[{"index":0,"x":1,"y":2,"w":3,"h":40,"min":0,"max":9}]}');
  assert.deepStrictEqual(damaged.controls, []);
});

test('a finger takes the control it is on, or the one it is strictly nearest within slack', () => {
  const slack = () => [8, 8];
  const rows = [
    [{ x: 50, y: 20 }, 'circle'],     // on it
    [{ x: 50, y: 3 }, 'circle'],      // 7 below it
    [{ x: 50, y: 38 }, 'circle'],     // 8 above it
    [{ x: 50, y: 39 }, null],         // beyond its slack
    [{ x: 95, y: 20 }, null],         // in the gap, as near one button as the other
    [{ x: 93, y: 20 }, 'circle'],     // in the gap, nearer "circle"
    [{ x: 97, y: 20 }, 'circlef'],
    [{ x: 20, y: 95 }, 'slider'],
  ];
  for (const [at, taken] of rows) {
    const c = controlAt(MAP, at.x, at.y, slack);
    assert.strictEqual(c && (c.label || c.kind), taken, JSON.stringify(at));
  }
  // Wide slack around "circle" does not reach past a point nearer "circlef",
  // even where that point lies outside the slack "circlef" has.
  const wide = (c) => (c.label === 'circle' ? [30, 8] : [2, 2]);
  assert.strictEqual(controlAt(MAP, 93, 20, wide).label, 'circle');
  assert.strictEqual(controlAt(MAP, 97, 20, wide), null);
});

test('slider keys ask for the place that gives the next value the server can give', () => {
  const slider = (value, fields = {}) => ({ ...MAP.sliders[0], value, ...fields });
  // A press 50 and 80 pixels up slider 1 gives 127 and 204.
  assert.deepStrictEqual([valueAlong(slider(0), 50), valueAlong(slider(0), 80)], [127, 204]);
  const rows = [
    [100, 'ArrowUp', 40, 102], [100, 'ArrowRight', 40, 102], [100, 'ArrowDown', 39, 99],
    [100, 'PageUp', 50, 127], [100, 'PageDown', 29, 73], [100, 'Home', 1, 2],
    [100, 'End', 99, 252], [252, 'ArrowUp', null], [252, 'End', null], [2, 'ArrowDown', null],
    [2, 'PageDown', null], [300, 'ArrowDown', 99, 252], [100, 'Tab', null],
  ];
  for (const [value, key, along, given] of rows) {
    const at = alongForKey(slider(value), key);
    assert.strictEqual(at, along, `${key} from ${value}`);
    if (along !== null) assert.strictEqual(valueAlong(slider(value), at), given);
  }
  // Fewer values than pixels (the greenhouse's 0 to 40 over 200): one key, one value.
  const fine = slider(20, { vertical: false, x: 20, y: 310, w: 200, h: 24, max: 40 });
  assert.strictEqual(valueAlong(fine, alongForKey(fine, 'ArrowUp')), 21);
  assert.strictEqual(valueAlong(fine, alongForKey(fine, 'ArrowLeft')), 19);
});
