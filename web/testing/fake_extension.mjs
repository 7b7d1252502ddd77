// Stand-ins for the browser around the extension: a page window with postMessage, runtime and
// native ports, and a card host answering envelopes. The extension's own relay logic
// (extension/relay.js) runs unchanged between them.
import '../extension/relay.js';

export const relay = globalThis.ruzazuvRelay;

const later = (fn) => setImmediate(fn);
// Lets every message in flight arrive: each hop between page, content script, background and
// host is one turn of the event loop.
export async function settle(turns = 30) {
  for (let i = 0; i < turns; i++) await new Promise((resolve) => setImmediate(resolve));
}

function event() {
  const listeners = [];
  return {
    addListener: (fn) => listeners.push(fn),
    removeListener: (fn) => listeners.includes(fn) && listeners.splice(listeners.indexOf(fn), 1),
    fire: (...args) => [...listeners].forEach((fn) => fn(...args)),
  };
}

// A page window of `origin`. Every message posted on it is kept in `posted`; postFrom() delivers
// a message as another frame or origin would.
export function fakeWindow(origin = 'http://127.0.0.1:47951') {
  const listeners = new Set();
  const win = {
    location: { origin },
    posted: [],
    addEventListener: (type, fn) => type === 'message' && listeners.add(fn),
    removeEventListener: (type, fn) => type === 'message' && listeners.delete(fn),
    postMessage(data, targetOrigin) {
      win.posted.push(structuredClone(data));
      if (targetOrigin === origin || targetOrigin === '*') win.postFrom(win, origin, data);
    },
    postFrom(source, from, data) {
      const copy = structuredClone(data);
      later(() => [...listeners].forEach((fn) => fn({ data: copy, origin: from, source })));
    },
    // The messages of one channel the window has seen, optionally of one id.
    seen: (channel, id) => win.posted.filter((m) => m?.channel === channel && (id === undefined || m.id === id)),
  };
  return win;
}

// Two connected ends of a port, as runtime.connect() and onConnect see them. A disconnect
// reaches the other end only; either end throws once disconnected.
export function portPair(sender) {
  const make = () => ({ onMessage: event(), onDisconnect: event(), open: true });
  const a = make();
  const b = make();
  const wire = (self, other) => {
    self.postMessage = (message) => {
      if (!self.open) throw new Error('Attempting to use a disconnected port object');
      const copy = structuredClone(message);
      later(() => other.open && other.onMessage.fire(copy, other));
    };
    self.disconnect = (error) => {
      if (!self.open) return;
      self.open = false;
      other.open = false;
      later(() => {
        other.error = error;
        other.onDisconnect.fire(other);
      });
    };
  };
  wire(a, b);
  wire(b, a);
  b.sender = sender;
  return [a, b];
}

// The host's answer to a hello, and to a request the answer of `handler` (message -> JSON-RPC
// answer, as the fake bridge's handlers; undefined when only notifications were sent).
export const hostAnswering = (handler) => (envelope) => {
  if (envelope.hello) return { id: envelope.id, hello: { progid: 'RuzaZUV.Vorn.1', version: '1.0' } };
  let message;
  try {
    message = JSON.parse(envelope.request);
  } catch {
    return { id: envelope.id, answer: '{"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}}' };
  }
  const answer = handler(message, envelope);
  return { id: envelope.id, answer: answer === undefined ? null : JSON.stringify(answer) };
};

// The browser: the background relay with native ports to a card host that answers each
// envelope with `host(envelope, { exit })` (a frame, or undefined for none; exit(reason) ends it
// as a killed process would), or to none when `host` is null; install(win) injects the content
// script into a page of a tab. `live()` counts the hosts running.
export function fakeBrowser({ host = null, notFound = 'Specified native messaging host not found.' } = {}) {
  let lastError;
  const browser = { envelopes: [], started: 0, natives: [] };
  browser.live = () => browser.natives.filter((n) => n.open).length;
  browser.onConnect = relay.createBackgroundRelay({
    lastError: () => lastError,
    connectNative(name) {
      browser.name = name;
      browser.started++;
      const [background, native] = portPair(null);
      browser.natives.push(native);
      // Chromium reports the reason through runtime.lastError while onDisconnect runs.
      const fire = background.onDisconnect.fire;
      background.onDisconnect.fire = (...args) => {
        lastError = background.error;
        background.error = undefined;
        try {
          fire(...args);
        } finally {
          lastError = undefined;
        }
      };
      const exit = (reason) => native.disconnect({ message: reason });
      if (host === null) {
        later(() => exit(notFound));
      } else {
        native.onMessage.addListener((envelope) => {
          browser.envelopes.push(envelope);
          const frame = host(envelope, { exit });
          if (frame !== undefined && native.open) native.postMessage(frame);
        });
      }
      return background;
    },
  });
  // Injects the content script into `win`, a page in tab `tabId` (frame 0 unless given).
  browser.install = (win, { tabId = 1, frameId = 0, sender = {} } = {}) => {
    const ports = [];
    const content = relay.startContentRelay(win, () => {
      const [page, background] = portPair({ tab: { id: tabId }, frameId, origin: win.location.origin, url: `${win.location.origin}/index.html`, ...sender });
      ports.push(page);
      browser.onConnect(background);
      return page;
    });
    return { ...content, ports };
  };
  return browser;
}
