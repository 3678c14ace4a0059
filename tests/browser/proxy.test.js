// The page over HTTPS through a real reverse proxy: Debian's nginx, run by
// the test with a certificate the test makes, in front of the server that
// listens on loopback only, allows the proxy's origin and wants an access
// key made by panel-key, and trusts the proxy's forwarded client address.
// One client's wrong keys lock that client only: Chromium then opens the
// address with #key=, gets a secure session cookie, sees the picture and is
// obeyed; a page of another origin and a sandboxed frame, both through the
// same proxy, are refused.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const https = require('node:https');
const path = require('node:path');
const {
  startServer, openUrl, freePort, waitForPort, tempFolder, spawnServer,
} = require('./harness');
const { GREY, CIRCLE_BUTTON, pressAt, waitForColour, waitForPanel } = require('./panel_page');

const nginxPath = process.env.PANEL_NGINX || '/usr/sbin/nginx';
const chromiumPath = process.env.PANEL_CHROMIUM || '/usr/bin/chromium';

function missingTools() {
  const missing = [];
  if (!fs.existsSync(nginxPath)) missing.push('nginx');
  if (!fs.existsSync(chromiumPath)) missing.push('chromium');
  try {
    execFileSync('openssl', ['version'], { stdio: 'ignore' });
  } catch {
    missing.push('openssl');
  }
  return missing.length ? `needs ${missing.join(', ')} (tools/setup.sh browser installs them)` : false;
}

// A page of the proxy's other origin: it tries the panel's socket itself and
// from a sandboxed frame (whose Origin is null), and shows how each ended.
function otherOriginPage(panel) {
  const attempt = (name) =>
    `const ws = new WebSocket('${panel}'); ` +
    `ws.onopen = () => report('${name}', 'open'); ws.onclose = () => report('${name}', 'closed');`;
  return `<!doctype html><title>other</title><pre id="seen"></pre><script>
function report(name, how) { document.getElementById('seen').textContent += name + ' ' + how + '\\n'; }
window.onmessage = (event) => report('frame', event.data);
${attempt('page')}
</script><iframe sandbox="allow-scripts" srcdoc="<script>
function report(name, how) { parent.postMessage(how, '*'); }
${attempt('frame').replace(/'/g, '&#39;').replace(/"/g, '&quot;')}
</script>"></iframe>`;
}

// The proxy set-up of the README, on loopback ports of this test: the panel
// on one port, a site of another origin on the other.
function nginxConfig(folder, panelPort, otherPort, serverPort) {
  const tls = `ssl_certificate ${folder}/cert.pem; ssl_certificate_key ${folder}/key.pem;`;
  return `daemon off;
master_process off;
pid ${folder}/nginx.pid;
error_log ${folder}/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path ${folder}/body; proxy_temp_path ${folder}/proxy;
  fastcgi_temp_path ${folder}/fastcgi; uwsgi_temp_path ${folder}/uwsgi; scgi_temp_path ${folder}/scgi;
  map $http_upgrade $connection_upgrade { default upgrade; '' close; }
  server {
    listen 127.0.0.1:${panelPort} ssl;
    ${tls}
    location / {
      proxy_pass http://127.0.0.1:${serverPort};
      proxy_http_version 1.1;
      proxy_set_header Upgrade $http_upgrade;
      proxy_set_header Connection $connection_upgrade;
      proxy_set_header Host $host;
      proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;
      proxy_read_timeout 1h;
    }
  }
  server {
    listen 127.0.0.1:${otherPort} ssl;
    ${tls}
    root ${folder}/other;
  }
}
`;
}

// A control key in a key file of its own folder: { file, key }.
function makeKey() {
  const folder = tempFolder('keys');
  after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const file = path.join(folder, 'keys');
  const printed = execFileSync(process.env.PANEL_KEY_BIN, [file], { encoding: 'utf8' });
  return { file, key: /^Key: (\S+)$/m.exec(printed)[1] };
}

async function startProxy(panelPort, otherPort, serverPort) {
  const folder = tempFolder('proxy');
  let nginx = null;
  let exited = Promise.resolve();
  const stop = async () => {
    if (nginx && nginx.exitCode === null && nginx.signalCode === null) nginx.kill('SIGKILL');
    await exited;
    fs.rmSync(folder, { recursive: true, force: true });
  };
  try {
    execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256',
      '-nodes', '-days', '1', '-subj', '/CN=localhost', '-addext', 'subjectAltName=DNS:localhost',
      '-keyout', path.join(folder, 'key.pem'), '-out', path.join(folder, 'cert.pem')],
    { stdio: 'ignore' });
    fs.mkdirSync(path.join(folder, 'other'));
    fs.writeFileSync(path.join(folder, 'other', 'index.html'),
      otherOriginPage(`wss://localhost:${panelPort}/`));
    fs.writeFileSync(path.join(folder, 'nginx.conf'), nginxConfig(folder, panelPort, otherPort, serverPort));
    nginx = spawnServer(nginxPath, ['-p', folder, '-c', path.join(folder, 'nginx.conf'),
      '-e', path.join(folder, 'error.log')], { stdio: 'ignore' });
    exited = new Promise((resolve) => nginx.once('exit', resolve));
    await waitForPort(panelPort, undefined, nginx);
    return { stop, errors: () => fs.readFileSync(path.join(folder, 'error.log'), 'utf8') };
  } catch (error) {
    await stop();
    throw error;
  }
}

// POST /login through the proxy from the given loopback address: the status.
function loginFrom(localAddress, port, key) {
  const body = `key=${encodeURIComponent(key)}`;
  return new Promise((resolve, reject) => {
    const request = https.request({
      host: '127.0.0.1', port, path: '/login', method: 'POST', localAddress,
      rejectUnauthorized: false, agent: false,
      headers: { 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': body.length },
    }, (answer) => {
      answer.resume();
      answer.on('end', () => resolve(answer.statusCode));
    });
    request.on('error', reject);
    request.end(body);
  });
}

test('the page through nginx over HTTPS with a key is obeyed; other origins are refused',
  { timeout: 60000, skip: missingTools() }, async () => {
    const panelPort = await freePort();
    const otherPort = await freePort();
    const panelOrigin = `https://localhost:${panelPort}`;
    const access = makeKey();
    const server = await startServer({
      width: 640, height: 480,
      env: {
        PANEL_LISTEN: '127.0.0.1', PANEL_ORIGINS: panelOrigin, PANEL_KEY_FILE: access.file,
        PANEL_TRUSTED_PROXIES: '127.0.0.1',
      },
    });
    after(() => server.stop());
    const proxy = await startProxy(panelPort, otherPort, server.port);
    after(() => proxy.stop());

    // Wrong keys from one client lock that client, named by its own address;
    // another client's right key is still taken.
    const guesses = [];
    for (let i = 0; i < 6; i++) guesses.push(await loginFrom('127.0.0.3', panelPort, `wrong${i}`));
    assert.deepStrictEqual(guesses, [401, 401, 401, 401, 401, 429]);
    assert.strictEqual(await loginFrom('127.0.0.4', panelPort, access.key), 200);
    assert.match(server.output(), /Wrong access key from 127\.0\.0\.3\.\n/, server.output());

    // The test's certificate is trusted by this browser only.
    const options = { device: { ignoreHTTPSErrors: true } };
    const started = Date.now();
    const browser = await openUrl(`${panelOrigin}/#key=${access.key}`, { width: 1000, height: 700 }, options);
    after(() => browser.stop());
    const page = browser.page;
    await waitForPanel(page);
    console.log(`key in the address to the live picture through nginx: ${Date.now() - started} ms`);
    assert.strictEqual(await page.evaluate(() => socket.url), `wss://localhost:${panelPort}/`);
    const cookies = await page.context().cookies();
    const session = cookies.find((cookie) => cookie.name === 'panel_session');
    assert.ok(session && session.secure && session.httpOnly && session.sameSite === 'Strict',
      JSON.stringify(cookies));
    await pressAt(page, CIRCLE_BUTTON);
    await waitForColour(page, { x: 320, y: 290 }, GREY);

    const other = await openUrl(`https://localhost:${otherPort}/`, { width: 600, height: 400 }, options);
    after(() => other.stop());
    await other.page.waitForFunction(
      () => /page (open|closed)/.test(seen.textContent) && /frame (open|closed)/.test(seen.textContent),
      null, { timeout: 10000 });
    const seen = await other.page.textContent('#seen');
    assert.doesNotMatch(seen, /open/, seen);
    const printed = server.output();
    assert.match(printed, /Refused a connection: Origin is another site\.\n/, printed);
    assert.match(printed, /Refused a connection: Origin null while PANEL_ORIGINS is set\.\n/, printed);
  });
