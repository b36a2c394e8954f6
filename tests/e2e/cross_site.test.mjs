// A page of another site, opened in a browser that the program has admitted, links to, frames,
// posts into and reads from the program: none of its script runs in the program's origin, the
// frame is refused, nothing reaches the shares and nothing is read.
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
// Another site: another loopback address, so the browser sees another origin and another site.
const SITE_HOST = '127.0.0.2';
const WAIT_MS = 15000;
// How long the page waits for its frame to settle before it reports.
const FRAME_WAIT_MS = 5000;

/** The names under a folder, recursively, sorted. */
function tree(dir) {
  return fs.readdirSync(dir, { recursive: true }).map(String).sort();
}

/**
 * The foreign site's page. As soon as it loads it frames the index page, posts a new text and an
 * upload as forms, uploads by script and reads a listing; its link puts script into the listing's
 * pid. Script that gets into the program's origin reports there by calling marker(origin).
 */
function attackPage(target, dirname, rootHex) {
  const injected = encodeURIComponent('<script>marker(location.origin)</script>');
  return `<!DOCTYPE html><html><body>
<iframe name="victim" src="${target}index.html"></iframe>
<iframe name="sink"></iframe><iframe name="sink2"></iframe>
<form id="text" method="post" action="${target}blank.html" target="sink">
  <input name="menu" value="newtext"><input name="dirname" value="${dirname}">
  <input name="fname" value="evil.txt"><input name="tbody" value="written by another site">
</form>
<form id="upload" method="post" action="${target}index.html" target="sink2" enctype="multipart/form-data">
  <input name="menu" value="updimg"><input type="file" name="ifile"><input name="dirname" value="${dirname}">
</form>
<a id="pid" href="${target}script.html?pid=${injected}&name=${dirname}&path=${rootHex}">listing</a>
<script>
window.outcome = (async () => {
  const framed = new Promise((resolve) => {
    document.querySelector('iframe[name=victim]').onload = resolve;
    setTimeout(resolve, ${FRAME_WAIT_MS});
  });
  document.getElementById('text').submit();
  const dt = new DataTransfer();
  dt.items.add(new File(['form upload by another site'], 'evil.png', { type: 'image/png' }));
  const upload = document.getElementById('upload');
  upload.ifile.files = dt.files;
  upload.submit();
  const form = new FormData();
  form.append('menu', 'updimg');
  form.append('ifile', new Blob(['script upload by another site']), 'evil2.png');
  form.append('dirname', '${dirname}');
  await fetch('${target}index.html', { method: 'POST', mode: 'no-cors', body: form });
  let read;
  try {
    const answer = await fetch('${target}script.html?pid=m1&name=${dirname}&path=${rootHex}');
    read = 'read ' + (await answer.text()).length + ' characters';
  } catch (e) {
    read = 'refused';
  }
  await framed;
  return read;
})();
</script></body></html>`;
}

describe('another site in an admitted browser', () => {
  let prog;
  let site;
  let browser;
  let ctx;
  let evil;
  let read;
  let shareBefore;
  const marks = [];

  before(async () => {
    prog = await startProgram({ password: PASSWORD, shares: [{ name: SHARE, files: { 'a.txt': Buffer.from('a') } }] });
    shareBefore = tree(prog.dirs[SHARE]);
    const dirname = hex(heldBytes(SHARE));
    const rootHex = hex(heldBytes(prog.dirs[SHARE] + '/'));
    site = http.createServer((req, res) => {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(attackPage(prog.url, dirname, rootHex));
    });
    await new Promise((resolve) => site.listen(0, SITE_HOST, resolve));
    browser = await launchBrowser();
    ctx = await loopbackContext(browser);
    await ctx.exposeBinding('marker', ({ frame }, origin) => marks.push(`${origin} in ${frame.url()}`));

    // The browser logs in, so its address is admitted.
    const page = await ctx.newPage();
    await page.goto(prog.url);
    await page.fill('input[name="passwd"]', PASSWORD);
    const done = page.waitForResponse((r) => r.url().includes('login.html'));
    await page.click('input[value="LOGIN"]');
    assert.equal((await done).status(), 200);

    evil = await ctx.newPage();
    const posted = evil.waitForResponse((r) => r.url().startsWith(prog.url) && r.request().method() === 'POST'
      && r.request().postData()?.includes('newtext'), { timeout: WAIT_MS });
    await evil.goto(`http://${SITE_HOST}:${site.address().port}/`);
    read = await evil.evaluate(() => window.outcome);
    await posted;
  });

  after(async () => {
    if (browser) await browser.close();
    if (site) site.close();
    await stopProgram(prog);
  });

  it('reads no listing', () => {
    assert.equal(read, 'refused');
  });

  it('writes nothing into the share, and the bodies are not even kept', () => {
    assert.deepEqual(tree(prog.dirs[SHARE]), shareBefore);
    assert.ok(!fs.existsSync(path.join(prog.app, 'pastdata.txt')));
  });

  it('cannot show the index page in its frame', async () => {
    const frame = evil.frame({ name: 'victim' });
    assert.equal(await frame.$$eval('a.sh1', (links) => links.length), 0);
  });

  it('runs no script of its own in the program\'s origin through a link', async () => {
    await Promise.all([evil.waitForURL(/script\.html/), evil.click('#pid')]);
    await evil.waitForLoadState('load');
    // The marker would have been called while the answer loaded; nothing else is to wait for.
    assert.deepEqual(marks, []);
  });
});
