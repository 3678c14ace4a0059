// The page's access-key prompt, used only when the server wants a key. A
// plain script loaded before page.js; both share the page's global names
// (socket, connect, showState, ...), and page.js starts the page once both
// are loaded.
"use strict";

// Only when the server wants a key does it mark the page with
// <meta name="panel-access" content="login|view|control">. The key, from
// #key= in the address (then removed from it) or from the prompt, goes to
// POST /login; the session cookie it sets then opens the WebSocket.
const accessMeta = document.querySelector('meta[name="panel-access"]');
const keyForm = document.getElementById("key-form");
const keyInput = document.getElementById("key");

function showAccess(access) {
  viewOnly = access === "view";
  document.getElementById("view-only").hidden = !viewOnly;
  document.getElementById("fold-view").hidden = !viewOnly;
  foldButton.setAttribute("aria-label", viewOnly ? "controls, view only" : "controls");
  showControls(controlMap);
  document.getElementById("logout").hidden = access === "login" || access === "none";
}

function askForKey(note) {
  stopTimers();
  showAccess("login");
  showState("closed", "access key needed", "access key needed");
  document.getElementById("key-note").textContent = note;
  keyForm.hidden = false;
  keyInput.focus();
}

async function logIn(key) {
  keyForm.hidden = true;
  showState("connecting", "checking the key", "checking the key…");
  const secure = location.protocol === "https:" ? "&secure=1" : "";
  try {
    const response = await fetch("login", {
      method: "POST",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: "key=" + encodeURIComponent(key) + secure,
    });
    if (response.ok) {
      showAccess((await response.json()).access);
      retryMs = RETRY_FIRST_MS;
      connect();
    } else if (response.status === 429) {
      askForKey("too many wrong keys: try again in " + response.headers.get("Retry-After") + " s");
    } else {
      askForKey(response.status === 401 ? "wrong key" : "refused (" + response.status + ")");
    }
  } catch (error) {
    askForKey("server not reached");
  }
}

// A connection that never opened: ask for the key when the session is over,
// else retry as ever.
async function checkSession() {
  try {
    const answer = await (await fetch("session")).json();
    if (answer.access === "none") return askForKey("");
  } catch (error) {
    // The server is away: retry below.
  }
  scheduleRetry();
}

// Signs in with #key= from the address, removing it from the address bar at
// once; false when the address holds no key.
function followKeyInAddress() {
  const match = /[#&]key=([^&]*)/.exec(location.hash);
  if (!match) return false;
  history.replaceState(null, "", location.pathname + location.search);
  try {
    logIn(decodeURIComponent(match[1]));
  } catch (error) {
    askForKey("unreadable key in the address");
  }
  return true;
}

function startWithKey() {
  keyForm.addEventListener("submit", (event) => {
    event.preventDefault();
    logIn(keyInput.value.trim());
    keyInput.value = "";
  });
  document.getElementById("logout").addEventListener("click", async () => {
    await fetch("logout", { method: "POST" }).catch(() => {});
    if (socket) {
      socket.onclose = null;
      socket.close();
      socket = null;
    }
    askForKey("");
  });
  // A link typed or pasted into the tab later signs in the same way.
  window.addEventListener("hashchange", followKeyInAddress);
  if (followKeyInAddress()) return;
  if (accessMeta.content === "login") {
    askForKey("");
  } else {
    showAccess(accessMeta.content);
    connect();
  }
}
