// Page weight and render time of the Buffer page in headless Chromium with N e-mails waiting
// (default 1000, 25 mailboxes, three text boxes and a 4 KiB picture each), served by
// `corvane console`. Prints figures; asserts nothing.
//
//   node bench_buffer.mjs CORVANE_PROGRAM [N]

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { emailBytes, bmpPicture } from './store_files.mjs';

const [program, countText] = process.argv.slice(2);
const count = Number(countText ?? 1000);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'console-bench-'));
const store = path.join(work, 'store');
const picture = bmpPicture(36, 36);
for (const folder of ['MailBank', 'Error']) fs.mkdirSync(path.join(store, folder), { recursive: true });
for (let i = 0; i < count; i++) {
  const user = `pupil${i % 25}`;
  const buffer = path.join(store, 'MailBox', user, 'Buffer');
  fs.mkdirSync(buffer, { recursive: true });
  fs.mkdirSync(path.join(store, 'MailBox', user, 'Inbox'), { recursive: true });
  const text = 'Please read chapter four and answer the questions on page 52 by Friday.';
  fs.writeFileSync(path.join(buffer, `mail${i}.eml`), emailBytes({
    from: 'teacher', to: user, subject: `Task ${i}: read chapter four`,
    texts: [0, 1, 2].map((t) => ({ x: 240, y: 200 + 700 * t, width: 6000, height: 600, value: text })),
    pictures: [{ name: 'p.bmp', x: 6400, y: 200, bytes: picture }],
  }));
}

const tokenFile = path.join(work, 'token');
const server = spawn(program, ['console', store, '--listen', '127.0.0.1:0', '--token-file', tokenFile],
                     { stdio: ['ignore', 'pipe', 'inherit'] });
let output = '';
server.stdout.on('data', (d) => { output += d; });
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
for (let i = 0; i < 100 && !/http:\/\/\S+\//.test(output); i++) await sleep(100);
const url = output.match(/http:\/\/\S+\//)[0].replace(/\/$/, '');

const profile = path.join(work, 'profile');
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium', headless: true, userDataDir: profile,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 800 });
  await page.goto(url + '/login');
  await page.type('input[name=token]', fs.readFileSync(tokenFile, 'utf8').trim());
  await Promise.all([page.waitForNavigation(), page.click('button')]);
  console.log(`Buffer page with ${count} e-mails, headless Chromium, loopback`);
  for (let run = 1; run <= 3; run++) {
    await page.goto(url + '/buffer', { waitUntil: 'load' });
    const t = await page.evaluate(() => {
      const n = performance.getEntriesByType('navigation')[0];
      const pictures = performance.getEntriesByType('resource').filter((r) => r.name.includes('/picture'));
      return { ttfb: n.responseStart - n.requestStart, html: n.responseEnd - n.requestStart,
               dom: n.domContentLoadedEventEnd - n.startTime, load: n.loadEventEnd - n.startTime,
               bytes: n.encodedBodySize, pictures: pictures.length,
               pictureBytes: pictures.reduce((s, r) => s + r.encodedBodySize, 0) };
    });
    await sleep(200);
    const painted = await page.evaluate(() => performance.now());
    console.log(`run ${run}: HTML ${t.bytes} bytes, first byte ${t.ttfb.toFixed(0)} ms, ` +
                `HTML complete ${t.html.toFixed(0)} ms, DOM ready ${t.dom.toFixed(0)} ms, ` +
                `load ${t.load.toFixed(0)} ms; ${t.pictures} pictures fetched ` +
                `(${t.pictureBytes} bytes) for the first screen`);
    void painted;
  }
} finally {
  await browser.close();
  server.kill('SIGTERM');
  await new Promise((r) => server.on('exit', r));
  fs.rmSync(work, { recursive: true, force: true });
}
