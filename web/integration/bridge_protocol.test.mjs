// The real ruzazuv-bridge (simulated reader, free port) against bad input and awkward clients:
// each bad request gets its JSON-RPC error or refusal, and the bridge keeps serving.
import { test, before, after } from 'node:test';
import { readFileSync } from 'node:fs';
import assert from 'node:assert/strict';

import net from 'node:net';
import WebSocket from 'ws';
import { startBridge, openClient, rawExchange, handshake } from '../testing/bridge_process.mjs';
import { connect, RpcError } from '../ruzazuv.js';

const BANK = 'http://127.0.0.1:8123'; // the site address's origin: approved
const OTHER = 'http://localhost:9000'; // allowed, but not the bank's site
const PIN = '123456';

const HR_MEMBER_NOT_FOUND = 0x80020003;
const HR_TYPE_MISMATCH = 0x80020005;
const HR_UNKNOWN_NAME = 0x80020006;
const HR_OVERFLOW = 0x8002000a;

let bridge;
before(async () => {
  bridge = await startBridge(['--site-address', `${BANK}/`, '--allow-origin', BANK, '--allow-origin', OTHER]);
});
after(async () => {
  const exit = await bridge.stop();
  assert.deepEqual(exit, { code: 0, signal: null }, `bridge stopped cleanly:\n${bridge.log}`);
  assert.ok(!bridge.log.includes(PIN), 'no PIN in the log');
});

// After every bad input: the bridge is alive and a fresh connection is served.
async function stillServing() {
  assert.ok(bridge.alive(), `bridge alive:\n${bridge.log}`);
  const c = await openClient(bridge.port, { origin: BANK });
  assert.equal((await c.request('describe')).result.progid, 'RuzaZUV.Vorn.1');
  c.close();
}

test('malformed JSON and wrong JSON-RPC shapes get their errors on a connection that stays open', async () => {
  const c = await openClient(bridge.port, { origin: BANK });
  const cases = [
    ['{"jsonrpc":"2.0","id":1,"method":"get"', -32700, null],
    ['\u0000\u0001garbage', -32700, null],
    ['42', -32600, null],
    ['[]', -32600, null],
    ['{"jsonrpc":"1.0","id":2,"method":"describe"}', -32600, 2],
    ['{"jsonrpc":"2.0","id":3}', -32600, 3],
    ['{"jsonrpc":"2.0","id":4,"method":7}', -32600, 4],
    ['{"jsonrpc":"2.0","id":{"x":1},"method":"describe"}', -32600, null],
    ['{"jsonrpc":"2.0","id":5,"method":"get","params":["iNoR"]}', -32602, 5],
    ['{"jsonrpc":"2.0","id":6,"method":"get","params":{}}', -32602, 6],
    ['{"jsonrpc":"2.0","id":7,"method":"get","params":{"name":"iNoR","control":-1}}', -32602, 7],
    ['{"jsonrpc":"2.0","id":8,"method":"get","params":{"name":"iNoR","control":64}}', -32602, 8],
    ['{"jsonrpc":"2.0","id":9,"method":"shutdown"}', -32601, 9],
  ];
  for (const [text, code, id] of cases) {
    c.send(text);
    const answer = await c.next();
    assert.equal(answer.error?.code, code, text);
    assert.equal(answer.id, id, text);
  }
  assert.equal(await c.get('iNoR'), 0, 'the same connection still works');
  c.close();
  await stillServing();
});

test('members named or valued wrongly answer -32602 with the dispatch result', async () => {
  const c = await openClient(bridge.port, { origin: BANK });
  const hresultOf = async (method, params) => {
    const answer = await c.request(method, params);
    assert.equal(answer.error?.code, -32602, JSON.stringify(params));
    return answer.error.data.hresult;
  };
  assert.equal(await hresultOf('get', { name: 'NoSuchMember' }), HR_UNKNOWN_NAME);
  assert.equal(await hresultOf('get', { dispid: 97 }), HR_UNKNOWN_NAME);
  assert.equal(await hresultOf('get', { name: 'iNoR', dispid: 4 }), HR_UNKNOWN_NAME);
  assert.equal(await hresultOf('put', { name: 'iNoR', value: '5' }), HR_TYPE_MISMATCH);
  assert.equal(await hresultOf('put', { name: 'caReader1', value: 5 }), HR_TYPE_MISMATCH);
  assert.equal(await hresultOf('put', { name: 'iNoR', value: 1.5 }), HR_TYPE_MISMATCH);
  assert.equal(await hresultOf('put', { name: 'iNoR', value: 2 ** 32 }), HR_OVERFLOW);
  assert.equal(await hresultOf('put', { name: 'iNoR', value: -(2 ** 31) - 1 }), HR_OVERFLOW);
  assert.equal(await hresultOf('put', { name: 'bPq', value: 65536 }), HR_OVERFLOW);
  assert.equal(await hresultOf('put', { name: 'bPq', value: -32769 }), HR_OVERFLOW);
  assert.equal(await hresultOf('get', { name: 'ConnectCard' }), HR_MEMBER_NOT_FOUND);
  assert.equal(await hresultOf('put', { name: 'ConnectCard', value: 1 }), HR_MEMBER_NOT_FOUND);
  assert.equal(await hresultOf('call', { name: 'iNoR' }), HR_MEMBER_NOT_FOUND);

  // The edges that are accepted, as the interface stores them.
  await c.put('iNoR', 2 ** 32 - 1);
  assert.equal(await c.get('iNoR'), -1, 'unsigned values are taken as their 32-bit pattern');
  await c.put('bPq', 65535);
  assert.equal(await c.get('bPq'), -1, 'bPq above 32767 is taken as its 16-bit pattern');
  await c.put('inor', 7);
  assert.equal(await c.get('INOR'), 7, 'names match without regard to case');
  c.close();
  await stillServing();
});

test('a batch of 10,000 entries is answered in order; one over 64 KiB closes with 1009', async () => {
  const c = await openClient(bridge.port, { origin: BANK });
  // 10,000 entries fit in 64 KiB only when tiny: every one is an invalid request.
  const tiny = `[${Array.from({ length: 10000 }, (_, i) => (i % 2 ? '{}' : '1')).join(',')}]`;
  assert.ok(Buffer.byteLength(tiny) <= 65536);
  c.send(tiny);
  const answers = await c.next(60000);
  assert.equal(answers.length, 10000);
  assert.ok(answers.every((a) => a.error.code === -32600 && a.id === null));

  // Notifications among requests: only the requests are answered, in their order.
  const mixed = [];
  for (let i = 0; i < 300; i++) {
    mixed.push({ jsonrpc: '2.0', method: 'put', params: { name: 'iNoR', value: i } });
    mixed.push({ jsonrpc: '2.0', id: `r${i}`, method: 'get', params: { name: 'iNoR' } });
  }
  c.send(mixed);
  const results = await c.next();
  assert.deepEqual(results.map((a) => [a.id, a.result]), mixed.filter((r) => r.id).map((r, i) => [r.id, i]));

  const real = JSON.stringify(Array.from({ length: 10000 }, (_, i) => ({ jsonrpc: '2.0', id: i, method: 'get', params: { name: 'iNoR' } })));
  c.send(real);
  assert.equal((await c.closed).code, 1009);
  await stillServing();
});

test('messages up to 64 KiB are read; one byte more, joined from fragments or not, closes with 1009', async () => {
  const request = '{"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"iNoR"}}';
  const padded = (size) => request + ' '.repeat(size - request.length);

  const fits = await openClient(bridge.port, { origin: BANK });
  fits.send(padded(65536));
  assert.equal((await fits.next()).result, 0);
  fits.close();

  const over = await openClient(bridge.port, { origin: BANK });
  over.send(padded(65537));
  assert.equal((await over.closed).code, 1009);

  const fragments = await openClient(bridge.port, { origin: BANK });
  const text = padded(70000);
  fragments.ws.send(text.slice(0, 35000), { fin: false });
  fragments.ws.send(text.slice(35000), { fin: true });
  assert.equal((await fragments.closed).code, 1009);

  const binary = await openClient(bridge.port, { origin: BANK });
  binary.ws.send(Buffer.from(request));
  assert.equal((await binary.closed).code, 1003, 'requests travel in text frames');
  await stillServing();
});

test('the handshake refuses unlisted origins and foreign Host headers with 403', async () => {
  const status = (answer) => answer.split('\r\n')[0];
  assert.equal(status(await rawExchange(bridge.port, handshake(bridge.port, { origin: 'http://evil.example' }))), 'HTTP/1.1 403 Forbidden');
  // An origin that merely starts like the bank's is another origin.
  assert.equal(status(await rawExchange(bridge.port, handshake(bridge.port, { origin: `${BANK}0` }))), 'HTTP/1.1 403 Forbidden');
  assert.equal(status(await rawExchange(bridge.port, handshake(bridge.port, { origin: 'null' }))), 'HTTP/1.1 403 Forbidden');
  for (const host of ['evil.example', `evil.example:${bridge.port}`, `127.0.0.1:${bridge.port + 1}`, `127.0.0.1.evil.example:${bridge.port}`]) {
    const answer = await rawExchange(bridge.port, handshake(bridge.port, { host, origin: BANK }));
    assert.equal(status(answer), 'HTTP/1.1 403 Forbidden', host);
  }
  for (const host of [`127.0.0.1:${bridge.port}`, `LOCALHOST:${bridge.port}`, `[::1]:${bridge.port}`]) {
    const answer = await rawExchange(bridge.port, handshake(bridge.port, { host, origin: BANK }), 1000);
    assert.equal(status(answer), 'HTTP/1.1 101 Switching Protocols', host);
  }
  const duplicated = await rawExchange(bridge.port, handshake(bridge.port, { origin: BANK, extra: `Origin: ${BANK}\r\n` }));
  assert.equal(status(duplicated), 'HTTP/1.1 400 Bad Request');
  assert.match(status(await rawExchange(bridge.port, 'GET / HTTP/1.1\r\nHost: x\r\n\r\n')), /^HTTP\/1.1 403/);
  assert.match(status(await rawExchange(bridge.port, `GET / HTTP/1.1\r\nHost: 127.0.0.1:${bridge.port}\r\n\r\n`)), /^HTTP\/1.1 426/);
  assert.match(status(await rawExchange(bridge.port, `\r\n\r\n`)), /^HTTP\/1.1 400/);
  assert.match(status(await rawExchange(bridge.port, `GET / HTTP/1.1\r\nX: ${'a'.repeat(20000)}\r\n\r\n`)), /^HTTP\/1.1 431/);

  // The browser-side view of a refusal: the client cannot connect.
  await assert.rejects(openClient(bridge.port, { origin: 'https://evil.example' }), (e) => e.status === 403);
  await stillServing();
});

test('the page address is the Origin followed by "/": only the bank and local programs as the site allows', async () => {
  const bank = await openClient(bridge.port, { origin: BANK });
  const other = await openClient(bridge.port, { origin: OTHER });
  const local = await openClient(bridge.port); // no Origin: a local program
  assert.equal(await bank.get('SupportURL'), '0');
  assert.equal(await other.get('SupportURL'), '-1');
  assert.equal(await local.get('SupportURL'), '-1');
  // Every control of the connection gets the same site.
  assert.equal(await bank.get('SupportURL', 5), '0');
  for (const c of [bank, other, local]) c.close();

  const open = await startBridge(['--site-address', '', '--allow-origin', OTHER]);
  try {
    const c = await openClient(open.port);
    assert.equal(await c.get('SupportURL'), '0', 'an empty site address approves even a local program');
    c.close();
  } finally {
    await open.stop();
  }
});

test('process-wide state is shared within an origin and kept apart between origins', async () => {
  const bankA = await openClient(bridge.port, { origin: BANK });
  const bankB = await openClient(bridge.port, { origin: BANK });
  const other = await openClient(bridge.port, { origin: OTHER });
  assert.equal(await bankA.call('ConnectReader'), 0);
  // The second page of the bank uses the context the first established ...
  assert.equal(await bankB.call('ListReaders'), 0);
  assert.equal(await bankB.get('caReader1'), 'RuzaZUV Simulated Reader 0');
  // ... the other origin has none of its own yet.
  assert.notEqual(await other.call('ListReaders'), 0);
  assert.equal(await other.get('caReader1'), '');
  assert.equal(await bankA.call('DisConnectReader'), 0);
  for (const c of [bankA, bankB, other]) c.close();
});

test('two connections interleaving each get their own answers in order', async () => {
  const x = await openClient(bridge.port, { origin: BANK });
  const y = await openClient(bridge.port, { origin: BANK });
  await x.put('Remark', 'from x');
  await y.put('Remark', 'from y');
  const n = 200;
  for (let i = 0; i < n; i++) {
    x.send({ jsonrpc: '2.0', id: `x${i}`, method: 'get', params: { name: 'Remark' } });
    y.send({ jsonrpc: '2.0', id: `y${i}`, method: 'get', params: { name: 'Remark' } });
    if (i % 50 === 0) y.send('{broken');
  }
  const xs = [];
  const ys = [];
  for (let i = 0; i < n; i++) xs.push(await x.next());
  for (let i = 0; i < n + 4; i++) ys.push(await y.next());
  assert.deepEqual(xs.map((a) => a.id), Array.from({ length: n }, (_, i) => `x${i}`));
  assert.ok(xs.every((a) => a.result === 'from x'));
  const yAnswers = ys.filter((a) => a.id !== null);
  assert.deepEqual(yAnswers.map((a) => a.id), Array.from({ length: n }, (_, i) => `y${i}`));
  assert.ok(yAnswers.every((a) => a.result === 'from y'));
  assert.equal(ys.filter((a) => a.error?.code === -32700).length, 4);
  x.close();
  y.close();
});

test('a client that vanishes with requests outstanding leaves the others served', async () => {
  const gone = await openClient(bridge.port, { origin: BANK });
  for (let i = 0; i < 500; i++) gone.send({ jsonrpc: '2.0', id: i, method: 'describe' });
  gone.ws.terminate(); // no closing handshake: the socket just goes
  const c = await openClient(bridge.port, { origin: BANK });
  assert.equal(await c.get('iNoR'), 0);
  c.close();
  await stillServing();
});

test('ruzazuv.js against the bridge: members, errors and batches', async () => {
  const ctl = await connect({ port: bridge.port, WebSocket: class extends WebSocket {
    constructor(url) {
      super(url, { origin: BANK });
    }
  } });
  assert.equal(await ctl.ConnectReader(), 0);
  assert.equal(await ctl.ListReaders(), 0);
  assert.equal(await ctl.iNoR, 1);
  const error = await ctl.put('iNoR', 'one').catch((e) => e);
  assert.ok(error instanceof RpcError);
  assert.equal(error.hresult, HR_TYPE_MISMATCH);
  await ctl.set({ Remark: 'r', curAccntIndex: 3 });
  assert.deepEqual(await ctl.batch([['get', 'Remark'], ['get', 'curAccntIndex']]), ['r', 3]);
  assert.equal(await ctl.control(1).Remark, '', 'the second control has its own properties');
  assert.equal(await ctl.DisConnectReader(), 0);
  ctl.close();
});

test('a client closing while its transfer dialog is open: the dialog is cancelled, the call ends, the queue goes on', async () => {
  const held = await startBridge(['--site-address', `${BANK}/`, '--allow-origin', BANK, '--ui', 'scripted:hold,ok']);
  try {
    const page = await openClient(held.port, { origin: BANK });
    assert.equal(await page.call('ConnectReader'), 0);
    assert.equal(await page.call('ListReaders'), 0);
    const reader = await page.get('caReader1');
    await page.put('noPullPlugReader', reader);
    await page.put('baReaderName', reader);
    assert.equal(await page.call('ConnectCard'), 0);
    await page.put('Pin', PIN);
    for (const [name, value] of [['money', '150000'], ['FdId', 'FD000001'], ['FdChkCode', 'CHK00001'],
      ['DateTime', '20260307090503'], ['curAccntIndex', 2], ['ImprtAccnt', '8120000000000003'], ['AcceptNo', '812']]) {
      await page.put(name, value);
    }
    const mark = held.log.length;
    page.send({ jsonrpc: '2.0', id: 'transfer', method: 'call', params: { name: 'FiscCardTransfer' } });
    await held.waitForLog(/dialog 103 open/, mark);

    // Another page's request waits behind the open dialog.
    const other = await openClient(held.port, { origin: BANK });
    other.send({ jsonrpc: '2.0', id: 'waiting', method: 'get', params: { name: 'iNoR' } });
    await new Promise((r) => setTimeout(r, 200));
    assert.equal(other.answers.length, 0, 'not answered while the dialog is open');

    page.close();
    await held.waitForLog(/dialog 103 ended with 2/, mark);
    assert.deepEqual(await other.next(), { jsonrpc: '2.0', id: 'waiting', result: 0 });

    // The same origin's context and card went on: a new page connects with them, and its
    // transfer confirms (the next action, ok).
    const again = await openClient(held.port, { origin: BANK });
    await again.put('noPullPlugReader', reader);
    await again.put('baReaderName', reader);
    assert.equal(await again.call('DisConnectCard'), 0, 'the card handle the first page left');
    assert.equal(await again.call('ConnectCard'), 0);
    await again.put('Pin', PIN);
    for (const [name, value] of [['money', '150000'], ['FdId', 'FD000001'], ['FdChkCode', 'CHK00001'],
      ['DateTime', '20260307090503'], ['curAccntIndex', 2], ['ImprtAccnt', '8120000000000003'], ['AcceptNo', '812']]) {
      await again.put(name, value);
    }
    assert.equal(await again.call('FiscCardTransfer'), 0);
    assert.equal(await again.get('uiSW12'), 0x9000);
    again.close();
    other.close();
    assert.ok(held.alive());
    assert.ok(!held.log.includes(PIN) && !held.log.includes(`${PIN}FFFFFFFFFF`), 'no PIN or PIN block in the log');
  } finally {
    const exit = await held.stop();
    assert.equal(exit.code, 0, held.log);
  }
});

test('without a PC/SC service the calls report its absence and the bridge goes on', async () => {
  const none = await startBridge([], { pcsc: 'system', env: { PCSCLITE_CSOCK_NAME: '/nonexistent/pcscd.comm' } });
  try {
    const c = await openClient(none.port);
    const ret = await c.call('ConnectReader');
    assert.ok(Number.isInteger(ret) && ret < 0, `ConnectReader gives a PC/SC failure, got ${ret}`);
    assert.notEqual(await c.call('ListReaders'), 0);
    assert.equal((await c.request('describe')).result.members.length, 96);
    c.close();
  } finally {
    assert.equal((await none.stop()).code, 0, none.log);
  }
});

test('--serve-demo serves the files of its directory only, to loopback hosts, and allows their origin', async () => {
  const root = new URL('..', import.meta.url).pathname; // web/
  const demo = await startBridge(['--serve-demo', root]);
  try {
    await demo.waitForLog(/demo files of .* served on port \d+/);
    const port = Number(/demo files of .* served on port (\d+)/.exec(demo.log)[1]);
    // One address is printed, the page's own: it finds the bridge by its port and skips the
    // pull-out check on the simulated reader, whose card cannot be pulled out.
    for (let i = 0; i < 200 && !demo.output.includes('\n'); i++) await new Promise((r) => setTimeout(r, 10));
    assert.equal(demo.output, `Open http://127.0.0.1:${port}/demo/?port=${demo.port}&nopullplug=1\n`);
    const get = (path, host = `127.0.0.1:${port}`) => rawExchange(port, `GET ${path} HTTP/1.1\r\nHost: ${host}\r\n\r\n`);
    const page = await get('/ruzazuv.js');
    assert.match(page, /^HTTP\/1.1 200 OK\r\n/);
    assert.match(page, /Content-Type: text\/javascript/);
    assert.ok(page.includes('export function connect'));
    for (const path of ['/../CMakeLists.txt', '/%2e%2e/CMakeLists.txt', '/node_modules/../../README.md', '/missing.js', '/a%00b']) {
      assert.match(await get(path), /^HTTP\/1.1 404/, path);
    }
    assert.match(await get('/ruzazuv.js', `evil.example:${port}`), /^HTTP\/1.1 403/);
    // The page's origin may open the WebSocket.
    const c = await openClient(demo.port, { origin: `http://127.0.0.1:${port}` });
    assert.equal((await c.request('describe')).result.version, '1.0');
    c.close();
  } finally {
    assert.equal((await demo.stop()).code, 0, demo.log);
  }
});

test('deeply nested JSON is refused as an invalid request and crashes nothing', async () => {
  const c = await openClient(bridge.port, { origin: BANK });
  const deep = '['.repeat(20000) + ']'.repeat(20000);
  c.send(`{"jsonrpc":"2.0","id":7,"method":"get","params":{"name":"uiSW12","x":${deep}}}`);
  assert.equal((await c.next()).error.code, -32600);
  c.send(`{"jsonrpc":"2.0","method":"get","id":${deep}}`);
  assert.equal((await c.next()).error.code, -32600);
  assert.equal(await c.get('InquiryTxnID'), '2500');
  c.close();
  await stillServing();
});

// A text frame as a client sends it: masked (unless `mask` is null), with the 16- or 64-bit
// length forms.
function textFrame(text, mask = Buffer.from([1, 2, 3, 4])) {
  const payload = Buffer.from(text);
  const maskBit = mask ? 0x80 : 0;
  let header;
  if (payload.length < 126) header = Buffer.from([0x81, maskBit | payload.length]);
  else if (payload.length < 65536) header = Buffer.from([0x81, maskBit | 126, payload.length >> 8, payload.length & 0xff]);
  else {
    header = Buffer.alloc(10);
    header[0] = 0x81;
    header[1] = maskBit | 127;
    header.writeBigUInt64BE(BigInt(payload.length), 2);
  }
  if (!mask) return Buffer.concat([header, payload]);
  return Buffer.concat([header, mask, Buffer.from(payload.map((b, i) => b ^ mask[i % 4]))]);
}

// A raw TCP client past the handshake (`first` goes out with it): `received` collects what the
// bridge sends after the 101.
async function rawWebSocket(port, first = Buffer.alloc(0)) {
  const socket = net.connect(port, '127.0.0.1');
  await new Promise((resolve) => socket.once('connect', resolve));
  socket.write(Buffer.concat([Buffer.from(handshake(port, {})), first]));
  let data = Buffer.alloc(0);
  socket.on('data', (chunk) => (data = Buffer.concat([data, chunk])));
  const closed = new Promise((resolve) => socket.on('close', resolve));
  socket.on('error', () => {}); // the bridge may drop a client it closed on
  const start = Date.now();
  while (!data.includes('\r\n\r\n') && Date.now() - start < 5000) await new Promise((r) => setTimeout(r, 10));
  assert.match(data.toString('latin1'), /^HTTP\/1.1 101 Switching Protocols\r\n/);
  const headLength = data.indexOf('\r\n\r\n') + 4;
  return { socket, closed, received: () => data.subarray(headLength) };
}

test('a client that never reads its answers or pongs is closed before they pile up', async () => {
  // Each answer is about 0.9 MB, within what one message may cost.
  const describeBatch = JSON.stringify(Array.from({ length: 100 }, (_, id) => ({ jsonrpc: '2.0', id, method: 'describe' })));
  const ping = Buffer.concat([Buffer.from([0x89, 0x80 | 125, 1, 2, 3, 4]), Buffer.alloc(125, 7)]);
  const floods = [() => textFrame(describeBatch), () => Buffer.concat(Array(2000).fill(ping))];
  for (const [n, flood] of [[50, floods[0]], [200, floods[1]]]) {
    const mark = bridge.log.length;
    const { socket } = await rawWebSocket(bridge.port);
    socket.pause(); // from now on nothing is read
    for (let i = 0; i < n; i++) socket.write(flood());
    // Under the sanitizers on a busy machine the 32 MiB take the bridge well over 30 s to write.
    await bridge.waitForLog(/does not read its answers; closing/, mark, 60000);
    socket.destroy();
  }
  await stillServing();
});

test('"null" is never accepted as an origin to allow', async () => {
  const { spawnSync } = await import('node:child_process');
  const { join } = await import('node:path');
  const { BIN_DIR } = await import('../testing/bridge_process.mjs');
  const run = spawnSync(join(BIN_DIR, 'ruzazuv-bridge'), ['--port', '0', '--allow-origin', 'null', '--ui', 'none'], { timeout: 10000, encoding: 'utf8' });
  assert.equal(run.status, 2, run.stderr);
  assert.match(run.stderr, /not an origin: null/);
});

test('the bridge answers on [::1] too, where the system has IPv6 loopback', async (t) => {
  const reachable = await new Promise((resolve) => {
    const probe = net.connect(bridge.port, '::1', () => { probe.destroy(); resolve(true); });
    probe.on('error', () => resolve(false));
  });
  if (!reachable && !bridge.log.includes('not serving [::1]')) assert.fail(`no [::1] and no reason logged:\n${bridge.log}`);
  if (!reachable) return t.skip('no IPv6 loopback here');
  const ws = new WebSocket(`ws://[::1]:${bridge.port}/`, { origin: BANK });
  const answer = await new Promise((resolve, reject) => {
    ws.once('open', () => ws.send(JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'get', params: { name: 'SupportURL' } })));
    ws.once('message', (data) => resolve(JSON.parse(data.toString())));
    ws.once('error', reject);
  });
  assert.equal(answer.result, '0'); // the bank's page, approved as on 127.0.0.1
  ws.close();
});

test('long header lines are read up to the 16 KiB head; a larger head is refused with 431 and logged', async () => {
  const cookie = `session=${'c'.repeat(12 * 1024)}`;
  const c = await openClient(bridge.port, { origin: BANK, headers: { Cookie: cookie } });
  assert.equal(await c.get('SupportURL'), '0');
  c.close();
  const mark = bridge.log.length;
  const big = handshake(bridge.port, { origin: BANK, extra: `Cookie: session=${'c'.repeat(17 * 1024)}\r\n` });
  assert.match(await rawExchange(bridge.port, big), /^HTTP\/1.1 431 Request Header Fields Too Large\r\n/);
  await bridge.waitForLog(/refused a connection \(431\): handshake too large/, mark);
});

test('an Origin with a path, query, fragment, user info or a bad port is refused with 403', async () => {
  for (const origin of [`${BANK}/`, `${BANK}/x`, `${BANK}?q`, `${BANK}#f`, 'http://127.0.0.1:', 'http://u@127.0.0.1:8123',
    'http://127.0.0.1:08123', 'http://127.0.0.1:8123:8123', 'http://[::1', `${BANK} x`]) {
    const answer = await rawExchange(bridge.port, handshake(bridge.port, { origin }));
    assert.match(answer, /^HTTP\/1.1 403 Forbidden\r\n/, origin);
  }
});

test('pings are answered with pongs; an unmasked client frame closes with 1002', async () => {
  const c = await openClient(bridge.port, { origin: BANK });
  const pong = new Promise((resolve) => c.ws.once('pong', (data) => resolve(data.toString())));
  c.ws.ping('are you there');
  assert.equal(await pong, 'are you there');
  c.close();

  // Sent in one piece with the head: the frame is read from what follows the head.
  const raw = await rawWebSocket(bridge.port, textFrame('{"jsonrpc":"2.0","id":1,"method":"describe"}', null));
  await raw.closed;
  const frame = raw.received();
  assert.equal(frame[0], 0x88, 'a close frame, and no answer before it');
  assert.equal(frame.readUInt16BE(2), 1002);
  await stillServing();
});

test('connections are served request by request: a big batch delays another page by a few requests only', async () => {
  const busy = await openClient(bridge.port, { origin: BANK });
  const other = await openClient(bridge.port, { origin: OTHER });
  const arrivals = [];
  busy.ws.on('message', () => arrivals.push('busy'));
  other.ws.on('message', () => arrivals.push('other'));
  // Five messages of 1,701 requests each (nearly 64 KiB), then one get on the other connection.
  // The describes are notifications, so that each message costs the bridge much work but only a
  // small answer, which cannot overtake the get's on its way to this process.
  const batch = JSON.stringify([
    ...Array.from({ length: 1700 }, () => ({ jsonrpc: '2.0', method: 'describe' })),
    { jsonrpc: '2.0', id: 'last', method: 'get', params: { name: 'iNoR' } },
  ]);
  for (let i = 0; i < 5; i++) busy.send(batch);
  other.send({ jsonrpc: '2.0', id: 'get', method: 'get', params: { name: 'iNoR' } });
  assert.deepEqual(await other.next(), { jsonrpc: '2.0', id: 'get', result: 0 });
  for (let i = 0; i < 5; i++) assert.deepEqual(await busy.next(60000), [{ jsonrpc: '2.0', id: 'last', result: 0 }]);
  // Served whole messages in arrival order, the get would come after all five batches.
  assert.ok(arrivals.indexOf('other') <= 1, `the get waited for ${arrivals.indexOf('other')} batches`);
  // A batch whose answers would exceed the bound is refused whole, at once.
  busy.send(JSON.stringify(Array.from({ length: 1444 }, (_, id) => ({ jsonrpc: '2.0', id: id % 10, method: 'describe' }))));
  assert.equal((await busy.next()).error.code, -32600);
  busy.close();
  other.close();
});

test('memory taken by a flood of large answers is given back', async () => {
  const rss = () => Number(/VmRSS:\s+(\d+) kB/.exec(readFileSync(`/proc/${bridge.child.pid}/status`, 'utf8'))[1]);
  const batch = JSON.stringify(Array.from({ length: 100 }, (_, id) => ({ jsonrpc: '2.0', id, method: 'describe' })));
  const clients = await Promise.all([BANK, BANK, OTHER, OTHER].map((origin) => openClient(bridge.port, { origin })));
  await Promise.all(clients.map((c) => c.request('describe')));
  const before = rss();
  for (const c of clients) for (let i = 0; i < 5; i++) c.send(batch);
  for (const c of clients) for (let i = 0; i < 5; i++) assert.equal((await c.next(60000)).length, 100);
  // Some 18 MB of answers went out; what stays is a small part of it.
  const after = rss();
  assert.ok(after < before * 1.5 + 8 * 1024, `VmRSS ${before} kB before, ${after} kB after`);
  for (const c of clients) c.close();
});
