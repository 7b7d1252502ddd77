import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

import { relay, fakeWindow, fakeBrowser, hostAnswering, settle } from '../../testing/fake_extension.mjs';
import { answering } from '../../testing/fake_bridge.mjs';

const manifest = JSON.parse(readFileSync(new URL('../manifest.json', import.meta.url), 'utf8'));
const ORIGIN = 'http://127.0.0.1:47951';
const page = (kind, id, extra = {}) => ({ channel: 'ruzazuv-page', kind, id, ...extra });
const replies = (win, id) => win.seen('ruzazuv-extension', id);

// A page in a tab with the content script injected, over a browser whose host answers `handler`.
function setUp({ host = hostAnswering(answering(() => 0)), origin = ORIGIN, tabId = 1, browser = fakeBrowser({ host }) } = {}) {
  const win = fakeWindow(origin);
  const content = browser.install(win, { tabId });
  return { win, browser, content };
}

describe('page messages', () => {
  const cases = [
    ['a probe', page('probe', 1), { kind: 'probe', id: 1 }],
    ['a hello', page('hello', 0), { kind: 'hello', id: 0 }],
    ['a request', page('request', 2 ** 53 - 1, { request: '{}' }), { kind: 'request', id: 2 ** 53 - 1, request: '{}' }],
    ['our own answer', { channel: 'ruzazuv-extension', kind: 'probe', id: 1 }, null],
    ['a string', 'ruzazuv-page', null],
    ['an unknown kind', page('answer', 3), { bad: /kind/, id: 3 }],
    ['a payload naming an origin', page('request', 4, { request: '{}', origin: 'https://ebank.ruzazuv.example' }), { bad: /exactly/, id: 4 }],
    ['a probe with a request', page('probe', 5, { request: '{}' }), { bad: /exactly/, id: 5 }],
    ['a request without its text', page('request', 6), { bad: /exactly/, id: 6 }],
    ['a request that is not text', page('request', 7, { request: { method: 'get' } }), { bad: /text/, id: 7 }],
    ['a negative id', page('probe', -1), { bad: /id/, id: null }],
    ['an id past 2^53', page('probe', 2 ** 53), { bad: /id/, id: null }],
  ];
  for (const [name, data, expected] of cases) {
    test(name, () => {
      const read = relay.readPageMessage(data);
      if (expected?.bad) {
        assert.match(read.bad, expected.bad);
        assert.equal(read.id, expected.id);
      } else {
        assert.deepEqual(read, expected);
      }
    });
  }
});

describe('sender origins', () => {
  const tab = { tab: { id: 7 }, frameId: 0 };
  const cases = [
    ['the origin the browser reports', { ...tab, origin: 'https://ebank.ruzazuv.example', url: 'https://evil.example/' }, 'https://ebank.ruzazuv.example'],
    ['the url when there is no origin', { ...tab, url: 'http://localhost:8080/a/b?c' }, 'http://localhost:8080'],
    ['an opaque origin', { ...tab, origin: 'null', url: 'http://127.0.0.1/' }, /no origin/],
    ['a sandboxed document', { ...tab, url: 'data:text/html,x' }, /no origin/],
    ['an extension page', { ...tab, origin: 'chrome-extension://abc' }, /no origin/],
    ['another frame', { ...tab, frameId: 3, origin: ORIGIN }, /top frame/],
    ['no tab', { frameId: 0, origin: ORIGIN }, /tab/],
  ];
  for (const [name, sender, expected] of cases) {
    test(name, () => {
      const who = relay.senderOrigin(sender);
      if (typeof expected === 'string') assert.deepEqual(who, { tabId: 7, origin: expected });
      else assert.match(who.refused, expected);
    });
  }
});

describe('content script', () => {
  test('answers a probe itself with the manifest version, without waking the background', async () => {
    const { win, content } = setUp();
    win.postMessage(page('probe', 9), ORIGIN);
    await settle();
    assert.deepEqual(replies(win, 9), [{ channel: 'ruzazuv-extension', kind: 'probe', id: 9, version: manifest.version }]);
    assert.equal(content.ports.length, 0);
  });

  test('ignores messages from another frame or origin, and answers misshapen ones without relaying', async () => {
    const { win, browser, content } = setUp();
    win.postFrom({ other: 'frame' }, ORIGIN, page('request', 1, { request: '{}' }));
    win.postFrom(win, 'https://evil.example', page('request', 2, { request: '{}' }));
    win.postMessage(page('request', 3, { request: '{}', origin: 'https://ebank.ruzazuv.example' }), ORIGIN);
    await settle();
    assert.deepEqual(replies(win, 1), []);
    assert.deepEqual(replies(win, 2), []);
    assert.equal(replies(win, 3)[0].error, 'bad-message');
    assert.equal(content.ports.length, 0);
    assert.equal(browser.envelopes.length, 0);
  });

  test('a background that goes away fails what it carried; the next request reconnects', async () => {
    const { win, browser, content } = setUp({ host: () => undefined });
    win.postMessage(page('request', 1, { request: '{"id":1}' }), ORIGIN);
    await settle();
    content.ports[0].onDisconnect.fire(); // the service worker ended
    await settle();
    assert.deepEqual(replies(win, 1).map((r) => r.error), ['host-ended']);
    win.postMessage(page('hello', 2), ORIGIN);
    await settle();
    assert.equal(content.ports.length, 2);
  });
});

describe('background', () => {
  test('envelopes carry the sender origin and their own sequence; answers go back under the page id', async () => {
    const { win, browser } = setUp({ host: hostAnswering(answering((r) => r.id * 10)) });
    win.postMessage(page('hello', 40), ORIGIN);
    win.postMessage(page('request', 41, { request: '{"jsonrpc":"2.0","id":5,"method":"get"}' }), ORIGIN);
    await settle();
    assert.equal(browser.name, 'ruzazuv.nmhost');
    assert.deepEqual(browser.envelopes, [
      { id: 1, origin: ORIGIN, hello: true },
      { id: 2, origin: ORIGIN, request: '{"jsonrpc":"2.0","id":5,"method":"get"}' },
    ]);
    assert.deepEqual(replies(win, 40)[0].hello, { progid: 'RuzaZUV.Vorn.1', version: '1.0' });
    assert.deepEqual(replies(win, 41), [{ channel: 'ruzazuv-extension', kind: 'answer', id: 41, answer: '{"jsonrpc":"2.0","id":5,"result":50}' }]);
  });

  test('one host per tab and origin', async () => {
    const browser = fakeBrowser({ host: hostAnswering(answering(() => 0)) });
    const pages = [[1, ORIGIN], [1, ORIGIN], [1, 'https://ebank.ruzazuv.example'], [2, ORIGIN]];
    for (const [tabId, origin] of pages) setUp({ browser, tabId, origin }).win.postMessage(page('hello', 1), origin);
    await settle();
    assert.equal(browser.started, 3);
    assert.deepEqual([...browser.onConnect.hosts.keys()].sort(), [`1 ${ORIGIN}`, '1 https://ebank.ruzazuv.example', `2 ${ORIGIN}`]);
  });

  test('a host that ends fails its waiting requests with the reason; the next request starts a new host', async () => {
    let calls = 0;
    const { win, browser } = setUp({
      host: (envelope, host) => (++calls === 2 ? host.exit('Native host has exited.') : calls === 1 ? undefined : hostAnswering(answering(() => 1))(envelope)),
    });
    win.postMessage(page('request', 1, { request: '{"id":1}' }), ORIGIN); // left waiting
    win.postMessage(page('request', 2, { request: '{"id":2}' }), ORIGIN); // the host dies on it
    await settle();
    for (const id of [1, 2]) assert.deepEqual(replies(win, id).map((r) => [r.error, r.message]), [['host-ended', 'the card host ended: Native host has exited.']]);
    win.postMessage(page('request', 3, { request: '{"id":3}' }), ORIGIN);
    await settle();
    assert.equal(browser.started, 2);
    assert.equal(replies(win, 3)[0].answer, '{"jsonrpc":"2.0","id":3,"result":1}');
    assert.equal(browser.envelopes.at(-1).id, 1, 'the new host gets its own sequence');
  });

  test('a host that cannot start answers host-ended with the browser reason', async () => {
    const { win } = setUp({ host: null });
    win.postMessage(page('hello', 1), ORIGIN);
    await settle();
    assert.deepEqual(replies(win, 1).map((r) => [r.error, r.message]), [['host-ended', 'the card host ended: Specified native messaging host not found.']]);
  });

  test('refusals: by origin, and one without an id belongs to the oldest waiting envelope', async () => {
    const { win } = setUp({
      host: (e) => (e.hello ? { id: e.id, refused: 'origin', message: 'origin not allowed' } : e.id === 2 ? { id: null, refused: 'envelope', message: 'no id' } : undefined),
    });
    win.postMessage(page('hello', 1), ORIGIN);
    win.postMessage(page('request', 2, { request: '{}' }), ORIGIN);
    win.postMessage(page('request', 3, { request: '{}' }), ORIGIN);
    await settle();
    assert.deepEqual(replies(win, 1).map((r) => [r.error, r.message]), [['refused', 'origin not allowed']]);
    assert.deepEqual(replies(win, 2).map((r) => r.error), ['bad-message']);
    assert.deepEqual(replies(win, 3), [], 'the later request still waits for its own answer');
  });

  test('an envelope over the host limit is answered too-large and never sent', async () => {
    const { win, browser } = setUp();
    const overhead = relay.envelopeBytes(relay.buildEnvelope(1, ORIGIN, { kind: 'request', request: '' }));
    const room = relay.MAX_ENVELOPE_BYTES - overhead;
    win.postMessage(page('request', 1, { request: 'x'.repeat(room) }), ORIGIN);
    win.postMessage(page('request', 2, { request: 'x'.repeat(room + 1) }), ORIGIN);
    // Counted as written: quotes escaped, other text in UTF-8.
    win.postMessage(page('request', 3, { request: '"'.repeat(Math.ceil(room / 2) + 1) }), ORIGIN);
    win.postMessage(page('request', 4, { request: '\u78ba'.repeat(Math.ceil(room / 3) + 1) }), ORIGIN);
    await settle();
    assert.equal(browser.envelopes.length, 1);
    assert.equal(replies(win, 1)[0].kind, 'answer');
    for (const id of [2, 3, 4]) assert.equal(replies(win, id)[0].error, 'too-large', `request ${id}`);
  });

  test('a page that goes away ends its host and drops its late answers; a subframe is never served', async () => {
    const browser = fakeBrowser({ host: hostAnswering(answering(() => 0)) });
    const { win, content } = setUp({ browser });
    win.postMessage(page('hello', 1), ORIGIN);
    await settle();
    assert.equal(browser.live(), 1);
    content.ports[0].disconnect();
    await settle();
    assert.equal(browser.live(), 0);
    assert.equal(browser.onConnect.hosts.size, 0);
    const frame = fakeWindow(ORIGIN);
    browser.install(frame, { frameId: 2 });
    frame.postMessage(page('hello', 1), ORIGIN);
    await settle();
    assert.equal(replies(frame, 1)[0].error, 'refused');
    assert.equal(browser.started, 1);
  });
});

test('the manifest asks for native messaging only and runs on both browser families', () => {
  assert.deepEqual(manifest.permissions, ['nativeMessaging']);
  assert.equal(manifest.host_permissions, undefined);
  assert.equal(manifest.version, relay.VERSION);
  assert.equal(manifest.browser_specific_settings.gecko.id, 'extension@ruzazuv.example');
  assert.equal(manifest.background.service_worker, 'background.js');
  assert.deepEqual(manifest.background.scripts, ['relay.js', 'background.js']);
  assert.deepEqual(manifest.content_scripts.map((c) => [c.js, c.run_at, c.all_frames ?? false]), [[['relay.js', 'content.js'], 'document_start', false]]);
});
