// The demo bank page in Chromium against ruzazuv-bridge with the Qt dialogs on an X display
// (Xvfb): the countdown shows while the card simulator pulls its card out and puts it back,
// then the real OK button of the confirmation is clicked with xdotool where the view placed it.
// Screenshots of both dialogs on the screen are kept in RUZAZUV_SCREENSHOT_DIR.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import {
  binDir, checkTransfer, fillTransfer, launchBrowser, openDemo, prepareSession, profile,
  pullAndReinsertDuringTransfer, runStep, saveScreen, startBridge, startXvfb, xdotool,
} from './lib.mjs';

const screenshots = path.resolve(process.env.RUZAZUV_SCREENSHOT_DIR ?? path.join(binDir, '..', 'screenshots'));
let xvfb;
let bridge;
let browser;

before(async () => {
  xvfb = await startXvfb();
  bridge = await startBridge({
    ui: 'qt',
    env: { DISPLAY: xvfb.display, QT_QPA_PLATFORM: 'xcb', RUZAZUV_VIEW_DEBUG: '1' },
  });
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await bridge?.stop();
  await xvfb?.stop();
});

// Polls the screen until `seen` holds for it (the window has been drawn), then keeps it.
async function screenshotWhen(file, seen, what) {
  let last;
  for (let i = 0; i < 100; i++) {
    last = saveScreen(xvfb.screenFile, file);
    if (seen(last)) return last;
    await new Promise((r) => setTimeout(r, 100));
  }
  assert.fail(`the screen never showed ${what} (${file})`);
  return last;
}

const isRed = ([r, g, b]) => r === 240 && g === 0 && b === 0;

test('the real OK button of the Qt confirmation is clicked on the screen', async (t) => {
  const { page } = browser;
  await openDemo(page, bridge.url);
  await prepareSession(t, assert, page);
  await fillTransfer(page);
  await pullAndReinsertDuringTransfer();

  const from = bridge.log.count;
  const transfer = runStep(page, 'transfer', 'transfer', 60000);

  // The countdown: red text on the screen where the view put the window.
  const [, cx, cy, cw, ch] = await bridge.log.wait(
    /ruzazuv-view: dialog 113 open at screen (\d+),(\d+) (\d+)x(\d+)/, 'the countdown', { from });
  const area = { x: Number(cx), y: Number(cy), w: Number(cw), h: Number(ch) };
  await screenshotWhen(path.join(screenshots, 'browser_qt_countdown.png'), (shot) => {
    for (let y = area.y; y < area.y + area.h; y++)
      for (let x = area.x; x < area.x + area.w; x++) if (isRed(shot.pixel(x, y))) return true;
    return false;
  }, 'the countdown text');
  await bridge.log.wait(/ruzazuv-view: dialog 113 closed with 2000/, 'the countdown passed', { from });

  // The confirmation: the OK button's centre on the screen, as the view placed it.
  const [, dx, dy] = await bridge.log.wait(
    /ruzazuv-view: dialog 103 open at screen (\d+),(\d+)/, 'the confirmation', { from });
  const [, okX, okY] = await bridge.log.wait(
    /ruzazuv-view: dialog 103 control 1 client \S+ \S+ centre-screen (\d+),(\d+) enabled/, 'the OK button', { from });
  // Moves over the dialog's background make the OK caption come and go.
  for (let i = 0; i < 6; i++) await xdotool(xvfb.display, 'mousemove', String(Number(dx) + 4 + i), String(Number(dy) + 4));
  const dialogShot = await screenshotWhen(path.join(screenshots, 'browser_qt_confirm.png'),
    (shot) => shot.pixel(Number(dx) + 2, Number(dy) + 2).some((v) => v !== 0), 'the confirmation');
  assert.ok(dialogShot.width >= 1280);

  await xdotool(xvfb.display, 'mousemove', okX, okY, 'click', '1');
  await checkTransfer(assert, page, await transfer);
  await bridge.log.wait(/ruzazuv-view: dialog 103 closed with 1/, 'the confirmation by OK', { from });
  assert.ok(!bridge.log.all.includes(`${profile.pin}FFFF`), 'no PIN block in the log');
});
