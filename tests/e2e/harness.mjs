// Runs the built program headless in a throw-away folder and drives it with
// a headless Chromium. Everything listens and is reached on loopback only.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const HERE = path.dirname(fileURLToPath(import.meta.url));
export const REPO = path.resolve(HERE, '..', '..');
export const BUILD = path.resolve(process.env.VELMARIND_BUILD || path.join(REPO, 'build'));
export const SHOTS = path.join(BUILD, 'e2e-screenshots');
const CHROMIUM = process.env.VELMARIND_CHROMIUM || '/usr/bin/chromium';
// Start-up of the program and of the browser: generous for a loaded CI box.
const START_TIMEOUT_MS = 20000;
const STOP_TIMEOUT_MS = 8000;

/** Shift_JIS (CP932) bytes of a text; null when CP932 cannot hold it. */
export function sjis(text) {
  try {
    return execFileSync('iconv', ['-f', 'UTF-8', '-t', 'CP932'], { input: Buffer.from(text, 'utf8'), stdio: ['pipe', 'pipe', 'ignore'] });
  } catch {
    return null;
  }
}

/** The bytes the program holds for a name or path: Shift_JIS, or UTF-8 when CP932 cannot hold it. */
export function heldBytes(text) {
  return sjis(text) || Buffer.from(text, 'utf8');
}

export function hex(bytes) {
  return Buffer.from(bytes).toString('hex');
}

/**
 * Lays out the program folder and the shared folders, starts the program and
 * waits for its base URL. shares: [{ name, files: { 'rel/path': Buffer }, at }].
 */
export async function startProgram(options) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'velmarind-e2e-'));
  try {
    return await layOutAndStart(root, options);
  } catch (e) {
    if (!process.env.VELMARIND_E2E_KEEP) fs.rmSync(root, { recursive: true, force: true });
    throw e;
  }
}

async function layOutAndStart(root, { shares, password = null, settings = [] }) {
  const app = path.join(root, 'app');
  const data = path.join(root, 'data');
  const config = path.join(root, 'config');
  fs.mkdirSync(path.join(app, 'page'), { recursive: true });
  fs.mkdirSync(config);
  fs.copyFileSync(path.join(BUILD, 'velmarind'), path.join(app, 'velmarind'));
  fs.chmodSync(path.join(app, 'velmarind'), 0o755);
  // The thumbnail program, which the server looks for beside itself.
  if (fs.existsSync(path.join(BUILD, 'velmarind-thumbnailer'))) {
    fs.copyFileSync(path.join(BUILD, 'velmarind-thumbnailer'), path.join(app, 'velmarind-thumbnailer'));
    fs.chmodSync(path.join(app, 'velmarind-thumbnailer'), 0o755);
  }
  for (const f of ['vcom.css', 'vcom.js']) {
    const built = path.join(BUILD, 'page', f);
    fs.copyFileSync(fs.existsSync(built) ? built : path.join(REPO, 'page', f), path.join(app, 'page', f));
  }

  const lines = [];
  const dirs = {};
  for (const share of shares) {
    // share.at: a folder of the run's root ('' for the root itself) instead of data/<name>.
    const dir = share.at === undefined ? path.join(data, share.name) : path.join(root, share.at);
    fs.mkdirSync(dir, { recursive: true });
    for (const [rel, content] of Object.entries(share.files || {})) {
      const file = path.join(dir, rel);
      fs.mkdirSync(path.dirname(file), { recursive: true });
      if (content !== null) fs.writeFileSync(file, content);
    }
    dirs[share.name] = dir;
    lines.push(Buffer.concat([heldBytes(share.name), Buffer.from(';;'), heldBytes(dir + '/'), Buffer.from('\r\n')]));
  }
  fs.writeFileSync(path.join(app, 'dirlst.ini'), Buffer.concat(lines));

  // Port 0: the program binds a free one and names it in the address it prints.
  const ini = ['[COMMON]', 'HTTP_PORT=0', 'AUTO_RUN=0',
    `PASS_FLG=${password === null ? 0 : 1}`, `PASSWORD=${password === null ? '' : hex(Buffer.from(password))}`,
    ...settings];
  fs.writeFileSync(path.join(app, 'velmarind.ini'), ini.join('\r\n') + '\r\n');

  // The user's trash and the thumbnails of the run lie in its own folder too, never the user's.
  const env = {
    ...process.env,
    XDG_CONFIG_HOME: config,
    XDG_DATA_HOME: path.join(root, 'user-data'),
    XDG_CACHE_HOME: path.join(root, 'cache'),
  };
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  const child = spawn(path.join(app, 'velmarind'), [], { cwd: app, env, stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  const baseUrl = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      process.kill(child.pid, 'SIGKILL');
      reject(new Error(`no base URL within ${START_TIMEOUT_MS} ms; stdout: ${out} stderr: ${err}`));
    }, START_TIMEOUT_MS);
    child.stdout.on('data', (d) => {
      out += d;
      const m = /http:\/\/\S+\/velmarind\//.exec(out);
      if (m) { clearTimeout(timer); resolve(m[0]); }
    });
    child.once('exit', (code, signal) => { clearTimeout(timer); reject(new Error(`program ended (${code ?? signal}): ${err}`)); });
  });
  // The base URL names the machine's LAN address; tests stay on loopback.
  const port = Number(/:(\d+)\/velmarind\/$/.exec(baseUrl)[1]);
  const url = `http://127.0.0.1:${port}/velmarind/`;
  return { root, app, data, dirs, port, url, baseUrl, child, stderr: () => err };
}

/** Ends the program by its pid (SIGTERM, then SIGKILL) and removes its folders. */
export async function stopProgram(prog) {
  if (!prog) return;
  const { child } = prog;
  if (child.exitCode === null && child.signalCode === null) {
    const exited = new Promise((resolve) => child.once('exit', resolve));
    process.kill(child.pid, 'SIGTERM');
    // Unreferenced: once the program has ended, the pending limit must not keep node running.
    const timer = new Promise((resolve) => setTimeout(() => resolve('timeout'), STOP_TIMEOUT_MS).unref());
    if ((await Promise.race([exited, timer])) === 'timeout') {
      process.kill(child.pid, 'SIGKILL');
      await exited;
    }
  }
  if (!process.env.VELMARIND_E2E_KEEP) fs.rmSync(prog.root, { recursive: true, force: true });
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run', '--disable-quic'],
  });
}

/**
 * A browser context that may only reach loopback (127.0.0.0/8, where tests put
 * other sites on other addresses): no request may leave this machine.
 */
export async function loopbackContext(browser, options = {}) {
  const ctx = await browser.newContext({ acceptDownloads: true, locale: 'ja-JP', ...options });
  const blocked = [];
  await ctx.route('**/*', (route) => {
    const u = new URL(route.request().url());
    if (/^127\.\d+\.\d+\.\d+$/.test(u.hostname) || u.protocol === 'data:' || u.protocol === 'blob:') return route.continue();
    blocked.push(u.href);
    return route.abort('blockedbyclient');
  });
  ctx.blocked = blocked;
  return ctx;
}

export function screenshotPath(name) {
  fs.mkdirSync(SHOTS, { recursive: true });
  return path.join(SHOTS, name);
}

/**
 * A relay on another loopback port in front of the program that passes what the browser sends
 * at most bytesPerSecond (0: at once), and answers as fast as they come. A page opened through
 * it (relay.url) has its uploads slowed by a real socket, not by the browser's emulation, which
 * a loaded machine may apply late. When the browser drops a connection, the program's side is
 * cut at once, as a phone that goes away cuts it. hold() stops passing what the browser sends, as a
 * network gone quiet, and release() goes on.
 */
export async function slowRelay(programUrl, bytesPerSecond) {
  const target = new URL(programUrl);
  const relay = { rate: bytesPerSecond, open: 0, held: false };
  const paused = new Set();
  const server = net.createServer((client) => {
    const upstream = net.connect(Number(target.port), target.hostname);
    relay.open++;
    let ended = false;
    const drop = () => {
      if (ended) return;
      ended = true;
      relay.open--;
      client.destroy();
      upstream.destroy();
    };
    upstream.pipe(client);
    client.on('data', (chunk) => {
      upstream.write(chunk);
      if (relay.held) paused.add(client.pause());
      else if (relay.rate > 0) {
        client.pause();
        setTimeout(() => client.resume(), (chunk.length * 1000) / relay.rate);
      }
    });
    client.on('end', () => upstream.end());
    for (const s of [client, upstream]) {
      s.on('error', drop);
      s.on('close', drop);
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  relay.url = `http://127.0.0.1:${server.address().port}${target.pathname}`;
  relay.close = () => new Promise((resolve) => server.close(resolve));
  relay.hold = () => { relay.held = true; };
  relay.release = () => { relay.held = false; paused.forEach((c) => c.resume()); paused.clear(); };
  return relay;
}
