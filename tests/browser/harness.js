// Runs the panel server and Debian's headless Chromium for browser tests.
//
// startServer() starts the server binary in a fresh folder on a free port
// with the given picture; openPage() opens a page in a fresh browser profile.
// Both hand back a stop function; tests call them in `after` hooks, so no
// server or browser outlives its test. A server also dies with the process
// that started it, however that ends (spawnServer), and the folders a killed
// run left behind are removed when this module is next loaded (tempFolder).
'use strict';

const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const serverBin = process.env.PANEL_SERVER_BIN;
const makePicture = process.env.PANEL_MAKE_PICTURE;
const chromiumPath = process.env.PANEL_CHROMIUM || '/usr/bin/chromium';
const chromiumFlags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-quic',
];

// A fresh folder panel-<what>-<pid>-XXXXXX in the temporary folder: the pid
// tells a later run whether its owner is gone.
function tempFolder(what) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `panel-${what}-${process.pid}-`));
}

// Removes this user's folders of the form tempFolder makes (the C++ tests'
// as well) whose process is gone: what a killed run left behind.
function removeStaleFolders() {
  const base = os.tmpdir();
  for (const name of fs.readdirSync(base)) {
    const match = /^panel-.+-(\d+)-[A-Za-z0-9]{6}$/.exec(name);
    if (!match) continue;
    try {
      process.kill(Number(match[1]), 0);
      continue;  // its process is alive (or not ours to signal)
    } catch (error) {
      if (error.code !== 'ESRCH') continue;
    }
    const folder = path.join(base, name);
    const info = fs.lstatSync(folder, { throwIfNoEntry: false });
    if (info && info.isDirectory() && info.uid === process.getuid()) {
      fs.rmSync(folder, { recursive: true, force: true });
    }
  }
}
removeStaleFolders();

// Spawns a server program that the system kills when this process ends,
// however it ends (setpriv sets the parent-death signal, then runs it).
function spawnServer(bin, args, options) {
  return spawn('setpriv', ['--pdeathsig', 'KILL', '--', bin, ...args], options);
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

// How long a started server or proxy may take to listen: generous, so a
// machine busy with other builds does not fail a start that is only slow; a
// process that exits stops the wait at once.
const START_WAIT_MS = 60000;

// Resolves once the port takes connections; rejects when `child` (if given)
// has exited, or after timeoutMs.
async function waitForPort(port, timeoutMs = START_WAIT_MS, child = null) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (child && (child.exitCode !== null || child.signalCode !== null)) {
      throw new Error(`the process for port ${port} ended before it listened`);
    }
    const open = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1');
      socket.once('connect', () => { socket.destroy(); resolve(true); });
      socket.once('error', () => resolve(false));
    });
    if (open) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  throw new Error(`server did not listen on ${port}`);
}

// Starts the server with a picture of width x height made by the picture tool,
// or with the given picture file, on the given port or a free one, with `env`
// added to its environment. Resolves to
// { port, folder, output(), stop() }; stop() may be called more than once.
async function startServer({ width = 640, height = 480, picture, port: wanted, env = {} } = {}) {
  const folder = tempFolder('browser');
  let child = null;
  let exited = Promise.resolve();
  const stop = async () => {
    if (child && child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    await exited;
    fs.rmSync(folder, { recursive: true, force: true });
  };
  try {
    const work = path.join(folder, 'work.bmp');
    if (picture) fs.copyFileSync(picture, work);
    else execFileSync(makePicture, [work, String(width), String(height)]);
    const port = wanted || (await freePort());
    child = spawnServer(serverBin, ['-p', String(port)], {
      cwd: folder, stdio: ['ignore', 'pipe', 'inherit'], env: { ...process.env, ...env },
    });
    let printed = '';
    child.stdout.on('data', (chunk) => { printed += chunk; });
    exited = new Promise((resolve) => child.once('exit', resolve));
    // The probe's connection ends at its first turn: the server sees it closed.
    await waitForPort(port, START_WAIT_MS, child);
    return { port, folder, output: () => printed, stop };
  } catch (error) {
    await stop();  // a start that fails leaves no server and no folder behind
    throw error;
  }
}

// Opens one page in a fresh profile and lets `load` fill it. `device` adds
// Chromium's device emulation (deviceScaleFactor, isMobile, hasTouch) and
// `args` more command-line flags. Resolves to { page, stop() }.
async function openBrowser(load, viewport, { device = {}, args = [] } = {}) {
  const profile = tempFolder('profile');
  let context = null;
  const stop = async () => {
    if (context) await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: chromiumPath,
      headless: true,
      args: [...chromiumFlags, ...args],
      viewport,
      ...device,
    });
    const page = context.pages()[0] || (await context.newPage());
    await load(page);
    return { page, stop };
  } catch (error) {
    await stop();  // a browser that fails to open leaves no profile behind
    throw error;
  }
}

// A page with the given HTML.
function openPage(html) {
  return openBrowser((page) => page.setContent(html));
}

// The page at the address (a file:// address for the browser page), in a
// window of the given size ({ width, height }), with openBrowser's options.
function openUrl(url, viewport, options) {
  return openBrowser((page) => page.goto(url), viewport, options);
}

module.exports = {
  startServer, openPage, openUrl, freePort, waitForPort, tempFolder, spawnServer,
};
