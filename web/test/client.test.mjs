import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import WebSocket from 'ws';

import { connect, members, RpcError, ConnectionError, MAX_MESSAGE_BYTES, Control } from '../ruzazuv.js';
import { startFakeBridge, answering } from '../testing/fake_bridge.mjs';
import { fakeWindow, fakeBrowser, hostAnswering } from '../testing/fake_extension.mjs';

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

describe('over the extension', () => {
  // Waits that end a case are short; waits for an answer that comes are long, so that a slow
  // machine never turns an answer into a timeout.
  const patient = { probeTimeout: 10000, helloTimeout: 10000 };
  // A page with (or without) the extension's content script, and a bridge to fall back to.
  async function extensionPage(t, { extension = true, host = hostAnswering(answering(() => 0)) } = {}) {
    const bridge = await startFakeBridge({ handler: answering(() => 'bridge') });
    t.after(() => bridge.close());
    const win = fakeWindow();
    const browser = fakeBrowser({ host });
    if (extension) browser.install(win);
    const open = (options = {}) => connect({ window: win, port: bridge.port, WebSocket, ...patient, ...options });
    return { win, browser, bridge, open };
  }
  const refusing = (e) => (e.hello ? { id: e.id, refused: 'origin', message: 'origin not allowed' } : undefined);

  const choices = [
    ['the extension answers', {}, {}, 'extension'],
    ['no extension on the page', { extension: false }, { probeTimeout: 30 }, 'websocket'],
    ['the extension has no host', { host: null }, {}, 'websocket'],
    ['the host does not say hello', { host: () => undefined }, { helloTimeout: 30 }, 'websocket'],
    ['the bridge forced', {}, { transport: 'websocket' }, 'websocket'],
    ['the extension forced, none on the page', { extension: false }, { transport: 'extension', probeTimeout: 30 }, 1006],
    ['the extension forced, no host', { host: null }, { transport: 'extension' }, 1006],
    ['the origin refused', { host: refusing }, {}, 1008],
  ];
  for (const [name, page, options, expected] of choices) {
    test(`transport choice: ${name}`, async (t) => {
      const { win, bridge, open } = await extensionPage(t, page);
      const result = await open(options).catch((e) => e);
      if (typeof expected === 'number') {
        assert.ok(result instanceof ConnectionError, String(result));
        assert.equal(result.closeCode, expected);
        assert.equal(bridge.sockets.length, 0, 'no fallback');
        return;
      }
      assert.equal(result.transport, expected);
      assert.equal(await result.iNoR, expected === 'extension' ? 0 : 'bridge');
      if (options.transport === 'websocket') assert.deepEqual(win.seen('ruzazuv-page'), [], 'no probe when forced');
      result.close();
    });
  }

  test('the same requests, answers and errors as over the bridge; forged answers are ignored', async (t) => {
    const { win, browser, open } = await extensionPage(t, {
      host: hostAnswering((m) => (Array.isArray(m)
        ? m.length === 2
          ? { jsonrpc: '2.0', id: null, error: { code: -32700, message: 'Parse error' } }
          : [{ jsonrpc: '2.0', id: m[0].id, result: 1 }]
        : m.method === 'call'
          ? { jsonrpc: '2.0', id: m.id, error: { code: -32602, message: 'unknown member', data: { hresult: 2147614726 } } }
          : { jsonrpc: '2.0', id: m.id, result: `${m.params.name}:${m.params.control ?? 0}` })),
    });
    const ctl = await open();
    const reading = ctl.control(1).caReader1;
    await new Promise((r) => setImmediate(r));
    const { id } = win.seen('ruzazuv-page').at(-1);
    win.postFrom({}, 'https://evil.example', { channel: 'ruzazuv-extension', kind: 'answer', id, answer: '{"jsonrpc":"2.0","id":1,"result":"forged"}' });
    assert.equal(await reading, 'caReader1:1');
    const error = await ctl.call('Nope').catch((e) => e);
    assert.ok(error instanceof RpcError);
    assert.equal(error.hresult, 0x80020006);
    const batch = await ctl.batch([['get', 'iNoR'], ['get', 'uiSW12']]).catch((e) => e);
    assert.ok(batch.results.every((r) => r instanceof RpcError && r.code === -32700), 'an answer without id fails its whole message');
    const partial = await ctl.batch([['get', 'iNoR'], ['get', 'uiSW12'], ['get', 'bPq']]).catch((e) => e);
    assert.deepEqual(partial.results.map((r) => (r instanceof Error ? r.name : r)), [1, 'ConnectionError', 'ConnectionError'], 'what the answer left out fails');
    const requests = browser.envelopes.filter((e) => e.request).map((e) => JSON.parse(e.request));
    assert.deepEqual(requests[0], { jsonrpc: '2.0', id: requests[0].id, method: 'get', params: { name: 'caReader1', control: 1 } });
  });

  test('a host that ends rejects what is outstanding; the next call starts a new host', async (t) => {
    let calls = 0;
    const { browser, open } = await extensionPage(t, {
      host: (e, host) => (e.request && ++calls === 1 ? host.exit('Native host has exited.') : hostAnswering(answering(() => 3))(e)),
    });
    const ctl = await open();
    const error = await ctl.ConnectCard().catch((e) => e);
    assert.ok(error instanceof ConnectionError);
    assert.equal(error.reason, 'host-ended');
    assert.match(error.message, /Native host has exited/);
    assert.equal(await ctl.iNoR, 3);
    assert.equal(browser.started, 2);
    let closed = false;
    ctl.closed.then(() => (closed = true));
    await new Promise((r) => setImmediate(r));
    assert.equal(closed, false, 'a host exit does not close the connection');
  });

  test('limits and close: an envelope too large for the host, close rejecting what is outstanding', async (t) => {
    const { open } = await extensionPage(t, { host: hostAnswering((m) => (m.params?.name === 'iNoR' ? undefined : answering(() => null)(m))) });
    const ctl = await open();
    // Under the page's limit as a message, over the host's once its quotes are escaped.
    await assert.rejects(ctl.put('Remark', '"'.repeat(MAX_MESSAGE_BYTES / 4 + 100)), { name: 'RangeError', message: /card host/ });
    await ctl.put('Remark', 'x');
    const waiting = ctl.iNoR; // the host never answers it
    ctl.close();
    await assert.rejects(waiting, ConnectionError);
    await assert.rejects(ctl.iNoR, ConnectionError);
    assert.deepEqual(await ctl.closed, { code: 1000, reason: '' });
  });
});
