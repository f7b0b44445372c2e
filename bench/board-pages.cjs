// The board's benchmark in a browser: N pages of the board open in headless
// Chromium for S seconds. Prints one JSON line: each page's load time to all
// its tiles (ms), the board's JSON fetched alone (ms, the same page, the
// reference), and every update's delay from the ingest's commit (ms).
//   node board-pages.cjs URL TILES PAGES SECONDS
'use strict';
const path = require('path');
const chromium = require(path.join(__dirname, '../tools/board/chromium.cjs'));

(async () => {
  const [url, tiles, pages, seconds] = process.argv.slice(2);
  const browser = await chromium.launch();
  const open = [];
  const load = [];
  const json = [];
  for (let i = 0; i < Number(pages); i++) {
    const page = await browser.newPage();
    await page.setViewport({ width: 1920, height: 1080 });
    const start = Date.now();
    await page.goto(url, { waitUntil: 'domcontentloaded' });
    await page.waitForFunction((n) => document.querySelectorAll('.tile').length >= n, { timeout: 60000, polling: 'raf' }, Number(tiles));
    load.push(Date.now() - start);
    json.push(await page.evaluate(async () => {
      const t = performance.now();
      await (await fetch('/api/board')).json();
      return performance.now() - t;
    }));
    open.push(page);
  }
  console.error('pages open');
  await new Promise((r) => setTimeout(r, Number(seconds) * 1000));
  const latencies = [];
  for (const page of open) latencies.push(...(await page.evaluate(() => window.zentrelLatencies)));
  await browser.close();
  console.log(JSON.stringify({ load, json, latencies }));
})().catch((e) => { console.error('board-pages.cjs: ' + (e && e.stack ? e.stack : e)); process.exit(1); });
