// pcscd killed (SIGKILL, as a crash) under each host, ruzazuv-cli and the bridge: while the
// page is idle, while FiscListAccounts is between two records, and while a transfer's
// pull-plug countdown polls the reader. The interrupted call and every later call answer with a
// PC/SC result (none hangs, the host keeps running), and once pcscd is back ConnectReader and
// ConnectCard work again in the same process.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  SITE, READER0, bridgeHost, card0, cliPage, isPcscError, note, openSession, pcsc, pcscd, pcscdRunning,
  prepareTransfer, sleep, waitFor,
} from './lib/stack_page.mjs';

const DEFAULT_ACCOUNTS = ['0081234567890101', '0081234567890102'];

let bridge;
const hosts = {
  cli: () => cliPage(['--site-address', SITE, '--page-address', `${SITE}transfer.html`, '--ui', 'scripted:ok']),
  bridge: async () => {
    bridge ??= await bridgeHost(['--ui', 'scripted:ok']);
    return bridge.page();
  },
};
after(async () => {
  if (bridge) assert.deepEqual(await bridge.bridge.stop(), { code: 0, signal: null }, bridge.bridge.log);
});

// Each fault kills pcscd at its moment and returns what the interrupted call gave the page.
const faults = {
  async idle() {
    await pcscd('kill');
    return {};
  },
  async 'FiscListAccounts between two records'(page) {
    await card0().command('delay 300');
    const before = await card0().count('00B2');
    const call = page.call('FiscListAccounts');
    await waitFor(async () => (await card0().count('00B2')) >= before + 3, 'the third record read');
    await pcscd('kill');
    const seen = { FiscListAccounts: await call };
    await card0().command('delay 0');
    assert.ok(isPcscError(seen.FiscListAccounts), `FiscListAccounts gave ${seen.FiscListAccounts}`);
    // Records read before the failure keep their values; the later ones were never read.
    assert.equal(await page.get('issueNo'), '0123');
    assert.equal(await page.get('account7'), '');
    return seen;
  },
  async 'a transfer during its countdown'(page) {
    await prepareTransfer(page);
    const reads = await card0().count('00B20A');
    const call = page.call('FiscCardTransfer');
    // The account list is read again just before the countdown opens.
    await waitFor(async () => (await card0().count('00B20A')) > reads, 'the transfer to read the accounts');
    await sleep(1000);
    await pcscd('kill');
    const seen = { FiscCardTransfer: await call, uiSW12: await page.get('uiSW12') };
    assert.equal(seen.FiscCardTransfer, -1001);
    assert.equal(seen.uiSW12, 2001, 'a failed status query ends the countdown with 2001');
    assert.equal(await page.get('TAC'), '');
    return seen;
  },
};

// While pcscd is away every call answers with a PC/SC result; in this order ConnectCard first
// lets go of the handle it holds.
const whileAway = ['GetCardStatus', 'FiscListAccounts', 'ConnectCard', 'DisConnectCard', 'ListReaders', 'ConnectReader'];

for (const [hostName, open] of Object.entries(hosts)) {
  for (const [faultName, fault] of Object.entries(faults)) {
    test(`${hostName}: pcscd killed, ${faultName}`, async () => {
      const page = await open();
      try {
        assert.deepEqual(await openSession(page), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
        const seen = await fault(page);
        for (const name of whileAway) {
          seen[name] = await page.call(name);
          assert.ok(isPcscError(seen[name]), `${name} without pcscd gave ${seen[name]}`);
        }
        await pcscd('start');
        // The context made before the restart stays dead; a new one works.
        seen.staleContext = await page.call('GetCardStatus');
        assert.ok(isPcscError(seen.staleContext), `GetCardStatus on the old context gave ${seen.staleContext}`);
        seen.ListReadersStale = await page.call('ListReaders');
        assert.equal(seen.ListReadersStale, pcsc.NO_SERVICE);
        assert.deepEqual(await openSession(page, READER0), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
        assert.equal(await page.call('FiscListAccounts'), 0);
        assert.deepEqual([await page.get('account0'), await page.get('account1')], DEFAULT_ACCOUNTS);
        assert.equal(await page.call('DisConnectCard'), 0);
        assert.equal(await page.call('DisConnectReader'), 0);
        assert.ok(page.alive(), `${hostName} still running`);
        note(`${hostName}, pcscd killed, ${faultName}`, seen);
      } finally {
        if (!(await pcscdRunning())) await pcscd('start');
        await card0().command('delay 0');
        await page.close();
      }
    });
  }
}
