// The card and the reader misbehaving under a page of the bridge on the real stack: the card
// pulled and put back, the page reloaded while it holds the card, the card swapped for the
// second profile between two commands of FiscListAccounts and of an inquiry, and last the
// card side of the reader gone for good while another reader's card appears. Each ends in
// defined results, no property holding the other card's data, and no handle left behind
// (a page of another origin connects afterwards).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import {
  BIN_DIR, READER0, READER1, SITE_ORIGIN, SOURCE_DIR, bridgeHost, card0, cardsim, isPcscError, note, openSession,
  readerState, stringProperties, waitFor,
} from './lib/stack_page.mjs';

const OTHER_ORIGIN = 'http://127.0.0.1:8123';
const profile = (name) => JSON.parse(readFileSync(join(SOURCE_DIR, 'sim', 'profiles', name), 'utf8'));
const first = profile('default.json');
const second = profile('second-card.json');
// What the second card could leave in a property; its issue number is short, so it is
// compared with issueNo alone.
const secondCardData = [second.icc, second.remark, ...second.accounts, ...second.importAccounts, ...second.tradeLog];

async function assertNothingOf(page, what) {
  const values = await stringProperties(page);
  for (const [name, value] of Object.entries(values)) {
    for (const data of secondCardData) assert.ok(!value.includes(data), `${what}: ${name} holds "${value}" of the second card`);
  }
  assert.notEqual(values.issueNo, second.issueNumber, `${what}: issueNo of the second card`);
  return values;
}

let host;
before(async () => {
  host = await bridgeHost(['--ui', 'scripted:ok', '--allow-origin', SITE_ORIGIN, '--allow-origin', OTHER_ORIGIN]);
});
after(async () => {
  assert.deepEqual(await host.bridge.stop(), { code: 0, signal: null }, host.bridge.log);
});

// A page of another origin (its own process state) gets the reader: nothing holds it.
async function readerIsFree(reader = READER0) {
  const other = await host.page(OTHER_ORIGIN);
  const connected = await openSession(other, reader);
  const released = await other.call('DisConnectCard');
  await other.close();
  assert.deepEqual({ ...connected, released }, { ConnectReader: 0, ListReaders: 0, ConnectCard: 0, released: 0 });
}

// Swaps the card in reader 0 at a command, runs `during`, waits for the second card, checks the
// stale connection reads nothing of it, then connects to it afresh and swaps the first back.
async function swappedDuring(script, during) {
  const page = await host.page();
  assert.deepEqual(await openSession(page), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
  await page.put('Pin', first.pin);
  await card0().command(`script ${script},swap:second-card.json`);
  const seen = await during(page);
  await waitFor(async () => (await card0().command('status')).includes('card=second-card'), 'the second card');
  await readerState(READER0, 'present');
  // The connection made to the first card must not reach the second.
  seen.staleFiscListAccounts = await page.call('FiscListAccounts');
  assert.ok(isPcscError(seen.staleFiscListAccounts), `FiscListAccounts on the old connection gave ${seen.staleFiscListAccounts}`);
  await assertNothingOf(page, 'after the stale call');
  seen.ConnectCard = await page.call('ConnectCard');
  assert.equal(seen.ConnectCard, 0, 'ConnectCard reaches the second card');
  assert.equal(await page.call('FiscListAccounts'), 0);
  assert.equal(await page.get('account0'), second.accounts[0], 'the second card is read once connected');
  assert.equal(await page.call('DisConnectCard'), 0);
  await page.close();
  await card0().command('swap default.json');
  await readerState(READER0, 'present');
  await readerIsFree();
  return seen;
}

const inquiryFields = async (page) => {
  for (const [name, value] of [['FdChkCode', 'CHK00001'], ['curAccntIndex', 1], ['OptionData1', 'page data']]) await page.put(name, value);
};

const cases = {
  async 'the card pulled and put back'() {
    const page = await host.page();
    assert.deepEqual(await openSession(page), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
    await card0().command('remove');
    await readerState(READER0, 'empty');
    const seen = { FiscListAccountsOut: await page.call('FiscListAccounts') };
    assert.ok(isPcscError(seen.FiscListAccountsOut));
    await card0().command('insert');
    await readerState(READER0, 'present');
    seen.ConnectCard = await page.call('ConnectCard');
    seen.FiscListAccounts = await page.call('FiscListAccounts');
    seen.DisConnectCard = await page.call('DisConnectCard');
    assert.deepEqual([seen.ConnectCard, seen.FiscListAccounts, seen.DisConnectCard], [0, 0, 0]);
    await page.close();
    await readerIsFree();
    return seen;
  },
  async 'the page reloaded while it holds the card'() {
    const before = await host.page();
    assert.deepEqual(await openSession(before), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
    await before.close();
    const reloaded = await host.page();
    const seen = await openSession(reloaded);
    assert.deepEqual(seen, { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
    seen.DisConnectCard = await reloaded.call('DisConnectCard');
    assert.equal(seen.DisConnectCard, 0);
    await reloaded.close();
    await readerIsFree();
    return seen;
  },
  'the card swapped between two records of FiscListAccounts': () =>
    swappedDuring('on-apdu:00B2#4', async (page) => {
      const seen = { FiscListAccounts: await page.call('FiscListAccounts') };
      assert.ok(isPcscError(seen.FiscListAccounts), `FiscListAccounts gave ${seen.FiscListAccounts}`);
      // Records 1 to 4 came from the first card; nothing after them was written.
      const values = await assertNothingOf(page, 'after the failed FiscListAccounts');
      assert.deepEqual([values.issueNo, values.account1, values.account2], [first.issueNumber, first.accounts[1], '']);
      return seen;
    }),
  'the card swapped before the inquiry authorisation': () =>
    swappedDuring('on-apdu:00B20A', async (page) => {
      await inquiryFields(page);
      const seen = { FiscCardInquiry: await page.call('FiscCardInquiry') };
      assert.ok(isPcscError(seen.FiscCardInquiry), `FiscCardInquiry gave ${seen.FiscCardInquiry}, uiSW12 ${await page.get('uiSW12')}`);
      const values = await assertNothingOf(page, 'after the failed inquiry');
      assert.deepEqual([values.Account, values.ICC, values.TAC, values.TACLen, values.OptionData1],
        [first.accounts[0], '', '', '', 'page data']);
      return seen;
    }),
  // The card leaves while it works on the command, which it never answers: pcsc-lite may
  // then report success with no bytes, which must not pass for an answer.
  'the card pulled while it computes the inquiry TAC': () =>
    swappedDuring('at-apdu:00E2', async (page) => {
      await inquiryFields(page);
      const seen = { FiscCardInquiry: await page.call('FiscCardInquiry') };
      assert.ok(isPcscError(seen.FiscCardInquiry), `FiscCardInquiry gave ${seen.FiscCardInquiry}, uiSW12 ${await page.get('uiSW12')}`);
      const values = await assertNothingOf(page, 'after the unanswered inquiry');
      assert.deepEqual([values.Account, values.TAC, values.TACLen, values.OptionData1], [first.accounts[0], '', '', 'page data']);
      return seen;
    }),
  'the card swapped right after the inquiry PIN check': () =>
    swappedDuring('on-apdu:0020', async (page) => {
      await inquiryFields(page);
      // The account list cannot be read, so no account is selected.
      const seen = { FiscCardInquiry: await page.call('FiscCardInquiry'), uiSW12: await page.get('uiSW12') };
      assert.deepEqual([seen.FiscCardInquiry, seen.uiSW12], [-1001, 1005]);
      const values = await assertNothingOf(page, 'after the refused inquiry');
      assert.deepEqual([values.TAC, values.OptionData1], ['', 'page data']);
      return seen;
    }),
  // Last: the first reader's card side does not come back.
  async 'the reader gone for good, another reader appearing'() {
    const page = await host.page();
    assert.deepEqual(await openSession(page), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
    await card0().command('quit');
    await readerState(READER0, 'empty');
    const seen = {
      FiscListAccounts: await page.call('FiscListAccounts'),
      GetCardStatus: await page.call('GetCardStatus'),
      ulState: await page.get('ulState'),
      ConnectCard: await page.call('ConnectCard'),
      DisConnectCard: await page.call('DisConnectCard'),
    };
    assert.ok(isPcscError(seen.FiscListAccounts) && isPcscError(seen.ConnectCard));
    assert.equal(seen.GetCardStatus, 0);
    assert.ok(seen.ulState & 0x10, 'the reader reports no card');
    const appearing = spawn(join(BIN_DIR, 'ruzazuv-cardsim'), ['--port', '35964', '--profile', 'second-card.json', '--control-port', '35975'], { stdio: 'ignore' });
    try {
      await readerState(READER1, 'present');
      seen.ListReaders = await page.call('ListReaders');
      seen.caReader2 = await page.get('caReader2');
      await page.put('baReaderName', READER1);
      seen.ConnectCardOther = await page.call('ConnectCard');
      seen.FiscListAccountsOther = await page.call('FiscListAccounts');
      assert.deepEqual([seen.ListReaders, seen.caReader2, seen.ConnectCardOther, seen.FiscListAccountsOther], [0, READER1, 0, 0]);
      assert.equal(await page.get('account0'), second.accounts[0]);
      assert.equal(await page.call('DisConnectCard'), 0);
      await readerIsFree(READER1);
      await cardsim(35975).command('quit');
    } finally {
      appearing.kill();
      await page.close();
    }
    return seen;
  },
};

// After a case that failed half-way: the first card back in reader 0, for the next case.
async function restoreFirstCard() {
  const status = await card0().command('status').catch(() => null);
  if (status === null || status.includes('inserted=1 connected=1 card=default')) return;
  await card0().command(status.includes('card=default') ? 'insert' : 'swap default.json');
  await readerState(READER0, 'present');
}

for (const [name, run] of Object.entries(cases)) {
  test(name, async () => {
    try {
      const seen = await run();
      assert.ok(host.bridge.alive(), 'the bridge is still running');
      note(name, seen);
    } finally {
      await restoreFirstCard();
    }
  });
}
