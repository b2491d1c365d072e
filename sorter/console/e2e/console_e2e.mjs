// The store console in a real browser: headless Chromium driven through the DevTools protocol,
// over HTTPS. Logs in with the token while no account exists, then, once `corvane console-user`
// has added one, with the teacher's name and password only; finds a buffered e-mail, releases
// it and checks the Inbox on disk, runs the other pages, and keeps a screenshot of each page.
//
// Environment: CONSOLE_URL (https://127.0.0.1:PORT/), CONSOLE_TOKEN, STORE (the store folder the
// sorter serves, monitoring on), SCREENSHOTS (folder for the pictures), CONSOLE_CERT (the
// certificate the sorter made, the one the browser accepts, by its public key), CONSOLE_LINE (the sorter's start-up line), CONSOLE_USERS
// (the users file), CORVANE (the tool).
// Prints one PASS or FAIL line per check and a summary line; exits 1 when a check failed.

import { execFileSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { emailBytes, bmpPicture } from './store_files.mjs';

const url = process.env.CONSOLE_URL.replace(/\/$/, '');
const token = process.env.CONSOLE_TOKEN;
const store = process.env.STORE;
const shots = process.env.SCREENSHOTS;
const teacher = 'ms.okafor', password = 'tides and rock pools';

let passed = 0, failed = 0;
function check(name, ok, detail = '') {
  if (ok) { passed++; console.log(`PASS ${name}`); }
  else { failed++; console.log(`FAIL ${name}${detail ? ': ' + detail : ''}`); }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
async function until(test, seconds) {
  for (let i = 0; i < seconds * 10; i++) { if (test()) return true; await sleep(100); }
  return false;
}

// Drops a file into MailBank the way clients should: written aside, then renamed in.
function drop(name, bytes) {
  const aside = path.join(store, `.${name}.part`);
  fs.writeFileSync(aside, bytes);
  fs.renameSync(aside, path.join(store, 'MailBank', name));
}

const box = (user, folder) => path.join(store, 'MailBox', user, folder);

function dropMail() {
  drop('spring-trip.eml', emailBytes({
    from: 'Mr Okafor', to: 'ann', cc: 'bob', subject: 'Spring trip to the coast',
    date: 46365.4,
    texts: [
      { x: 240, y: 200, width: 6600, height: 500, value: 'Dear Ann,', font: 'DejaVu Serif',
        size: 14, bold: true, colour: 0x6b4021 },
      { x: 240, y: 800, width: 6000, height: 1300, size: 11, font: 'DejaVu Sans',
        value: 'We leave on Monday at 8 o\'clock from the school gate.\r\nBring a packed ' +
               'lunch, a rain coat and good shoes.' },
      { x: 240, y: 2300, width: 3600, height: 400, value: 'See you there!', italic: true,
        size: 12, colour: 0x1f7a1f },
    ],
    pictures: [{ name: 'coast.bmp', x: 5400, y: 2100, border: true, bytes: bmpPicture() }],
  }));
  drop('prank.eml', emailBytes({
    from: 'pupil7', to: 'ann', subject: '<script>window.pwned=1</script><b>bold?</b>',
    texts: [{ x: 120, y: 120, value: '<img src=x onerror="window.pwned=2">', size: 10 }],
  }));
  drop('lost.eml', emailBytes({ from: 'bob', to: 'nobody', subject: 'Where is everyone?' }));
  drop('tease1.eml', emailBytes({ from: 'pupil7', to: 'bob', subject: 'Ha ha' }));
  drop('tease2.eml', emailBytes({ from: 'pupil7', to: 'cy', subject: 'Ho ho' }));
  drop('chain.eml', emailBytes({ from: 'cy', to: 'bob', subject: 'Send this to ten friends' }));
  drop('damaged.eml', Buffer.from([0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0]));
  // Enough for a second page of the Buffer.
  for (let i = 1; i <= 50; i++) {
    drop(`club${i}.eml`, emailBytes({ from: 'club', to: 'dan', subject: `Chess club, week ${i}` }));
  }
}

// A screenshot of the page and the size of its HTML as served. The whole page, drawn at its full
// height so that the e-mails below the first screen (content-visibility: auto) are drawn too;
// or, with a height, the first that many pixels.
async function shot(page, name, height) {
  const file = path.join(shots, `console-${name}.png`);
  if (height) {
    await page.setViewport({ width: 1200, height });
    await page.screenshot({ path: file });
    await page.setViewport({ width: 1200, height: 800 });
  } else {
    await page.screenshot({ path: file, fullPage: true, captureBeyondViewport: false });
  }
  const bytes = await page.evaluate(
    () => performance.getEntriesByType('navigation')[0].decodedBodySize);
  console.log(`console-${name}.png: ${page.url().replace(url, '')} ${bytes} bytes of HTML`);
}

async function main() {
  dropMail();
  const certificate = new crypto.X509Certificate(fs.readFileSync(process.env.CONSOLE_CERT));
  const fingerprint = certificate.fingerprint256;
  const spki = crypto.createHash('sha256')
    .update(certificate.publicKey.export({ type: 'spki', format: 'der' })).digest('base64');
  check('the start-up line gives the certificate\'s SHA-256 fingerprint',
        process.env.CONSOLE_LINE.includes(`certificate SHA-256 ${fingerprint},`),
        process.env.CONSOLE_LINE);
  check('the sorter holds the e-mails in the Buffer (monitoring on)',
        await until(() => fs.existsSync(path.join(box('ann', 'Buffer'), 'spring-trip.eml')) &&
                          fs.existsSync(path.join(box('ann', 'Buffer'), 'prank.eml')) &&
                          fs.existsSync(path.join(box('cy', 'Buffer'), 'tease2.eml')) &&
                          fs.existsSync(path.join(box('bob', 'Buffer'), 'chain.eml')) &&
                          fs.existsSync(path.join(store, 'Error', 'lost.eml')) &&
                          fs.readdirSync(box('dan', 'Buffer')).filter((f) => f.endsWith('.eml'))
                            .length === 50, 30));

  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'console-e2e-profile-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           `--ignore-certificate-errors-spki-list=${spki}`],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1200, height: 800 });
    const dialogs = [];
    page.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });

    await page.goto(url + '/buffer');
    check('a page without a session leads to the login', page.url().endsWith('/login'));
    await page.type('input[name=token]', 'not-the-token');
    await Promise.all([page.waitForNavigation(), page.click('button')]);
    check('a wrong token is refused',
          (await page.content()).includes('not the console'));

    await page.type('input[name=token]', token);
    await Promise.all([page.waitForNavigation(), page.click('button')]);
    check('before the first account the token opens the overview',
          (await page.content()).includes('Delivery running'), page.url());

    execFileSync(process.env.CORVANE, ['console-user', 'add', teacher, '--users-file',
                                       process.env.CONSOLE_USERS], { input: password + '\n' });
    await Promise.all([page.waitForNavigation(), page.click('form.logout button')]);
    check('with an account the login asks for name and password, not the token',
          (await page.$('input[name=name]')) !== null && (await page.$('input[name=token]')) === null);
    await shot(page, 'login');
    await page.type('input[name=name]', teacher);
    await page.type('input[name=password]', 'not the password');
    await Promise.all([page.waitForNavigation(), page.click('button')]);
    check('a wrong password is refused', (await page.content()).includes('Wrong name or password'));
    await page.type('input[name=name]', teacher);
    await page.type('input[name=password]', password);
    const started = Date.now();
    const [answer] = await Promise.all([page.waitForNavigation(), page.click('button')]);
    console.log(`login took ${Date.now() - started} ms`);
    const overview = await page.content();
    check('the teacher\'s name and password open the overview', overview.includes('Delivery running'),
          page.url());
    const cookies = await browser.cookies();
    check('the session cookie is HttpOnly, SameSite=Strict and Secure',
          cookies.length === 1 && cookies[0].httpOnly && cookies[0].sameSite === 'Strict' &&
          cookies[0].secure, JSON.stringify(cookies));
    const headers = answer.headers();
    check('pages are no-store and send no referrer',
          headers['cache-control'] === 'no-store' && headers['referrer-policy'] === 'no-referrer',
          JSON.stringify(headers));
    await shot(page, 'overview');

    await page.goto(url + '/mailboxes');
    await shot(page, 'mailboxes');

    await page.goto(url + '/buffer');
    const buffer = await page.content();
    check('the buffered e-mail is shown', buffer.includes('Spring trip to the coast') &&
          buffer.includes('Bring a packed lunch'));
    const subject = await page.$$eval('table.headers td', (cells) => cells.map((c) => c.textContent));
    check('a hostile subject shows as text',
          subject.includes('<script>window.pwned=1</script><b>bold?</b>'));
    await sleep(300);
    check('nothing from an e-mail ran', (await page.evaluate(() => window.pwned)) === undefined &&
          dialogs.length === 0);
    const picture = await page.$eval('img.pic', (img) => img.complete && img.naturalWidth);
    check('the picture is shown as an image', picture === 96, String(picture));
    const place = await page.$$eval('div.tb', (all) => {
      const d = all.find((x) => x.textContent === 'Dear Ann,');
      const s = getComputedStyle(d);
      return `${s.left} ${s.top} ${s.fontWeight} ${s.color}`;
    });
    check('the text box sits at its place in its font and colour',
          place === '16px 13px 700 rgb(33, 64, 107)', place);
    check('55 e-mails make two pages of the Buffer, every mailbox counted',
          buffer.includes('Page 1 of 2') && buffer.includes('rel="next"') &&
          /<td>55<\/td>/.test(buffer), buffer.match(/<table class="counts".*?<\/table>/s)?.[0]);
    await shot(page, 'buffer', 2000);

    const release = await page.$('form[action="/buffer/release"]:has(input[value="spring-trip.eml"]) button');
    await Promise.all([page.waitForNavigation(), release.click()]);
    check('Release reports the release',
          (await page.content()).includes('Released "spring-trip.eml" into the Inbox of ann'));
    check('the released e-mail is in the Inbox on disk',
          fs.existsSync(path.join(box('ann', 'Inbox'), 'spring-trip.eml')) &&
          !fs.existsSync(path.join(box('ann', 'Buffer'), 'spring-trip.eml')));
    const stamp = fs.readFileSync(path.join(box('ann', 'Inbox'), 'timeStamp.dat'));
    check('the Inbox got a delivery stamp', stamp.length === 8 && stamp.readDoubleLE(0) > 46000);

    // The same name again: the Inbox file must stay as it is.
    fs.writeFileSync(path.join(box('ann', 'Inbox'), 'prank.eml'), 'already here');
    const again = await page.$('form[action="/buffer/release"]:has(input[value="prank.eml"]) button');
    await Promise.all([page.waitForNavigation(), again.click()]);
    check('a release onto an existing name replaces nothing',
          (await page.content()).includes('nothing was replaced') &&
          fs.readFileSync(path.join(box('ann', 'Inbox'), 'prank.eml'), 'latin1') === 'already here');

    // The notice of a rejection travels as mail: with monitoring off it reaches the Inbox.
    await page.goto(url + '/');
    await Promise.all([page.waitForNavigation(), page.click('form[action="/monitoring"] button')]);
    check('monitoring is switched off', (await page.content()).includes('Monitoring is off'));
    await page.goto(url + '/buffer');
    const note = 'Please keep to school topics.';
    await page.type('form[action="/buffer/reject"]:has(input[value="prank.eml"]) textarea', note);
    await Promise.all([page.waitForNavigation(),
                       page.click('form[action="/buffer/reject"]:has(input[value="prank.eml"]) button')]);
    check('Reject reports the rejection',
          (await page.content()).includes('Rejected "prank.eml" for ann'));
    const notice = path.join(box('pupil7', 'Inbox'), 'Not delivered - prank.eml');
    check('the round delivers the notice into the sender\'s Inbox',
          await until(() => fs.existsSync(notice), 30) &&
          !fs.existsSync(path.join(box('ann', 'Buffer'), 'prank.eml')));
    const dump = fs.existsSync(notice)
      ? execFileSync(process.env.CORVANE, ['dump-email', notice]).toString() : '';
    check('the notice is an e-mail from the teacher to the sender with the note',
          dump.includes(`emFrom: ${teacher}\r\n`) && dump.includes('emTo: pupil7\r\n') &&
          dump.includes('emSubject: Not delivered: <script>window.pwned=1</script><b>bold?</b>') &&
          dump.includes(`Value: ${note.slice(0, 10)}...`), dump);  // the dump cuts texts at 10

    await page.goto(url + '/buffer');
    await Promise.all([page.waitForNavigation(),
                       page.click('form[action="/buffer/discard"]:has(input[value="chain.eml"]) button')]);
    check('Discard removes the e-mail',
          (await page.content()).includes('Discarded "chain.eml" for bob') &&
          !fs.existsSync(path.join(box('bob', 'Buffer'), 'chain.eml')) &&
          !fs.existsSync(path.join(box('bob', 'Inbox'), 'chain.eml')));

    await page.goto(url + '/buffer?sender=pupil7');
    const listed = await page.$$eval('table.headers td', (cells) => cells.map((c) => c.textContent));
    check('the Buffer filtered by sender shows that sender\'s e-mails only',
          listed.includes('Ha ha') && listed.includes('Ho ho') &&
          !listed.includes('Spring trip to the coast'), JSON.stringify(listed));
    await shot(page, 'buffer-sender');
    await Promise.all([page.waitForNavigation(),
                       page.click('form[action="/buffer/release-all"] button')]);
    check('Release all for one sender releases each of them into its Inbox',
          (await page.content()).includes('Released 2 e-mail(s) from "pupil7" into their Inboxes') &&
          fs.existsSync(path.join(box('bob', 'Inbox'), 'tease1.eml')) &&
          fs.existsSync(path.join(box('cy', 'Inbox'), 'tease2.eml')));

    await page.goto(url + '/errors');
    const errors = await page.content();
    check('the error folder shows each file with its log entry',
          errors.includes('non-existant recipient!  From: bob; To: nobody') &&
          errors.includes('damaged.eml'));
    await page.$$eval('details', (all) => all.forEach((d) => { d.open = true; }));
    await shot(page, 'errors');

    await page.goto(url + '/lessons');
    const csv = path.join(profile, 'week1.csv');
    fs.writeFileSync(csv, '1,Mr Okafor,Welcome,Read the rules\r\n2,Ann,Question,Where is room 4?\r\n' +
                          '2,Bob,Question,Is lunch at noon?\r\n');
    const input = await page.$('form[action="/lessons/import"] input[type=file]');
    await input.uploadFile(csv);
    await Promise.all([page.waitForNavigation(),
                       page.click('form[action="/lessons/import"] button')]);
    const lessons = await page.content();
    check('a CSV import shows the answer and the lesson',
          lessons.includes('answered <b>True</b>') && lessons.includes('Where is room 4?'));
    await shot(page, 'lessons');

    await page.goto(url + '/log');
    const log = await page.content();
    check('the log names the teacher in the console\'s own entries',
          log.includes(`Store console (${teacher}, 127.0.0.1): released ` +
                       '"spring-trip.eml" from the Buffer of "ann"') &&
          log.includes(`Store console (${teacher}, 127.0.0.1): discarded "chain.eml" from ` +
                       '"cy" in the Buffer of "bob"'));
    await shot(page, 'log');

    await page.goto(url + '/');
    await shot(page, 'overview');
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

try {
  await main();
} catch (e) {
  check('the browser run', false, e.stack || String(e));
}
console.log(`console e2e: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
