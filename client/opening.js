// The page's socket, opened before anything else that can wait: this plain
// script runs as soon as the head reaches it, so the server's opening (the
// handshake, the two pings, the first picture) runs while the page's other
// scripts load and the page is laid out. page.js takes the socket over with
// whatever it saw meanwhile. Where the page must first ask for the access key
// (key.js), nothing is opened here.
"use strict";

const DEFAULT_PORT = 8080;
// The control map comes with the change stream (controls.js); a server that
// does not know it confirms the change stream alone, or nothing.
const CONTROLS_PROTOCOL = "panel-controls-v1";

// The subprotocols the page offers, the one it prefers first.
function offeredProtocols() {
  const changes = window.panelChanges;
  return changes ? [CONTROLS_PROTOCOL, changes.PROTOCOL] : [];
}

// The server: ?host= and ?port= when given; else the host and port the page
// was served from; else (a page from disk) localhost and the default port.
function target() {
  const query = new URLSearchParams(location.search);
  const served = location.protocol === "http:" || location.protocol === "https:";
  const servedPort = location.port || (location.protocol === "https:" ? "443" : "80");
  return {
    host: query.get("host") || location.hostname || "localhost",
    port: query.get("port") || (served ? servedPort : String(DEFAULT_PORT)),
  };
}

function socketUrl(host, port) {
  // An IPv6 address needs its brackets in a URL.
  const shown = host.includes(":") && !host.startsWith("[") ? "[" + host + "]" : host;
  // A page that came over https: (through a proxy) must use wss: too.
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  return scheme + shown + ":" + port + "/";
}

// The socket opened first, its address, and its events until page.js takes it.
const opening = { socket: null, url: "", events: [] };

(function openFirst() {
  const access = document.querySelector('meta[name="panel-access"]');
  if ((access && access.content === "login") || /[#&]key=/.test(location.hash)) return;
  const start = target();
  try {
    opening.url = socketUrl(start.host, start.port);
    opening.socket = new WebSocket(opening.url, offeredProtocols());
  } catch (error) {
    opening.socket = null;  // page.js tries again and says why
    return;
  }
  opening.socket.binaryType = "arraybuffer";
  const keep = (event) => opening.events.push(event);
  opening.socket.onopen = opening.socket.onmessage = opening.socket.onclose = keep;
})();
