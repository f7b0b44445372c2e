// The line board in a real browser (Debian's chromium, driven by
// puppeteer-core), against a board that test_board started on a real plant.
//   node board.cjs URL EXPECTED.json
// Says "ok …" or "fail …" per check on stdout; "ready live" when it waits
// for the test to publish a reading (it answers "go" on stdin).
'use strict';
const path = require('path');
const fs = require('fs');
const readline = require('readline');
const chromium = require(path.join(__dirname, '../../tools/board/chromium.cjs'));

const [url, expectedFile] = process.argv.slice(2);
const expected = JSON.parse(fs.readFileSync(expectedFile, 'utf8'));
const lines = readline.createInterface({ input: process.stdin });
const waiting = [];
lines.on('line', (l) => { const w = waiting.shift(); if (w) w(l); });
const nextLine = () => new Promise((resolve) => waiting.push(resolve));
let failures = 0;
const ok = (what) => console.log('ok ' + what);
const fail = (what) => { failures++; console.log('fail ' + what); };
const check = (cond, what) => (cond ? ok(what) : fail(what));

function field(station, name) {
  return (page) => page.evaluate((s, f) => {
    const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === s);
    const v = tile && tile.querySelector('[data-field="' + f + '"]');
    return v ? v.textContent : null;
  }, station, name);
}
const stateOf = (page, station) => page.evaluate((s) => {
  const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === s);
  return tile ? tile.dataset.state : null;
}, station);
const summaryField = (page, name) => page.evaluate((f) => {
  const v = document.querySelector('#summary [data-field="' + f + '"]');
  return v ? v.textContent : null;
}, name);

// Waits until read(page) equals want (figures may come a commit later).
async function becomes(page, read, want, ms) {
  const until = Date.now() + ms;
  let got;
  do {
    got = await read(page);
    if (got === want) return got;
    await new Promise((r) => setTimeout(r, 100));
  } while (Date.now() < until);
  return got;
}

async function main() {
  const browser = await chromium.launch();
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1920, height: 1080 });
    const dialogs = [];
    page.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(url, { waitUntil: 'load' });
    await page.waitForFunction((n) => document.querySelectorAll('.tile').length >= n, { timeout: 30000 }, expected.tiles.length);

    // Every tile's figures as the test worked them out.
    for (const tile of expected.tiles) {
      for (const [name, want] of Object.entries(tile.fields)) {
        const got = await becomes(page, field(tile.station, name), want, 10000);
        check(got === want, `${tile.station} ${name}: ${JSON.stringify(got)} (expected ${JSON.stringify(want)})`);
      }
    }
    for (const [name, want] of Object.entries(expected.summary)) {
      const got = await becomes(page, (p) => summaryField(p, name), want, 10000);
      check(got === want, `summary ${name}: ${JSON.stringify(got)} (expected ${JSON.stringify(want)})`);
    }
    // A name that is markup stays text: its characters shown, no element made of it.
    const hostile = expected.hostile;
    const shown = await page.evaluate((s) => {
      const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === s);
      return tile ? tile.querySelector('.name').textContent : null;
    }, hostile);
    check(shown === hostile, `the hostile name shows as its characters: ${JSON.stringify(shown)}`);
    const images = await page.evaluate(() => document.querySelectorAll('#board img, #board b b').length);
    check(images === 0 && dialogs.length === 0, `no markup of a name ran (elements ${images}, dialogs ${dialogs.length})`);
    const lotText = await page.evaluate((s) => {
      const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === s);
      return tile ? tile.querySelector('.lot').textContent : '';
    }, hostile);
    check(lotText.includes(expected.hostileLot), `the hostile lot shows as text: ${JSON.stringify(lotText)}`);
    const signal = await becomes(page, (p) => p.evaluate((s) => {
      const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === s);
      const r = tile && tile.querySelector('.signals .rule');
      return r ? r.textContent : null;
    }, expected.signal.station).then((x) => (x && x.includes(expected.signal.words) ? expected.signal.words : x)), expected.signal.words, 5000);
    check(signal === expected.signal.words, `the signal in words: ${JSON.stringify(signal)}`);
    // Stations named as a plain object's own keys show their signals too,
    // and acknowledging one leaves the others'.
    const rules = (s) => (p) => p.evaluate((name) => {
      const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === name);
      return tile ? tile.querySelectorAll('.signals .rule').length : -1;
    }, s);
    for (const s of expected.oddNames) {
      const got = await becomes(page, rules(s), 1, 5000);
      check(got === 1, `${s}: its signal shown (${got} lines)`);
    }
    await page.evaluate(() => {
      const tile = [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === 'toString');
      tile.querySelector('.signals button').click();
    });
    for (const s of expected.oddNames) {
      const want = s === 'toString' ? 0 : 1;
      const got = await becomes(page, rules(s), want, 5000);
      check(got === want, `${s} after toString's acknowledgement: ${got} lines`);
    }

    // Live: a reading published now is on the tile within 2 s.
    const live = expected.live;
    console.log('ready live');
    await nextLine();
    const sent = Date.now();
    const last = await becomes(page, field(live.station, 'last'), live.text, 5000);
    const took = Date.now() - sent;
    check(last === live.text && took <= 2000, `a published reading on its tile in ${took} ms: ${JSON.stringify(last)}`);
    const measuring = await stateOf(page, live.station);
    check(measuring === 'measuring', `${live.station} measuring after its reading: ${measuring}`);
    // ... and idle once it has sent nothing for longer than the idle time.
    const idle = await becomes(page, (p) => stateOf(p, live.station), 'idle', 20000);
    check(idle === 'idle', `${live.station} idle after the idle time: ${idle}`);

    // A station's page: its records sort by a column.
    await page.evaluate((s) => {
      [...document.querySelectorAll('.tile')].find((t) => t.dataset.station === s).click();
    }, expected.records.station);
    await page.waitForSelector('#station .records tbody tr', { timeout: 15000 });
    await page.waitForFunction(() => document.querySelectorAll('#station .uplot').length >= 4, { timeout: 15000 });
    const rows = await page.evaluate(() => document.querySelectorAll('#station .records tbody tr').length);
    check(rows === expected.records.rows, `${expected.records.station}'s records: ${rows} rows (expected ${expected.records.rows})`);
    await page.evaluate(() => [...document.querySelectorAll('#station .records th')].find((t) => t.dataset.key === 'r').click());
    const firstR = await page.evaluate(() => {
      const keys = [...document.querySelectorAll('#station .records th')].map((t) => t.dataset.key);
      return document.querySelector('#station .records tbody tr').children[keys.indexOf('r')].textContent;
    });
    check(firstR === expected.records.lowestR, `sorted by R, the lowest first: ${firstR} (expected ${expected.records.lowestR})`);
    check(errors.length === 0, `no script error on the page: ${errors.join('; ')}`);

    // English: not one Han character on the board or a station's page.
    const en = await browser.newPage();
    await en.setViewport({ width: 1280, height: 800 });
    await en.goto(url + '?lang=en', { waitUntil: 'load' });
    await en.waitForFunction((n) => document.querySelectorAll('.tile').length >= n, { timeout: 30000 }, expected.tiles.length);
    const han = /[\u2e80-\u2fdf\u3000-\u303f\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff\uff00-\uffef]/;
    const boardText = await en.evaluate(() => document.body.innerText + document.title);
    check(!han.test(boardText), `English board without Han: ${JSON.stringify((boardText.match(han) || [''])[0])}`);
    await en.evaluate((s) => { location.hash = '#station=' + encodeURIComponent(s); }, expected.records.station);
    await en.waitForFunction(() => document.querySelectorAll('#station .uplot').length >= 4, { timeout: 15000 });
    const stationText = await en.evaluate(() => document.body.innerText);
    check(!han.test(stationText), `English station page without Han: ${JSON.stringify((stationText.match(han) || [''])[0])}`);
    // The board goes away: the page says so; it comes back: the page goes on by itself.
    console.log('ready restart');
    await nextLine();
    const lost = await becomes(page, (p) => p.evaluate(() => document.getElementById('status').textContent), expected.lostText, 15000);
    check(lost === expected.lostText, `the page says its connection is lost: ${JSON.stringify(lost)}`);
    console.log('ready back');
    await nextLine();
    const back = await becomes(page, (p) => p.evaluate(() => document.body.dataset.live + '|' + document.getElementById('status').textContent), 'yes|', 15000);
    check(back === 'yes|', `the page is live again without a reload: ${JSON.stringify(back)}`);
    // The same board in Firefox: its tiles, a name as text, a station's charts, English only.
    const firefox = await chromium.firefox();
    if (!firefox) {
      console.log('ok Firefox not installed (Debian: firefox-esr; tools/dev.sh installs it): not tried');
    } else {
      try {
        const fx = await firefox.newPage();
        await fx.setViewport({ width: 1366, height: 768 });
        await fx.goto(url + '?lang=en', { waitUntil: 'load' });
        await fx.waitForFunction((n) => document.querySelectorAll('.tile').length >= n, { timeout: 30000 }, expected.tiles.length);
        const first = expected.tiles[0];
        const cells = await becomes(fx, field(first.station, 'cells'), first.fields.cells, 10000);
        check(cells === first.fields.cells, `Firefox: ${first.station} cells ${JSON.stringify(cells)}`);
        const name = await fx.evaluate((s) => {
          const tile = [...document.querySelectorAll('.tile')].find((x) => x.dataset.station === s);
          return tile ? tile.querySelector('.name').textContent : null;
        }, hostile);
        check(name === hostile, `Firefox: the hostile name as text: ${JSON.stringify(name)}`);
        await fx.evaluate((s) => { location.hash = '#station=' + encodeURIComponent(s); }, expected.records.station);
        await fx.waitForFunction(() => document.querySelectorAll('#station .uplot').length >= 4, { timeout: 15000 });
        const text = await fx.evaluate(() => document.body.innerText);
        check(!han.test(text), `Firefox: English station page without Han: ${JSON.stringify((text.match(han) || [''])[0])}`);
      } finally {
        await firefox.close();
      }
    }
    if (process.env.ZENTREL_SHOTS) {
      await page.screenshot({ path: path.join(process.env.ZENTREL_SHOTS, 'station-zh.png'), fullPage: true });
      await en.screenshot({ path: path.join(process.env.ZENTREL_SHOTS, 'station-en.png'), fullPage: true });
    }
  } finally {
    await browser.close();
  }
}

main().then(() => { lines.close(); process.exit(failures ? 1 : 0); },
  (e) => { console.log('fail ' + (e && e.stack ? e.stack : e)); process.exit(1); });
