// The pages in a real browser against the real program: log in, browse with the
// browser's history, download, upload, create a text, and the same on a phone-sized screen.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import {
  startProgram, stopProgram, launchBrowser, loopbackContext, screenshotPath, sjis, heldBytes, hex, slowRelay,
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
  [VIDEOS]: { 'café.bin': bytes(3000), 'Clip.mp4': bytes(70000), 'old/x.txt': Buffer.from('x') },
};
const UPLOAD_NAME = /^__vupd_img_\d{15}(\.[a-z0-9]+)?$/;
const WAIT_MS = 15000;
// Upload speed while a cancel is tested: an upload of 8 s, so the cancel comes long before its end.
const SLOW_UPLOAD_BYTES_PER_S = 128 * 1024;

/** Names in the listing, in the order shown. */
async function listedNames(page) {
  return page.$$eval('#m1 tbody .vm-item', (els) => els.map((e) => e.textContent));
}

async function shown(page, name) {
  await page.waitForSelector(`#m1 .vm-path .vm-here:text-is("${name}")`, { timeout: WAIT_MS });
}

async function openShare(page, name) {
  await page.click(`a.sh1:text-is("${name}")`);
  await shown(page, name);
}

async function openFolder(page, name) {
  await page.click(`#m1 button.vm-dir:text-is("${name}")`);
  await shown(page, name);
}

function uploadsIn(dir) {
  return fs.readdirSync(dir).filter((n) => n.startsWith('__vupd_img_'));
}

/** Whether the page would ask before being left (what a real unload would do). */
async function asksBeforeLeaving(page) {
  return page.evaluate(() => {
    const e = new Event('beforeunload', { cancelable: true });
    window.dispatchEvent(e);
    return e.defaultPrevented;
  });
}

describe('pages in a browser', () => {
  let prog;
  let browser;
  let ctx;
  let page;
  const errors = [];
  const requested = [];

  before(async () => {
    prog = await startProgram({
      password: PASSWORD,
      shares: [{ name: PHOTOS, files: FILES[PHOTOS] }, { name: VIDEOS, files: FILES[VIDEOS] }],
    });
    browser = await launchBrowser();
    ctx = await loopbackContext(browser, { viewport: { width: 1100, height: 800 } });
    ctx.on('request', (r) => requested.push(r.url()));
    page = await ctx.newPage();
    page.setDefaultTimeout(WAIT_MS);
    page.on('pageerror', (e) => errors.push(e.message));
  });

  after(async () => {
    if (browser) await browser.close();
    await stopProgram(prog);
  });

  it('logs in by Enter, and no address ever holds the password', async () => {
    await page.goto(prog.url);
    await page.fill('input[name="passwd"]', 'wrong');
    await Promise.all([page.waitForURL(/login\.html/), page.click('input[value="LOGIN"]')]);
    assert.match(await page.textContent('body'), /パスワードが正しくありません/);

    await page.fill('input[name="passwd"]', PASSWORD);
    await Promise.all([page.waitForURL(/\/index\.html\?tt=\d{15}$/), page.press('input[name="passwd"]', 'Enter')]);
    assert.ok(page.url().startsWith(prog.url), `back on the address the user came by: ${page.url()}`);
    const names = await page.$$eval('a.sh1', (els) => els.map((e) => e.textContent));
    assert.deepEqual(names, [PHOTOS, VIDEOS]);

    const cdp = await ctx.newCDPSession(page);
    const { entries } = await cdp.send('Page.getNavigationHistory');
    await cdp.detach();
    const secrets = [PASSWORD, hex(Buffer.from(PASSWORD))];
    const leaks = [...requested, ...entries.map((e) => e.url)]
      .filter((u) => secrets.some((s) => u.toLowerCase().includes(s.toLowerCase())));
    assert.deepEqual(leaks, []);

    const page0 = await page.evaluate(() => ({
      lang: document.documentElement.lang,
      viewport: document.querySelector('meta[name="viewport"]').content,
      form: getComputedStyle(document.forms.mform).display,
    }));
    assert.deepEqual(page0, { lang: 'ja', viewport: 'width=device-width, initial-scale=1', form: 'none' });
    await page.screenshot({ path: screenshotPath('pc-index.png'), fullPage: true });
  });

  it('moves between folders with Back, Forward, reload and a bookmark, and sorts', async () => {
    await openShare(page, PHOTOS);
    assert.deepEqual(await listedNames(page), [SUB, 'a-large.bin', 'b-small.bin', 'Été 2024.jpg', '表.txt']);
    const form = await page.$eval('form[name="mform"]', (f) => [getComputedStyle(f).display, f.dirname.value, f.ifile.multiple,
      f.querySelector('b').textContent]);
    assert.deepEqual(form, ['block', sjis(PHOTOS).toString('hex'), true, 'アップロード先:']);
    const sizes = await page.$$eval('#m1 tbody td.vm-s', (els) => els.map((e) => e.textContent));
    assert.deepEqual(sizes, ['', '4.9 KB', '10 B', '195 KB', `${Buffer.byteLength('表の中身\r\n')} B`]);
    assert.match(await page.textContent('#m1 tbody tr:nth-child(2) td.vm-d'), /^\d{4}\/\d\d\/\d\d\s\d\d:\d\d$/);

    // Size and date sort largest and newest first, a second click turns the order round.
    await page.click('#m1 th.vm-s button');
    assert.deepEqual(await listedNames(page), [SUB, 'Été 2024.jpg', 'a-large.bin', '表.txt', 'b-small.bin']);
    await page.click('#m1 th.vm-s button');
    assert.deepEqual(await listedNames(page), [SUB, 'b-small.bin', '表.txt', 'a-large.bin', 'Été 2024.jpg']);
    await page.click('#m1 th.vm-n button');
    await page.screenshot({ path: screenshotPath('pc-folder.png'), fullPage: true });

    await openFolder(page, SUB);
    assert.deepEqual(await listedNames(page), ['..', '2024', 'メモ.txt']);
    assert.equal(await page.textContent('#vm-dest'), `${PHOTOS} / ${SUB}`);
    await openFolder(page, '2024');
    assert.deepEqual(await page.$$eval('#m1 .vm-path .vm-crumb', (els) => els.map((e) => e.textContent)), [PHOTOS, SUB, '2024']);
    await page.screenshot({ path: screenshotPath('pc-subfolder.png'), fullPage: true });

    // Each step of the walk is one entry of the browser's history.
    for (const [step, where] of [['back', SUB], ['back', PHOTOS], ['forward', SUB]]) {
      await (step === 'back' ? page.goBack() : page.goForward());
      await shown(page, where);
    }
    const address = page.url();
    assert.match(address, /\/index\.html[^#]*#[0-9a-f]+\/[0-9a-f]+2f$/);
    await page.reload();
    await shown(page, SUB);
    assert.deepEqual(await listedNames(page), ['..', '2024', 'メモ.txt']);
    const bookmark = await ctx.newPage();
    await bookmark.goto(address.replace(/\?tt=\d+/, ''));
    await shown(bookmark, SUB);
    await bookmark.close();

    // Opened with the keyboard, a folder takes the focus: on its first entry, or going up,
    // on the folder the user came from.
    for (const [item, where, focused] of [['2024', '2024', 'deep.txt'], ['..', SUB, '2024']]) {
      await page.focus(`#m1 button.vm-dir:text-is("${item}")`);
      await page.keyboard.press('Enter');
      await shown(page, where);
      assert.equal(await page.evaluate(() => document.activeElement.textContent), focused, `after ${item}`);
    }

    await page.click(`#m1 .vm-path button.vm-crumb:text-is("${PHOTOS}")`);
    await shown(page, PHOTOS);
    await openShare(page, VIDEOS);
    assert.deepEqual(await listedNames(page), ['old', 'café.bin', 'Clip.mp4']);
    assert.equal(await page.$eval('form[name="mform"]', (f) => f.dirname.value), Buffer.from(VIDEOS).toString('hex'));
  });

  it('downloads files under their own names, byte for byte', async () => {
    const cases = [[PHOTOS, '表.txt'], [PHOTOS, 'Été 2024.jpg'], [VIDEOS, 'café.bin']];
    for (const [share, name] of cases) {
      await openShare(page, share);
      // A file the browser can show opens in the viewer; its row keeps a download action.
      const saveLink = `#m1 tr:has(a.vm-file:text-is("${name}")) a.vm-row-save`;
      const link = (await page.$(saveLink)) ? saveLink : `#m1 a.vm-file:text-is("${name}")`;
      const [dl] = await Promise.all([page.waitForEvent('download'), page.click(link)]);
      assert.equal(dl.suggestedFilename(), name);
      const saved = path.join(prog.root, 'dl-' + crypto.randomUUID());
      await dl.saveAs(saved);
      assert.ok(fs.readFileSync(saved).equals(FILES[share][name]), `content of ${name}`);

      // Without the link's own name, the server's header alone must name the file.
      const href = await page.$eval(link, (a) => a.href);
      const [plain] = await Promise.all([
        page.waitForEvent('download'),
        page.evaluate((u) => { const a = document.createElement('a'); a.href = u; document.body.appendChild(a); a.click(); a.remove(); }, href),
      ]);
      assert.equal(plain.suggestedFilename(), name);
    }
  });

  it('says so when a file or a folder shown has gone away', async () => {
    await openShare(page, PHOTOS);
    fs.rmSync(path.join(prog.dirs[PHOTOS], 'b-small.bin'));
    let downloads = 0;
    const count = () => { downloads++; };
    page.on('download', count);
    await page.click('#m1 a.vm-file:text-is("b-small.bin")');
    await page.waitForSelector('#m1 .vm-notice.vm-error', { timeout: WAIT_MS });
    page.off('download', count);
    assert.match(await page.textContent('#m1 .vm-notice'), /^「b-small\.bin」をダウンロードできません。/);
    assert.equal(downloads, 0);
    assert.ok(!(await listedNames(page)).includes('b-small.bin'), 'the listing is refreshed');

    await openShare(page, VIDEOS);
    await openFolder(page, 'old');
    fs.renameSync(path.join(prog.dirs[VIDEOS], 'old'), path.join(prog.dirs[VIDEOS], 'new'));
    await page.click('#m1 .vm-refresh');
    await page.waitForSelector('#m1 .vm-missing', { timeout: WAIT_MS });
    assert.match(await page.textContent('#m1 .vm-missing'), /^このフォルダは見つかりません。/);
    await page.click('#m1 .vm-missing button');
    await shown(page, VIDEOS);
    assert.deepEqual(await listedNames(page), ['new', 'café.bin', 'Clip.mp4']);
  });

  it('uploads several files one after the other under one progress bar, and by drag and drop into a sub-folder', async () => {
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

    // Dropped on a sub-folder's listing, a file goes into that folder.
    await openFolder(page, SUB);
    const dropped = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0, 1, 2]);
    await page.evaluate((data) => {
      const dt = new DataTransfer();
      dt.items.add(new File([new Uint8Array(data)], 'dropped.PNG', { type: 'image/png' }));
      const area = document.getElementById('m1');
      for (const type of ['dragenter', 'dragover', 'drop']) {
        area.dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
      }
    }, [...dropped]);
    await page.waitForSelector('#vm-upload-msg.vm-ok', { timeout: WAIT_MS });
    assert.equal((await page.textContent('#vm-upload-msg')).split('\n')[0], `1 個のファイルをアップロードしました: ${PHOTOS} / ${SUB}`);
    const png = uploadsIn(path.join(dir, SUB));
    assert.equal(png.length, 1);
    assert.ok(fs.readFileSync(path.join(dir, SUB, png[0])).equals(dropped));
    assert.equal(uploadsIn(dir).length, 2, 'nothing more in the top folder');
    await page.waitForSelector(`#m1 tr.vm-new .vm-item:text-is("${png[0]}")`, { timeout: WAIT_MS });
  });

  it('cancels an upload, and asks before the page is left while one runs', async () => {
    const dir = prog.dirs[VIDEOS];
    const relay = await slowRelay(prog.url, SLOW_UPLOAD_BYTES_PER_S);
    const slow = await ctx.newPage();
    try {
      await slow.goto(relay.url);
      await openShare(slow, VIDEOS);
      // Far more than the relay passes before the cancel: the program never has it all.
      await slow.setInputFiles('input[name="ifile"]', { name: 'slow.bin', mimeType: 'application/octet-stream', buffer: bytes(64 * SLOW_UPLOAD_BYTES_PER_S) });
      await slow.click('form[name="mform"] input[type="submit"]');
      await slow.waitForFunction(() => document.querySelector('#vm-progress progress').value > 0, null, { timeout: WAIT_MS });
      assert.equal(await asksBeforeLeaving(slow), true);
      await slow.click('#vm-progress .vm-cancel');
      await slow.waitForSelector('#vm-upload-msg.vm-error', { timeout: WAIT_MS });
      assert.equal(await slow.textContent('#vm-upload-msg'), 'アップロードを中止しました。');
      assert.equal(await slow.isHidden('#vm-progress'), true);
      assert.equal(await asksBeforeLeaving(slow), false);
      // Once the program's side of every relayed connection has gone, nothing may be there.
      const deadline = Date.now() + WAIT_MS;
      while (relay.open > 0 && Date.now() < deadline) await new Promise((r) => setTimeout(r, 20));
      assert.deepEqual(uploadsIn(dir), []);
    } finally {
      await slow.close();
      await relay.close();
    }
  });

  it('goes on with a large upload after a reload, sending only what had not arrived', async () => {
    const dir = prog.dirs[VIDEOS];
    const MIB = 1024 * 1024;
    const content = bytes(64 * MIB);
    const file = path.join(prog.root, 'movie.mp4');
    fs.writeFileSync(file, content);
    // Slow enough that the reload comes in the middle, whatever the machine's load.
    const relay = await slowRelay(prog.url, 16 * MIB);
    const up = await ctx.newPage();
    const puts = [];
    up.on('request', (r) => {
      const m = /vm-chunk\?op=put&.*&offset=(\d+)/.exec(r.url());
      if (m) puts.push(Number(m[1]));
    });
    up.on('dialog', (d) => d.accept());
    // Partial files wait in the program's hidden folder at the share's top.
    const partials = path.join(dir, '.velmarind-partials');
    const partialSize = () => {
      const p = fs.existsSync(partials) && fs.readdirSync(partials).find((n) => n.startsWith('.velmarind-part-'));
      return p ? fs.statSync(path.join(partials, p)).size : 0;
    };
    try {
      await up.goto(relay.url);
      await openShare(up, VIDEOS);
      await up.setInputFiles('input[name="ifile"]', file);
      await up.click('form[name="mform"] input[type="submit"]');
      const deadline = Date.now() + WAIT_MS;
      while (partialSize() < 8 * MIB && Date.now() < deadline) await new Promise((r) => setTimeout(r, 20));
      assert.ok(partialSize() >= 8 * MIB, 'a piece arrived before the reload');
      assert.ok(partialSize() < 64 * MIB, 'and not all of them');
      relay.rate = 0;
      await up.reload();
      await up.waitForSelector('.vm-resume .vm-resume-go', { timeout: WAIT_MS });
      assert.match(await up.textContent('.vm-resume'), /中断したアップロードがあります: 「movie\.mp4」/);
      await up.screenshot({ path: screenshotPath('pc-resume-offer.png'), fullPage: true });
      const before = puts.length;
      const [chooser] = await Promise.all([up.waitForEvent('filechooser'), up.click('.vm-resume-go')]);
      await chooser.setFiles(file);
      await up.waitForSelector('#vm-upload-msg.vm-ok', { timeout: WAIT_MS });
      assert.ok(puts[before] >= 8 * MIB, `went on from ${puts[before]}, not from the start`);
      const saved = uploadsIn(dir);
      assert.equal(saved.length, 1);
      assert.match(saved[0], /^__vupd_img_\d{15}\.mp4$/);
      assert.ok(fs.readFileSync(path.join(dir, saved[0])).equals(content), 'the file lands byte for byte');
      assert.deepEqual(fs.readdirSync(partials), [], 'no partial file is left');
      assert.deepEqual(fs.readdirSync(dir).filter((n) => n.startsWith('.') && n !== '.velmarind-partials'), []);
      // Each piece went once, but for the one the reload cut.
      const sentTwice = puts.filter((o, i) => puts.indexOf(o) !== i);
      assert.ok(sentTwice.length <= 1, `sent twice: ${sentTwice}`);
      assert.equal(await up.evaluate(() => localStorage.getItem('velmarind.uploads')), '[]');
      assert.equal(await up.isHidden('.vm-resume'), true);
      fs.rmSync(path.join(dir, saved[0]));
    } finally {
      await up.close();
      await relay.close();
    }
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
    await shown(page, PHOTOS);
    const listedBy = Date.now() + WAIT_MS;
    while (!(await listedNames(page)).includes(fname) && Date.now() < listedBy) {
      await page.click('#m1 .vm-refresh');
      await page.waitForTimeout(200);
    }
    assert.ok((await listedNames(page)).includes(fname));
  });

  it('opens the text page in the same tab when pop-ups are blocked; a refused name keeps the text', async () => {
    await openShare(page, PHOTOS);
    await openFolder(page, SUB);
    const accept = (d) => d.accept();
    page.on('dialog', accept);
    try {
      await page.evaluate(() => { window.open = () => null; });
      await Promise.all([page.waitForURL(/\/text\.html\?/), page.click('input[value="テキスト作成"]')]);
      const subHex = hex(heldBytes(path.join(prog.dirs[PHOTOS], SUB) + '/'));
      assert.equal(await page.inputValue('input[name="dirpath"]'), subHex);

      const text = '下書き\nline 2';
      await page.fill('input[name="fname"]', 'a/b.txt');
      await page.fill('textarea[name="tbody"]', text);
      const before = await page.innerText('body');
      await page.click('input[value="保存"]');
      await page.waitForFunction((b) => document.body.innerText !== b, before, { timeout: WAIT_MS });
      assert.match(page.url(), /\/text\.html\?/, 'the page stays');
      assert.equal(await page.inputValue('textarea[name="tbody"]'), text, 'the text stays');

      await page.fill('input[name="fname"]', 'メモ2.txt');
      await page.click('input[value="保存"]');
      await shown(page, SUB);
      const file = path.join(prog.dirs[PHOTOS], SUB, 'メモ2.txt');
      assert.ok(fs.existsSync(file) && fs.readFileSync(file).equals(sjis(text.replace(/\n/g, '\r\n'))), 'saved in the sub-folder');
      assert.ok((await listedNames(page)).includes('メモ2.txt'));
    } finally {
      page.off('dialog', accept);
    }
  });

  it('fits a phone screen, with touch targets of at least 44 px', async () => {
    const phone = await loopbackContext(browser, { viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
    try {
      const p = await phone.newPage();
      await p.goto(prog.url + 'index.html');
      await p.screenshot({ path: screenshotPath('phone-index.png'), fullPage: true });
      await openShare(p, PHOTOS);
      await openFolder(p, SUB);
      await p.screenshot({ path: screenshotPath('phone-subfolder.png'), fullPage: true });
      await p.click(`#m1 .vm-path button.vm-crumb:text-is("${PHOTOS}")`);
      await shown(p, PHOTOS);
      await p.screenshot({ path: screenshotPath('phone-folder.png'), fullPage: true });
      const fit = await p.evaluate(() => {
        const wide = [...document.querySelectorAll('body *')].filter((e) => e.getBoundingClientRect().right > window.innerWidth + 0.5)
          .map((e) => e.tagName + '.' + e.className);
        return { innerWidth: window.innerWidth, scrollWidth: document.documentElement.scrollWidth, wide };
      });
      assert.deepEqual(fit, { innerWidth: 360, scrollWidth: 360, wide: [] });
      const small = await p.$$eval('#m1 .vm-item, #m1 .vm-sort, #m1 .vm-crumb, #m1 .vm-refresh, a.sh1, form[name="mform"] input, #m1 .vm-bar .vm-btn, #m1 input[type="checkbox"]',
        (els) => els.filter((e) => e.getClientRects().length && Math.min(e.getBoundingClientRect().height, e.getBoundingClientRect().width) < 44)
          .map((e) => `${e.tagName}.${e.className} ${e.textContent || e.value}`));
      assert.deepEqual(small, []);
    } finally {
      await phone.close();
    }
  });

  it('raised no script error and reached nothing but loopback', () => {
    assert.deepEqual(errors, []);
    assert.deepEqual(ctx.blocked, []);
  });
});
