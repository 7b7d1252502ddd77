// The demo bank page in Chromium against ruzazuv-bridge on the real pcscd stack, the dialogs
// answered by the scripted view: readers, card, accounts, PIN, an inquiry, and a transfer during
// whose countdown the card simulator pulls its card out and puts it back.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import {
  binDir, checkTransfer, fillTransfer, inquiry, launchBrowser, openDemo, prepareSession, profile,
  pullAndReinsertDuringTransfer, runStep, startBridge,
} from './lib.mjs';

const screenshots = path.resolve(process.env.RUZAZUV_SCREENSHOT_DIR ?? path.join(binDir, '..', 'screenshots'));
let bridge;
let browser;

before(async () => {
  bridge = await startBridge({ ui: 'scripted:ok' });
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  const end = await bridge?.stop();
  assert.equal(end?.code, 0, `the bridge stops cleanly on SIGTERM: ${JSON.stringify(end)}`);
});

test('a full session with a pulled and reinserted card', async (t) => {
  const { page } = browser;
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await openDemo(page, bridge.url);
  await prepareSession(t, assert, page);
  await inquiry(assert, page);

  await fillTransfer(page);
  assert.equal(await page.locator('#transfer-from').innerText(), profile.accounts[1]);
  await pullAndReinsertDuringTransfer();
  const from = bridge.log.count;
  const transfer = await runStep(page, 'transfer', 'transfer', 40000);
  await checkTransfer(assert, page, transfer);

  // The countdown closed on the reinsertion, then the confirmation took the scripted OK.
  await bridge.log.wait(/dialog 113 ended with 2000/, 'end of the countdown', { from });
  await bridge.log.wait(/dialog 103 ended with 1/, 'confirmed transfer', { from });
  assert.doesNotMatch(bridge.log.all, /message box/);
  assert.ok(!bridge.log.all.includes(`${profile.pin}FFFF`), 'no PIN block in the log');
  assert.deepEqual(errors, []);
  await page.screenshot({ path: path.join(screenshots, 'demo_page.png'), fullPage: true });
});

test('a transfer cancelled in the confirmation is refused with 1015', async () => {
  const { page } = browser;
  // The card check of the last transfer emptied the stored PIN: without a new verification the
  // control refuses before any window opens.
  const noPin = await runStep(page, 'transfer', 'transfer');
  assert.equal(noPin.ret, -1001, noPin.text);
  assert.equal(noPin.sw, 1018, noPin.text);

  await page.fill('#pin', profile.pin);
  assert.equal((await runStep(page, 'verify-pin', 'pin')).sw, 0x9000);
  // The scripted actions have run out, so the view presses Cancel; the card is pulled again.
  await pullAndReinsertDuringTransfer();
  const transfer = await runStep(page, 'transfer', 'transfer', 40000);
  assert.equal(transfer.ret, -1001, transfer.text);
  assert.equal(transfer.sw, 1015, transfer.text);
  assert.match(transfer.text, /^The transfer was not confirmed.* start the transfer again in step 5\. \(code 1015\)$/);
});
