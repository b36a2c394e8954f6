// The pages in a real browser against the real program: log in, browse,
// download, upload, create a text, and the same on a phone-sized screen.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import {
  startProgram, stopProgram, launchBrowser, loopbackContext, screenshotPath, sjis,
} from './harness.mjs';

const PASSWORD = 'pass123';
const PHOTOS = '写真';
const VIDEOS = 'Vidéos';
const SUB = '旅行';
const bytes = (n) => crypto.randomBytes(n);
const FILES = {
  [PHOTOS]: {
    '表.txt': Buffer.from('表の中身\r\n', 'utf8'),
    'Été 2024.jpg': bytes(200000),
    'b-small.bin': bytes(10),
    'a-large.bin': bytes(5000),
    [`${SUB}/メモ.txt`]: Buffer.from('memo', 'utf8'),
    [`${SUB}/2024/deep.txt`]: Buffer.from('deep', 'utf8'),
  },
  [VIDEOS]: { 'café.bin': bytes(3000), 'Clip.mp4': bytes(70000) },
};
const UPLOAD_NAME = /^__vupd_img_\d{15}(\.[a-z0-9]+)?$/;
const WAIT_MS = 15000;

/** Names in the listing, in the order shown. */
async function listedNames(page) {
  return page.$$eval('#m1 tbody .vm-item', (els) => els.map((e) => e.textContent));
}

async function openShare(page, name) {
  await page.click(`a.sh1:text-is("${name}")`);
  await page.waitForSelector(`#m1 .vm-path .vm-here:text-is("${name}")`);
}

function uploadsIn(dir) {
  return fs.readdirSync(dir).filter((n) => n.startsWith('__vupd_img_'));
}

describe('pages in a browser', () => {
  let prog;
  let browser;
  let ctx;
  let page;
  const errors = [];

  before(async () => {
    prog = await startProgram({
      password: PASSWORD,
      shares: [{ name: PHOTOS, files: FILES[PHOTOS] }, { name: VIDEOS, files: FILES[VIDEOS] }],
    });
    browser = await launchBrowser();
    ctx = await loopbackContext(browser, { viewport: { width: 1100, height: 800 } });
    page = await ctx.newPage();
    page.on('pageerror', (e) => errors.push(e.message));
  });

  after(async () => {
    if (browser) await browser.close();
    await stopProgram(prog);
  });

  it('asks for the password and admits the browser once it is right', async () => {
    await page.goto(prog.url);
    await page.fill('input[name="passwd"]', 'wrong');
    await Promise.all([page.waitForURL(/login\.html/), page.click('input[value="LOGIN"]')]);
    assert.match(await page.textContent('body'), /パスワードが正しくありません/);

    await page.fill('input[name="passwd"]', PASSWORD);
    const done = page.waitForResponse((r) => r.url().includes('login.html'));
    const onward = page.waitForRequest((r) => /index\.html\?tt=\d{15}$/.test(r.url()));
    await page.click('input[value="LOGIN"]');
    assert.equal((await done).status(), 200);
    // The login page sends the browser on to the base URL, on the LAN address
    // (blocked here): let that attempt end, then come back by loopback.
    assert.ok((await onward).url().startsWith(prog.baseUrl + 'index.html?tt='));
    await page.waitForLoadState('load');
    for (let attempt = 1; ; attempt++) {
      try {
        await page.goto(prog.url + 'index.html');
        break;
      } catch (e) {
        if (attempt >= 3) throw e;
        await page.waitForTimeout(200);
      }
    }
    const names = await page.$$eval('a.sh1', (els) => els.map((e) => e.textContent));
    assert.deepEqual(names, [PHOTOS, VIDEOS]);
    const viewport = await page.$eval('meta[name="viewport"]', (m) => m.content);
    assert.equal(viewport, 'width=device-width, initial-scale=1');
    assert.equal(await page.$eval('form[name="mform"]', (f) => getComputedStyle(f).display), 'none');
    await page.screenshot({ path: screenshotPath('pc-index.png'), fullPage: true });
  });

  it('opens a folder and a sub-folder, sorts, and goes back up by the path line', async () => {
    await openShare(page, PHOTOS);
    assert.deepEqual(await listedNames(page), [SUB, 'a-large.bin', 'b-small.bin', 'Été 2024.jpg', '表.txt']);
    const form = await page.$eval('form[name="mform"]', (f) => [getComputedStyle(f).display, f.dirname.value, f.ifile.multiple]);
    assert.deepEqual(form, ['block', sjis(PHOTOS).toString('hex'), true]);
    const sizes = await page.$$eval('#m1 tbody td.vm-s', (els) => els.map((e) => e.textContent));
    assert.deepEqual(sizes, ['', '4.9 KB', '10 B', '195 KB', `${Buffer.byteLength('表の中身\r\n')} B`]);
    assert.match(await page.textContent('#m1 tbody tr:nth-child(2) td.vm-d'), /^\d{4}\/\d\d\/\d\d \d\d:\d\d$/);

    // Size and date sort largest and newest first, a second click turns the order round.
    await page.click('#m1 th.vm-s button');
    assert.deepEqual(await listedNames(page), [SUB, 'Été 2024.jpg', 'a-large.bin', '表.txt', 'b-small.bin']);
    await page.click('#m1 th.vm-s button');
    assert.deepEqual(await listedNames(page), [SUB, 'b-small.bin', '表.txt', 'a-large.bin', 'Été 2024.jpg']);
    await page.click('#m1 th.vm-n button');
    await page.screenshot({ path: screenshotPath('pc-folder.png'), fullPage: true });

    await page.click(`#m1 button.vm-dir:text-is("${SUB}")`);
    await page.waitForSelector(`#m1 .vm-here:text-is("${SUB}")`);
    assert.deepEqual(await listedNames(page), ['..', '2024', 'メモ.txt']);
    await page.click('#m1 button.vm-dir:text-is("2024")');
    await page.waitForSelector('#m1 .vm-here:text-is("2024")');
    assert.deepEqual(await page.$$eval('#m1 .vm-path .vm-crumb', (els) => els.map((e) => e.textContent)), [PHOTOS, SUB, '2024']);
    assert.equal(await page.$eval('form[name="mform"]', (f) => f.dirname.value), sjis(PHOTOS).toString('hex'));
    await page.screenshot({ path: screenshotPath('pc-subfolder.png'), fullPage: true });

    await page.click(`#m1 .vm-path button.vm-crumb:text-is("${SUB}")`);
    await page.waitForSelector(`#m1 .vm-here:text-is("${SUB}")`);
    await page.click(`#m1 .vm-path button.vm-crumb:text-is("${PHOTOS}")`);
    await page.waitForSelector(`#m1 .vm-here:text-is("${PHOTOS}")`);
    assert.deepEqual(await listedNames(page), [SUB, 'a-large.bin', 'b-small.bin', 'Été 2024.jpg', '表.txt']);

    await openShare(page, VIDEOS);
    assert.deepEqual(await listedNames(page), ['café.bin', 'Clip.mp4']);
    assert.equal(await page.$eval('form[name="mform"]', (f) => f.dirname.value), Buffer.from(VIDEOS).toString('hex'));
  });

  it('downloads files under their own names, byte for byte', async () => {
    const cases = [[PHOTOS, '表.txt'], [PHOTOS, 'Été 2024.jpg'], [VIDEOS, 'café.bin']];
    for (const [share, name] of cases) {
      await openShare(page, share);
      const [dl] = await Promise.all([page.waitForEvent('download'), page.click(`#m1 a.vm-file:text-is("${name}")`)]);
      assert.equal(dl.suggestedFilename(), name);
      const saved = path.join(prog.root, 'dl-' + crypto.randomUUID());
      await dl.saveAs(saved);
      assert.ok(fs.readFileSync(saved).equals(FILES[share][name]), `content of ${name}`);

      // Without the link's own name, the server's header alone must name the file.
      const href = await page.$eval(`#m1 a.vm-file:text-is("${name}")`, (a) => a.href);
      const [plain] = await Promise.all([
        page.waitForEvent('download'),
        page.evaluate((u) => { const a = document.createElement('a'); a.href = u; document.body.appendChild(a); a.click(); a.remove(); }, href),
      ]);
      assert.equal(plain.suggestedFilename(), name);
    }
  });

  it('uploads several files in one body with a progress bar, and by drag and drop', async () => {
    await openShare(page, PHOTOS);
    const dir = prog.dirs[PHOTOS];
    const big = bytes(6 * 1024 * 1024);
    const small = Buffer.from('小さなテキスト\r\nline 2\r\n', 'utf8');
    await page.evaluate(() => {
      const seen = { shown: false, max: 0 };
      window.__progress = seen;
      const box = document.getElementById('vm-progress');
      new MutationObserver(() => {
        if (!box.hidden) seen.shown = true;
        seen.max = Math.max(seen.max, box.querySelector('progress').value);
      }).observe(box, { attributes: true, subtree: true, childList: true, characterData: true });
    });
    await page.setInputFiles('input[name="ifile"]', [
      { name: 'Photo.JPG', mimeType: 'image/jpeg', buffer: big },
      { name: 'ノート.txt', mimeType: 'text/plain', buffer: small },
    ]);
    await page.click('form[name="mform"] input[type="submit"]');
    await page.waitForSelector('#vm-upload-msg.vm-ok', { timeout: WAIT_MS });
    assert.deepEqual(await page.evaluate(() => window.__progress), { shown: true, max: 100 });
    assert.match(await page.textContent('#vm-upload-msg'), /^2 /);
    await page.screenshot({ path: screenshotPath('pc-uploaded.png'), fullPage: true });

    const saved = uploadsIn(dir);
    assert.equal(saved.length, 2);
    for (const n of saved) assert.match(n, UPLOAD_NAME);
    const jpg = saved.find((n) => n.endsWith('.jpg'));
    const txt = saved.find((n) => n.endsWith('.txt'));
    assert.ok(jpg && fs.readFileSync(path.join(dir, jpg)).equals(big), 'the photo lands byte for byte');
    assert.ok(txt && fs.readFileSync(path.join(dir, txt)).equals(small), 'the text lands byte for byte');
    const listed = await listedNames(page);
    assert.ok(listed.includes(jpg) && listed.includes(txt), 'the listing is refreshed');

    const dropped = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0, 1, 2]);
    await page.evaluate((data) => {
      const dt = new DataTransfer();
      dt.items.add(new File([new Uint8Array(data)], 'dropped.PNG', { type: 'image/png' }));
      const area = document.getElementById('m1');
      for (const type of ['dragenter', 'dragover', 'drop']) {
        area.dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
      }
    }, [...dropped]);
    await page.waitForFunction(() => /^1 /.test(document.getElementById('vm-upload-msg').textContent), null, { timeout: WAIT_MS });
    const png = uploadsIn(dir).filter((n) => n.endsWith('.png'));
    assert.equal(png.length, 1);
    assert.ok(fs.readFileSync(path.join(dir, png[0])).equals(dropped));
  });

  it('creates a text file with a Japanese name and text through the text window', async () => {
    await openShare(page, PHOTOS);
    const fname = '日記.txt';
    const text = '今日は晴れ。\nこんにちは、世界';
    const [popup] = await Promise.all([ctx.waitForEvent('page'), page.click('input[value="テキスト作成"]')]);
    await popup.waitForLoadState();
    await popup.waitForSelector('textarea[name="tbody"]');
    assert.equal(await popup.$eval('input[name="dirname"]', (i) => i.value), sjis(PHOTOS).toString('hex'));
    await popup.fill('input[name="fname"]', fname);
    await popup.fill('textarea[name="tbody"]', text);
    await popup.screenshot({ path: screenshotPath('pc-text-window.png'), fullPage: true });
    let asked = '';
    popup.on('dialog', (d) => { asked = d.message(); d.accept(); });
    const reloaded = page.waitForEvent('load', { timeout: WAIT_MS });
    const closed = popup.waitForEvent('close', { timeout: WAIT_MS });
    await popup.click('input[value="保存"]');
    await closed;
    await reloaded;
    assert.equal(asked, '登録しますか?');

    const file = path.join(prog.dirs[PHOTOS], fname);
    const deadline = Date.now() + WAIT_MS;
    while (!fs.existsSync(file) && Date.now() < deadline) await new Promise((r) => setTimeout(r, 100));
    assert.ok(fs.existsSync(file), 'the text reaches the disk');
    assert.ok(fs.readFileSync(file).equals(sjis(text.replace(/\n/g, '\r\n'))), 'the text is stored as sent');

    // The reloaded index page shows the folder again; the new file is listed.
    await page.waitForSelector(`#m1 .vm-here:text-is("${PHOTOS}")`, { timeout: WAIT_MS });
    for (let i = 0; i < 20 && !(await listedNames(page)).includes(fname); i++) {
      await page.click('#m1 .vm-refresh');
      await page.waitForTimeout(200);
    }
    assert.ok((await listedNames(page)).includes(fname));
  });

  it('fits a phone screen', async () => {
    const phone = await loopbackContext(browser, { viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
    try {
      const p = await phone.newPage();
      await p.goto(prog.url + 'index.html');
      await p.screenshot({ path: screenshotPath('phone-index.png'), fullPage: true });
      await openShare(p, PHOTOS);
      await p.click(`#m1 button.vm-dir:text-is("${SUB}")`);
      await p.waitForSelector(`#m1 .vm-here:text-is("${SUB}")`);
      await p.click(`#m1 .vm-path button.vm-crumb:text-is("${PHOTOS}")`);
      await p.waitForSelector(`#m1 .vm-here:text-is("${PHOTOS}")`);
      await p.screenshot({ path: screenshotPath('phone-folder.png'), fullPage: true });
      const fit = await p.evaluate(() => {
        const wide = [...document.querySelectorAll('body *')].filter((e) => e.getBoundingClientRect().right > window.innerWidth + 0.5)
          .map((e) => e.tagName + '.' + e.className);
        return { innerWidth: window.innerWidth, scrollWidth: document.documentElement.scrollWidth, wide };
      });
      assert.deepEqual(fit, { innerWidth: 360, scrollWidth: 360, wide: [] });
      const small = await p.$$eval('#m1 .vm-item, #m1 .vm-sort, a.sh1, form[name="mform"] input[type="submit"]',
        (els) => els.filter((e) => e.getBoundingClientRect().height < 40).map((e) => e.textContent));
      assert.deepEqual(small, [], 'touch targets are at least 40 px high');
    } finally {
      await phone.close();
    }
  });

  it('raised no script error and reached nothing but loopback', () => {
    assert.deepEqual(errors, []);
    assert.ok(ctx.blocked.every((u) => u.startsWith(prog.baseUrl.replace(/\/velmarind\/$/, ''))), ctx.blocked.join(' '));
  });
});
