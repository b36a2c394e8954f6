// The browser half of bench/view.sh: drives headless Chromium at phone size against the servers
// view.sh started and prints the figures. Reaches only 127.0.0.1.
import path from 'node:path';
import { parseArgs } from 'node:util';

const { values: opt } = parseArgs({
  options: {
    velmarind: { type: 'string' }, nginx: { type: 'string' }, python: { type: 'string' },
    share: { type: 'string' }, rounds: { type: 'string', default: '5' },
    'server-pid': { type: 'string' }, photos: { type: 'string', default: '1000' },
    playwright: { type: 'string' }, only: { type: 'string', default: '' },
    // The gallery's folder, the class of its tiles that get thumbnails, and its targets (ms).
    folder: { type: 'string', default: 'photos/' }, tile: { type: 'string', default: 'vm-tile-image' },
    'cold-target': { type: 'string', default: '1000' }, 'warm-target': { type: 'string', default: '200' },
  },
});
const { chromium } = await import(path.resolve(opt.playwright));
const ROUNDS = Number(opt.rounds);
const ENTRIES = 10000;
const PHONE = { viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, locale: 'ja-JP' };
// Every wait gives up after this.
const LIMIT_MS = 60000;
const FILTER_KEYS = ['e', 'n', 't', 'r', 'y', '-', '0', '4', '2'];

const hex = (s) => Buffer.from(s, 'utf8').toString('hex');
const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };
const spread = (xs) => `${median(xs).toFixed(0)} ms (${Math.min(...xs).toFixed(0)}-${Math.max(...xs).toFixed(0)})`;

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run'],
});

// No request routing: it would put the driver between the browser and every answer. The pages
// measured ask only for addresses of the server they came from (127.0.0.1).
async function context() {
  return browser.newContext(PHONE);
}

// Resolves in the page once the next frame has been painted: what was put into the page before
// has been laid out and drawn.
const AFTER_FRAMES = 'new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)))';

// A plain index page (nginx, python): from the click on "many/" to a painted page holding every
// entry. The new document's clock starts at the navigation, which the click starts.
async function plainListing(base) {
  const ctx = await context();
  const page = await ctx.newPage();
  await page.goto(base, { waitUntil: 'load' });
  await Promise.all([page.waitForEvent('load', { timeout: LIMIT_MS }), page.click('a[href="many/"]')]);
  const ms = await page.evaluate(`(async () => { await ${AFTER_FRAMES}; return performance.now(); })()`);
  const count = await page.$$eval('a', (as) => as.length);
  await ctx.close();
  if (count < ENTRIES) throw new Error(`${base}: ${count} links`);
  return ms;
}

async function velmarindListing() {
  const ctx = await context();
  const page = await ctx.newPage();
  await page.goto(`${opt.velmarind}#${hex(opt.share)}/`, { waitUntil: 'load' });
  await page.waitForSelector('#m1 button.vm-dir', { timeout: LIMIT_MS });
  const t = await page.evaluate(`(async () => {
    const rows = () => document.querySelectorAll('#m1 tbody tr.vm-row-file').length;
    const button = [...document.querySelectorAll('#m1 button.vm-dir')].find((b) => b.textContent === 'many');
    const t = { click: performance.now() };
    button.click();
    // Rows seen in a frame's callbacks are painted in that frame; a task queued there runs
    // right after the paint (before the page's next batch of rows, queued later).
    const painted = () => new Promise((r) => setTimeout(r, 0));
    for (;;) {
      await new Promise((r) => requestAnimationFrame(r));
      const n = rows();
      if (n > 0 && !t.first) { await painted(); t.first = performance.now(); }
      if (n >= ${ENTRIES}) { if (t.first !== undefined && !t.all) { await painted(); t.all = performance.now(); } break; }
      if (performance.now() - t.click > ${LIMIT_MS}) break;
    }
    const answer = performance.getEntriesByType('resource').filter((e) => e.name.includes('script.html')).pop();
    t.answer = answer ? answer.responseEnd : NaN;
    return t;
  })()`);
  let filter = [];
  if (await page.$('#m1 input.vm-filter')) {
    filter = await page.evaluate(`(async () => {
      const box = document.querySelector('#m1 input.vm-filter');
      const out = [];
      for (const key of ${JSON.stringify(FILTER_KEYS)}) {
        const t0 = performance.now();
        box.value += key;
        box.dispatchEvent(new Event('input', { bubbles: true }));
        await ${AFTER_FRAMES};
        out.push(performance.now() - t0);
      }
      return out;
    })()`);
  }
  await ctx.close();
  return { first: t.first - t.click, all: t.all - t.click, afterAnswer: t.first - t.answer, filter };
}

// The gallery of the folder (photos/): from the click on the toggle to every thumbnail of the first screen
// shown (or given up for a placeholder).
async function gallery() {
  const ctx = await context();
  const page = await ctx.newPage();
  await page.goto(`${opt.velmarind}#${hex(opt.share)}/${hex(opt.folder)}`, { waitUntil: 'load' });
  await page.waitForSelector('#m1 .vm-gallery-toggle', { timeout: LIMIT_MS });
  const ms = await page.evaluate(`(async () => {
    const t0 = performance.now();
    document.querySelector('#m1 .vm-gallery-toggle').click();
    const inView = () => [...document.querySelectorAll('#m1 .${opt.tile}')].filter((t) => {
      const r = t.getBoundingClientRect();
      return r.bottom > 0 && r.top < innerHeight;
    });
    for (;;) {
      await new Promise((r) => requestAnimationFrame(r));
      const tiles = inView();
      if (tiles.length && tiles.every((t) => t.classList.contains('vm-loaded') || t.classList.contains('vm-broken'))) break;
      if (performance.now() - t0 > ${LIMIT_MS}) return NaN;
    }
    await ${AFTER_FRAMES};
    return performance.now() - t0;
  })()`);
  // Leave the toggle off for the next round.
  await page.click('#m1 .vm-gallery-toggle');
  await ctx.close();
  return ms;
}

const when = new Date().toISOString().replace('T', ' ').slice(0, 16);
console.log(`Viewing figures, ${when} UTC, headless Chromium at 360 x 740, ${ROUNDS} rounds (median, range)`);
if (!opt.only || opt.only === 'list') {
  const runs = { velmarind: [], nginx: [], python: [] };
  for (let r = 0; r < ROUNDS; r++) {
    runs.nginx.push(await plainListing(opt.nginx));
    runs.python.push(await plainListing(opt.python));
    runs.velmarind.push(await velmarindListing());
  }
  const v = runs.velmarind;
  const all = v.map((x) => x.all);
  console.log(`folder of ${ENTRIES}: click to every entry painted: velmarind ${spread(all)}, nginx ${spread(runs.nginx)}, python ${spread(runs.python)}`);
  console.log(`  ratio velmarind / nginx (medians): ${(median(all) / median(runs.nginx)).toFixed(2)} (target at most 1)`);
  console.log(`  click to first screen: ${spread(v.map((x) => x.first))}; listing answer to first screen: ${spread(v.map((x) => x.afterAnswer))} (target 150 ms)`);
  const keys = v.flatMap((x) => x.filter);
  if (keys.length) console.log(`  filter box, per key: median ${median(keys).toFixed(1)} ms, worst ${Math.max(...keys).toFixed(1)} ms (target 50 ms)`);
}
if (!opt.only || opt.only === 'gallery') {
  const cold = await gallery();
  const warm = [];
  for (let r = 0; r < ROUNDS; r++) warm.push(await gallery());
  console.log(`gallery of ${opt.photos} photos, first screen: cold ${cold.toFixed(0)} ms (target ${opt['cold-target']}), warm ${spread(warm)} (target ${opt['warm-target']})`);
}
await browser.close();
