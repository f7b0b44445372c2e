// A screenshot of the line board in headless Chromium (Debian's), for the
// docs: node tools/board/shoot.cjs URL OUT.png [WIDTHxHEIGHT] [#station=NAME]
'use strict';
const path = require('path');
const chromium = require(path.join(__dirname, './chromium.cjs'));

(async () => {
  const [url, out, size = '1920x1080', hash = ''] = process.argv.slice(2);
  const [width, height] = size.split('x').map(Number);
  const browser = await chromium.launch();
  try {
    const page = await browser.newPage();
    await page.setViewport({ width, height });
    await page.goto(url + hash, { waitUntil: 'load' });
    await page.waitForFunction(() => document.body.dataset.live === 'yes', { timeout: 30000 });
    if (hash) await page.waitForSelector('#station .uplot', { timeout: 30000 });
    await new Promise((r) => setTimeout(r, 800)); // the charts' first paint
    await page.screenshot({ path: out, fullPage: !!hash });
  } finally {
    await browser.close();
  }
})().catch((e) => { console.error('shoot.cjs: ' + (e && e.message ? e.message : e)); process.exit(1); });
