// Shared harness of the node tests on the real PC/SC stack (scripts/with-pcsc-stack): a page
// that drives either ruzazuv-cli (one request line, one answer line) or a ruzazuv-bridge
// connection with the same calls, the cards' control channels and the stack's pcscd.
//
//   const page = await cliPage(['--site-address', SITE]);
//   assert.equal(await page.call('ConnectReader'), 0);
//
// Every request has a deadline, so a hang fails the test instead of stalling it.
import { spawn, execFile } from 'node:child_process';
import { createInterface } from 'node:readline';
import { join } from 'node:path';
import net from 'node:net';
import WebSocket from '../../../web/node_modules/ws/wrapper.mjs';
import { startBridge } from '../../../web/testing/bridge_process.mjs';

export const SOURCE_DIR = process.env.RUZAZUV_SOURCE ?? new URL('../../..', import.meta.url).pathname;
export const BIN_DIR = process.env.RUZAZUV_BIN ?? join(SOURCE_DIR, 'build', 'dev', 'bin');
export const READER0 = process.env.RUZAZUV_READER0;
export const READER1 = process.env.RUZAZUV_READER1;
export const SITE = 'https://ebank.ruzazuv.example/';
export const SITE_ORIGIN = 'https://ebank.ruzazuv.example';

// PC/SC results as a page sees them (signed 32-bit).
export const pcsc = {
  NO_SMARTCARD: 0x8010000c | 0,
  UNKNOWN_READER: 0x80100009 | 0,
  INVALID_HANDLE: 0x80100003 | 0,
  NO_SERVICE: 0x8010001d | 0,
  SERVICE_STOPPED: 0x8010001e | 0,
  REMOVED_CARD: 0x80100069 | 0,
  RESET_CARD: 0x80100068 | 0,
};
export const isPcscError = (v) => Number.isInteger(v) && v >= (0x80100001 | 0) && v <= (0x801000ff | 0);
export const hex32 = (v) => (isPcscError(v) ? `0x${(v >>> 0).toString(16).toUpperCase()}` : JSON.stringify(v));

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export async function waitFor(predicate, what, timeoutMs = 15000) {
  const end = Date.now() + timeoutMs;
  while (Date.now() < end) {
    if (await predicate()) return;
    await sleep(50);
  }
  throw new Error(`timed out waiting for ${what}`);
}

// JSON-RPC over one line-based transport; answers are matched to requests in order.
function rpcPage(sendLine, describe) {
  let nextId = 1;
  const pending = [];
  const page = {
    onLine(line) {
      const answer = JSON.parse(line);
      const waiter = pending.shift();
      if (!waiter) throw new Error(`${describe()}: unexpected answer ${line}`);
      waiter(answer);
    },
    fail(error) {
      for (const waiter of pending.splice(0)) waiter({ error: { message: String(error) } });
    },
    async request(method, params, timeoutMs = 60000) {
      const id = nextId++;
      const answer = new Promise((resolve) => pending.push(resolve));
      sendLine(JSON.stringify({ jsonrpc: '2.0', id, method, ...(params ? { params } : {}) }));
      let timer;
      const deadline = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`${describe()}: no answer to ${method} ${JSON.stringify(params)} in ${timeoutMs} ms`)), timeoutMs);
      });
      try {
        const a = await Promise.race([answer, deadline]);
        if (a.id !== id) throw new Error(`${describe()}: answer ${JSON.stringify(a)} for request ${id}`);
        if (a.error) throw Object.assign(new Error(`${method} ${params?.name}: ${a.error.message}`), { rpc: a.error });
        return a.result;
      } finally {
        clearTimeout(timer);
      }
    },
    get: (name, control = 0) => page.request('get', { name, control }),
    put: (name, value, control = 0) => page.request('put', { name, value, control }),
    call: (name, { control = 0, timeoutMs } = {}) => page.request('call', { name, control }, timeoutMs),
  };
  return page;
}

// ruzazuv-cli on the stack's pcscd.
export async function cliPage(args = []) {
  const child = spawn(join(BIN_DIR, 'ruzazuv-cli'), ['--pcsc', 'system', ...args], { stdio: ['pipe', 'pipe', 'pipe'] });
  let log = '';
  child.stderr.setEncoding('utf8');
  child.stderr.on('data', (d) => (log += d));
  // 'close', not 'exit': the log is complete only once the pipes have ended.
  const exited = new Promise((resolve) => child.once('close', (code, signal) => resolve({ code, signal })));
  const page = rpcPage((line) => child.stdin.write(`${line}\n`), () => `ruzazuv-cli (log:\n${log})`);
  createInterface({ input: child.stdout }).on('line', (line) => page.onLine(line));
  exited.then(({ code, signal }) => page.fail(`ruzazuv-cli exited (${code ?? signal})`));
  Object.defineProperty(page, 'log', { get: () => log });
  return Object.assign(page, {
    kind: 'cli',
    alive: () => child.exitCode === null && child.signalCode === null,
    async close() {
      child.stdin.end();
      return exited;
    },
  });
}

// A bridge on the stack's pcscd and its pages, one WebSocket connection each.
export async function bridgeHost(args = []) {
  const bridge = await startBridge(['--site-address', SITE, ...args], { pcsc: 'system' });
  return {
    bridge,
    async page(origin = SITE_ORIGIN) {
      const ws = new WebSocket(`ws://127.0.0.1:${bridge.port}/`, { origin });
      await new Promise((resolve, reject) => {
        ws.once('open', resolve);
        ws.once('error', reject);
      });
      const page = rpcPage((line) => ws.send(line), () => `bridge (log:\n${bridge.log})`);
      ws.on('message', (data) => page.onLine(data.toString()));
      ws.on('close', () => page.fail('connection closed'));
      return Object.assign(page, {
        kind: 'bridge',
        ws,
        alive: bridge.alive,
        close: async () => ws.close(),
      });
    },
  };
}

// The control channel of a ruzazuv-cardsim.
export function cardsim(port) {
  const run = (line) =>
    new Promise((resolve, reject) => {
      const socket = net.connect(Number(port), '127.0.0.1', () => socket.write(`${line}\n`));
      let data = '';
      socket.setEncoding('utf8');
      socket.setTimeout(30000, () => socket.destroy(new Error(`cardsim ${line}: no answer`)));
      socket.on('data', (chunk) => {
        data += chunk;
        if (data.includes('\n')) {
          socket.end();
          const answer = data.split('\n')[0];
          if (answer.startsWith('ok')) resolve(answer);
          else reject(new Error(`cardsim ${line}: ${answer}`));
        }
      });
      socket.on('error', reject);
    });
  return {
    command: run,
    count: async (prefix = '') => Number((await run(`count ${prefix}`)).split(' ')[1]),
  };
}
export const card0 = () => cardsim(process.env.RUZAZUV_CARDSIM_CONTROL0);
export const card1 = () => cardsim(process.env.RUZAZUV_CARDSIM_CONTROL1);

// The stack's pcscd: kill, stop, start [N], restart [N] (scripts/with-pcsc-stack).
export function pcscd(...args) {
  return new Promise((resolve, reject) => {
    execFile(process.env.RUZAZUV_PCSCD_CONTROL, args.map(String), { timeout: 60000 }, (error, stdout, stderr) => {
      if (error) reject(new Error(`pcscd ${args.join(' ')}: ${error.message} ${stderr}`));
      else resolve(stdout.trim());
    });
  });
}
export const pcscdRunning = () => pcscd('pid').then(() => true, () => false);

// Waits until pcscd reports the reader with a card (present) or without (empty).
export function readerState(reader, state, timeoutMs = 10000) {
  return new Promise((resolve, reject) => {
    execFile(join(BIN_DIR, 'ruzazuv-pcsc-wait'), ['--timeout', String(timeoutMs), '--state', state, '--reader', reader],
      (error) => (error ? reject(new Error(`${reader} not ${state}`)) : resolve()));
  });
}

// Waits until no process holds the reader exclusively (pcscd lets go of an ended process's
// connections a moment after it has gone).
export async function readerReleased(reader, timeoutMs = 10000) {
  const held = () =>
    new Promise((resolve, reject) => {
      execFile(join(BIN_DIR, 'ruzazuv-pcsc-wait'), ['--list'], (error, stdout) => {
        if (error) return reject(error);
        const line = stdout.split('\n').find((l) => l.startsWith(`${reader}\t`));
        resolve(!line || (Number(line.split('\t')[1]) & 0x80) !== 0);
      });
    });
  await waitFor(async () => !(await held()), `${reader} released`, timeoutMs);
}

// Reader context, reader name and card connection, as a page opens a session.
export async function openSession(page, reader = READER0) {
  const results = {
    ConnectReader: await page.call('ConnectReader'),
    ListReaders: await page.call('ListReaders'),
  };
  await page.put('baReaderName', reader);
  results.ConnectCard = await page.call('ConnectCard');
  return results;
}

// The fields of a transfer from account 2 of the default card.
export async function prepareTransfer(page, pin = '123456') {
  for (const [name, value] of [
    ['Pin', pin], ['money', '150000'], ['FdId', 'FD000001'], ['FdChkCode', 'CHK00001'],
    ['DateTime', '20260307090503'], ['curAccntIndex', 2], ['ImprtAccnt', '8120000000000003'], ['AcceptNo', '812'],
  ]) {
    await page.put(name, value);
  }
}

// Every string property of the control, by name, from its own member table.
export async function stringProperties(page) {
  const { members } = await page.request('describe');
  const names = members.filter((m) => m.kind !== 'method' && m.type === 'string' && m.name !== 'Pin').map((m) => m.name);
  const values = {};
  for (const name of names) values[name] = await page.get(name);
  return values;
}

// Observations for the report: what the page saw, printed as one line per case.
export function note(what, seen) {
  console.log(`observed: ${what}: ${Object.entries(seen).map(([k, v]) => `${k}=${hex32(v)}`).join(' ')}`);
}
