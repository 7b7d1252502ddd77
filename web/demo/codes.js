// What the control's results mean on the demo page: `ret` of a method and the detail code or
// card status word in `uiSW12`. Each outcome has two texts: `cause`, the developer's reading for
// the call log, and `says`, what the customer reads, with the next step on this page (the steps
// are numbered 1 card reader, 2 accounts, 3 PIN, 4 balance inquiry, 5 transfer). The code is
// always shown beside the customer's words, so that a call to the bank can name it.

// Detail codes the control writes into uiSW12 together with ret -1001.
const TRY_AGAIN = 'Reload the page and try again; if it happens again, call your bank.';
export const DETAIL_CODES = new Map([
  [1001, 'the new PIN is not 6 to 12 characters', 'The new PIN must have 6 to 12 digits. Choose another one.'],
  [1002, 'the new PIN holds a character other than 0 to 9', 'The new PIN may hold digits only. Choose another one.'],
  [1003, 'payment: the stored PIN was not accepted again', 'The card did not accept your PIN again. Verify your PIN in step 3, then try again.'],
  [1004, 'FdChkCode is not 8 characters', `The bank's page sent an incomplete transaction. ${TRY_AGAIN}`],
  [1005, 'the selected account is not 16 characters, curAccntIndex is outside 1 to 8, or a transaction code is shorter than 4 characters',
    'Choose one of your accounts first: read them in step 2 and pick one.'],
  [1006, 'DateTime is not 14 characters', `The bank's page sent an incomplete transaction. ${TRY_AGAIN}`],
  [1007, 'ImprtAccnt is not 16 characters', 'The account to transfer to must have 16 digits. Pick one of the transfer-in accounts in step 2, or type all 16 digits in step 5.'],
  [1008, 'money is not 14 characters', 'The amount is not valid. Enter it in step 5 as a number with at most two decimals.'],
  [1009, 'FdId is not 8 characters', `The bank's page sent an incomplete transaction. ${TRY_AGAIN}`],
  [1010, 'PaymentType is not 5 characters', `The bank's page sent an incomplete payment. ${TRY_AGAIN}`],
  [1011, 'CancelNo is not 16 characters', `The bank's page sent an incomplete payment. ${TRY_AGAIN}`],
  [1012, 'MerchantID is not 30 characters', `The bank's page sent an incomplete payment. ${TRY_AGAIN}`],
  [1013, 'VerifyPIN: baBuf is empty', 'Type your PIN first, in step 3.'],
  [1014, 'VerifyPIN: bPq is 0', 'Type your PIN first, in step 3.'],
  [1015, 'the customer cancelled (or the confirmation could not be shown), or the card was never pulled out',
    'The transfer was not confirmed, or the card was not pulled out when asked. Nothing was transferred: start the transfer again in step 5.'],
  [1016, "the page's address does not start with the bank's site address",
    "The card works only on your bank's own site. Open the bank's page from its usual address."],
  [1017, 'the card has no financial application', 'This card is not a bank card. Put your bank card in the reader and connect it in step 1.'],
  [1018, 'the stored PIN does not have 6 to 12 digits', 'Verify your PIN first, step 3.'],
  [1019, "AuthenServer: the server's answer does not match", "The bank's server could not be confirmed. Try again later, or call your bank."],
  [2001, 'the card check failed while waiting for the card to be pulled out',
    'The card could not be checked while it was pulled out. Connect it again in step 1, then start again.'],
  [2002, 'the card was not pulled out and put back in time',
    'The card was not pulled out and put back in time. Start again and follow the instructions on the screen.'],
  [2003, 'the card was not put back in time', 'The card was not put back in time. Put it back, connect it in step 1 and start again.'],
  [2004, 'the card was pulled out too early', 'The card was pulled out too early. Start again and wait until the screen asks for it.'],
  [2005, 'the card was put back too soon', 'The card was put back too soon. Start again and wait a moment before putting it back.'],
  [2010, 'the card put back is not the card first inserted', 'The card put back is not the one you started with. Put your first card back, connect it in step 1 and start again.'],
  [2011, 'the PIN was not accepted by the card put back', 'The card put back did not accept your PIN. Verify your PIN in step 3 and start again.'],
  [2012, 'the card data could not be read after the card was put back', 'The card could not be read after it was put back. Connect it again in step 1 and start again.'],
  [-1, 'the countdown window could not be shown', 'The window asking you to pull the card out could not be shown. Nothing was transferred: try again.'],
  [-99, 'the countdown had no timer', 'The card check could not start on this computer. Nothing was transferred: try again, or restart the browser.'],
].map(([code, cause, says]) => [code, { cause, says }]));

const RECONNECT = 'Take the card out, put it back and connect it again in step 1.';

// PC/SC results as the control passes them on (signed 32-bit values), by their unsigned form.
export const PCSC_RESULTS = new Map([
  [0x80100001, 'internal error of the smart-card service', "The computer's card service failed. Try again; if it happens again, restart the computer."],
  [0x80100002, 'the action was cancelled', 'The action was cancelled. Try again.'],
  [0x80100003, 'invalid handle (connect the card first)', 'The card is not connected. Connect it in step 1.'],
  [0x80100004, 'invalid parameter', `The bank's page sent a request the card service cannot take. ${TRY_AGAIN}`],
  [0x80100006, 'not enough memory', 'The computer is short of memory. Close some programs and try again.'],
  [0x80100008, 'a buffer is too small', 'The card sent more than expected. Try again; if it happens again, call your bank.'],
  [0x80100009, 'unknown reader', 'That card reader is not known. List the readers again in step 1.'],
  [0x8010000A, 'timeout', 'The card reader did not answer in time. Try again.'],
  [0x8010000B, 'the card is in use by another program', 'Another program is using the card. Close it and try again.'],
  [0x8010000C, 'no card in the reader', 'There is no card in the reader. Insert your bank card and connect it in step 1.'],
  [0x8010000D, 'unknown card', 'The card is not recognised. Insert your bank card and connect it in step 1.'],
  [0x8010000F, 'the card does not speak the protocol asked for', 'The card does not work with this reader. Try another reader in step 1.'],
  [0x80100010, 'the card is not ready', 'The card is not ready. Wait a moment and try again.'],
  [0x80100011, 'invalid value', `The bank's page sent a request the card service cannot take. ${TRY_AGAIN}`],
  [0x80100016, 'no reader context (connect to the readers first)', 'List the card readers first, in step 1.'],
  [0x80100017, 'the reader is not available', 'The card reader is not available. Check its cable and list the readers again in step 1.'],
  [0x8010001D, 'the smart-card service is not running', "The computer's card service is not running. Start it (or restart the computer) and list the readers again in step 1."],
  [0x8010001E, 'the smart-card service stopped', "The computer's card service stopped. List the readers again in step 1."],
  [0x8010001F, 'feature not supported', 'This card reader cannot do that. Try another reader in step 1.'],
  [0x8010002E, 'no readers available', 'No card reader was found. Plug in your reader and list the readers again in step 1.'],
  [0x80100066, 'the card does not answer', `The card does not answer. ${RECONNECT}`],
  [0x80100067, 'the card is not powered', `The card is not powered. ${RECONNECT}`],
  [0x80100068, 'the card was reset', 'The card was reset. Connect it again in step 1.'],
  [0x80100069, 'the card was removed', 'The card was taken out. Put it back and connect it again in step 1.'],
].map(([code, cause, says]) => [code, { cause, says }]));

// Card status words (uiSW12 after an exchange) besides 90 00 and the wrong PIN's 63 Cx.
export const STATUS_WORDS = new Map([
  [0x6983, 'the PIN is blocked', 'The PIN of this card is blocked. Call your bank to unblock it.'],
  [0x6982, 'security status not satisfied', 'The card needs your PIN first. Verify your PIN in step 3.'],
  [0x6a82, 'file not found', 'The card lacks the data asked for. Call your bank.'],
  [0x6a83, 'record not found', 'The card lacks the data asked for. Call your bank.'],
  [0x6700, 'wrong length', 'The card did not understand the request. Call your bank.'],
  [0x6d00, 'instruction not supported', 'The card did not understand the request. Call your bank.'],
  [0x6e00, 'class not supported', 'The card did not understand the request. Call your bank.'],
].map(([code, cause, says]) => [code, { cause, says }]));

function statusWordText(sw) {
  const hex = sw.toString(16).toUpperCase().padStart(4, '0');
  return `${hex.slice(0, 2)} ${hex.slice(2)}`;
}

function wrongPin(tries) {
  if (tries === 0) return { cause: 'wrong PIN, no tries left', says: 'The PIN is wrong and no tries are left: the card is blocked. Call your bank.' };
  const left = `${tries} ${tries === 1 ? 'try' : 'tries'} left`;
  return { cause: `wrong PIN, ${left}`, says: `The PIN is wrong: ${left}. Type it again in step 3.` };
}

// A card status word: { ok, cause, says, code }.
export function describeStatusWord(sw) {
  const code = `card status ${statusWordText(sw)}`;
  if (sw === 0x9000) return { ok: true, cause: 'accepted by the card', says: 'Accepted by the card.', code };
  const known = (sw & 0xfff0) === 0x63c0 ? wrongPin(sw & 0xf) : STATUS_WORDS.get(sw);
  return {
    ok: false,
    code,
    ...(known ?? { cause: 'card status', says: 'The card refused. If it happens again, call your bank.' }),
  };
}

// The meaning of a method's result: { ok, cause, says, code, text }, where `text` is the
// customer's words with the code beside them. `sw` is given for the card operations only, whose
// uiSW12 tells the card's verdict; other methods leave it as it was.
export function describeResult(ret, sw) {
  let meaning;
  if (ret === -1001) {
    meaning = {
      ok: false,
      code: `code ${sw}`,
      ...(DETAIL_CODES.get(sw) ?? { cause: 'detail code', says: `The request was refused. ${TRY_AGAIN}` }),
    };
  } else if (ret === 0 && Number.isInteger(sw) && sw > 0xff && sw <= 0xffff) {
    meaning = describeStatusWord(sw);
  } else if (ret === 0) {
    return { ok: true, cause: 'done', says: 'Done.', code: '', text: 'Done.' };
  } else {
    const unsigned = ret >>> 0;
    const hex = `0x${unsigned.toString(16).toUpperCase().padStart(8, '0')}`;
    const known = PCSC_RESULTS.get(unsigned);
    meaning = {
      ok: false,
      code: unsigned >= 0x80000000 ? `code ${hex}` : `result ${ret}`,
      ...(known ?? { cause: 'error', says: 'The card reader reported a problem. Try again; if it happens again, call your bank.' }),
    };
  }
  return { ...meaning, text: `${meaning.says} (${meaning.code})` };
}
