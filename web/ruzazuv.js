// ruzazuv.js: the page-side client of the RuzaZUV bridge (ruzazuv-bridge), an ES module with no
// dependencies.
//
//   import { connect } from './ruzazuv.js';
//   const ctl = await connect({ port: 47950 });
//   await ctl.ConnectReader();                 // methods resolve to their `ret`
//   await ctl.ListReaders();
//   const reader = await ctl.caReader1;        // properties read as promises
//   await ctl.set({ baReaderName: reader });   // and are written with set() or put()
//   const ret = await ctl.ConnectCard();
//   const [n, sw] = await ctl.batch([['get', 'iNoR'], ['get', 'uiSW12']]);
//   const second = ctl.control(1);             // the page's second control, same connection
//   ctl.close();
//
// Every request is a promise. A JSON-RPC error rejects with an RpcError carrying `code` and,
// for a member named or valued wrongly, `hresult` (the dispatch result, an unsigned number). A
// connection that closes rejects what is outstanding with a ConnectionError carrying the close
// code (1009: a message over 64 KiB). Assigning to a property throws a TypeError: a put's
// failure must be awaited, so writes go through set() or put().
//
// In node (which has no WebSocket client before version 22) pass a constructor:
//   import WebSocket from 'ws';  connect({ port, WebSocket });
//
// Two transports carry the same JSON-RPC messages: the browser extension, which hands them to
// the card host the browser starts (no loopback port, the origin vouched for by the browser),
// and the WebSocket bridge. connect() tries the extension first and falls back to the bridge
// when the extension does not answer or cannot start its host; connect({ transport }) forces
// one. Over the extension a host that ends fails what is outstanding with a ConnectionError,
// but the connection stays usable: the next request starts a new host (with fresh state).

import { members, progid, version } from './ruzazuv.members.js';

export { members, progid, version };

export const DEFAULT_PORT = 47950;
// The bridge closes a connection on a message longer than this (in UTF-8 bytes).
export const MAX_MESSAGE_BYTES = 64 * 1024;

const LOOPBACK_HOSTS = new Map([
  ['127.0.0.1', '127.0.0.1'],
  ['localhost', 'localhost'],
  ['::1', '[::1]'],
  ['[::1]', '[::1]'],
]);

export class RpcError extends Error {
  constructor(error) {
    super(typeof error?.message === 'string' ? error.message : 'JSON-RPC error');
    this.name = 'RpcError';
    this.code = error?.code;
    this.data = error?.data;
    this.hresult = error?.data?.hresult;
  }
}

export class ConnectionError extends Error {
  constructor(message, closeCode = 1006, reason = '') {
    super(message);
    this.name = 'ConnectionError';
    this.closeCode = closeCode;
    this.reason = reason;
  }
}

const encoder = new TextEncoder();

function deferred() {
  let resolve;
  let reject;
  const promise = new Promise((res, rej) => {
    resolve = res;
    reject = rej;
  });
  return { promise, resolve, reject };
}

// The JSON-RPC side of a connection, shared by the page's controls: request ids, answers
// matched to them, failures. Its subclasses carry the message texts.
class Connection {
  #nextId = 1;
  #pending = new Map(); // id -> deferred
  #sends = []; // ids of each message sent and not fully answered, oldest first
  #controls = new Map();
  #closedError = null;
  #closed = deferred();

  get closed() {
    return this.#closed.promise;
  }

  control(index) {
    if (!Number.isInteger(index) || index < 0) throw new RangeError('a control index is an integer from 0');
    let control = this.#controls.get(index);
    if (!control) {
      control = new Control(this, index);
      this.#controls.set(index, control);
    }
    return control;
  }

  // Sends one request (single) or several as a batch; resolves to the result(s) in order.
  send(requests, single) {
    if (this.#closedError) return Promise.reject(this.#closedError);
    const waits = requests.map(() => deferred());
    const ids = [];
    const message = requests.map((request, i) => {
      const id = this.#nextId++;
      ids.push(id);
      this.#pending.set(id, waits[i]);
      return { jsonrpc: '2.0', id, method: request.method, ...(request.params ? { params: request.params } : {}) };
    });
    const text = JSON.stringify(single ? message[0] : message);
    const bytes = encoder.encode(text).length;
    if (bytes > MAX_MESSAGE_BYTES) {
      for (const id of ids) this.#pending.delete(id);
      return Promise.reject(new RangeError(`message of ${bytes} bytes; the bridge takes at most ${MAX_MESSAGE_BYTES}`));
    }
    const send = new Set(ids);
    this.#sends.push(send);
    this.transmit(text, send);
    const promises = waits.map((w) => w.promise);
    return single ? promises[0] : Promise.allSettled(promises);
  }

  // An answer text of the bridge or host.
  receive(data) {
    let answer;
    try {
      answer = JSON.parse(typeof data === 'string' ? data : String(data));
    } catch {
      return; // not from the bridge
    }
    for (const item of Array.isArray(answer) ? answer : [answer]) this.#settle(item);
  }

  #settle(item) {
    if (item === null || typeof item !== 'object') return;
    const id = item.id;
    if (id === null || id === undefined) {
      // An error the bridge could not tie to a request (the whole message was refused): it
      // belongs to the oldest message still waiting, as answers come in order.
      const oldest = this.#sends.shift();
      if (!oldest) return;
      for (const waiting of oldest) this.#finish(waiting, item);
      return;
    }
    this.#finish(id, item);
  }

  // Rejects the requests of one message that are still waiting.
  failSend(send, error) {
    for (const id of [...send]) {
      const wait = this.#pending.get(id);
      this.#pending.delete(id);
      wait?.reject(error);
    }
    send.clear();
    const at = this.#sends.indexOf(send);
    if (at >= 0) this.#sends.splice(at, 1);
  }

  #finish(id, item) {
    const wait = this.#pending.get(id);
    if (!wait) return;
    this.#pending.delete(id);
    const send = this.#sends.find((s) => s.has(id));
    if (send) {
      send.delete(id);
      if (send.size === 0) this.#sends.splice(this.#sends.indexOf(send), 1);
    }
    if (item.error !== undefined) wait.reject(new RpcError(item.error));
    else wait.resolve(item.result);
  }

  // Rejects everything outstanding and every later request with `error`; `closed` resolves
  // with `close`.
  fail(error, close = null) {
    if (!this.#closedError) this.#closedError = error;
    for (const wait of this.#pending.values()) wait.reject(error);
    this.#pending.clear();
    this.#sends = [];
    if (close) this.#closed.resolve(close);
  }
}

// One WebSocket to the bridge.
class WebSocketConnection extends Connection {
  #socket;

  constructor(socket) {
    super();
    this.#socket = socket;
    socket.addEventListener('message', (event) => this.receive(event.data));
    // Failures are reported by the close that follows; a listener keeps node's sockets from
    // treating them as uncaught.
    socket.addEventListener('error', () => {});
    socket.addEventListener('close', (event) => {
      const code = event?.code ?? 1006;
      const reason = event?.reason ?? '';
      this.fail(new ConnectionError(`connection to the bridge closed (${code})`, code, reason), { code, reason });
    });
  }

  get transport() {
    return 'websocket';
  }

  transmit(text) {
    try {
      this.#socket.send(text);
    } catch (e) {
      this.fail(new ConnectionError(`cannot send to the bridge: ${e?.message ?? e}`));
    }
  }

  close() {
    this.#socket.close(1000);
  }
}

const PAGE_CHANNEL = 'ruzazuv-page';
const EXTENSION_CHANNEL = 'ruzazuv-extension';
// How long connect() waits for the extension's content script, then for its host's hello.
export const PROBE_TIMEOUT_MS = 300;
export const HELLO_TIMEOUT_MS = 5000;
// Message ids on the page's channel, shared by every connection of this module and started at
// random, so that two copies of the client on one page do not take each other's answers.
let nextPageId = Math.floor(Math.random() * 2 ** 32) * 2 ** 16 + 1;

// The error a request gets when the extension answers `error` instead.
function extensionError(reply) {
  const message = typeof reply.message === 'string' ? reply.message : String(reply.error);
  switch (reply.error) {
    case 'host-ended':
      return new ConnectionError(message, 1006, 'host-ended');
    case 'refused':
      return new ConnectionError(`this page's origin is not served: ${message}`, 1008, 'refused');
    case 'too-large':
      return new RangeError(message);
    case 'bad-message':
      return new RpcError({ code: -32600, message });
    default:
      return new ConnectionError(`the extension failed: ${message}`);
  }
}

// The page's channel to the browser extension, through window.postMessage on the page's own
// origin. Each message gets exactly one reply with its id.
class ExtensionConnection extends Connection {
  #window;
  #origin;
  #replies = new Map(); // page id -> reply handler
  #listener = (event) => this.#onWindowMessage(event);
  #ended = false;

  constructor(win) {
    super();
    this.#window = win;
    this.#origin = win.location.origin;
    win.addEventListener('message', this.#listener);
  }

  get transport() {
    return 'extension';
  }

  #onWindowMessage(event) {
    const data = event?.data;
    if (event?.origin !== this.#origin || data === null || typeof data !== 'object' || data.channel !== EXTENSION_CHANNEL) return;
    const handler = this.#replies.get(data.id);
    if (!handler) return;
    this.#replies.delete(data.id);
    handler(data);
  }

  #post(kind, fields, handler) {
    const id = nextPageId++;
    this.#replies.set(id, handler);
    try {
      this.#window.postMessage({ channel: PAGE_CHANNEL, kind, id, ...fields }, this.#origin);
    } catch (e) {
      this.#replies.delete(id);
      handler({ kind: 'error', error: 'host-ended', message: `cannot post to the extension: ${e?.message ?? e}` });
    }
    return id;
  }

  // Resolves with the reply to a probe or hello, or null when none came in `timeout` ms.
  ask(kind, timeout) {
    return new Promise((resolve) => {
      let timer;
      const id = this.#post(kind, {}, (reply) => {
        clearTimeout(timer);
        resolve(reply);
      });
      timer = setTimeout(() => {
        this.#replies.delete(id);
        resolve(null);
      }, timeout);
    });
  }

  transmit(text, send) {
    this.#post('request', { request: text }, (reply) => {
      if (reply.kind === 'answer' && typeof reply.answer === 'string') this.receive(reply.answer);
      else if (reply.kind === 'error') this.failSend(send, extensionError(reply));
      if (send.size > 0) this.failSend(send, new ConnectionError('the card host gave no answer to this request'));
    });
  }

  // Stops listening; the host the extension started for this page ends when the page goes away.
  dispose() {
    this.#window.removeEventListener('message', this.#listener);
    this.#replies.clear();
  }

  close() {
    if (this.#ended) return;
    this.#ended = true;
    this.dispose();
    this.fail(new ConnectionError('connection to the card host closed (1000)', 1000), { code: 1000, reason: '' });
  }
}

// A member is named by its IVorn name (any case) or its DISPID.
function memberParams(name) {
  if (typeof name === 'number') return { dispid: name };
  if (typeof name === 'string') return { name };
  throw new TypeError('a member is named by a string or a DISPID');
}

// Batch entries: ['get', name], ['put', name, value], ['call', name], or the same as objects
// { method: 'get', name }, { method: 'put', name, value }, { method: 'call', name }.
function batchRequest(op, params) {
  const [method, name, value] = Array.isArray(op) ? op : [op?.method, op?.name ?? op?.dispid, op?.value];
  if (method === 'get' || method === 'call') return { method, params: { ...params(name) } };
  if (method === 'put') {
    if (value === undefined) throw new TypeError(`put of ${name} needs a value`);
    return { method, params: { ...params(name), value } };
  }
  if (method === 'describe') return { method };
  throw new TypeError(`batch entries are get, put, call or describe, not ${method}`);
}

// The K-th control of the page. Generated members (ruzazuv.members.js) are installed on it
// below: methods as functions, properties as getters that resolve to their value.
export class Control {
  #connection;
  #index;

  constructor(connection, index) {
    this.#connection = connection;
    this.#index = index;
  }

  get index() {
    return this.#index;
  }

  // 'extension' or 'websocket': what carries this control's requests.
  get transport() {
    return this.#connection.transport;
  }

  #params(name) {
    const params = memberParams(name);
    if (this.#index !== 0) params.control = this.#index;
    return params;
  }

  get(name) {
    return this.#connection.send([{ method: 'get', params: this.#params(name) }], true);
  }

  async put(name, value) {
    if (value === undefined) throw new TypeError(`put of ${name} needs a value`);
    await this.#connection.send([{ method: 'put', params: { ...this.#params(name), value } }], true);
  }

  call(name) {
    return this.#connection.send([{ method: 'call', params: this.#params(name) }], true);
  }

  describe() {
    return this.#connection.send([{ method: 'describe' }], true);
  }

  // Several requests in one message; resolves to their results in order, or rejects with the
  // first failure, which carries `results` (each entry a value or an Error).
  async batch(ops) {
    if (!Array.isArray(ops) || ops.length === 0) throw new TypeError('a batch is a non-empty array');
    const requests = ops.map((op) => batchRequest(op, (name) => this.#params(name)));
    const settled = await this.#connection.send(requests, false);
    const results = settled.map((s) => (s.status === 'fulfilled' ? s.value : s.reason));
    const failure = settled.find((s) => s.status === 'rejected');
    if (failure) {
      failure.reason.results = results;
      throw failure.reason;
    }
    return results;
  }

  // Writes several properties in one message, in the order given.
  async set(values) {
    const entries = Object.entries(values ?? {});
    if (entries.length === 0) return;
    await this.batch(entries.map(([name, value]) => ['put', name, value]));
  }

  control(index) {
    return this.#connection.control(index);
  }

  close() {
    this.#connection.close();
  }

  // Resolves with { code, reason } once the connection has closed.
  get closed() {
    return this.#connection.closed;
  }
}

const RESERVED = new Set(Object.getOwnPropertyNames(Control.prototype).concat(['then', 'catch', 'finally']));
for (const member of members) {
  if (RESERVED.has(member.name)) throw new Error(`member ${member.name} collides with the client's own API`);
  if (member.kind === 'method') {
    Object.defineProperty(Control.prototype, member.name, {
      value: function () {
        return this.call(member.name);
      },
      configurable: true,
      writable: true,
    });
  } else {
    Object.defineProperty(Control.prototype, member.name, {
      get() {
        return this.get(member.name);
      },
      set() {
        throw new TypeError(`write ${member.name} with await ctl.set({ ${member.name}: value }) or ctl.put()`);
      },
      configurable: true,
    });
  }
}

const TRANSPORTS = new Set(['extension', 'websocket']);

// Opens a connection to the card host and resolves to the page's control 0: through the
// extension when it answers (unless transport is 'websocket'), else through the bridge.
export function connect(options = {}) {
  options ??= {};
  const { transport, window: win = globalThis.window } = options;
  if (transport !== undefined && !TRANSPORTS.has(transport)) {
    return Promise.reject(new TypeError("transport is 'extension' or 'websocket'"));
  }
  if (transport === 'extension') return connectExtension(win, options, true);
  if (transport === 'websocket' || !canPost(win)) return connectWebSocket(options);
  const checked = checkWebSocketOptions(options);
  if (checked) return checked;
  return connectExtension(win, options, false).then((control) => control ?? connectWebSocket(options));
}

function canPost(win) {
  return typeof win?.postMessage === 'function' && typeof win?.addEventListener === 'function' && typeof win?.location?.origin === 'string';
}

// Resolves to control 0 over the extension; when it is absent or cannot start its host, to null
// (or, forced, rejects with a ConnectionError). A refused origin always rejects.
async function connectExtension(win, { probeTimeout = PROBE_TIMEOUT_MS, helloTimeout = HELLO_TIMEOUT_MS }, forced) {
  if (!canPost(win)) throw new ConnectionError('no page window here to reach the extension through');
  const connection = new ExtensionConnection(win);
  const unavailable = (why) => {
    connection.dispose();
    if (forced) throw new ConnectionError(why);
    return null;
  };
  const probe = await connection.ask('probe', probeTimeout);
  if (probe?.kind !== 'probe') return unavailable('the extension does not answer on this page');
  const hello = await connection.ask('hello', helloTimeout);
  if (hello === null) return unavailable('the extension\'s card host did not answer');
  if (hello.kind === 'hello') return connection.control(0);
  if (hello.kind === 'error' && hello.error === 'refused') {
    connection.dispose();
    throw extensionError(hello);
  }
  return unavailable(`the extension cannot start its card host: ${hello.message ?? hello.error}`);
}

// A rejection for options the bridge cannot be reached with, or null.
function checkWebSocketOptions({ port = DEFAULT_PORT, host = '127.0.0.1' }) {
  if (!LOOPBACK_HOSTS.has(String(host).toLowerCase())) {
    return Promise.reject(new TypeError('the bridge runs on this computer: host is 127.0.0.1, localhost or ::1'));
  }
  if (!Number.isInteger(port) || port < 1 || port > 65535) return Promise.reject(new RangeError('port is 1 to 65535'));
  return null;
}

// Opens a connection to the bridge on this computer and resolves to the page's control 0.
function connectWebSocket({ port = DEFAULT_PORT, host = '127.0.0.1', WebSocket: Socket = globalThis.WebSocket } = {}) {
  if (typeof Socket !== 'function') {
    return Promise.reject(new TypeError('no WebSocket here: pass { WebSocket } (in node, from the "ws" package)'));
  }
  const checked = checkWebSocketOptions({ port, host });
  if (checked) return checked;
  const address = LOOPBACK_HOSTS.get(String(host).toLowerCase());
  return new Promise((resolve, reject) => {
    let socket;
    try {
      socket = new Socket(`ws://${address}:${port}/`);
    } catch (e) {
      reject(new ConnectionError(`cannot connect to the bridge: ${e?.message ?? e}`));
      return;
    }
    let opened = false;
    const connection = new WebSocketConnection(socket);
    socket.addEventListener('open', () => {
      opened = true;
      resolve(connection.control(0));
    });
    // A refused handshake (403: this page's origin is not served) shows as an error and a close.
    socket.addEventListener('close', (event) => {
      if (!opened) reject(new ConnectionError(`cannot connect to the bridge on port ${port}`, event?.code ?? 1006, event?.reason ?? ''));
    });
  });
}
