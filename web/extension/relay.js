// relay.js: the extension's relay logic, loaded by the content script and by the background
// before their own file. It touches no browser API itself: the content script and the
// background hand it their window and ports, so that node's tests drive the same code.
//
// Page <-> content script: window.postMessage with a fixed shape, the page's own origin as the
// target. Content script <-> background: one runtime port per page. Background <-> host: one
// native port per (tab, origin), whose envelopes carry the origin the browser reports for the
// sender, never one the page names.
(function (global) {
  'use strict';

  const VERSION = '1.0.1.5';
  const HOST_NAME = 'ruzazuv.nmhost';
  const PAGE_CHANNEL = 'ruzazuv-page';
  const EXTENSION_CHANNEL = 'ruzazuv-extension';
  // The host ends on a frame longer than this (UTF-8 bytes of the envelope's JSON).
  const MAX_ENVELOPE_BYTES = 65536;
  const PAGE_KINDS = new Set(['probe', 'hello', 'request']);
  const ERRORS = new Set(['host-ended', 'refused', 'too-large', 'bad-message']);

  const isId = (id) => Number.isSafeInteger(id) && id >= 0;
  const isPlainObject = (value) => value !== null && typeof value === 'object' && !Array.isArray(value);

  function hasExactKeys(object, keys) {
    const own = Object.keys(object);
    return own.length === keys.length && keys.every((k) => Object.prototype.hasOwnProperty.call(object, k));
  }

  // Reads a message the page posted. Returns null for a message that is not on the page's
  // channel (other scripts' messages, and our own answers, which the page's window also sees);
  // { kind, id, request? } for a well-formed one; { bad: message, id } for one on the channel
  // whose shape is wrong but whose id can carry the refusal; { bad: message, id: null } else.
  function readPageMessage(data) {
    if (!isPlainObject(data) || data.channel !== PAGE_CHANNEL) return null;
    const id = isId(data.id) ? data.id : null;
    if (id === null) return { bad: 'a message needs an id, an integer from 0', id };
    if (!PAGE_KINDS.has(data.kind)) return { bad: 'kind is probe, hello or request', id };
    const keys = data.kind === 'request' ? ['channel', 'kind', 'id', 'request'] : ['channel', 'kind', 'id'];
    if (!hasExactKeys(data, keys)) return { bad: `a ${data.kind} message has exactly the fields ${keys.join(', ')}`, id };
    if (data.kind === 'request' && typeof data.request !== 'string') return { bad: 'request is the JSON-RPC message text', id };
    return data.kind === 'request' ? { kind: data.kind, id, request: data.request } : { kind: data.kind, id };
  }

  // A serialised origin a page can be served under: http or https, never "null".
  function servedOrigin(text) {
    if (typeof text !== 'string' || text === 'null') return null;
    let url;
    try {
      url = new URL(text);
    } catch {
      return null;
    }
    if (url.protocol !== 'https:' && url.protocol !== 'http:') return null;
    return url.origin === text ? text : null;
  }

  // The origin of a runtime port's sender as the browser reports it: sender.origin, else the
  // origin of sender.url. Only the top frame of a tab is served.
  function senderOrigin(sender) {
    if (!isPlainObject(sender) || !isPlainObject(sender.tab) || !Number.isInteger(sender.tab.id)) {
      return { refused: 'only pages in a tab are served' };
    }
    if (sender.frameId !== 0) return { refused: 'only the top frame of a tab is served' };
    let origin = typeof sender.origin === 'string' ? sender.origin : null;
    if (origin === null && typeof sender.url === 'string') {
      try {
        origin = new URL(sender.url).origin;
      } catch {
        origin = null;
      }
    }
    const served = servedOrigin(origin);
    if (served === null) return { refused: 'this page has no origin the card host can check' };
    return { tabId: sender.tab.id, origin: served };
  }

  const utf8 = new TextEncoder();

  // The size of an envelope as a frame: the browsers write the JSON that JSON.stringify writes.
  const envelopeBytes = (envelope) => utf8.encode(JSON.stringify(envelope)).length;

  function buildEnvelope(seq, origin, message) {
    return message.kind === 'hello' ? { id: seq, origin, hello: true } : { id: seq, origin, request: message.request };
  }

  const pageReply = (reply) => ({ channel: EXTENSION_CHANNEL, ...reply });
  const errorReply = (id, error, message) => ({ kind: 'error', id, error, message });

  // The background's reply for one answer frame of the host, or null when the frame is not one.
  function replyForFrame(frame, pageId) {
    if (!isPlainObject(frame)) return null;
    if (typeof frame.refused === 'string') {
      const message = typeof frame.message === 'string' ? frame.message : `refused: ${frame.refused}`;
      return errorReply(pageId, frame.refused === 'origin' ? 'refused' : 'bad-message', message);
    }
    if (isPlainObject(frame.hello)) return { kind: 'hello', id: pageId, hello: frame.hello };
    if (typeof frame.answer === 'string' || frame.answer === null) return { kind: 'answer', id: pageId, answer: frame.answer };
    return null;
  }

  function safePost(port, message) {
    try {
      port.postMessage(message);
      return true;
    } catch {
      return false; // the other end went away; its disconnect is handled there
    }
  }

  // The content script's half: `win` is the page's window, `connect()` opens a runtime port to
  // the background. The port is opened on the first request and again after it was lost;
  // requests it was carrying when lost are answered host-ended.
  function startContentRelay(win, connect) {
    const origin = win.location.origin;
    if (servedOrigin(origin) === null) return { stop() {} };
    let port = null;
    const waiting = new Map(); // page id -> how many of its requests the port carries

    const post = (reply) => win.postMessage(pageReply(reply), origin);

    function settle(id) {
      const n = waiting.get(id) ?? 0;
      if (n <= 1) waiting.delete(id);
      else waiting.set(id, n - 1);
      return n > 0;
    }

    function openPort() {
      const opened = connect();
      opened.onMessage.addListener((reply) => {
        if (!isPlainObject(reply) || !isId(reply.id) || !settle(reply.id)) return;
        if (reply.kind === 'answer' && (typeof reply.answer === 'string' || reply.answer === null)) {
          post({ kind: 'answer', id: reply.id, answer: reply.answer });
        } else if (reply.kind === 'hello' && isPlainObject(reply.hello)) {
          post({ kind: 'hello', id: reply.id, hello: reply.hello });
        } else if (reply.kind === 'error' && ERRORS.has(reply.error)) {
          post(errorReply(reply.id, reply.error, String(reply.message ?? reply.error)));
        } else {
          post(errorReply(reply.id, 'bad-message', 'the extension sent an answer the page cannot read'));
        }
      });
      opened.onDisconnect.addListener(() => {
        if (port !== opened) return;
        port = null;
        const lost = [...waiting.entries()];
        waiting.clear();
        for (const [id, n] of lost) {
          for (let i = 0; i < n; i++) post(errorReply(id, 'host-ended', 'the extension\'s background ended'));
        }
      });
      return opened;
    }

    function onMessage(event) {
      if (event.source !== win || event.origin !== origin) return;
      const message = readPageMessage(event.data);
      if (message === null) return;
      if (message.bad !== undefined) {
        if (message.id !== null) post(errorReply(message.id, 'bad-message', message.bad));
        return;
      }
      if (message.kind === 'probe') {
        post({ kind: 'probe', id: message.id, version: VERSION });
        return;
      }
      if (port === null) port = openPort();
      waiting.set(message.id, (waiting.get(message.id) ?? 0) + 1);
      if (!safePost(port, message)) {
        port = null;
        settle(message.id);
        post(errorReply(message.id, 'host-ended', 'the extension\'s background is not reachable'));
      }
    }

    win.addEventListener('message', onMessage);
    return { stop: () => win.removeEventListener('message', onMessage) };
  }

  // The background's half: `connectNative(name)` opens a native port, `lastError()` gives the
  // browser's reason after a disconnect. Returns the listener for runtime.onConnect.
  function createBackgroundRelay({ connectNative, lastError = () => undefined }) {
    const hosts = new Map(); // `${tabId} ${origin}` -> host entry

    function disconnectReason(native) {
      const error = native.error ?? lastError();
      return typeof error?.message === 'string' && error.message ? error.message : 'the card host ended';
    }

    function startHost(key, origin) {
      const native = connectNative(HOST_NAME);
      // waiting: seq -> { port, pageId }, in the order sent; the host answers in that order.
      const entry = { key, origin, native, nextSeq: 1, waiting: new Map(), ports: new Set() };
      native.onMessage.addListener((frame) => {
        if (hosts.get(key) !== entry) return;
        let seq = isPlainObject(frame) && isId(frame.id) && entry.waiting.has(frame.id) ? frame.id : null;
        // A frame the envelope cannot be found for (a refusal without id, or one we cannot
        // read) belongs to the oldest waiting envelope.
        if (seq === null) seq = entry.waiting.keys().next().value ?? null;
        if (seq === null) return;
        const { port, pageId } = entry.waiting.get(seq);
        entry.waiting.delete(seq);
        const reply = replyForFrame(frame, pageId) ?? errorReply(pageId, 'bad-message', 'the card host sent a frame the extension cannot read');
        if (port !== null) safePost(port, reply);
      });
      native.onDisconnect.addListener(() => {
        const reason = disconnectReason(native);
        if (hosts.get(key) === entry) hosts.delete(key);
        for (const { port, pageId } of entry.waiting.values()) {
          if (port !== null) safePost(port, errorReply(pageId, 'host-ended', `the card host ended: ${reason}`));
        }
        entry.waiting.clear();
      });
      hosts.set(key, entry);
      return entry;
    }

    function endHost(entry, reason) {
      if (hosts.get(entry.key) === entry) hosts.delete(entry.key);
      try {
        entry.native.disconnect();
      } catch {
        // already gone
      }
      for (const { port, pageId } of entry.waiting.values()) {
        if (port !== null) safePost(port, errorReply(pageId, 'host-ended', reason));
      }
      entry.waiting.clear();
    }

    function onPortMessage(port, who, raw) {
      const message = isPlainObject(raw) ? readPageMessage({ channel: PAGE_CHANNEL, ...raw }) : null;
      // The content script answers probes itself and sends only hellos and requests.
      if (message === null || message.bad !== undefined || message.kind === 'probe') {
        if (isPlainObject(raw) && isId(raw.id)) safePost(port, errorReply(raw.id, 'bad-message', message?.bad ?? 'not a hello or a request'));
        return;
      }
      if (who.refused !== undefined) {
        safePost(port, errorReply(message.id, 'refused', who.refused));
        return;
      }
      const key = `${who.tabId} ${who.origin}`;
      let entry = hosts.get(key);
      const seq = entry?.nextSeq ?? 1;
      const envelope = buildEnvelope(seq, who.origin, message);
      const bytes = envelopeBytes(envelope);
      if (bytes > MAX_ENVELOPE_BYTES) {
        safePost(port, errorReply(message.id, 'too-large', `a message of ${bytes} bytes to the card host; it takes at most ${MAX_ENVELOPE_BYTES}`));
        return;
      }
      if (entry === undefined) entry = startHost(key, who.origin);
      entry.ports.add(port);
      entry.nextSeq = seq + 1;
      entry.waiting.set(seq, { port, pageId: message.id });
      try {
        entry.native.postMessage(envelope);
      } catch (e) {
        endHost(entry, `the card host ended: ${e?.message ?? e}`);
      }
    }

    function onPortDisconnect(port) {
      for (const entry of [...hosts.values()]) {
        if (!entry.ports.delete(port)) continue;
        for (const waiting of entry.waiting.values()) if (waiting.port === port) waiting.port = null;
        // The last page of this tab and origin went away: its host ends with it, as a page's
        // WebSocket connection does.
        if (entry.ports.size === 0) endHost(entry, 'the page went away');
      }
    }

    const onConnect = (port) => {
      const who = senderOrigin(port.sender);
      port.onMessage.addListener((raw) => onPortMessage(port, who, raw));
      port.onDisconnect.addListener(() => onPortDisconnect(port));
    };
    onConnect.hosts = hosts; // for tests: the live (tab, origin) table
    return onConnect;
  }

  global.ruzazuvRelay = Object.freeze({
    VERSION,
    HOST_NAME,
    PAGE_CHANNEL,
    EXTENSION_CHANNEL,
    MAX_ENVELOPE_BYTES,
    readPageMessage,
    servedOrigin,
    senderOrigin,
    envelopeBytes,
    buildEnvelope,
    startContentRelay,
    createBackgroundRelay,
  });
})(globalThis);
