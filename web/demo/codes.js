// What the control's results mean, for the demo page: `ret` of a method and the detail code or
// card status word in `uiSW12`.

// Detail codes the control writes into uiSW12 together with ret -1001.
export const DETAIL_CODES = new Map([
  [1001, 'the new PIN is not 6 to 12 characters'],
  [1002, 'the new PIN holds a character other than 0 to 9'],
  [1003, 'payment: the stored PIN was not accepted again'],
  [1004, 'FdChkCode is not 8 characters'],
  [1005, 'the selected account is not 16 characters, curAccntIndex is outside 1 to 8, or a transaction code is shorter than 4 characters'],
  [1006, 'DateTime is not 14 characters'],
  [1007, 'ImprtAccnt is not 16 characters'],
  [1008, 'money is not 14 characters'],
  [1009, 'FdId is not 8 characters'],
  [1010, 'PaymentType is not 5 characters'],
  [1011, 'CancelNo is not 16 characters'],
  [1012, 'MerchantID is not 30 characters'],
  [1013, 'VerifyPIN: baBuf is empty'],
  [1014, 'VerifyPIN: bPq is 0'],
  [1015, 'the customer cancelled (or the confirmation could not be shown), or the card was never pulled out'],
  [1016, "the page's address does not start with the bank's site address"],
  [1017, 'the card has no financial application'],
  [1018, 'the stored PIN does not have 6 to 12 digits'],
  [1019, "AuthenServer: the server's answer does not match"],
  [2001, 'the card check failed while waiting for the card to be pulled out'],
  [2002, 'the card was not pulled out and put back in time'],
  [2003, 'the card was not put back in time'],
  [2004, 'the card was pulled out too early'],
  [2005, 'the card was put back too soon'],
  [2010, 'the card put back is not the card first inserted'],
  [2011, 'the PIN was not accepted by the card put back'],
  [2012, 'the card data could not be read after the card was put back'],
]);

// PC/SC results as the control passes them on (signed 32-bit values), by their unsigned form.
const PCSC_RESULTS = new Map([
  [0x80100001, 'internal error of the smart-card service'],
  [0x80100002, 'the action was cancelled'],
  [0x80100003, 'invalid handle (connect the card first)'],
  [0x80100006, 'not enough memory'],
  [0x80100008, 'a buffer is too small'],
  [0x80100009, 'unknown reader'],
  [0x8010000A, 'timeout'],
  [0x8010000B, 'the card is in use by another program'],
  [0x8010000C, 'no card in the reader'],
  [0x8010000D, 'unknown card'],
  [0x8010000F, 'the card does not speak the protocol asked for'],
  [0x80100010, 'the card is not ready'],
  [0x80100011, 'invalid value'],
  [0x80100016, 'no reader context (connect to the readers first)'],
  [0x80100017, 'the reader is not available'],
  [0x8010001D, 'the smart-card service is not running'],
  [0x8010001E, 'the smart-card service stopped'],
  [0x8010001F, 'feature not supported'],
  [0x8010002E, 'no readers available'],
  [0x80100066, 'the card does not answer'],
  [0x80100067, 'the card is not powered'],
  [0x80100068, 'the card was reset'],
  [0x80100069, 'the card was removed'],
]);

// Card status words (uiSW12 after an exchange).
export function describeStatusWord(sw) {
  if (sw === 0x9000) return '90 00: accepted by the card';
  const hex = sw.toString(16).toUpperCase().padStart(4, '0');
  const text = `${hex.slice(0, 2)} ${hex.slice(2)}`;
  if ((sw & 0xfff0) === 0x63c0) return `${text}: wrong PIN, ${sw & 0xf} tries left`;
  const known = {
    0x6983: 'the PIN is blocked',
    0x6982: 'security status not satisfied',
    0x6a82: 'file not found',
    0x6a83: 'record not found',
    0x6700: 'wrong length',
    0x6d00: 'instruction not supported',
    0x6e00: 'class not supported',
  }[sw];
  return known ? `${text}: ${known}` : `${text}: card status`;
}

// The meaning of a method's result: { ok, text }. `sw` is given for the card operations only,
// whose uiSW12 tells the card's verdict; other methods leave it as it was.
export function describeResult(ret, sw) {
  if (ret === -1001) {
    const detail = DETAIL_CODES.get(sw);
    return { ok: false, text: `refused (${sw}): ${detail ?? 'detail code'}` };
  }
  if (ret === 0) {
    if (Number.isInteger(sw) && sw > 0xff && sw <= 0xffff) {
      return { ok: sw === 0x9000, text: describeStatusWord(sw) };
    }
    return { ok: true, text: 'done' };
  }
  const unsigned = ret >>> 0;
  const known = PCSC_RESULTS.get(unsigned);
  const hex = `0x${unsigned.toString(16).toUpperCase().padStart(8, '0')}`;
  if (known) return { ok: false, text: `${hex}: ${known}` };
  return { ok: false, text: unsigned >= 0x80000000 ? `${hex}: error` : `result ${ret}` };
}
