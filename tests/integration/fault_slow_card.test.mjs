// A slow card (one second per answer, from the transfer's last account read on) during the
// pull-plug countdown of transfers through ruzazuv-cli: the procedure's outcomes still follow
// its rules. A reinsertion is counted and the transfer goes through; a countdown that runs
// out ends with 2002 (detail code 1015) or, after a removal, 2003; a status query that fails
// ends it with 2001. Rows of one round run at once, each on its own reader and process.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  READER0, READER1, SITE, card0, card1, cliPage, note, openSession, pcscd, pcscdRunning, prepareTransfer,
  readerReleased, readerState, sleep, waitFor,
} from './lib/stack_page.mjs';

const SLOW = 'on-apdu:00B20A,delay:1000';
const rounds = [
  [
    { name: 'the card left in', reader: READER1, card: card1, script: SLOW, outcome: 2002, ret: -1001, uiSW12: 1015 },
    { name: 'the card pulled, never put back', reader: READER0, card: card0, script: `${SLOW};then:1500,remove`, outcome: 2003, ret: -1001, uiSW12: 2003 },
  ],
  [{ name: 'the card pulled and put back', reader: READER0, card: card0, script: `${SLOW};then:1500,remove;then:2000,insert`, outcome: 2000, ret: 0, uiSW12: 36864 }],
  [{
    name: 'the status query failing', reader: READER0, card: card0, script: SLOW, outcome: 2001, ret: -1001, uiSW12: 2001,
    async during(card) {
      await waitFor(async () => (await card.count('00B20A')) > 0, 'the account list read');
      await sleep(1500);
      await pcscd('kill');
    },
  }],
];

async function transfer(row) {
  const page = await cliPage(['--site-address', SITE, '--page-address', `${SITE}transfer.html`, '--ui', 'scripted:ok']);
  const card = row.card();
  try {
    assert.deepEqual(await openSession(page, row.reader), { ConnectReader: 0, ListReaders: 0, ConnectCard: 0 });
    assert.equal(await page.get('isPullPlugReader'), 'True');
    await prepareTransfer(page);
    await card.command(`script ${row.script}`);
    const [ret] = await Promise.all([page.call('FiscCardTransfer', { timeoutMs: 90000 }), row.during?.(card)]);
    const seen = { FiscCardTransfer: ret, uiSW12: await page.get('uiSW12') };
    assert.deepEqual(seen, { FiscCardTransfer: row.ret, uiSW12: row.uiSW12 }, row.name);
    assert.equal(await page.get('TACLen'), row.ret === 0 ? '8' : '', `${row.name}: a TAC only after a passed check`);
    await page.close();
    // The dialogs' log is complete once the process has ended.
    assert.match(page.log, new RegExp(`抽拔晶片卡偵測 closed with ${row.outcome}\\b`), `${row.name}: the countdown's outcome`);
    note(`slow card, ${row.name}`, seen);
  } finally {
    await page.close();
    await card.command('delay 0');
    if (!(await pcscdRunning())) await pcscd('start', 0);
    await card.command('insert');
    await readerState(row.reader, 'present');
    await readerReleased(row.reader);
  }
}

for (const round of rounds) {
  test(`slow card: ${round.map((r) => r.name).join(' | ')}`, async () => {
    await Promise.all(round.map(transfer));
  });
}
