// An admitted browser turns hostile: from the program's page it sends every document at the program
// folder, through a full share of the folder that holds it, and at a drop box in that share. Nothing
// of either is read or changed, the folders that hold them stay, and odd names still list.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startProgram, stopProgram, launchBrowser, loopbackContext, heldBytes, hex } from './harness.mjs';

const [TOP, DROP, MARK, ODD] = ['全体', '投函', 'secret-of-the-program-7f3a', 'x\u2028y'];
const h = (text) => hex(heldBytes(text));

/** Every entry under a folder with its bytes; the page files and the kept body left out. */
function contents(dir) {
  return fs.readdirSync(dir, { recursive: true }).map(String).sort()
    .filter((f) => !/\.html(\.\w{6})?$|^pastdata\.txt$/.test(f))
    .map((f) => [f, fs.statSync(path.join(dir, f)).isFile() ? fs.readFileSync(path.join(dir, f), 'hex') : '']);
}

/** [document, form fields (POST) or body, upload file name] of every document at each target. */
function attacks(prog) {
  const [list, app] = [[], prog.app + '/'];
  for (const [dir, file] of [[app + 'page/', 'vcom.js'], [app, 'velmarind.ini'], [app + 'uploads/', 'p.png'],
    [prog.dirs[DROP] + '/', 'private.txt']]) {
    const [at, into] = [{ dir: h(dir) }, { dirname: h(TOP), dirpath: h(dir), _charset_: 'UTF-8' }];
    list.push([`script.html?pid=m1&name=${h(TOP)}&path=${h(dir)}`], [`download.html?file=${h(dir + file)}`],
      [`vm-view?file=${h(dir + file)}`], [`vm-thumb?file=${h(dir + file)}`], [`vm-zip?dir=${h(dir)}`],
      [`vm-zip?dir=${h(path.dirname(dir) + '/')}&items=${h(path.basename(dir))}`],
      ['vm-rename', { ...at, from: h(file), to: h('renamed') }], ['vm-trash', { ...at, items: h(file) }]);
    if (file === 'private.txt') continue;  // a drop box takes new files
    const piece = new URLSearchParams({ op: 'put', id: String(list.length).padStart(32, '0'), ...into, name: h(file),
      size: 1, mtime: 1, offset: 0, crc: '8cdc1683' });
    list.push(['vm-mkdir', { ...at, name: h('made') }], ['blank.html', { menu: 'newtext', ...into, fname: file, tbody: MARK }],
      ['index.html', { menu: 'updimg', ifile: MARK, ...into }, file], [`vm-chunk?${piece}`, 'x']);
  }
  for (const name of ['app', 'data']) {
    list.push(['vm-rename', { dir: h(prog.root + '/'), from: h(name), to: h(name + '2') }],
      ['vm-trash', { dir: h(prog.root + '/'), items: h(name) }]);
  }
  return list;
}

describe('a hostile admitted browser against the program folder and nested shares', () => {
  let prog, browser, page, answers, appBefore, dataBefore;

  before(async () => {
    prog = await startProgram({ shares: [{ name: TOP, at: '' }, { name: DROP, files: { 'private.txt': Buffer.from(MARK) } }],
      settings: [`SHARE_MODES=${h(TOP)}:full,${h(DROP)}:dropbox`, `SECRET=${MARK}`] });
    [ODD, '../app/uploads'].map((f) => fs.mkdirSync(path.join(prog.data, f)));
    fs.writeFileSync(path.join(prog.app, 'uploads', 'p.png'), MARK);
    [appBefore, dataBefore] = [contents(prog.app), contents(prog.data)];
    browser = await launchBrowser();
    page = await (await loopbackContext(browser)).newPage();
    await page.goto(prog.url);
    answers = await page.evaluate(async (list) => {
      const out = [];
      for (const [doc, fields, name] of list) {
        const body = typeof fields === 'string' ? fields : name ? new FormData() : new URLSearchParams(fields);
        for (const [k, v] of name ? Object.entries(fields) : []) body.append(k, ...(k === 'ifile' ? [new Blob([v]), name] : [v]));
        const r = await fetch(doc, fields ? { method: 'POST', body } : {});
        out.push({ doc, refused: r.headers.get('X-Velmarind-Refused'), text: await r.text() });
      }
      return out;
    }, attacks(prog));
  });

  after(async () => { if (browser) await browser.close(); await stopProgram(prog); });

  it('reads nothing of the program or the drop box, and changes nothing of either', () => {
    for (const a of answers) assert.ok(!a.text.includes(MARK), a.doc);
    assert.deepEqual([contents(prog.app), contents(prog.data)], [appBefore, dataBefore]);
    assert.deepEqual(answers.slice(-4).map((a) => a.refused), ['NotFound', 'NotFound', 'HoldsShare', 'HoldsShare']);
  });

  it('lists everything else of the share, odd names too, but not the program folder', async () => {
    const names = () => page.$$eval('#m1 tbody .vm-item', (els) => els.map((e) => e.textContent).sort());
    await page.click(`a.sh1:text-is("${TOP}")`);
    await page.waitForSelector('#m1 button.vm-dir:text-is("data")');
    assert.ok(!(await names()).includes('app'));
    await page.click('#m1 button.vm-dir:text-is("data")');
    await page.waitForSelector('#m1 .vm-path .vm-here:text-is("data")');
    assert.deepEqual(await names(), ['..', ODD, DROP].sort());
  });
});
