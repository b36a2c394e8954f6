// The page script speaks the browser's language: English texts in an English browser, while the
// pages the server makes keep their designed Japanese.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startProgram, stopProgram, launchBrowser, loopbackContext, sjis } from './harness.mjs';

const WAIT_MS = 15000;

describe('an English browser', () => {
  let prog;
  let browser;

  before(async () => {
    prog = await startProgram({ shares: [{ name: 'Photos', files: { 'a.txt': Buffer.from('a') } }] });
    browser = await launchBrowser();
  });

  after(async () => {
    if (browser) await browser.close();
    await stopProgram(prog);
  });

  for (const [locale, hint, column, count] of [
    ['en-US', 'Choose a shared folder above to see its contents here.', 'Name', 'Folders 0 / Files 1'],
    ['ja-JP', '上の共有フォルダを選ぶと、ここに中身が表示されます。', '名前', 'フォルダ 0 個 / ファイル 1 個'],
  ]) {
    it(`shows the script's texts in ${locale}`, async () => {
      const ctx = await loopbackContext(browser, { locale });
      const page = await ctx.newPage();
      page.setDefaultTimeout(WAIT_MS);
      await page.goto(prog.url);
      assert.equal(await page.textContent('#m1 .vm-hint'), hint);
      await page.click('a.sh1');
      await page.waitForSelector('#m1 table.vm-list');
      assert.equal(await page.textContent('#m1 th.vm-n button'), column);
      assert.equal(await page.textContent('#m1 .vm-count'), count);
      // The index page's own Japanese (its buttons) is read in the browser's language; its bytes stay as the server made them.
      const buttons = await page.$$eval('form[name="mform"] input:not([type="hidden"]):not([type="file"])', (els) => els.map((e) => e.value));
      assert.deepEqual(buttons, locale === 'ja-JP' ? ['送信', 'テキスト作成'] : ['Send', 'Create text']);
      assert.ok((await (await page.request.get(prog.url)).body()).includes(sjis('テキスト作成')));
      await ctx.close();
    });
  }
});
