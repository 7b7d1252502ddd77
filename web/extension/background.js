// background.js: takes the content scripts' runtime ports and keeps one native port to the card
// host per (tab, origin). Chromium runs it as the service worker and loads relay.js here;
// Firefox lists relay.js before it among the background scripts.
'use strict';
if (globalThis.ruzazuvRelay === undefined && typeof importScripts === 'function') importScripts('relay.js');
{
  const api = globalThis.chrome ?? globalThis.browser;
  api.runtime.onConnect.addListener(
    globalThis.ruzazuvRelay.createBackgroundRelay({
      connectNative: (name) => api.runtime.connectNative(name),
      lastError: () => api.runtime.lastError,
    }),
  );
}
