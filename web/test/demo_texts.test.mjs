// The demo page's texts for the control's results and its reading of transfer-in entries.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

import { DETAIL_CODES, PCSC_RESULTS, STATUS_WORDS, describeResult } from '../demo/codes.js';
import { splitTransferIn } from '../demo/transfer_in.js';

// The codes the control defines, read from its sources: the detail codes and the pull-plug
// outcomes (all but 2000, a pass) as `= 1018;`, the PC/SC results as `code(0x8010000C)`.
const source = (file) => readFileSync(new URL(`../../src/${file}`, import.meta.url), 'utf8');
const results = source('control/result_codes.h');
const detailCodes = [...results.slice(results.indexOf('namespace detail_code')).matchAll(/= (-?\d+);/g)]
  .map((m) => Number(m[1]))
  .filter((code) => code !== 2000);
const pcscCodes = [...source('platform/pcsc.h').matchAll(/code\((0x[0-9A-Fa-f]{8})\)/g)].map((m) => Number(m[1]));
const signed = (unsigned) => unsigned | 0;

describe('results in the customer\'s words', () => {
  test('every code the control can give has its own text, with the code beside it', () => {
    assert.ok(detailCodes.length > 25 && pcscCodes.length > 20, 'the codes were found in the sources');
    const cases = [
      ...detailCodes.map((code) => [DETAIL_CODES, code, -1001, code, `(code ${code})`]),
      ...pcscCodes.map((code) => [PCSC_RESULTS, code, signed(code), undefined,
        `(code 0x${code.toString(16).toUpperCase()})`]),
    ];
    for (const [table, code, ret, sw, shownCode] of cases) {
      assert.ok(table.has(code), `no text for ${code}`);
      const r = describeResult(ret, sw);
      assert.equal(r.ok, false);
      assert.equal(r.text, `${table.get(code).says} ${shownCode}`);
      assert.match(r.says, /^[A-Z].*\.$/, `${code}: a sentence`);
      assert.notEqual(r.says.toLowerCase(), `${r.cause}.`, `${code}: not the developer's reading`);
    }
  });

  test('each kind of result', () => {
    for (const [ret, sw, ok, text] of [
      [-1001, 1018, false, 'Verify your PIN first, step 3. (code 1018)'],
      [-1001, 4242, false, /^The request was refused\. .* \(code 4242\)$/],
      [0, 0x9000, true, 'Accepted by the card. (card status 90 00)'],
      [0, 0x63c2, false, 'The PIN is wrong: 2 tries left. Type it again in step 3. (card status 63 C2)'],
      [0, 0x63c1, false, /: 1 try left\. /],
      [0, 0x63c0, false, /no tries are left: the card is blocked\. Call your bank\. \(card status 63 C0\)$/],
      [0, 0x6983, false, `${STATUS_WORDS.get(0x6983).says} (card status 69 83)`],
      [0, 0x6f00, false, /^The card refused\. .* \(card status 6F 00\)$/],
      [0, undefined, true, 'Done.'],
      [0, 12, true, 'Done.'], // a list operation's uiSW12 that is no status word
      [signed(0x80100099), undefined, false, /^The card reader reported a problem\. .* \(code 0x80100099\)$/],
      [5, undefined, false, /\(result 5\)$/],
    ]) {
      const r = describeResult(ret, sw);
      assert.equal(r.ok, ok, `${ret}/${sw}`);
      if (typeof text === 'string') assert.equal(r.text, text);
      else assert.match(r.text, text);
    }
  });
});

describe('transfer-in entries', () => {
  test('the bank code leads and the account\'s 16 digits end the entry', () => {
    for (const [entry, parts] of [
      ['8220000876543210003', { bank: '822', account: '0000876543210003' }],
      ['812000000000000000000002', { bank: '812', account: '0000000000000002' }],
      ['81200000000000000004 ', { bank: '812', account: '0000000000000004' }],
      // Too short to hold both: the bank code would run into the account.
      ['8120000000000003', null],
      ['812000000000003', null],
      ['812ABC0000000000003', null],
      ['812 000000000000003', null],
      ['', null],
      [undefined, null],
    ]) {
      assert.deepEqual(splitTransferIn(entry), parts, JSON.stringify(entry));
    }
  });
});
