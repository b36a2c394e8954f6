// Photos and videos a browser cannot show by itself, in a real browser at phone size: a HEIC in
// the gallery and the viewer (converted by the server, the original downloaded), a broken one,
// and a video this browser plays next to one it cannot.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startProgram, stopProgram, launchBrowser, loopbackContext, screenshotPath, sjis, hex } from './harness.mjs';

const SHARE = 'Media';
const WAIT_MS = 20000;
const PHONE_LOOK = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true };

// A file made by a test package's command (convert, heif-enc, ffmpeg) from "IN" into "OUT".
function made(command, args, input) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'velmarind-media-'));
  try {
    const out = path.join(dir, 'out' + path.extname(args[args.length - 1]));
    if (input) fs.writeFileSync(path.join(dir, input.name), input.bytes);
    execFileSync(command, args.map((a) => a.replace(/^OUT.*/, out).replace(/^IN$/, path.join(dir, input?.name || ''))));
    return fs.readFileSync(out);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// One second of a test picture, 160 x 120, as encoded by the given ffmpeg options into ext.
const clip = (ext, ...codec) => made('ffmpeg', ['-v', 'error', '-f', 'lavfi', '-i', 'testsrc=size=160x120:rate=10', '-t', '1', ...codec, 'OUT.' + ext]);

describe('photos and videos the browser cannot show itself', () => {
  let prog;
  let browser;
  let page;
  const errors = [];
  const heic = () => made('heif-enc', ['-q', '50', '-o', 'OUT.heic', 'IN'],
    { name: 'in.jpg', bytes: made('convert', ['-size', '320x240', 'gradient:red-blue', 'OUT.jpg']) });

  before(async () => {
    const photo = heic();
    prog = await startProgram({ shares: [{ name: SHARE, files: {
      'a-photo.heic': photo,
      'b-broken.heic': photo.subarray(0, photo.length / 2),
      'c-plays.mp4': clip('mp4', '-c:v', 'libx264', '-pix_fmt', 'yuv420p'),
      // MPEG-4 Part 2 in AVI, as old cameras made them: no browser plays it.
      'd-old.avi': clip('avi', '-c:v', 'mpeg4'),
    } }] });
    browser = await launchBrowser();
    page = await (await loopbackContext(browser, PHONE_LOOK)).newPage();
    page.setDefaultTimeout(WAIT_MS);
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(`${prog.url}#${hex(sjis(SHARE))}/`);
    await page.waitForSelector(`#m1 .vm-here:text-is("${SHARE}")`);
  });

  after(async () => {
    if (browser) await browser.close();
    await stopProgram(prog);
  });

  it('shows a HEIC as a tile and converted in the viewer, downloads its own bytes, and a broken one as the placeholder', async () => {
    await page.tap('#m1 .vm-gallery-toggle');
    await page.waitForFunction(() => document.querySelectorAll('#m1 .vm-tile.vm-loaded').length === 3);
    const tiles = await page.$$eval('#m1 .vm-tile', (ts) => ts.map((t) => [t.className, t.querySelector('img')?.naturalWidth]));
    assert.deepEqual(tiles, [['vm-tile vm-tile-picture vm-loaded', 256], ['vm-tile vm-tile-picture vm-broken', 0],
      ['vm-tile vm-tile-video vm-loaded', 160], ['vm-tile vm-tile-video vm-loaded', 160]]);
    await page.screenshot({ path: screenshotPath('media-gallery-phone.png') });

    await page.tap('#m1 .vm-tile-picture.vm-loaded');
    await page.waitForFunction(() => document.querySelector('.vm-viewer-image')?.naturalWidth === 320);
    const href = await page.getAttribute('.vm-viewer-save', 'href');
    const original = await page.evaluate(async (u) => Array.from(new Uint8Array(await (await fetch(u)).arrayBuffer())), href);
    assert.deepEqual(Buffer.from(original), fs.readFileSync(path.join(prog.dirs[SHARE], 'a-photo.heic')));
    // The broken one says so, and the server is still there for the next.
    await page.keyboard.press('ArrowRight');
    await page.waitForSelector('.vm-viewer-stage .vm-viewer-note');
    await page.keyboard.press('Escape');
  });

  it('plays a video this browser can play and offers the download of one it cannot, with what the server read of both', async () => {
    await page.tap('#m1 .vm-tile-video >> nth=0');
    await page.waitForSelector('.vm-viewer-stage video.vm-viewer-video');
    assert.equal(await page.textContent('.vm-viewer-facts'), '0:01 · 160 × 120');
    await page.keyboard.press('ArrowRight');
    const box = await page.waitForSelector('.vm-viewer-stage .vm-viewer-unplayable');
    await page.waitForFunction(() => document.querySelector('.vm-viewer-poster')?.naturalWidth === 160);
    assert.match(await box.textContent(), /0:01 · 160 × 120/);
    assert.equal(await page.$('.vm-viewer-stage video'), null, 'no player that never starts');
    assert.equal(await page.getAttribute('.vm-viewer-download', 'download'), 'd-old.avi');
    await page.screenshot({ path: screenshotPath('media-unplayable-phone.png') });
    assert.deepEqual(errors, []);
  });
});
