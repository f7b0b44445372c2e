// Debian's Chromium, headless, as every script here drives it (puppeteer-core
// from board/web): no sandbox (CI runs as root), no background networking
// (this machine's network is closed; it would only be refused).
'use strict';
const path = require('path');
const puppeteer = require(path.join(__dirname, '../../board/web/node_modules/puppeteer-core'));

exports.launch = () => puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});

// Debian's Firefox (ESR), headless, through WebDriver BiDi; null when it is
// not installed.
exports.firefox = () => {
  const executablePath = process.env.FIREFOX || '/usr/bin/firefox-esr';
  if (!require('fs').existsSync(executablePath)) return null;
  return puppeteer.launch({ browser: 'firefox', executablePath, headless: true });
};
