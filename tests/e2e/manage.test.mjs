// Managing a share in a real browser: select entries, download them as one zip, rename one,
// make a folder, delete to the trash; and a share for viewing offers none of the changes.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import {
  startProgram, stopProgram, launchBrowser, loopbackContext, screenshotPath, heldBytes, hex,
} from './harness.mjs';

const FULL = '管理';
const VIEW = '閲覧';
const WAIT_MS = 15000;
const PHOTO = crypto.randomBytes(150000);

async function openShare(page, name) {
  await page.click(`a.sh1:text-is("${name}")`);
  await page.waitForSelector(`#m1 .vm-path .vm-here:text-is("${name}")`);
}

async function check(page, name) {
  await page.check(`#m1 tr:has(.vm-item:text-is("${name}")) .vm-check`);
}

async function listedNames(page) {
  return page.$$eval('#m1 tbody .vm-item', (els) => els.map((e) => e.textContent));
}

/** Waits for the notice above the listing to say what matches. */
async function noticeSays(page, pattern) {
  await page.waitForFunction((source) => new RegExp(source).test(
    (document.querySelector('#m1 .vm-notice') || {}).textContent || ''), pattern.source);
}

describe('managing a share in a browser', () => {
  let prog;
  let browser;
  let page;
  const errors = [];

  before(async () => {
    prog = await startProgram({
      shares: [
        { name: FULL, files: { '写真.jpg': PHOTO, 'a.txt': Buffer.from('a'), 'sub/b.txt': Buffer.from('b') } },
        { name: VIEW, files: { 'v.txt': Buffer.from('v') } },
      ],
      settings: [`SHARE_MODES=${hex(heldBytes(FULL))}:full,${hex(heldBytes(VIEW))}:view`],
    });
    browser = await launchBrowser();
    const ctx = await loopbackContext(browser, { viewport: { width: 1000, height: 760 } });
    page = await ctx.newPage();
    page.setDefaultTimeout(WAIT_MS);
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(prog.url);
  });

  after(async () => {
    if (browser) await browser.close();
    await stopProgram(prog);
  });

  it('downloads the selection as one zip with its names', async () => {
    await openShare(page, FULL);
    await check(page, '写真.jpg');
    await check(page, 'sub');
    assert.equal(await page.textContent('#m1 .vm-zip'), 'ZIPでダウンロード');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#m1 .vm-zip')]);
    const saved = path.join(prog.root, 'selection.zip');
    await download.saveAs(saved);
    const listing = execFileSync('python3', ['-c', `
import hashlib, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print('|'.join(z.namelist()))
print(hashlib.sha256(z.read('写真.jpg')).hexdigest() == sys.argv[2])`, saved,
    crypto.createHash('sha256').update(PHOTO).digest('hex')]).toString();
    // In the order of the listing: folders first.
    assert.equal(listing, 'sub/|sub/b.txt|写真.jpg\nTrue\n');
    await page.screenshot({ path: screenshotPath('manage-selection.png') });
  });

  it('renames one entry and makes a folder, each asked for in the page', async () => {
    await page.uncheck(`#m1 tr:has(.vm-item:text-is("写真.jpg")) .vm-check`);
    await page.uncheck(`#m1 tr:has(.vm-item:text-is("sub")) .vm-check`);
    await check(page, 'a.txt');
    page.once('dialog', (d) => d.accept('あ.txt'));
    await page.click('#m1 .vm-rename');
    await noticeSays(page, /a\.txt → あ\.txt/);
    assert.deepEqual(fs.readdirSync(prog.dirs[FULL]).sort(), ['sub', '写真.jpg', 'あ.txt'].sort());

    page.once('dialog', (d) => d.accept('新しいフォルダ'));
    await page.click('#m1 .vm-new-folder');
    await page.waitForSelector('#m1 button.vm-dir:text-is("新しいフォルダ")');
    assert.ok(fs.statSync(path.join(prog.dirs[FULL], '新しいフォルダ')).isDirectory());
  });

  it('deletes to the trash after confirming, and a refusal of the confirm changes nothing', async () => {
    await check(page, '写真.jpg');
    page.once('dialog', (d) => d.dismiss());
    await page.click('#m1 .vm-trash');
    assert.ok(fs.existsSync(path.join(prog.dirs[FULL], '写真.jpg')));

    page.once('dialog', (d) => { assert.match(d.message(), /ごみ箱/); d.accept(); });
    await page.click('#m1 .vm-trash');
    await noticeSays(page, /1 個の項目をごみ箱に移しました/);
    assert.deepEqual(await listedNames(page), ['sub', '新しいフォルダ', 'あ.txt']);
    const trash = path.join(prog.root, 'user-data', 'Trash');
    assert.deepEqual(fs.readFileSync(path.join(trash, 'files', '写真.jpg')), PHOTO);
    assert.match(fs.readFileSync(path.join(trash, 'info', '写真.jpg.trashinfo'), 'utf8'), /^\[Trash Info\]\nPath=\//);
  });

  it('offers no changes in a share for viewing, only the zip', async () => {
    await openShare(page, VIEW);
    const offered = await page.$$eval('#m1 .vm-manage .vm-btn', (els) => els.map((e) => e.className));
    assert.deepEqual(offered, ['vm-btn vm-zip']);
    assert.equal(await page.evaluate(() => getComputedStyle(document.forms.mform).display), 'none');
    await page.setViewportSize({ width: 390, height: 780 });
    await page.screenshot({ path: screenshotPath('manage-phone-view.png') });
    assert.deepEqual(errors, []);
  });
});
