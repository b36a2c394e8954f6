// Looking before downloading, in a real browser: the viewer (image, video seek, text, PDF), the
// gallery of thumbnails, a phone's swipe, and a folder of hostile files that must run nothing.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startProgram, stopProgram, launchBrowser, loopbackContext, screenshotPath, sjis, hex } from './harness.mjs';

const SHARE = 'View';
const HOSTILE = 'Hostile';
const WAIT_MS = 15000;
const PHONE = 'Phone';
const PHONE_LOOK = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true,
  userAgent: 'Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/126.0 Mobile Safari/537.36' };
const SILENCE = Buffer.concat([Buffer.from('52494646c40f000057415645666d74201000000001000100401f0000401f00000100080064617461a00f0000', 'hex'), Buffer.alloc(4000, 128)]); // WAV
const EVIL_NAME = '<img src=x onerror=alert(1)>.jpg';
// Every payload, if it ever ran, would ask the server for this or call alert.
const MARK = 'pwned';

// A small JPEG of a gradient (ImageMagick, a test package).
function jpeg(width, height, label) {
  const file = path.join(os.tmpdir(), `velmarind-e2e-${process.pid}-${label}.jpg`);
  execFileSync('convert', ['-size', `${width}x${height}`, `gradient:${label}-white`, file]);
  const bytes = fs.readFileSync(file);
  fs.rmSync(file);
  return bytes;
}

// A one-page PDF with a line of text, offsets computed.
function pdf() {
  const objects = ['<< /Type /Catalog /Pages 2 0 R >>', '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
    '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>',
    null, '<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>'];
  const stream = 'BT /F1 18 Tf 20 40 Td (Velmarind) Tj ET';
  objects[3] = `<< /Length ${stream.length} >>\nstream\n${stream}\nendstream`;
  let out = '%PDF-1.4\n';
  const offsets = objects.map((body, i) => { const at = out.length; out += `${i + 1} 0 obj\n${body}\nendobj\n`; return at; });
  const xref = out.length;
  out += `xref\n0 ${objects.length + 1}\n0000000000 65535 f \n` + offsets.map((o) => `${String(o).padStart(10, '0')} 00000 n \n`).join('');
  out += `trailer\n<< /Size ${objects.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
  return Buffer.from(out, 'latin1');
}

const script = `fetch('/velmarind/${MARK}');alert(1)`;
const HOSTILE_FILES = {
  'page.html': Buffer.from(`<html><body><script>${script}</script><img src=x onerror="${script}"></body></html>`),
  'drawing.svg': Buffer.from(`<svg xmlns="http://www.w3.org/2000/svg"><script>${script}</script></svg>`),
  // A JPEG whose comment segment is an HTML page: a browser that sniffed it would run it.
  'both.jpg': null,
  'markup.txt': Buffer.from(`<script>${script}</script>\n<img src=x onerror="${script}">\n<iframe src="javascript:${script}"></iframe>\n`),
  [EVIL_NAME]: null,
};

describe('viewing in a browser', () => {
  let prog;
  let browser;
  let ctx;
  let page;
  const marks = [];
  const errors = [];
  const responses = [];

  before(async () => {
    const photo = jpeg(320, 240, 'red');
    const comment = Buffer.from(`<html><script>${script}</script></html>`);
    const segment = Buffer.concat([Buffer.from([0xff, 0xfe, 0, comment.length + 2]), comment]);
    HOSTILE_FILES['both.jpg'] = Buffer.concat([photo.subarray(0, 2), segment, photo.subarray(2)]);
    HOSTILE_FILES[EVIL_NAME] = jpeg(64, 64, 'blue');
    prog = await startProgram({
      shares: [
        { name: SHARE, files: {
          'a-photo.jpg': photo, 'b-photo.jpg': jpeg(240, 320, 'green'), 'c-notes.txt': sjis('表の中身です\r\n'),
          'd-doc.pdf': pdf(), 'other.bin': Buffer.from([1, 2, 3]),
        } },
        { name: HOSTILE, files: HOSTILE_FILES },
        { name: PHONE, files: { 'a;b.txt': Buffer.from('ab'), 'semi;;colon.txt': Buffer.from('sc'), 'p1.jpg': photo, 'p2.jpg': photo, 'gone.txt': Buffer.from('g'), 'sound.wav': SILENCE,
          'doc.pdf': pdf(), 'pack.zip': Buffer.from('PK'), 'sub/x.txt': Buffer.from('x'), ...Object.fromEntries([...Array(22).keys()].map((i) => [`f${i}.dat`, Buffer.from('f')])) } },
      ],
    });
    browser = await launchBrowser();
    ctx = await loopbackContext(browser, { viewport: { width: 1000, height: 760 } });
    ctx.on('request', (r) => { if (r.url().includes(MARK)) marks.push(r.url()); });
    ctx.on('response', (r) => responses.push(r));
    ctx.on('page', (p) => p.on('dialog', (d) => { marks.push(`dialog ${d.message()}`); d.dismiss(); }));
    page = await ctx.newPage();
    page.setDefaultTimeout(WAIT_MS);
    page.on('pageerror', (e) => errors.push(e.message));
    // A video made by the browser itself (no encoder among the test packages): two seconds.
    await page.goto(prog.url);
    const video = await page.evaluate(async () => {
      const canvas = Object.assign(document.createElement('canvas'), { width: 64, height: 48 });
      const g = canvas.getContext('2d');
      const recorder = new MediaRecorder(canvas.captureStream(25), { mimeType: 'video/webm' });
      const parts = [];
      recorder.ondataavailable = (e) => parts.push(e.data);
      const done = new Promise((r) => { recorder.onstop = r; });
      recorder.start(100);
      const start = performance.now();
      while (performance.now() - start < 2000) {
        g.fillStyle = `hsl(${(performance.now() - start) / 6}, 80%, 50%)`;
        g.fillRect(0, 0, 64, 48);
        await new Promise((r) => setTimeout(r, 40));
      }
      recorder.stop();
      await done;
      return Array.from(new Uint8Array(await new Blob(parts).arrayBuffer()));
    });
    for (const share of [SHARE, PHONE]) fs.writeFileSync(path.join(prog.dirs[share], 'e-clip.webm'), Buffer.from(video));
  });

  after(async () => {
    if (browser) await browser.close();
    await stopProgram(prog);
  });

  async function openFolder(name) {
    await page.goto(`${prog.url}#${hex(sjis(name))}/`);
    await page.waitForSelector(`#m1 .vm-here:text-is("${name}")`);
  }

  const viewerShows = (selector) => page.waitForSelector(`.vm-viewer:not([hidden]) .vm-viewer-stage ${selector}`);

  async function phonePage() {
    const p = await (await loopbackContext(browser, PHONE_LOOK)).newPage();
    p.setDefaultTimeout(WAIT_MS);
    await p.goto(`${prog.url}#${hex(sjis(PHONE))}/`);
    return p;
  }
  const inViewer = async (p, name) => { await p.tap(`#m1 a.vm-file:text-is("${name}")`); await p.waitForSelector(`.vm-viewer-title:text-is("${name}")`); };
  // A finger's sideways swipe over selector (from a fraction of its width), through the browser's own handling of touches.
  async function swipe(p, selector, dx, from = 0.5) {
    const b = await p.locator(selector).boundingBox(), cdp = await p.context().newCDPSession(p);
    for (let i = 0; i <= 8; i++) await cdp.send('Input.dispatchTouchEvent', { type: i ? 'touchMove' : 'touchStart', touchPoints: [{ x: b.x + b.width * from + (dx * i) / 8, y: b.y + b.height / 2 }] });
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
  }

  it('steps through the folder\'s files in the viewer and closes with Back at the same place', async () => {
    await openFolder(SHARE);
    await page.click('#m1 a.vm-file:text-is("a-photo.jpg")');
    await page.waitForFunction(() => document.querySelector('.vm-viewer-image')?.naturalWidth === 320);
    assert.equal(await page.textContent('.vm-viewer-count'), '1 / 5');
    // The neighbour is fetched ahead: pick the photo's own answer.
    const answer = responses.find((r) => r.url().includes('vm-view') && r.url().includes(hex(Buffer.from('a-photo.jpg'))));
    assert.equal(answer.headers()['content-security-policy'], 'sandbox');
    assert.match(answer.headers()['content-disposition'], /^inline; filename\*=UTF-8''a-photo\.jpg$/);

    await page.keyboard.press('ArrowRight');
    await page.waitForFunction(() => document.querySelector('.vm-viewer-image')?.naturalWidth === 240);
    await page.keyboard.press('ArrowRight');
    await page.waitForFunction(() => /表の中身です/.test(document.querySelector('.vm-viewer-text')?.textContent || ''));
    const pdfLoaded = page.waitForResponse((r) => r.url().includes('vm-view') && r.url().includes(hex(Buffer.from('d-doc.pdf'))));
    await page.keyboard.press('ArrowRight');
    await viewerShows('iframe.vm-viewer-pdf');
    const pdfAnswer = await pdfLoaded;
    assert.equal(pdfAnswer.status(), 200);
    assert.equal(pdfAnswer.headers()['content-type'], 'application/pdf');
    await page.screenshot({ path: screenshotPath('viewer-pdf.png') });

    // The video: it plays from its metadata, and a seek asks for a part of the file.
    await page.keyboard.press('ArrowRight');
    await viewerShows('video.vm-viewer-video[playsinline]');
    const seeked = await page.evaluate(() => new Promise((resolve) => {
      const v = document.querySelector('.vm-viewer-video');
      const seek = () => { v.addEventListener('seeked', () => resolve(v.currentTime), { once: true }); v.currentTime = 1; };
      if (v.readyState >= 1) seek(); else v.addEventListener('loadedmetadata', seek, { once: true });
      setTimeout(() => resolve(-1), 10000);
    }));
    assert.ok(seeked >= 0.5, `seeked to ${seeked}`);
    assert.ok(responses.some((r) => r.url().includes('vm-view') && r.status() === 206), 'a range was answered');

    // Back closes the viewer and leaves the listing as it was.
    const before = page.url();
    await page.goBack();
    await page.waitForSelector('.vm-viewer', { state: 'hidden' });
    assert.equal(page.url(), before);
    assert.ok(await page.isVisible('#m1 a.vm-file:text-is("a-photo.jpg")'));

    // The row's download action gives the designed download answer.
    const href = await page.$eval('#m1 tr:has(a.vm-file:text-is("a-photo.jpg")) a.vm-row-save', (a) => a.href);
    const head = await page.evaluate(async (u) => (await fetch(u)).headers.get('content-disposition'), href);
    assert.equal(head, 'attachment;filename=a-photo.jpg');
    assert.deepEqual(errors, []);
  });

  it('shows a gallery of thumbnails and remembers the choice', async () => {
    await openFolder(SHARE);
    await page.click('#m1 .vm-gallery-toggle');
    await page.waitForFunction(() => document.querySelectorAll('#m1 .vm-tile-image.vm-loaded').length === 2);
    const sizes = await page.$$eval('#m1 .vm-tile-image img', (imgs) => imgs.map((i) => [i.naturalWidth, i.naturalHeight]));
    assert.deepEqual(sizes, [[256, 192], [192, 256]], 'fit in 256 pixels');
    await page.reload();
    await page.waitForSelector('#m1 .vm-gallery-toggle[aria-pressed="true"]');
    await page.waitForFunction(() => document.querySelectorAll('#m1 .vm-tile-image.vm-loaded').length === 2);
    await page.screenshot({ path: screenshotPath('gallery-pc.png') });
  });

  it('works at phone size with touch: a sideways swipe steps between photos and never takes the browser Back', async () => {
    const phone = await loopbackContext(browser, PHONE_LOOK);
    const p = await phone.newPage();
    p.setDefaultTimeout(WAIT_MS);
    await p.goto(`${prog.url}#${hex(sjis(SHARE))}/`);
    await p.waitForSelector('#m1 .vm-gallery-toggle');
    if ((await p.getAttribute('#m1 .vm-gallery-toggle', 'aria-pressed')) !== 'true') await p.tap('#m1 .vm-gallery-toggle');
    await p.waitForFunction(() => document.querySelectorAll('#m1 .vm-tile-image.vm-loaded').length === 2);
    await p.screenshot({ path: screenshotPath('gallery-phone.png') });
    await p.tap('#m1 .vm-tile-image');
    await p.waitForFunction(() => document.querySelector('.vm-viewer-image')?.naturalWidth === 320);
    await p.evaluate(() => { window.backs = 0; addEventListener('popstate', () => { window.backs++; }); });
    for (const [dx, width, from] of [[-150, 240, 0.5], [280, 320, 0.15]]) {
      await swipe(p, '.vm-viewer-stage', dx, from);
      await p.waitForFunction((w) => document.querySelector('.vm-viewer').hidden || document.querySelector('.vm-viewer-image')?.naturalWidth === w, width);
    }
    assert.deepEqual(await p.evaluate(() => [document.querySelector('.vm-viewer').hidden, window.backs]), [false, 0]);
    await p.screenshot({ path: screenshotPath('viewer-phone.png') });
    await phone.close();
  });

  it('runs no script of any hostile file, shown, thumbnailed or opened directly', async () => {
    await openFolder(HOSTILE);
    // The gallery is still on from before: the names are clicked in the list.
    if ((await page.getAttribute('#m1 .vm-gallery-toggle', 'aria-pressed')) === 'true') await page.click('#m1 .vm-gallery-toggle');
    assert.ok(await page.isVisible(`#m1 a.vm-file:text-is("${EVIL_NAME}")`), 'the name is shown as text');
    for (const name of Object.keys(HOSTILE_FILES)) {
      await page.click(`#m1 a.vm-file:text-is("${name}")`);
      await page.waitForSelector('.vm-viewer:not([hidden]) .vm-viewer-stage > *');
      await page.keyboard.press('Escape');
      await page.waitForSelector('.vm-viewer', { state: 'hidden' });
    }
    const tab = await ctx.newPage();
    for (const name of Object.keys(HOSTILE_FILES)) {
      const file = Buffer.concat([sjis(prog.dirs[HOSTILE] + '/'), sjis(name)]);
      await tab.goto(`${prog.url}vm-view?file=${hex(file)}`);
      await tab.waitForLoadState('load');
    }
    await tab.close();
    // Thumbnails of all, hostile ones included, in the gallery.
    await page.click('#m1 .vm-gallery-toggle');
    await page.waitForFunction(() => [...document.querySelectorAll('#m1 .vm-tile-image')]
      .every((t) => t.classList.contains('vm-loaded') || t.classList.contains('vm-broken')));
    await page.waitForTimeout(500); // what a payload would have sent, had one run
    assert.deepEqual(marks, []);
    assert.deepEqual(errors, []);
  });

  it('puts no viewer button over a player\'s controls on a phone', async () => {
    for (const name of ['sound.wav', 'e-clip.webm']) {
      const p = await phonePage();
      await inViewer(p, name);
      // A video's player comes once the server has told what the video is.
      await p.waitForSelector('.vm-viewer-stage > :is(audio, video)');
      // What lies on top across the player's box is the player, everywhere.
      assert.ok(await p.$eval('.vm-viewer-stage > :is(audio, video)', (m) => { const r = m.getBoundingClientRect();
        return [0.02, 0.25, 0.5, 0.75, 0.98].every((f) => [0.1, 0.5, 0.9].every((g) => document.elementFromPoint(r.left + f * r.width, r.top + g * r.height) === m)); }), name);
    }
  });

  it('shows, finds and saves names with ";" as they are', async () => {
    const p = await phonePage();
    await p.fill('#m1 .vm-filter', ';');
    await p.waitForFunction(() => document.querySelectorAll('#m1 tbody .vm-item').length === 2);
    for (const name of ['a;b.txt', 'semi;;colon.txt']) {
      const href = await p.$eval(`#m1 tr:has(a.vm-file:text-is("${name}")) a.vm-row-save`, (a) => a.href);
      const [saved] = await Promise.all([p.waitForEvent('download'), p.evaluate((u) => { location.href = u; }, href)]);
      assert.equal(saved.suggestedFilename(), name);
    }
  });

  it('walks a phone through swipes from the buttons and on a video, a vanished file and the gallery\'s icons', async () => {
    const p = await phonePage();
    await p.waitForSelector('#m1 a.vm-file');
    fs.rmSync(path.join(prog.dirs[PHONE], 'gone.txt'));
    await inViewer(p, 'e-clip.webm');
    await swipe(p, '.vm-viewer-video', -150);
    await p.waitForSelector('.vm-viewer-note:text-matches("^「gone\\.txt」を表示できません。移動または削除")');
    await swipe(p, '.vm-viewer-next', -150);
    await p.waitForSelector('.vm-viewer-title:text-is("p1.jpg")');
    await p.keyboard.press('Escape');
    await p.tap('#m1 .vm-gallery-toggle');
    const icons = await p.$$eval('#m1 .vm-tile', (tiles) => tiles.map((t) => getComputedStyle(t, '::before').backgroundImage));
    assert.deepEqual([new Set(icons).size, icons.every((i) => i.startsWith('url('))], [8, true]); // a folder, files of 7 kinds
  });
});
