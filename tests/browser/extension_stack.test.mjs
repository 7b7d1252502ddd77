// Pages in Chromium reaching the control through the unpacked extension and ruzazuv-nmhost (its
// manifest in the test profile), on the real pcscd stack with two simulated cards: a whole
// session over the extension answered exactly as over the WebSocket bridge, a page of an origin
// not allowed left without a control, a frame of another origin posting into an allowed page
// ignored, two origins' PIN blocks kept apart, and a host killed in the middle of a call.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { startBridge } from '../../web/testing/bridge_process.mjs';
import { readerReleased } from '../integration/lib/stack_page.mjs';
import {
  EXTENSION_ID, cardsim, extensionDir, fullSession, launchBrowser, nativeHost, pageControl, profile,
  pullAndReinsertDuringTransfer, servePage,
} from './lib.mjs';

const reader0 = process.env.RUZAZUV_READER0;
const reader1 = process.env.RUZAZUV_READER1;

let bank; // allowed
let other; // allowed, a second origin
let stranger; // not allowed
let host;
let bridge;
let browser;

before(async () => {
  [bank, other, stranger] = await Promise.all([servePage(), servePage(), servePage()]);
  const allowed = [bank, other].flatMap((p) => ['--allow-origin', p.origin]);
  // Both approve the pages of 127.0.0.1 (the site address is a prefix of the page address).
  const serving = ['--ui', 'scripted:ok,ok,ok', '--site-address', 'http://127.0.0.1:', ...allowed];
  host = nativeHost({ args: ['--pcsc', 'system', ...serving] });
  bridge = await startBridge(serving, { pcsc: 'system' });
  browser = await launchBrowser({ extension: extensionDir, nativeHosts: [host.manifest] });
  // The host manifest admits the extension by this id only.
  assert.equal(new URL(browser.worker.url()).host, EXTENSION_ID, 'the extension has its fixed id');
});

after(async () => {
  await browser?.close();
  const end = await bridge?.stop();
  for (const p of [bank, other, stranger]) await p?.close();
  host?.remove();
  assert.deepEqual(end, { code: 0, signal: null }, 'the bridge stops cleanly');
});

// A new tab of `site` for test `t`, its control connected over `transport` (none: not yet).
// The tab closes when the test ends, however it ends, and the next test waits until the readers
// are free again (the tab's host ends with it, and pcscd lets go of its cards).
const tabsOf = new WeakMap(); // test -> its open tabs
async function openTab(t, site, transport) {
  const page = await browser.context.newPage();
  if (!tabsOf.has(t)) tabsOf.set(t, new Set());
  const tabs = tabsOf.get(t).add(page);
  t.after(async () => {
    await page.close();
    tabs.delete(page);
    if (tabs.size === 0) await Promise.all([readerReleased(reader0), readerReleased(reader1)]);
  });
  page.on('pageerror', (e) => console.log(`page error on ${site.origin}: ${e.message}`));
  await page.goto(site.url);
  const ctl = pageControl(page);
  if (!transport) return ctl;
  await ctl.open(transport === 'websocket' ? { transport, port: bridge.port } : { transport });
  return ctl;
}

describe('the extension', () => {
  test('a whole session over the extension is answered as over the bridge', async (t) => {
    const answers = {};
    for (const transport of ['extension', 'websocket']) {
      answers[transport] = await fullSession(await openTab(t, bank, transport), { reader: reader0 });
    }
    const ext = answers.extension;
    // Both transports could be wrong alike: the session itself must have worked.
    for (const step of ['ConnectReader', 'ListReaders', 'ConnectCard', 'FiscListAccounts', 'FiscListImportAccounts',
      'VerifyPIN', 'FiscCardInquiry', 'FiscCardTransfer', 'DisConnectCard', 'DisConnectReader']) {
      assert.equal(ext[step], 0, `${step}: ${JSON.stringify(ext)}`);
    }
    for (const step of ['accounts', 'importAccounts', 'pin', 'inquiry', 'transfer']) assert.equal(ext[step].uiSW12, 0x9000, step);
    assert.equal(ext.card.isPullPlugReader, 'True', 'the transfer went through a pulled and reinserted card');
    assert.deepEqual(profile.accounts.map((_, i) => ext.accounts[`account${i}`]), profile.accounts);
    assert.equal(ext.transfer.PCode, '2521');
    // The card's answers, its TACs included, repeat for the same transaction.
    assert.deepEqual(ext, answers.websocket);
    assert.ok(!host.log().includes(`${profile.pin}FFFF`), 'no PIN block in the host log');
  });

  test('a page of an origin not allowed gets no control', async (t) => {
    const ctl = await openTab(t, stranger);
    await assert.rejects(ctl.open({ transport: 'extension' }), (e) => {
      assert.deepEqual([e.page?.name, e.page?.reason], ['ConnectionError', 'refused'], e.message);
      assert.match(e.page.message, /origin/, e.message);
      return true;
    });
  });

  test('a frame of another origin inside an allowed page reaches nothing through it', async (t) => {
    const ctl = await openTab(t, bank);
    const { page } = ctl;
    // The top page keeps every message the extension posts to it.
    await page.evaluate(() => {
      window.fromExtension = [];
      window.addEventListener('message', (e) => {
        if (e.data?.channel === 'ruzazuv-extension') window.fromExtension.push(e.data);
      });
    });
    await page.evaluate((url) => new Promise((resolve) => {
      const frame = Object.assign(document.createElement('iframe'), { src: url });
      frame.addEventListener('load', resolve);
      document.body.append(frame);
    }), stranger.url);
    const hosts = host.pids().length;
    const frame = page.frames().find((f) => f.url().startsWith(stranger.origin));
    // Messages of the page's exact shape, but from the frame's window, posted into the top page.
    await frame.evaluate(() => {
      for (const [kind, id] of [['probe', 701], ['hello', 702]]) parent.postMessage({ channel: 'ruzazuv-page', kind, id }, '*');
      parent.postMessage({ channel: 'ruzazuv-page', kind: 'request', id: 703, request: '{"jsonrpc":"2.0","id":1,"method":"describe"}' }, '*');
    });
    // The top page's own probe is answered, so anything for the frame's would have come by then.
    await page.evaluate(() => window.postMessage({ channel: 'ruzazuv-page', kind: 'probe', id: 704 }, location.origin));
    await page.waitForFunction(() => window.fromExtension.some((m) => m.id === 704));
    await new Promise((r) => setTimeout(r, 1000));
    assert.deepEqual(await page.evaluate(() => window.fromExtension.map((m) => [m.kind, m.id])), [['probe', 704]]);
    assert.equal(host.pids().length, hosts, 'no host was started for the frame');
  });

  test('two origins keep separate PIN blocks', async (t) => {
    const a = await openTab(t, bank, 'extension');
    const b = await openTab(t, other, 'extension');
    const seen = {};
    for (const [ctl, reader] of [[a, reader0], [b, reader1]]) {
      await ctl.call('ConnectReader');
      await ctl.put('baReaderName', reader);
      assert.equal(await ctl.call('ConnectCard'), 0, reader);
    }
    await a.put('baBuf', profile.pin.padEnd(16, 'F'));
    await a.put('bPq', 16);
    seen.aVerifyPIN = [await a.call('VerifyPIN'), await a.get('uiSW12')];
    // B's transfer finds no PIN of its own, A's verification does not count for it.
    const fields = {
      money: '150000', FdId: 'FD000002', FdChkCode: 'CHK00002', DateTime: '20261209090504', curAccntIndex: 1,
      ImprtAccnt: '8120000000000003', AcceptNo: '812', OptionData1: '',
    };
    for (const ctl of [a, b]) for (const [name, value] of Object.entries(fields)) await ctl.put(name, value);
    seen.bTransfer = [await b.call('FiscCardTransfer'), await b.get('uiSW12')];
    // A's own PIN block is still there for A's transfer.
    await pullAndReinsertDuringTransfer();
    seen.aTransfer = [await a.call('FiscCardTransfer'), await a.get('uiSW12')];
    assert.deepEqual(seen, { aVerifyPIN: [0, 0x9000], bTransfer: [-1001, 1018], aTransfer: [0, 0x9000] });
  });

  test('a host killed in the middle of a call rejects it, and the next call starts a new host', async (t) => {
    const ctl = await openTab(t, bank, 'extension');
    assert.equal(await ctl.call('ConnectReader'), 0);
    await ctl.put('baReaderName', reader0);
    assert.equal(await ctl.call('ConnectCard'), 0);
    const killed = host.pids().at(-1);
    // Each answer of the card now takes seconds: the listing is still running when the host goes.
    await cardsim('delay 3000');
    try {
      const listing = ctl.call('FiscListAccounts');
      await new Promise((r) => setTimeout(r, 1000));
      process.kill(killed, 'SIGKILL');
      await assert.rejects(listing, (e) => {
        assert.deepEqual([e.page?.name, e.page?.reason], ['ConnectionError', 'host-ended'], e.message);
        assert.match(e.page.message, /host/i, 'the rejection says the host ended');
        return true;
      });
    } finally {
      await cardsim('delay 0');
    }
    assert.equal(await ctl.call('ConnectReader'), 0, 'the next call is answered');
    const pids = host.pids();
    assert.notEqual(pids.at(-1), killed, `a new host answered (${pids})`);
    // pcscd lets go of the killed host's card a moment after it has gone; then the new host,
    // which carries nothing over, connects to it.
    await readerReleased(reader0);
    await ctl.put('baReaderName', reader0);
    assert.equal(await ctl.call('ConnectCard'), 0, 'the new host connects to the card');
  });
});
