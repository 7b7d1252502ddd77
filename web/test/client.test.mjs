import { test } from 'node:test';
import assert from 'node:assert/strict';
import WebSocket from 'ws';

import { connect, members, RpcError, ConnectionError, MAX_MESSAGE_BYTES, Control } from '../ruzazuv.js';
import { startFakeBridge, answering } from '../testing/fake_bridge.mjs';

const open = (bridge) => connect({ port: bridge.port, WebSocket });

test('methods call by name and resolve to ret; properties read with get', async (t) => {
  const bridge = await startFakeBridge({
    handler: answering((r) => (r.method === 'call' ? -2146435026 : r.params.name === 'iNoR' ? 2 : 'Reader A')),
  });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  assert.equal(await ctl.ConnectReader(), -2146435026);
  assert.equal(await ctl.iNoR, 2);
  assert.equal(await ctl.caReader1, 'Reader A');
  assert.equal(await ctl.get(4), 'Reader A');
  const sent = bridge.received.map((m) => JSON.parse(m));
  assert.deepEqual(sent.map((m) => [m.jsonrpc, m.method, m.params]), [
    ['2.0', 'call', { name: 'ConnectReader' }],
    ['2.0', 'get', { name: 'iNoR' }],
    ['2.0', 'get', { name: 'caReader1' }],
    ['2.0', 'get', { dispid: 4 }],
  ]);
  assert.equal(new Set(sent.map((m) => m.id)).size, 4, 'each request has its own id');
  ctl.close();
});

test('every member of the table is installed with its kind', async (t) => {
  const bridge = await startFakeBridge({ handler: answering(() => 0) });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  assert.ok(ctl instanceof Control);
  for (const m of members) {
    const d = Object.getOwnPropertyDescriptor(Control.prototype, m.name);
    assert.ok(d, `${m.name} is installed`);
    if (m.kind === 'method') assert.equal(typeof d.value, 'function', m.name);
    else assert.equal(typeof d.get, 'function', m.name);
  }
  await Promise.all(members.map((m) => (m.kind === 'method' ? ctl[m.name]() : ctl[m.name])));
  const sent = bridge.received.map((m) => JSON.parse(m));
  assert.deepEqual(
    sent.map((m) => `${m.method} ${m.params.name}`),
    members.map((m) => `${m.kind === 'method' ? 'call' : 'get'} ${m.name}`),
  );
  ctl.close();
});

test('assigning a property throws and sends nothing; writes go through put and set', async (t) => {
  const bridge = await startFakeBridge({ handler: answering(() => null) });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  assert.throws(() => {
    ctl.money = '100';
  }, TypeError);
  assert.equal(await ctl.put('money', '100'), undefined);
  await ctl.set({ baReaderName: 'R', bPq: 1, Pin: null });
  await assert.rejects(ctl.put('money'), TypeError);
  const sent = bridge.received.map((m) => JSON.parse(m));
  assert.equal(sent.length, 2, 'the assignment and the put without a value sent nothing');
  assert.deepEqual(sent[0].params, { name: 'money', value: '100' });
  assert.ok(Array.isArray(sent[1]), 'set sends one batch');
  assert.deepEqual(sent[1].map((r) => [r.method, r.params]), [
    ['put', { name: 'baReaderName', value: 'R' }],
    ['put', { name: 'bPq', value: 1 }],
    ['put', { name: 'Pin', value: null }],
  ]);
  ctl.close();
});

test('JSON-RPC errors reject with code and hresult', async (t) => {
  const bridge = await startFakeBridge({
    handler: (r) => ({ jsonrpc: '2.0', id: r.id, error: { code: -32602, message: 'unknown member: Nope', data: { hresult: 2147614726 } } }),
  });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  const error = await ctl.call('Nope').catch((e) => e);
  assert.ok(error instanceof RpcError);
  assert.ok(error instanceof Error);
  assert.equal(error.code, -32602);
  assert.equal(error.hresult, 0x80020006);
  assert.equal(error.message, 'unknown member: Nope');
  ctl.close();
});

test('control(k) addresses the K-th control on the same connection', async (t) => {
  const bridge = await startFakeBridge({ handler: answering((r) => r.params?.control ?? 0) });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  const second = ctl.control(2);
  assert.equal(second.index, 2);
  assert.equal(ctl.control(2), second, 'one object per index');
  assert.equal(second.control(0), ctl);
  assert.equal(await second.ListReaders(), 2);
  assert.equal(await ctl.ListReaders(), 0);
  const sent = bridge.received.map((m) => JSON.parse(m));
  assert.deepEqual(sent[0].params, { name: 'ListReaders', control: 2 });
  assert.deepEqual(sent[1].params, { name: 'ListReaders' }, 'control 0 is the default and not sent');
  assert.throws(() => ctl.control(-1), RangeError);
  assert.equal(bridge.sockets.length, 1);
  ctl.close();
});

test('batch sends one message and matches answers by id, in request order', async (t) => {
  const bridge = await startFakeBridge({
    // Answers reversed: the client must still hand results back in request order.
    handler: (batch) => batch.map((r) => ({ jsonrpc: '2.0', id: r.id, result: `${r.method}:${r.params.name}` })).reverse(),
  });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  const results = await ctl.batch([['get', 'iNoR'], ['put', 'money', '5'], { method: 'call', name: 'ListReaders' }]);
  assert.deepEqual(results, ['get:iNoR', 'put:money', 'call:ListReaders']);
  assert.equal(bridge.received.length, 1);
  await assert.rejects(ctl.batch([]), TypeError);
  await assert.rejects(ctl.batch([['delete', 'x']]), TypeError);
  ctl.close();
});

test('a batch with a failing entry rejects with it and carries every result', async (t) => {
  const bridge = await startFakeBridge({
    handler: (batch) => batch.map((r, i) => (i === 1
      ? { jsonrpc: '2.0', id: r.id, error: { code: -32602, message: 'wrong type', data: { hresult: 2147614725 } } }
      : { jsonrpc: '2.0', id: r.id, result: i })),
  });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  const error = await ctl.batch([['get', 'iNoR'], ['put', 'iNoR', 'x'], ['get', 'uiSW12']]).catch((e) => e);
  assert.ok(error instanceof RpcError);
  assert.equal(error.hresult, 0x80020005);
  assert.equal(error.results.length, 3);
  assert.equal(error.results[0], 0);
  assert.equal(error.results[1], error);
  assert.equal(error.results[2], 2);
  ctl.close();
});

test('an answer without id settles the oldest outstanding message, then later ones go on', async (t) => {
  let first = true;
  const bridge = await startFakeBridge({
    handler: (message) => {
      if (first) {
        first = false;
        return { jsonrpc: '2.0', id: null, error: { code: -32700, message: 'Parse error' } };
      }
      return answering(() => 7)(message);
    },
  });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  const error = await ctl.batch([['get', 'iNoR'], ['get', 'uiSW12']]).catch((e) => e);
  assert.ok(error instanceof RpcError);
  assert.equal(error.code, -32700);
  assert.ok(error.results.every((r) => r instanceof RpcError), 'both entries of the batch fail');
  assert.equal(await ctl.iNoR, 7);
  ctl.close();
});

test('a message over the bridge limit is refused before it is sent', async (t) => {
  const bridge = await startFakeBridge({ handler: answering(() => null) });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  // Multi-byte text: the limit counts UTF-8 bytes, not characters.
  const text = '\u78ba'.repeat(Math.ceil(MAX_MESSAGE_BYTES / 3));
  await assert.rejects(ctl.put('Remark', text), RangeError);
  assert.equal(bridge.received.length, 0);
  await ctl.put('Remark', 'x'.repeat(1000));
  assert.equal(bridge.received.length, 1);
  ctl.close();
});

test('a connection that closes rejects what is outstanding and everything after', async (t) => {
  const bridge = await startFakeBridge({ handler: (_m, socket) => socket.close(1009, 'too big') });
  t.after(() => bridge.close());
  const ctl = await open(bridge);
  const error = await ctl.ConnectCard().catch((e) => e);
  assert.ok(error instanceof ConnectionError);
  assert.equal(error.closeCode, 1009);
  await assert.rejects(ctl.iNoR, ConnectionError);
  assert.deepEqual(await ctl.closed, { code: 1009, reason: 'too big' });
});

test('connect fails when the handshake is refused or the address is not this computer', async (t) => {
  const bridge = await startFakeBridge({ refuse: true });
  t.after(() => bridge.close());
  await assert.rejects(open(bridge), ConnectionError);
  await assert.rejects(connect({ port: bridge.port, host: 'bank.example', WebSocket }), TypeError);
  await assert.rejects(connect({ port: 0, WebSocket }), RangeError);
  await assert.rejects(connect({ port: bridge.port, WebSocket: undefined }), TypeError);
});

test('connect reaches [::1] and localhost by their bracketed and plain names', async () => {
  const urls = [];
  class Recorder {
    constructor(url) {
      urls.push(url);
    }
    addEventListener() {}
  }
  connect({ port: 1234, host: '::1', WebSocket: Recorder });
  connect({ port: 1234, host: 'LOCALHOST', WebSocket: Recorder });
  assert.deepEqual(urls, ['ws://[::1]:1234/', 'ws://localhost:1234/']);
});
