// The browser till of examples/web-till in headless Chromium, served from another origin than
// the service's: one row per behaviour, each against a service of its own.
//   node web_till_test.mjs <Tillvane_se> <examples/web-till/index.html>
import {existsSync, mkdtempSync, readdirSync, readFileSync, rmSync} from 'node:fs';
import {createServer} from 'node:http';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {freePort, kSkipExitCode, startService} from '../support/service_process.mjs';

const kChromium = '/usr/bin/chromium';
const kChromiumFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const kAnswerTimeoutMs = 30000;
const kToken = 'web-till-token-0123456789';

// The oldest Node.js that the locked playwright-core runs on (Debian 12's own is older).
const kMinNodeMajor = 20;

const [program, page] = process.argv.slice(2);
if (Number(process.versions.node.split('.')[0]) < kMinNodeMajor) {
  console.log(`SKIP: playwright-core needs Node.js ${kMinNodeMajor} or later, this is ${process.version}`);
  process.exit(kSkipExitCode);
}
let chromium;
try {
  ({chromium} = await import('playwright-core'));
} catch {
  console.log('SKIP: the test tools are not installed (scripts/setup.sh --tests runs npm ci in tests/)');
  process.exit(kSkipExitCode);
}
if (!existsSync(kChromium)) {
  console.log(`SKIP: ${kChromium} is not installed`);
  process.exit(kSkipExitCode);
}

// The page from a port of its own: another origin than the service's.
const pageServer = createServer((request, response) => {
  response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
  response.end(readFileSync(page));
});
const pagePort = await freePort();
await new Promise((resolve) => pageServer.listen(pagePort, '127.0.0.1', resolve));
const pageOrigin = `http://127.0.0.1:${pagePort}`;

// Each row: the service's settings beyond the page's origin, what the till types, how the
// network treats the page's calls (`route`), and what the page and the printer's folder show.
const rows = [
  {name: 'sale without a token', settings: [`allowedOrigins=${pageOrigin}`],
   price: '2.50', shown: 'OK: receipt printed', receipts: 1},
  {name: 'answer lost on the way: retried once with the same key', settings: [`allowedOrigins=${pageOrigin}`],
   price: '2.50', route: 'loseFirstAnswer', shown: 'OK: receipt printed', receipts: 1, sameKeyTwice: true},
  {name: 'sale the service refuses', settings: [`allowedOrigins=${pageOrigin}`],
   price: '2,50', shown: 'Error (HTTP 200): ERR|', receipts: 0},
  {name: 'origin not in allowedOrigins', settings: [],
   price: '2.50', shown: 'Error: could not reach the service', receipts: 0},
  {name: 'sale with a token', settings: [`allowedOrigins=${pageOrigin}`, `apiTokens=till-01:${kToken}`],
   token: kToken, price: '2.50', shown: 'OK: receipt printed', receipts: 1},
];

const profile = mkdtempSync(join(tmpdir(), 'tillvane-chromium-'));
const browser = await chromium.launchPersistentContext(profile, {
  executablePath: kChromium, headless: true, args: kChromiumFlags});
let failures = 0;
try {
  for (const row of rows) {
    const service = await startService(program, row.settings);
    const tab = await browser.newPage();
    const keys = [];
    try {
      await tab.route('**/REGCMD', async (route) => {
        keys.push(new URLSearchParams(route.request().postData()).get('REQUESTID'));
        if (row.route === 'loseFirstAnswer' && keys.length === 1) {
          await route.fetch();          // the service runs the sale...
          await route.abort('failed');  // ...and its answer never reaches the page
        } else {
          await route.continue();
        }
      });
      await tab.goto(`${pageOrigin}/index.html`);
      await tab.fill('#service', `http://127.0.0.1:${service.port}`);
      await tab.fill('#token', row.token ?? '');
      await tab.fill('#price', row.price);
      await tab.click('#sell');
      await tab.waitForFunction(() => ['ok', 'error'].includes(document.getElementById('result').dataset.state),
                                null, {timeout: kAnswerTimeoutMs});
      const shown = await tab.textContent('#result');
      const receipts = readdirSync(service.receipts).filter((file) => file.endsWith('.txt'));
      const errors = [];
      if (!shown.startsWith(row.shown)) errors.push(`shows [${shown}], not [${row.shown}...]`);
      if (receipts.length !== row.receipts) errors.push(`${receipts.length} receipts, not ${row.receipts}`);
      if (!/^web-[0-9a-f]{32}$/.test(keys[0] ?? '')) errors.push(`key [${keys[0]}]`);
      if (row.sameKeyTwice && (keys.length !== 2 || keys[0] !== keys[1])) errors.push(`keys sent: ${keys}`);
      failures += errors.length ? 1 : 0;
      console.log(errors.length ? `FAIL ${row.name}\n  ${errors.join('\n  ')}` : `ok   ${row.name}`);
    } finally {
      await tab.close();
      await service.stop();
      rmSync(service.dir, {recursive: true, force: true});
    }
  }
} finally {
  await browser.close();
  pageServer.close();
  rmSync(profile, {recursive: true, force: true});
}
process.exit(failures ? 1 : 0);
