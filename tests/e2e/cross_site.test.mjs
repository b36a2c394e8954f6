// A page of another site, opened in a browser that the program has admitted, tries to write
// into a share (a form post and a script's upload) and to read a listing: nothing gets through.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import {
  startProgram, stopProgram, launchBrowser, loopbackContext, heldBytes, hex,
} from './harness.mjs';

const PASSWORD = 'pass123';
const SHARE = '共有';
const WAIT_MS = 15000;

/** The foreign site's page: it attacks the program at target as soon as it loads. */
function attackPage(target, dirname) {
  return `<!DOCTYPE html><html><body>
<iframe name="sink"></iframe>
<form id="f" method="post" action="${target}index.html" target="sink"
      enctype="application/x-www-form-urlencoded">
  <input name="menu" value="newtext"><input name="dirname" value="${dirname}">
  <input name="fname" value="evil.txt"><input name="tbody" value="written by another site">
</form>
<script>
window.outcome = (async () => {
  document.getElementById('f').submit();
  const form = new FormData();
  form.append('menu', 'updimg');
  form.append('dirname', '${dirname}');
  form.append('ifile', new Blob(['uploaded by another site']), 'evil.png');
  await fetch('${target}index.html', { method: 'POST', mode: 'no-cors', body: form });
  let read;
  try {
    const answer = await fetch('${target}script.html?d=${dirname}');
    read = 'read ' + (await answer.text()).length + ' characters';
  } catch (e) {
    read = 'refused';
  }
  return read;
})();
</script></body></html>`;
}

describe('another site in an admitted browser', () => {
  let prog;
  let site;
  let browser;
  let ctx;

  before(async () => {
    prog = await startProgram({ password: PASSWORD, shares: [{ name: SHARE, files: { 'a.txt': Buffer.from('a') } }] });
    const dirname = hex(heldBytes(SHARE));
    site = http.createServer((req, res) => {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(attackPage(prog.url, dirname));
    });
    await new Promise((resolve) => site.listen(0, '127.0.0.1', resolve));
    browser = await launchBrowser();
    ctx = await loopbackContext(browser);
  });

  after(async () => {
    if (browser) await browser.close();
    if (site) site.close();
    await stopProgram(prog);
  });

  it('can neither write into the share nor read it', async () => {
    const page = await ctx.newPage();
    // The browser logs in, so its address is admitted.
    await page.goto(prog.url);
    await page.fill('input[name="passwd"]', PASSWORD);
    const done = page.waitForResponse((r) => r.url().includes('login.html'));
    await page.click('input[value="LOGIN"]');
    assert.equal((await done).status(), 200);

    const evil = await ctx.newPage();
    const posted = evil.waitForResponse((r) => r.url().startsWith(prog.url) && r.request().method() === 'POST'
      && r.request().postData()?.includes('newtext'), { timeout: WAIT_MS });
    await evil.goto(`http://127.0.0.1:${site.address().port}/`);
    const read = await evil.evaluate(() => window.outcome);
    await posted;

    assert.equal(read, 'refused', 'the browser keeps the listing from the other site');
    assert.deepEqual(fs.readdirSync(prog.dirs[SHARE]), ['a.txt'], 'nothing written into the share');
    assert.ok(!fs.existsSync(path.join(prog.app, 'pastdata.txt')), 'the bodies were not even kept');
  });
});
