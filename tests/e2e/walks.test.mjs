// Walks through the pages: a PC in English (login, text window, uploads), and a phone in Japanese (390×844, touch, a
// phone's browser: a drop box after an upload, a large folder on the first screen, a gallery, view only, a cut upload).
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { startProgram, stopProgram, launchBrowser, loopbackContext, heldBytes, hex, slowRelay } from './harness.mjs';

const [DROP, MANY, VIEW, PHOTOS] = ['ドロップ', '大量', '閲覧', '写真'];
const LONG = 'a_very_long_name_that_does_not_fit_on_one_line_of_a_phone.txt';
const many = Object.fromEntries([LONG, ...Array.from({ length: 60 }, (_, i) => `file_${String(i).padStart(5, '0')}_data.txt`)].map((n) => [n, 'x']));
const photos = Object.fromEntries(['notes/a.txt', ...Array.from({ length: 30 }, (_, i) => `p${i}.jpg`)].map((n) => [n, 'x']));
const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true,
  userAgent: 'Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 Mobile/15E148 Safari/604.1' };

const openShare = (page, name) => page.click(`a.sh1:text-is("${name}")`).then(() => page.waitForSelector(`#m1 .vm-here:text-is("${name}")`));
const onFirstScreen = (page, selector) => page.$$eval(selector, (els) => els.map((e) => e.getBoundingClientRect()).filter((r) => r.bottom <= innerHeight).map((r) => r.top));

describe('walks through the pages', () => {
  let prog, browser, pc, page, phone;

  before(async () => {
    prog = await startProgram({ password: 'secret',
      shares: [[DROP, { 'old.txt': 'old' }], [MANY, many], [VIEW, { 'v.txt': 'v' }], [PHOTOS, photos]].map(([name, files]) => ({ name, files })),
      settings: [`SHARE_MODES=${hex(heldBytes(DROP))}:dropbox,${hex(heldBytes(MANY))}:full,${hex(heldBytes(VIEW))}:view`] });
    browser = await launchBrowser();
    pc = await loopbackContext(browser, { locale: 'en-US', viewport: { width: 1280, height: 800 } });
    [page, phone] = [await pc.newPage(), await (await loopbackContext(browser, PHONE)).newPage()];
    for (const p of [page, phone]) p.setDefaultTimeout(15000);
  });

  after(async () => { await browser?.close(); await stopProgram(prog); });

  it('logs in on an English PC with the wait told, stays in on Back, writes a text and uploads in English, and tells a stall', async () => {
    // Five wrong passwords are free; the sixth waits a second, and the page then tells the next wait.
    for (let i = 0; i < 5; i++) await page.request.post(prog.url + 'login.html', { form: { pw: '00' } });
    await page.goto(prog.url);
    assert.deepEqual(await page.evaluate(() => [document.activeElement.name, getComputedStyle(document.forms.mform).display]), ['passwd', 'flex']);
    await page.fill('input[name="passwd"]', 'wrong');
    await Promise.all([page.waitForURL(/login\.html/), page.click('input[value="LOGIN"]')]);
    assert.equal(await page.textContent('font b'), 'The password is not correct');
    await page.fill('input[name="passwd"]', 'secret');
    const told = await page.evaluate(() => document.querySelector('input[value="LOGIN"]').click() || document.querySelector('.vm-login-wait').textContent);
    assert.equal(told, 'Checking: please wait about 2 more seconds…');
    await page.waitForURL(/index\.html\?tt=/);
    await page.goBack();
    assert.equal(await page.waitForSelector('a.sh1').then(() => page.locator('input[name="passwd"]').count()), 0);

    await openShare(page, PHOTOS);
    await page.click('#m1 button.vm-dir').then(() => page.waitForSelector('#m1 .vm-here:text-is("notes")'));
    const [text] = await Promise.all([pc.waitForEvent('page'), page.click('input[value="Create text"]')]);
    await text.waitForFunction(() => document.documentElement.lang === 'en');
    assert.deepEqual([await text.textContent('p b'), await text.$$eval('input[type="button"]', (els) => els.map((e) => e.value))],
      [`${PHOTOS} / notes`, ['Save', 'Clear', 'Cancel']]);
    await text.fill('textarea', 'draft');
    text.once('dialog', (d) => d.dismiss());
    const [asked] = await Promise.all([text.waitForEvent('dialog'), text.click('input[value="Clear"]')]);
    assert.deepEqual([asked.message(), await text.inputValue('textarea')], ['What you typed will be lost. Continue?', 'draft']);
    text.once('dialog', (d) => d.accept());
    await Promise.all([text.waitForEvent('close'), text.click('input[value="Cancel"]')]);
    await page.setInputFiles('input[name="ifile"]', { name: 'one.txt', mimeType: 'text/plain', buffer: Buffer.from('1') });
    await page.click('input[value="Send"]');
    assert.match(await page.waitForSelector('#vm-upload-msg.vm-ok').then((m) => m.textContent()), new RegExp(`^1 file uploaded to ${PHOTOS} / notes\n`));

    // Through a relay that stops passing the bytes, and then goes on.
    const relay = await slowRelay(prog.url, 0);
    const stalled = await pc.newPage();
    await stalled.goto(relay.url + 'index.html').then(() => openShare(stalled, PHOTOS));
    relay.hold();
    await stalled.setInputFiles('input[name="ifile"]', { name: 'big.bin', mimeType: 'text/plain', buffer: Buffer.alloc(12 << 20, 1) });
    await stalled.click('input[value="Send"]');
    await stalled.waitForFunction(() => /^Reconnecting… \d+%$/.test(document.querySelector('.vm-progress-label').textContent));
    assert.equal(await stalled.textContent('.vm-progress-detail'), '0.0 MB/s · nothing is getting through');
    relay.release();
    await stalled.waitForSelector('#vm-upload-msg.vm-ok', { timeout: 60000 });
    await relay.close();
  });

  // Right after an upload, a drop box said that it was empty, under an empty table and a count.
  it('says after an upload into a drop box that uploads arrive unseen, and names what was saved', async () => {
    await phone.goto(prog.url);
    await openShare(phone, DROP);
    // Picked by the bar's upload button, files go at once: the form's send button is folded away.
    await phone.setInputFiles('input[name="ifile"]', ['メモ.txt', 'Photo.PNG'].map((name) => ({ name, mimeType: 'text/plain', buffer: Buffer.from(name) })));
    const [done, names, note] = (await phone.textContent('#vm-upload-msg.vm-ok')).split('\n');
    await phone.waitForSelector('#m1 .vm-mode-note:text-is("このフォルダはアップロード専用です。アップロードしたファイルは届きますが、ここには表示されません。")');
    assert.equal(await phone.$$eval('#m1 table, #m1 .vm-count, #m1 .vm-empty', (els) => els.length), 0);
    const saved = fs.readdirSync(prog.dirs[DROP]).filter((n) => n.startsWith('__vupd_img_')).sort();
    assert.deepEqual([done, names.replace('保存した名前: ', '').split(', ').sort()], [`2 個のファイルをアップロードしました: ${DROP}`, saved]);
    assert.match(note, /PC の「設定」で、元のファイル名のまま保存/);
  });

  it('shows eight rows of a large folder on a phone, whole names on a selected row, and acts on the rows shown', async () => {
    await openShare(phone, MANY);
    assert.ok((await onFirstScreen(phone, '#m1 tbody tr')).length >= 8);
    assert.deepEqual(await phone.$eval('#m1 .vm-filter', (e) => [e.offsetHeight >= 44, getComputedStyle(e).fontSize]), [true, '16px']);
    // A name too long for its line ends in "…" instead of breaking inside a word; a selected row shows it whole.
    const fits = (name) => phone.$eval(`#m1 .vm-item:text-is("${name}")`, (e) => e.scrollWidth <= e.clientWidth);
    assert.deepEqual([await fits('file_00001_data.txt'), await fits(LONG)], [true, false]);
    await phone.check(`#m1 tr:has(.vm-item:text-is("${LONG}")) .vm-check`);
    assert.equal(await fits(LONG), true);

    // All selected, then narrowed to ten: the rest leave the selection.
    await phone.check('#m1 .vm-select-all');
    await phone.fill('#m1 .vm-filter', '_0001');
    assert.deepEqual([await phone.textContent('#m1 .vm-count'), await phone.textContent('#m1 .vm-selected-count')], ['絞り込み: 10 / 61 個', '10 個を選択中']);
    phone.once('dialog', (d) => d.dismiss());
    const [asked] = await Promise.all([phone.waitForEvent('dialog'), phone.click('#m1 .vm-trash')]);
    assert.match(asked.message(), /^10 個の項目をごみ箱に移します/);
    await phone.fill('#m1 .vm-filter', '');
    assert.equal(await phone.$$eval('#m1 .vm-check:checked', (els) => els.length), 10);

    // A rename to the same name changes nothing and leaves the row unselected.
    await phone.check('#m1 .vm-select-all');
    await phone.uncheck('#m1 .vm-select-all');
    const row = '#m1 tr:has(.vm-item:text-is("file_00002_data.txt"))';
    await phone.check(`${row} .vm-check`);
    phone.once('dialog', (d) => d.accept(d.defaultValue()));
    await phone.click('#m1 .vm-rename');
    await phone.waitForSelector(`${row}:not(.vm-selected) .vm-check:not(:checked)`);
  });

  it('shows three rows of a gallery on a phone, takes no drop in a folder for viewing, and keeps offering an unfinished upload after a wrong file', async () => {
    await openShare(phone, PHOTOS);
    await phone.click('#m1 .vm-gallery-toggle').then(() => phone.waitForSelector('#m1 .vm-tile'));
    assert.ok(new Set(await onFirstScreen(phone, '#m1 .vm-tile')).size >= 3);

    await openShare(phone, VIEW);
    assert.equal(await phone.$$eval('#m1 .vm-drop-hint', (els) => els.length), 0);
    await phone.evaluate(() => {
      const dataTransfer = new DataTransfer();
      dataTransfer.items.add(new File(['x'], 'x.txt'));
      for (const type of ['dragenter', 'dragover', 'drop']) document.getElementById('m1').dispatchEvent(new DragEvent(type, { dataTransfer, bubbles: true }));
    });
    assert.equal(await phone.textContent('#m1 .vm-notice'), 'このフォルダは閲覧専用です。ここにはアップロードできません。');

    // An upload cut at a quarter of its 20 MB, as this browser remembers it.
    await phone.evaluate(([nameHex, pathHex]) => localStorage.setItem('velmarind.uploads', JSON.stringify([{
      id: '0'.repeat(32), nameHex, pathHex, where: '大量', name: 'big.bin', size: 20 << 20, mtime: 1, touched: Date.now(), held: 5 << 20,
    }])), [hex(heldBytes(MANY)), hex(heldBytes(prog.dirs[MANY] + '/'))]);
    await phone.reload();
    await phone.setInputFiles('.vm-resume-line input[type="file"]', { name: 'other.bin', mimeType: 'text/plain', buffer: Buffer.from('x') });
    await phone.waitForSelector('.vm-resume-problem:not(:empty)');
    assert.match(await phone.textContent('.vm-resume-line'), /「big\.bin」 \(20 MB, 大量, 25%\).*中断したものと違います/);
  });
});
