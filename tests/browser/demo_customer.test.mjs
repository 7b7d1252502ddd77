// The demo bank page walked as a customer would, against ruzazuv-bridge on the real pcscd stack:
// what the page shows at each step (its own refusals, the control's refusals in the customer's
// words with their code, the transport used), the transfer form filled from a transfer-in
// account, a disconnection and a second connection; and no request of the page going unanswered.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import {
  badResponses, extensionDir, launchBrowser, nativeHost, openDemo, pageLog, profile, runStep, startBridge, swapCard,
} from './lib.mjs';
import { readerReleased } from '../integration/lib/stack_page.mjs';
import { splitTransferIn } from '../../web/demo/transfer_in.js';

let bridge;
let browser;

before(async () => {
  bridge = await startBridge({ ui: 'scripted:ok' });
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await bridge?.stop();
});

const text = (page, selector) => page.locator(selector).innerText();
const enabled = (page, ids) => Promise.all(ids.map((id) => page.locator(`#${id}`).isEnabled()));
const CARD_BUTTONS = ['read-accounts', 'read-import-accounts', 'verify-pin', 'inquiry', 'transfer', 'disconnect-card'];

// Clicks each step's button in turn and checks the result the customer reads.
async function walk(page, steps) {
  for (const [button, step, state, shown] of steps) {
    const r = await runStep(page, button, step);
    assert.equal(r.state, state, `${button}: ${r.text}\n${await pageLog(page)}`);
    assert.match(r.text, shown, button);
  }
}

// The same page in a browser with the extension: it prefers the extension's host and says so.
test('the demo page works over the extension', async () => {
  const site = new URL(bridge.url).origin;
  const host = nativeHost({ args: ['--pcsc', 'system', '--ui', 'scripted:ok', '--site-address', `${site}/`, '--allow-origin', site] });
  const withExtension = await launchBrowser({ extension: extensionDir, nativeHosts: [host.manifest] });
  try {
    const { page } = withExtension;
    await openDemo(page, bridge.url);
    assert.equal(await page.locator('#bridge').getAttribute('data-transport'), 'extension');
    assert.match(await text(page, '#bridge-text'), /through the browser extension/);
    await walk(page, [['list-readers', 'readers', 'ok', /^\d readers? found\./]]);
    await page.selectOption('#reader', process.env.RUZAZUV_READER0);
    await walk(page, [
      ['connect-card', 'readers', 'ok', /^Card connected in /],
      ['read-accounts', 'accounts', 'ok', /^8 accounts read/],
    ]);
    assert.deepEqual(await page.locator('#accounts li').allTextContents(), profile.accounts);
    assert.equal(host.pids().length, 1, 'one host served the page');
  } finally {
    await withExtension.close();
    host.remove();
  }
  // The host ends with its page and lets go of the card for the bridge's customer below.
  await readerReleased(process.env.RUZAZUV_READER0);
});

test('a customer lists readers, connects, verifies the PIN, inquires and disconnects', async () => {
  const { page } = browser;
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const bad = badResponses(page);
  await openDemo(page, bridge.url);
  // Without the extension in this browser, the page reaches the bridge by its WebSocket.
  assert.equal(await page.locator('#bridge').getAttribute('data-transport'), 'websocket');
  assert.match(await text(page, '#bridge-text'), /through the WebSocket on port 47950/);
  assert.deepEqual(bad, [], 'every request of the page load is answered');
  // Headless Chromium asks for no icon, where a browser on the desktop asks /favicon.ico of any
  // page that names none: the page names one, and it is there.
  const icon = await page.evaluate(() => document.querySelector('link[rel~="icon"]')?.href ?? null);
  assert.ok(icon, 'the page names its icon');
  if (!icon.startsWith('data:')) assert.equal((await fetch(icon)).status, 200, icon);

  await walk(page, [['list-readers', 'readers', 'ok', /^\d readers? found\. Choose yours and connect the card\.$/]]);
  await page.selectOption('#reader', process.env.RUZAZUV_READER0);
  await walk(page, [
    ['connect-card', 'readers', 'ok', /^Card connected in .+\. Read your accounts in step 2\.$/],
    ['read-accounts', 'accounts', 'ok', /^8 accounts read\. Choose the account to use\.$/],
    ['read-import-accounts', 'accounts', 'ok', /^8 transfer-in accounts read\. Pick one/],
  ]);

  // A transfer-in account fills both fields of the form, bank code and whole account.
  const entry = profile.importAccounts[4];
  await page.locator('#import-accounts li', { hasText: entry }).click();
  const { bank, account } = splitTransferIn(entry);
  assert.deepEqual([await page.inputValue('#accept-no'), await page.inputValue('#import-account')], [bank, account]);
  assert.match(await text(page, '#result-accounts'), new RegExp(`^Transfer to ${bank}/${account} filled in step 5\\.$`));

  // Before any PIN the control refuses the inquiry; the customer reads what to do, and the code.
  await page.selectOption('#account', '3');
  await walk(page, [['inquiry', 'inquiry', 'fail', /^Verify your PIN first, step 3\. \(code 1018\)$/]]);

  // The page's own rule for the PIN is the control's: 6 to 12 digits, told before any try.
  assert.match(await text(page, '#pin-hint'), /6 to 12 digits/);
  for (const wrongForm of ['12345', '12345a']) {
    const calls = await page.locator('#log li').count();
    await page.fill('#pin', wrongForm);
    await walk(page, [['verify-pin', 'pin', 'error', /^Your PIN has 6 to 12 digits, nothing else\. Type it again\.$/]]);
    assert.equal(await page.inputValue('#pin'), '', 'the refused PIN leaves the field');
    assert.doesNotMatch(await pageLog(page), /VerifyPIN/, `${wrongForm} never reaches the card`);
    assert.equal(await page.locator('#log li').count(), calls + 1, 'only the page refusal is logged');
  }
  await page.fill('#pin', profile.pin);
  await walk(page, [
    ['verify-pin', 'pin', 'ok', /^PIN accepted\. Run the balance inquiry in step 4/],
    ['inquiry', 'inquiry', 'ok', new RegExp(`^Balance inquiry of account ${profile.accounts[2]} signed by the card\\.$`)],
  ]);

  await walk(page, [['disconnect-card', 'readers', 'ok', /^Card disconnected\. Connect it again in step 1/]]);
  assert.equal(await text(page, '#atr'), 'disconnected');
  assert.deepEqual(await enabled(page, CARD_BUTTONS), CARD_BUTTONS.map(() => false), 'no card step without a card');
  assert.equal(await page.locator('#accounts li').count(), 0, 'nothing read from the card stays shown');
  assert.equal(await text(page, '#transfer-from'), 'choose an account in step 2');
  assert.ok(await page.locator('#connect-card').isEnabled());

  // Connecting again gives the card back, its accounts readable as before.
  await walk(page, [
    ['connect-card', 'readers', 'ok', /^Card connected in /],
    ['read-accounts', 'accounts', 'ok', /^8 accounts read/],
  ]);
  assert.deepEqual(await page.locator('#accounts li').allTextContents(), profile.accounts);
  assert.match(await text(page, '#atr'), new RegExp(profile.atr));

  // Another card, with transfer-in entries of every length: one too short for a bank code and a
  // whole account fills nothing and says so; one of 24 digits fills both from their places.
  await walk(page, [['disconnect-card', 'readers', 'ok', /^Card disconnected\./]]);
  await swapCard('ragged-records.json');
  await walk(page, [
    ['connect-card', 'readers', 'ok', /^Card connected in /],
    ['read-import-accounts', 'accounts', 'ok', /^8 transfer-in accounts read/],
  ]);
  const form = async () => [await page.inputValue('#accept-no'), await page.inputValue('#import-account')];
  for (const [shortEntry, longEntry] of [['8120000000000003', '812000000000000000000002'], ['8120000000006', '812000000000000000000007']]) {
    const before = await form();
    await page.locator('#import-accounts li', { hasText: new RegExp(`^${shortEntry}$`) }).click();
    assert.match(await text(page, '#result-accounts'), new RegExp(`^The transfer-in entry ${shortEntry} holds no whole 16-digit account\.`));
    assert.deepEqual(await form(), before, `${shortEntry} fills nothing`);
    await page.locator('#import-accounts li', { hasText: longEntry }).click();
    assert.deepEqual(await form(), ['812', longEntry.slice(-16)]);
  }
  assert.deepEqual(bad, []);
  assert.deepEqual(errors, []);
});
