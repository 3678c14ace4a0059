// The page's side of the control map (subprotocol "panel-controls-v1"): the
// server sends, as a text message, where its buttons and sliders are and what
// state they are in (docs/protocol.md, "The control map"). This file reads
// that message and answers the questions the page asks of it: which control a
// finger went down on, a point the server counts as inside a control, and the
// point that sets a slider to a given value. Loaded by the page as a plain
// script (window.panelControls) and by node's test runner as a module.
"use strict";

(function (root) {
  const whole = (value) => Number.isInteger(value);

  // The control map of a text message, or null when it is not one: every
  // entry lacking a field it needs is left out, so a damaged entry cannot
  // stand for a control somewhere it is not.
  function readMap(text) {
    let message;
    try {
      message = JSON.parse(text);
    } catch (error) {
      return null;
    }
    if (!message || !Array.isArray(message.buttons) || !Array.isArray(message.sliders)) {
      return null;
    }
    const placed = (c) => c && whole(c.index) && whole(c.x) && whole(c.y) && whole(c.w) &&
                          whole(c.h);
    const buttons = message.buttons
      .filter((b) => placed(b))
      .map((b) => ({ kind: "button", index: b.index, x: b.x, y: b.y, w: b.w, h: b.h,
                     label: typeof b.label === "string" ? b.label : "",
                     pressed: b.pressed === true }));
    const sliders = message.sliders
      .filter((s) => placed(s) && whole(s.min) && whole(s.max) && whole(s.value))
      .map((s) => ({ kind: "slider", index: s.index, x: s.x, y: s.y, w: s.w, h: s.h,
                     vertical: s.orientation === "vertical", min: s.min, max: s.max,
                     value: s.value }));
    return { buttons, sliders, controls: [...buttons, ...sliders] };
  }

  // A control has an inside only when it is at least two pixels each way: the
  // server takes a point as on it when x < px < x + w and y < py < y + h.
  function hasInside(c) {
    return c.w >= 2 && c.h >= 2;
  }

  // The point nearest (px, py) that lies strictly inside the control.
  function insidePoint(c, px, py) {
    return { x: Math.min(c.x + c.w - 1, Math.max(c.x + 1, px)),
             y: Math.min(c.y + c.h - 1, Math.max(c.y + 1, py)) };
  }

  // How far the picture pixel (px, py) lies from the control, each way, in
  // picture pixels (0 on it).
  function gap(c, px, py) {
    return [Math.max(0, c.x - px, px - (c.x + c.w)), Math.max(0, c.y - py, py - (c.y + c.h))];
  }

  // The control a finger at picture pixel (px, py) takes, or null. A control
  // takes a touch on it, or one within its slack (`slack(c)` gives [across,
  // up] in picture pixels) that is strictly nearer to it than to any other
  // control: a touch as near another control, or on one, is not taken.
  function controlAt(map, px, py, slack) {
    const distance = (c) => Math.hypot(...gap(c, px, py));
    let best = null;
    for (const c of map.controls) {
      const [dx, dy] = gap(c, px, py);
      const [slackX, slackY] = slack(c);
      if (!hasInside(c) || dx > slackX || dy > slackY) continue;
      if (!best || distance(c) < distance(best)) best = c;
    }
    if (!best || distance(best) === 0) return best;
    const near = distance(best);
    return map.controls.some((c) => c !== best && distance(c) <= near) ? null : best;
  }

  // ---- Sliders ----------------------------------------------------------------

  const int16 = (value) => (value << 16) >> 16;

  // The value the server gives a slider pressed `along` pixels past its start
  // (its left column, or its bottom row when it stands): the span over the
  // length in single precision, truncated and cut to 16 bits, never offset by
  // the minimum.
  function valueAlong(s, along) {
    const length = s.vertical ? s.h : s.w;
    const span = Math.fround(Math.abs(s.max - s.min));
    const perPixel = Math.fround(span / Math.fround(length));
    return int16(Math.trunc(Math.fround(Math.fround(along) * perPixel)));
  }

  // The picture pixel a press at `along` lands on: that far along the slider,
  // in the middle of its breadth.
  function pointAlong(s, along) {
    return s.vertical ? { x: s.x + (s.w >> 1), y: s.y + along }
                      : { x: s.x + along, y: s.y + (s.h >> 1) };
  }

  // The place along the slider (1 to length - 1, the pixels strictly inside
  // it) that a key asks for, or null when that key moves it nowhere. The
  // values a press gives never fall as the press goes further along, so "up"
  // is the first place beyond the shown value and "down" the last before it.
  // A page is a tenth of the span, at least one; Home and End are the ends.
  const KEYS = {
    ArrowUp: 1, ArrowRight: 1, ArrowDown: -1, ArrowLeft: -1,
    PageUp: 10, PageDown: -10, Home: -Infinity, End: Infinity,
  };

  function isSliderKey(key) {
    return Object.prototype.hasOwnProperty.call(KEYS, key);
  }

  function alongForKey(s, key) {
    const length = s.vertical ? s.h : s.w;
    if (length < 2 || !isSliderKey(key)) return null;
    const step = KEYS[key];
    const page = Math.max(1, Math.round(Math.abs(s.max - s.min) / 10));
    const last = length - 1;
    if (step > 0) {
      const wanted = step === Infinity ? Infinity : s.value + (step === 1 ? 1 : page);
      for (let along = 1; along < last; along++) {
        if (valueAlong(s, along) >= wanted) return along;
      }
      return valueAlong(s, last) > s.value ? last : null;
    }
    const wanted = step === -Infinity ? -Infinity : s.value - (step === -1 ? 1 : page);
    for (let along = last; along > 1; along--) {
      if (valueAlong(s, along) <= wanted) return along;
    }
    return valueAlong(s, 1) < s.value ? 1 : null;
  }

  const api = { readMap, hasInside, insidePoint, controlAt, valueAlong, pointAlong,
                isSliderKey, alongForKey };
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.panelControls = api;
})(this);
