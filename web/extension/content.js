// content.js: relays between the page (window.postMessage on the page's own origin) and the
// background (one runtime port, opened on the page's first request). Runs in the top frame only.
'use strict';
{
  const api = globalThis.chrome ?? globalThis.browser;
  globalThis.ruzazuvRelay.startContentRelay(window, () => api.runtime.connect({ name: 'ruzazuv-page' }));
}
