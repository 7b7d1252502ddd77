// The demo bank page: drives the card control through the bridge on this computer with
// ruzazuv.js, one step after the other, and shows each result with its meaning.
import { connect } from '../ruzazuv.js';
import { describeResult } from './codes.js';

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
  log(`${name} → ret ${ret}${sw === undefined ? '' : `, uiSW12 ${sw}`}: ${meaning.text}`, meaning.ok);
  return { ret, sw, ...meaning };
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
    const text = e instanceof Refused ? e.message : `${e.name}: ${e.message}${e.code ? ` (${e.code})` : ''}`;
    log(text, false);
    showResult(name, { error: true, text });
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
  if (!Number.isInteger(index) || index < 1) throw new Refused('read the accounts and choose one first (step 2)');
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
  return { ...r, text: `${names.length} reader${names.length === 1 ? '' : 's'} found` };
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
  for (const id of ['read-accounts', 'read-import-accounts', 'verify-pin']) allow(id);
  return { ...r, text: `card connected in ${$('reader').value}` };
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
  return { ...r, text: `${accounts.filter(Boolean).length} accounts (${r.text})` };
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
      // The bank code leads; the card command takes the 16 characters of the account itself.
      item.addEventListener('click', () => {
        $('accept-no').value = a.slice(0, 3);
        $('import-account').value = a.slice(-16);
      });
    }
    return item;
  }));
  return { ...r, text: `${accounts.filter(Boolean).length} transfer-in accounts (${r.text})` };
}

async function verifyPin() {
  const pin = $('pin').value;
  if (!/^\d{4,12}$/.test(pin)) throw new Refused('the PIN is 4 to 12 digits');
  // The PIN block: the digits, then F up to 16 characters.
  await ctl.set({ baBuf: pin.padEnd(16, 'F'), bPq: 16 });
  // On a reader exempt from the pull-out check VerifyPIN keeps no PIN block for the
  // transactions; the page hands it over through Pin, which builds the same block.
  if ((await ctl.get('isPullPlugReader')) === 'False') await ctl.put('Pin', pin);
  $('pin').value = '';
  const r = await call('VerifyPIN', { card: true });
  if (r.ret === 0 && r.sw === 0x9000) return { ...r, text: `PIN accepted (${r.text})` };
  return r;
}

async function inquiry() {
  await ctl.set({ ...transactionFields(), curAccntIndex: selectedAccountIndex(), OptionData1: '' });
  const r = await call('FiscCardInquiry', { card: true });
  const [account, icc, tacLen, tac, pcode] = await ctl.batch(
    ['Account', 'ICC', 'TACLen', 'TAC', 'PCode'].map((n) => ['get', n]));
  facts('inquiry-facts', [['Account', account], ['ICC', icc], ['TACLen', tacLen], ['TAC', tac], ['PCode', pcode]]);
  return r;
}

async function transfer() {
  const money = amountToMoney($('amount').value);
  if (money === null) throw new Refused('the amount is a number with at most two decimals');
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
  if (r.ret === 0 && r.sw === 0x9000) return { ...r, text: `transfer authorised by the card (${r.text})` };
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
  setBridge('up', `card service on port ${port}`);
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
