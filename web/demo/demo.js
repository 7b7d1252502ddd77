// The demo bank page: drives the card control through the bridge on this computer with
// ruzazuv.js, one step after the other, and shows each result in the customer's words with its
// code; the call log below keeps the developer's reading.
import { connect } from '../ruzazuv.js';
import { describeResult } from './codes.js';
import { splitTransferIn } from './transfer_in.js';

const $ = (id) => document.getElementById(id);
const query = new URLSearchParams(location.search);
const port = Number(query.get('port') ?? 47950);

let ctl = null;
let running = false;
const state = { accounts: [], connected: false };

// --- Presentation -------------------------------------------------------------------------------

function setBridge(stateName, text) {
  $('bridge').dataset.state = stateName;
  $('bridge-text').textContent = text;
}

function log(text, ok) {
  const item = document.createElement('li');
  item.className = ok ? 'ok' : 'fail';
  item.textContent = text;
  $('log').prepend(item);
}

function showResult(step, { ret, sw, text, ok, error }) {
  const out = $(`result-${step}`);
  out.dataset.state = error ? 'error' : ok ? 'ok' : 'fail';
  // Counts the results shown, so that a script driving the page sees each one arrive.
  out.dataset.seq = String(Number(out.dataset.seq ?? 0) + 1);
  if (ret !== undefined) out.dataset.ret = String(ret);
  else delete out.dataset.ret;
  if (sw !== undefined) out.dataset.sw = String(sw);
  else delete out.dataset.sw;
  out.textContent = text;
}

function facts(list, entries) {
  const dl = $(list);
  dl.replaceChildren();
  for (const [name, value] of entries) {
    const dt = document.createElement('dt');
    dt.textContent = name;
    const dd = document.createElement('dd');
    dd.textContent = value === '' ? '—' : value;
    dd.dataset.name = name;
    dl.append(dt, dd);
  }
}

// The buttons the customer may press; while a call runs none (the bridge answers one call at a
// time anyway, and a transfer waits for the customer).
const available = new Set(['list-readers']);

function allow(id, on = true) {
  if (on) available.add(id);
  else available.delete(id);
  if (!running) $(id).disabled = !on;
}

function lockButtons(locked) {
  for (const b of document.querySelectorAll('button')) b.disabled = locked || !available.has(b.id);
}

// --- Calls ------------------------------------------------------------------------------------

class Refused extends Error {}

// Calls a method and describes its result; card operations also read uiSW12.
async function call(name, { card = false } = {}) {
  const ret = await ctl.call(name);
  const sw = card ? await ctl.get('uiSW12') : undefined;
  const meaning = describeResult(ret, sw);
  log(`${name} → ret ${ret}${sw === undefined ? '' : `, uiSW12 ${sw}`}: ${meaning.cause}`, meaning.ok);
  return { ret, sw, ...meaning };
}

// A failure of the call itself (no answer of the control) in the customer's words.
function failureText(e) {
  if (e instanceof Refused) return e.message;
  if (e.name === 'ConnectionError') {
    return 'The connection to the card service was lost. Click the status at the top to connect again.';
  }
  return `The card service could not take the request: ${e.message}${e.code ? ` (code ${e.code})` : ''}`;
}

// Runs one step: its action returns the result to show, or throws (a JSON-RPC error, a lost
// connection, a refusal found by the page itself).
async function step(name, action) {
  if (running || !ctl) return;
  running = true;
  lockButtons(true);
  const out = $(`result-${name}`);
  out.dataset.state = 'running';
  out.textContent = 'working…';
  try {
    showResult(name, await action());
  } catch (e) {
    log(e instanceof Refused ? `the page refused: ${e.message}` : `${e.name}: ${e.message}${e.code ? ` (${e.code})` : ''}`, false);
    showResult(name, { error: true, text: failureText(e) });
  } finally {
    running = false;
    lockButtons(false);
  }
}

// Identifiers the bank's server would hand out for each transaction.
function transactionFields() {
  const now = new Date();
  const two = (n) => String(n).padStart(2, '0');
  const stamp = `${now.getFullYear()}${two(now.getMonth() + 1)}${two(now.getDate())}` +
    `${two(now.getHours())}${two(now.getMinutes())}${two(now.getSeconds())}`;
  const serial = String(Math.floor(Math.random() * 1e8)).padStart(8, '0');
  return { FdId: `FD${serial.slice(2)}`, FdChkCode: serial, DateTime: stamp };
}

function selectedAccountIndex() {
  const index = Number($('account').value);
  if (!Number.isInteger(index) || index < 1) throw new Refused('Choose one of your accounts first: read them in step 2 and pick one.');
  return index;
}

// "1500" or "1,500.50" → the card's form in hundredths: "150000", "150050".
export function amountToMoney(text) {
  const plain = String(text).replaceAll(',', '').trim();
  const match = /^(\d{1,12})(?:\.(\d{1,2}))?$/.exec(plain);
  if (!match) return null;
  return `${match[1]}${(match[2] ?? '').padEnd(2, '0')}`.replace(/^0+(?=\d{3})/, '');
}

// --- Steps ------------------------------------------------------------------------------------

async function listReaders() {
  let r = await call('ConnectReader');
  if (r.ret !== 0) return r;
  r = await call('ListReaders');
  if (r.ret !== 0) return r;
  const count = await ctl.get('iNoR');
  const names = [];
  for (let i = 1; i <= Math.min(count, 5); i++) names.push(await ctl.get(`caReader${i}`));
  const select = $('reader');
  select.replaceChildren(...names.map((n) => new Option(n, n)));
  select.disabled = names.length === 0;
  allow('connect-card', names.length > 0);
  if (names.length === 0) return { ...r, ok: false, text: 'No card reader was found. Plug in your reader and list the readers again.' };
  return { ...r, text: `${names.length} reader${names.length === 1 ? '' : 's'} found. Choose yours and connect the card.` };
}

async function connectCard() {
  // noPullPlugReader is read when baReaderName is put, so it goes first.
  await ctl.put('noPullPlugReader', $('no-pull-plug').checked ? $('reader').value : '');
  await ctl.put('baReaderName', $('reader').value);
  const r = await call('ConnectCard');
  if (r.ret !== 0) return r;
  state.connected = true;
  $('atr').textContent = `ATR ${await ctl.get('baATR')}`;
  const pullPlug = await ctl.get('isPullPlugReader');
  $('pull-plug').textContent = pullPlug === 'True'
    ? 'this reader asks for the card to be pulled out and put back before a transfer'
    : 'not needed on this reader';
  for (const id of ['read-accounts', 'read-import-accounts', 'verify-pin', 'disconnect-card']) allow(id);
  return { ...r, text: `Card connected in ${$('reader').value}. Read your accounts in step 2.` };
}

// The buttons that need a connected card.
const CARD_STEPS = ['read-accounts', 'read-import-accounts', 'verify-pin', 'inquiry', 'transfer', 'disconnect-card'];

async function disconnectCard() {
  // Reset: the card forgets the PIN verified on it.
  await ctl.put('iDisConnectType', 1);
  const r = await call('DisConnectCard');
  // Whatever the reader answers, the control holds no card any more: the page shows none either,
  // and nothing read from the card stays on it.
  state.connected = false;
  state.accounts = [];
  for (const id of CARD_STEPS) allow(id, false);
  $('atr').textContent = 'disconnected';
  $('pull-plug').textContent = '—';
  $('issue-no').textContent = '';
  for (const id of ['accounts', 'import-accounts', 'inquiry-facts', 'transfer-facts']) $(id).replaceChildren();
  $('account').replaceChildren();
  $('account').disabled = true;
  updateFrom();
  const again = 'Connect it again in step 1 when you need it.';
  if (r.ret !== 0) return { ...r, ok: false, text: `Card disconnected; the reader reported a problem (${r.code}). ${again}` };
  return { ...r, text: `Card disconnected. ${again}` };
}

async function readAccounts() {
  const r = await call('FiscListAccounts', { card: true });
  if (r.ret !== 0) return r;
  const [issueNo, ...accounts] = await ctl.batch([
    ['get', 'issueNo'],
    ...Array.from({ length: 8 }, (_, i) => ['get', `account${i}`]),
  ]);
  $('issue-no').textContent = issueNo ? `issuer ${issueNo}` : '';
  state.accounts = accounts;
  const list = $('accounts');
  list.replaceChildren(...accounts.map((a) => Object.assign(document.createElement('li'), { textContent: a || '—' })));
  const select = $('account');
  select.replaceChildren(...accounts.map((a, i) => new Option(`${i + 1}: ${a}`, String(i + 1))).filter((o, i) => accounts[i]));
  select.disabled = select.options.length === 0;
  updateFrom();
  allow('inquiry');
  allow('transfer');
  return { ...r, text: `${accounts.filter(Boolean).length} accounts read. Choose the account to use.` };
}

function updateFrom() {
  const index = Number($('account').value);
  $('transfer-from').textContent = index >= 1 ? state.accounts[index - 1] : 'choose an account in step 2';
}

async function readImportAccounts() {
  const r = await call('FiscListImportAccounts', { card: true });
  if (r.ret !== 0) return r;
  const accounts = await ctl.batch(Array.from({ length: 8 }, (_, i) => ['get', `importaccount${i}`]));
  const list = $('import-accounts');
  list.replaceChildren(...accounts.map((a) => {
    const item = document.createElement('li');
    item.textContent = a || '—';
    if (a) {
      item.className = 'pick';
      item.title = 'use for the transfer';
      item.addEventListener('click', () => pickTransferIn(item, a));
    }
    return item;
  }));
  return { ...r, text: `${accounts.filter(Boolean).length} transfer-in accounts read. Pick one to fill the transfer in step 5.` };
}

// Fills the transfer form with the bank code and the account of a listed transfer-in entry.
function pickTransferIn(item, entry) {
  const parts = splitTransferIn(entry);
  for (const other of document.querySelectorAll('#import-accounts li')) other.classList.toggle('chosen', other === item && parts !== null);
  if (!parts) {
    showResult('accounts', {
      ok: false,
      text: `The transfer-in entry ${entry} holds no whole 16-digit account. Type the bank code and the account in step 5.`,
    });
    return;
  }
  $('accept-no').value = parts.bank;
  $('import-account').value = parts.account;
  showResult('accounts', { ok: true, text: `Transfer to ${parts.bank}/${parts.account} filled in step 5.` });
}

async function verifyPin() {
  const pin = $('pin').value;
  // The PIN leaves the field whatever comes of it.
  $('pin').value = '';
  if (!/^\d{6,12}$/.test(pin)) throw new Refused('Your PIN has 6 to 12 digits, nothing else. Type it again.');
  // The PIN block: the digits, then F up to 16 characters.
  await ctl.set({ baBuf: pin.padEnd(16, 'F'), bPq: 16 });
  // On a reader exempt from the pull-out check VerifyPIN keeps no PIN block for the
  // transactions; the page hands it over through Pin, which builds the same block.
  if ((await ctl.get('isPullPlugReader')) === 'False') await ctl.put('Pin', pin);
  const r = await call('VerifyPIN', { card: true });
  if (r.ret === 0 && r.sw === 0x9000) return { ...r, text: 'PIN accepted. Run the balance inquiry in step 4 or a transfer in step 5.' };
  return r;
}

async function inquiry() {
  await ctl.set({ ...transactionFields(), curAccntIndex: selectedAccountIndex(), OptionData1: '' });
  const r = await call('FiscCardInquiry', { card: true });
  const [account, icc, tacLen, tac, pcode] = await ctl.batch(
    ['Account', 'ICC', 'TACLen', 'TAC', 'PCode'].map((n) => ['get', n]));
  facts('inquiry-facts', [['Account', account], ['ICC', icc], ['TACLen', tacLen], ['TAC', tac], ['PCode', pcode]]);
  if (r.ret === 0 && r.sw === 0x9000) return { ...r, text: `Balance inquiry of account ${account} signed by the card.` };
  return r;
}

async function transfer() {
  const money = amountToMoney($('amount').value);
  if (money === null) throw new Refused('Enter the amount as a number with at most two decimals.');
  const importAccount = $('import-account').value.trim();
  const acceptNo = $('accept-no').value.trim();
  await ctl.set({
    ...transactionFields(),
    curAccntIndex: selectedAccountIndex(),
    money,
    ImprtAccnt: importAccount,
    AcceptNo: acceptNo,
    OptionData1: '',
  });
  $('result-transfer').textContent = 'follow the instructions on the screen…';
  const r = await call('FiscCardTransfer', { card: true });
  const [icc, tacLen, tac, pcode] = await ctl.batch(['ICC', 'TACLen', 'TAC', 'PCode'].map((n) => ['get', n]));
  facts('transfer-facts', [['ICC', icc], ['TACLen', tacLen], ['TAC', tac], ['PCode', pcode]]);
  if (r.ret === 0 && r.sw === 0x9000) return { ...r, text: 'Transfer authorised by the card.' };
  return r;
}

// --- Start ------------------------------------------------------------------------------------

async function start() {
  setBridge('connecting', `connecting to the card service on port ${port}…`);
  try {
    ctl = await connect({ port });
  } catch (e) {
    setBridge('down', `no card service on port ${port} (${e.message}); click to retry`);
    return;
  }
  // ruzazuv.js tells how it reached the service; before it did, the WebSocket was the only way.
  const transport = ctl.transport ?? 'websocket';
  $('bridge').dataset.transport = transport;
  setBridge('up', transport === 'extension'
    ? 'card service connected through the browser extension'
    : `card service connected through the WebSocket on port ${port}`);
  lockButtons(false);
  ctl.closed.then(({ code }) => {
    ctl = null;
    lockButtons(true);
    setBridge('down', `the card service closed the connection (${code}); click to reconnect`);
  });
}

$('bridge').addEventListener('click', () => {
  if (!ctl) start();
});
$('list-readers').addEventListener('click', () => step('readers', listReaders));
$('connect-card').addEventListener('click', () => step('readers', connectCard));
$('disconnect-card').addEventListener('click', () => step('readers', disconnectCard));
$('read-accounts').addEventListener('click', () => step('accounts', readAccounts));
$('read-import-accounts').addEventListener('click', () => step('accounts', readImportAccounts));
$('account').addEventListener('change', updateFrom);
$('verify-pin').addEventListener('click', () => step('pin', verifyPin));
$('pin').addEventListener('keydown', (e) => {
  if (e.key === 'Enter') step('pin', verifyPin);
});
$('inquiry').addEventListener('click', () => step('inquiry', inquiry));
$('transfer').addEventListener('click', () => step('transfer', transfer));
// ?nopullplug=1 pre-ticks the exemption (the simulated reader of scripts/demo has no card to pull).
$('no-pull-plug').checked = query.get('nopullplug') === '1';
lockButtons(true);
start();
