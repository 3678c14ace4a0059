// The page: connects to the panel server over WebSocket (taking over the
// socket opening.js opened first), shows every picture it streams (picture.js
// decodes it, changes.js applies the change stream) and reports the pointer
// back in the picture's own coordinates. The last of the page's scripts
// (changes.js and opening.js run first; then picture.js, key.js, controls.js,
// overlay.js and page.js, deferred, in that order); it starts the page.
"use strict";

const { decodeBmp } = window.panelPicture;

const RETRY_FIRST_MS = 500;    // first wait after the server went away
const RETRY_LONGEST_MS = 8000; // the wait doubles up to this
const GAVE_WAY_CODE = 1013;    // closed to give the owner this place: try again later

const body = document.body;
const canvas = document.getElementById("screen");
const context = canvas.getContext("2d");
const stateText = document.getElementById("state-text");
const screenNote = document.getElementById("screen-note");
const hostInput = document.getElementById("host");
const portInput = document.getElementById("port");
const sizeText = document.getElementById("size");
const updatesText = document.getElementById("updates");
const pressText = document.getElementById("press");

let socket = null;
let picture = null;  // {width, height, bottomUp} of the picture shown
let updates = 0;
let retryMs = RETRY_FIRST_MS;
let retryTimer = 0;
let countdownTimer = 0;

function showState(state, text, note) {
  body.dataset.state = state;
  stateText.textContent = text;
  screenNote.textContent = note;
}

function stopTimers() {
  clearTimeout(retryTimer);
  clearInterval(countdownTimer);
}

// ---- The change stream (changes.js) ------------------------------------------

// The file image the page holds: a whole picture replaces it, a change
// message is applied to it. A change that cannot be applied throws with
// `reconnect` set: the page starts again from a whole picture.
const changes = window.panelChanges || null;
let held = null;
let heldVersion = null;

function receive(data) {
  const bytes = new Uint8Array(data);
  if (!changes || !held || changes.isWholePicture(bytes)) {
    held = bytes;
    heldVersion = null;
    return held.buffer;
  }
  try {
    heldVersion = changes.applyChange(held, bytes, heldVersion);
  } catch (error) {
    held = null;
    error.reconnect = true;
    throw error;
  }
  return held.buffer;
}

function connect() {
  held = null;
  stopTimers();
  if (socket) {
    socket.onclose = socket.onerror = socket.onmessage = socket.onopen = null;
    socket.close();
    socket = null;
  }
  const host = hostInput.value.trim();
  const port = Number(portInput.value);
  if (!host || !Number.isInteger(port) || port < 1 || port > 65535) {
    showState("closed", "check the server address", "no server address");
    return;
  }
  heldPointer = null;
  heldControl = null;
  showControls(null);
  const url = socketUrl(host, port);
  // The socket opened first is taken once, if it went to this address, with
  // what it saw before the page was ready; else it is closed.
  const first = opening.socket;
  opening.socket = null;
  let ws = first && opening.url === url ? first : null;
  if (first && !ws) first.close();
  const early = ws ? opening.events : [];
  try {
    ws = ws || new WebSocket(url, offeredProtocols());
  } catch (error) {
    showState("closed", "cannot connect: " + error.message, "no connection");
    return;
  }
  ws.binaryType = "arraybuffer";
  socket = ws;
  showState("connecting", "connecting to " + host + ":" + port, "connecting…");

  ws.onopen = () => {
    ws.opened = true;
    showState("waiting", "waiting for the picture", "waiting for the picture…");
  };
  ws.onmessage = (event) => {
    // Text is the control map, on a connection that agreed to it; the server
    // sends nothing else as text.
    if (typeof event.data === "string") {
      const map = ws.protocol === CONTROLS_PROTOCOL ? readMap(event.data) : null;
      if (map) showControls(map);
      return;
    }
    if (event.data.byteLength === 0) {
      // A picture the server refused at start: one empty message, nothing more.
      showState("waiting", "the device has no picture to show: the server's output says why",
                "no picture to show");
      return;
    }
    try {
      show(decodeBmp(receive(event.data)));
    } catch (error) {
      if (error.reconnect) {
        connect();
        return;
      }
      showState("waiting", "unreadable picture: " + error.message, "unreadable picture");
      return;
    }
    retryMs = RETRY_FIRST_MS;
    if (body.dataset.state !== "live") showState("live", "live", "");
  };
  ws.onclose = (event) => {
    if (socket !== ws) return;
    socket = null;
    if (event.code === GAVE_WAY_CODE) {
      // The owner signed in while every place was taken and took this one.
      retryMs = RETRY_LONGEST_MS;
      scheduleRetry("the owner took this place");
    } else if (accessMeta && !ws.opened) {
      checkSession();
    } else {
      scheduleRetry();
    }
  };
  for (const event of early) ws["on" + event.type](event);
}

function scheduleRetry(why) {
  let due = Date.now() + retryMs;
  const tick = () => {
    const seconds = Math.max(0, Math.ceil((due - Date.now()) / 1000));
    showState("closed", (why || "closed") + " · retrying in " + seconds + " s",
              why || (picture ? "connection lost" : "server not reached"));
  };
  tick();
  countdownTimer = setInterval(tick, 250);
  retryTimer = setTimeout(connect, retryMs);
  retryMs = Math.min(retryMs * 2, RETRY_LONGEST_MS);
}

function show(decoded) {
  if (!picture || picture.width !== decoded.width || picture.height !== decoded.height) {
    canvas.width = decoded.width;
    canvas.height = decoded.height;
    sizeText.textContent = decoded.width + " × " + decoded.height;
    fit();
  }
  context.putImageData(new ImageData(decoded.rgba, decoded.width, decoded.height), 0, 0);
  const placed = picture && picture.width === decoded.width && picture.height === decoded.height;
  picture = decoded;
  if (!placed) showControls(controlMap);
  updatesText.textContent = String(++updates);
}

// Horizontal and vertical padding of an element, in CSS pixels.
function padding(element) {
  const style = getComputedStyle(element);
  return [parseFloat(style.paddingLeft) + parseFloat(style.paddingRight),
          parseFloat(style.paddingTop) + parseFloat(style.paddingBottom)];
}

// Scales the canvas to the largest size that fits its place, aspect kept.
// Pixels stay even: each picture pixel takes a whole number of device pixels
// (drawn sharp) whenever that keeps at least two thirds of the largest size;
// otherwise (room for between 1.5 and 2 device pixels per picture pixel, as
// on a phone held upright, or for less than one) the picture fills its place
// smoothly scaled, every pixel still the same size.
function fit() {
  const main = document.querySelector("main");
  const room = main.getBoundingClientRect();
  const [mainX, mainY] = padding(main);
  const [bezelX, bezelY] = padding(canvas.parentElement);
  const largest = Math.max(0.05, Math.min((room.width - mainX - bezelX) / canvas.width,
                                          (room.height - mainY - bezelY) / canvas.height));
  const ratio = window.devicePixelRatio || 1;
  const steps = Math.floor(largest * ratio);
  const crisp = steps >= 1 && steps >= (largest * ratio * 2) / 3;
  const scale = crisp ? steps / ratio : largest;
  canvas.classList.toggle("crisp", crisp);
  canvas.style.width = canvas.width * scale + "px";
  canvas.style.height = canvas.height * scale + "px";
  placeControlLayer();
}

// The picture pixel under a point of the window, as reported to the server.
function pixelAt(clientX, clientY) {
  const box = canvas.getBoundingClientRect();
  const column = Math.floor(((clientX - box.left) * picture.width) / box.width);
  const shownRow = Math.floor(((clientY - box.top) * picture.height) / box.height);
  const x = Math.min(picture.width - 1, Math.max(0, column));
  const row = Math.min(picture.height - 1, Math.max(0, shownRow));
  return { x, y: picture.bottomUp ? picture.height - 1 - row : row };
}

function canReport() {
  return picture && socket && socket.readyState === WebSocket.OPEN;
}

// A report: the pixel, and the button line when the pointer is held. The
// "last press" readout shows where a press went, except in a view session,
// where no press does anything.
function report(at, button) {
  const line = button ? "mouse_button: " + button + "\r\n" : "";
  socket.send("mouse_X: " + at.x + "\r\nmouse_Y: " + at.y + "\r\n" + line);
  if (button !== "move" && !viewOnly) pressText.textContent = at.x + ", " + at.y;
}

// Reports in picture pixels whatever the display scale or the zoom. A mouse
// or pen reports as it goes down ("down"), then while it is held at most one
// move an animation frame ("move", wherever it goes), and sends "mouse_button:
// up" alone as it lifts: the server keeps a pressed button down until then
// and drags the slider it pressed. A finger that goes down on a control of the
// control map, or in the slack around it, does the same for that control
// (below). Any other finger reports only a tap, as it lifts, with no button
// line (a click), at the pixel it went down on: a finger that pans or
// pinch-zooms the page (the browser cancels its pointer) or that a second
// finger joins reports nothing. A key held on a button (overlay.js) holds the
// pointer too.
let heldPointer = null;  // pointerId of the mouse, pen or finger held down, or the key's element
let heldControl = null;  // the control a held finger took
let moveAt = null;       // its latest place not reported yet (window coordinates)
let moveFrame = 0;

// The point a held finger reports: one strictly inside its control while it
// stays within the control's slack (a slider's anywhere: it follows along its
// length only), else the pixel under it, so a finger that slides off a button
// lets it go as a mouse does.
function heldPoint(at) {
  const c = heldControl;
  if (!c) return at;
  const [slackX, slackY] = slackOf(c);
  const off = at.x < c.x - slackX || at.x > c.x + c.w + slackX ||
              at.y < c.y - slackY || at.y > c.y + c.h + slackY;
  return c.kind === "button" && off ? at : insidePoint(c, at.x, at.y);
}

function reportMove() {
  moveFrame = 0;
  if (moveAt && canReport()) report(heldPoint(pixelAt(moveAt.x, moveAt.y)), "move");
  moveAt = null;
}

function lift() {
  if (heldPointer === null) return;
  heldPointer = null;
  if (moveFrame) {
    cancelAnimationFrame(moveFrame);
    reportMove();
  }
  heldControl = null;
  if (canReport()) socket.send("mouse_button: up\r\n");
}

// A fingertip is about 44 CSS pixels across: a control shown smaller than
// that takes touches within half the difference around it, and every control
// takes those within 8 CSS pixels. Measured as the finger sees the picture,
// pinch zoom included; [across, up] in picture pixels.
const FINGER_CSS = 44;
const LEAST_SLACK_CSS = 8;

function slackOf(c) {
  const zoom = window.visualViewport ? window.visualViewport.scale : 1;
  const shown = (canvas.getBoundingClientRect().width * zoom) / picture.width;  // per pixel
  const around = (size) => Math.max(LEAST_SLACK_CSS, (FINGER_CSS - size * shown) / 2) / shown;
  return [around(c.w), around(c.h)];
}

const touches = new Map();  // pointerId -> the pixel it went down on, or null
canvas.addEventListener("pointerdown", (event) => {
  if (event.pointerType === "touch") {
    for (const id of touches.keys()) touches.set(id, null);
    if (heldControl) lift();  // a second finger lets the control go
    const at = touches.size === 0 && picture ? pixelAt(event.clientX, event.clientY) : null;
    const control = at && controlMap && !viewOnly && canReport() && heldPointer === null
                      ? controlAt(controlMap, at.x, at.y, slackOf) : null;
    touches.set(event.pointerId, control ? null : at);
    if (!control) return;
    heldPointer = event.pointerId;
    heldControl = control;
    report(insidePoint(control, at.x, at.y), "down");
    return;
  }
  event.preventDefault();
  if (!canReport() || heldPointer !== null) return;
  heldPointer = event.pointerId;
  canvas.setPointerCapture(event.pointerId);
  report(pixelAt(event.clientX, event.clientY), "down");
});
// A finger on a control is the control's: the browser neither pans, zooms nor
// opens a menu for it. (The pointer events come before the touch events.)
canvas.addEventListener("touchstart", (event) => {
  if (heldControl && event.touches.length === 1) event.preventDefault();
}, { passive: false });
canvas.addEventListener("contextmenu", (event) => {
  if (heldControl) event.preventDefault();
});
canvas.addEventListener("pointermove", (event) => {
  if (event.pointerId !== heldPointer) return;
  moveAt = { x: event.clientX, y: event.clientY };
  if (!moveFrame) moveFrame = requestAnimationFrame(reportMove);
});
canvas.addEventListener("pointerup", (event) => {
  const at = touches.get(event.pointerId);
  touches.delete(event.pointerId);
  if (at && canReport()) report(at);
  if (event.pointerId === heldPointer) lift();
});
for (const type of ["pointercancel", "lostpointercapture"]) {
  canvas.addEventListener(type, (event) => {
    touches.delete(event.pointerId);
    if (event.pointerId === heldPointer) lift();
  });
}
window.addEventListener("blur", lift);

const foldButton = document.getElementById("fold");
foldButton.addEventListener("click", () => {
  const open = body.dataset.fold !== "open";
  body.dataset.fold = open ? "open" : "";
  foldButton.setAttribute("aria-expanded", String(open));
});

document.getElementById("target").addEventListener("submit", (event) => {
  event.preventDefault();
  const query = new URLSearchParams(location.search);
  query.set("host", hostInput.value.trim());
  query.set("port", portInput.value.trim());
  try {
    history.replaceState(null, "", "?" + query.toString());
  } catch (error) {
    // Some pages opened from disk may not rewrite their address; connect anyway.
  }
  retryMs = RETRY_FIRST_MS;
  connect();
});

window.addEventListener("resize", fit);

// ---- Start ----------------------------------------------------------------

const start = target();
hostInput.value = start.host;
portInput.value = start.port;
fit();
if (accessMeta) startWithKey();
else connect();
