// The panel's controls for assistive technology and the keyboard: from the
// control map (controls.js), one focusable element over each button and
// slider of the picture, invisible but for its focus ring, named and valued
// as the map says, in reading order (top to bottom, then left to right). A
// plain script loaded before page.js; both share the page's global names
// (report, lift, canReport, picture, ...).
//
// Enter or Space holds a button down until the key lifts. The arrow keys,
// Page Up and Page Down, Home and End press a slider at the place that gives
// the value asked for, so the server stays the one judge of it; the value
// shown is always the map's, never the page's guess.
"use strict";

const { readMap, hasInside, insidePoint, controlAt, isSliderKey, alongForKey, pointAlong } =
  window.panelControls;

const controlLayer = document.getElementById("controls");
const controlElements = new Map();  // "button 0", "slider 2" -> its element
let controlMap = null;               // the latest map, or null without one
let viewOnly = false;                // a view session: presses do nothing

function controlKey(c) {
  return c.kind + " " + c.index;
}

// Places the layer exactly over the canvas, whatever its scale.
function placeControlLayer() {
  controlLayer.style.left = canvas.offsetLeft + "px";
  controlLayer.style.top = canvas.offsetTop + "px";
  controlLayer.style.width = canvas.style.width;
  controlLayer.style.height = canvas.style.height;
}

// The middle of a control in picture pixels (inside it whenever it has an
// inside), as a button press by key or by assistive technology lands.
function middleOf(c) {
  return { x: c.x + (c.w >> 1), y: c.y + (c.h >> 1) };
}

function makeControlElement(c) {
  const element = document.createElement("div");
  element.className = "control";
  element.tabIndex = 0;
  element.setAttribute("role", c.kind);
  element.addEventListener("keydown", (event) => controlKeyDown(element, event));
  element.addEventListener("keyup", (event) => controlKeyUp(element, event));
  element.addEventListener("blur", () => {
    if (heldPointer === element) lift();
  });
  // The default action of assistive technology (a screen reader's double
  // tap) arrives as a click: a button is pressed once, as by a tap.
  element.addEventListener("click", () => {
    const c = element.control;
    if (c.kind === "button" && !viewOnly && canReport()) report(middleOf(c));
  });
  return element;
}

// Brings the elements in line with the map: one per control, its place in
// picture proportions (so zoom, pan and resizing carry it along with the
// picture), its name and state. Elements are kept across maps, so the one
// that holds focus keeps it while its control changes.
function showControls(map) {
  controlMap = map;
  const controls = map && picture ? map.controls.filter(hasInside) : [];
  const width = picture ? picture.width : 1;
  const height = picture ? picture.height : 1;
  const ordered = controls
    .map((c) => ({ c, top: height - 1 - (c.y + c.h) }))
    .sort((a, b) => a.top - b.top || a.c.x - b.c.x || (a.c.kind < b.c.kind ? -1 : 1))
    .map((entry) => entry.c);
  const wanted = new Set(ordered.map(controlKey));
  for (const [key, element] of controlElements) {
    if (wanted.has(key)) continue;
    if (heldPointer === element) lift();
    element.remove();
    controlElements.delete(key);
  }
  ordered.forEach((c, place) => {
    const key = controlKey(c);
    let element = controlElements.get(key);
    if (!element) {
      element = makeControlElement(c);
      controlElements.set(key, element);
    }
    element.control = c;
    const style = element.style;
    style.left = (100 * c.x) / width + "%";
    style.top = (100 * (height - 1 - (c.y + c.h))) / height + "%";
    style.width = (100 * (c.w + 1)) / width + "%";
    style.height = (100 * (c.h + 1)) / height + "%";
    const set = (name, value) => {
      if (element.getAttribute(name) !== value) element.setAttribute(name, value);
    };
    if (c.kind === "button") {
      set("aria-label", c.label || "button " + (c.index + 1));
      set("aria-pressed", String(c.pressed));
    } else {
      set("aria-label", "slider " + (c.index + 1));
      set("aria-orientation", c.vertical ? "vertical" : "horizontal");
      set("aria-valuemin", String(Math.min(c.min, c.max)));
      set("aria-valuemax", String(Math.max(c.min, c.max)));
      set("aria-valuenow", String(c.value));
    }
    set("aria-disabled", String(viewOnly));
    // Reordered only when out of place: moving an element drops its focus.
    if (controlLayer.children[place] !== element) {
      controlLayer.insertBefore(element, controlLayer.children[place] || null);
    }
  });
}

function isPressKey(event) {
  return event.key === "Enter" || event.key === " ";
}

function controlKeyDown(element, event) {
  const c = element.control;
  if (c.kind === "button") {
    if (!isPressKey(event)) return;
    event.preventDefault();  // Space would scroll the page
    if (event.repeat || viewOnly || heldPointer !== null || !canReport()) return;
    heldPointer = element;
    report(middleOf(c), "down");
    return;
  }
  if (!isSliderKey(event.key)) return;
  event.preventDefault();
  const along = viewOnly ? null : alongForKey(c, event.key);
  if (along !== null && canReport()) report(pointAlong(c, along));
}

function controlKeyUp(element, event) {
  if (isPressKey(event) && heldPointer === element) lift();
}
