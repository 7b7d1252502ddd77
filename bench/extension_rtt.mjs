// The round trip of a `get` from a page in Chromium over the extension (content script ->
// service worker -> ruzazuv-nmhost and back) next to the same over the WebSocket bridge, in one
// run: two tabs of one page origin, one control over each transport, both on the simulated
// default card. Timed inside the pages (performance.now), in rounds that take turns, so that
// both transports see the same machine load. Prints p50 and p99 of each and their ratio. (A page
// that is not cross-origin isolated reads performance.now in steps of 0.1 ms.)
//
// usage: bench/extension_rtt.sh, or node bench/extension_rtt.mjs (env RUZAZUV_BIN = the bin folder,
//        RUZAZUV_BENCH_GETS = gets per transport, default 2000)
import { startBridge, DEFAULT_PROFILE } from '../web/testing/bridge_process.mjs';
import { extensionDir, launchBrowser, nativeHost, pageControl, servePage } from '../tests/browser/lib.mjs';

const GETS = Number(process.env.RUZAZUV_BENCH_GETS ?? 2000);
const ROUND = 100;
const WARM_UP = 200;

const percentile = (sorted, p) => sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];

// `count` gets of one property, each timed in the page; milliseconds.
const timedGets = (page, count) =>
  page.evaluate(async (n) => {
    const times = [];
    for (let i = 0; i < n; i++) {
      const start = performance.now();
      await window.ruzazuvControl.get('iNoR');
      times.push(performance.now() - start);
    }
    return times;
  }, count);

const site = await servePage();
const args = ['--pcsc', `simulated:${DEFAULT_PROFILE}`, '--ui', 'none', '--allow-origin', site.origin];
const host = nativeHost({ args });
const bridge = await startBridge(['--allow-origin', site.origin]);
const browser = await launchBrowser({ extension: extensionDir, nativeHosts: [host.manifest] });
try {
  const tabs = {};
  for (const transport of ['extension', 'websocket']) {
    const page = await browser.context.newPage();
    await page.goto(site.url);
    await pageControl(page).open(transport === 'websocket' ? { transport, port: bridge.port } : { transport });
    await timedGets(page, WARM_UP);
    tabs[transport] = { page, times: [] };
  }
  for (let done = 0; done < GETS; done += ROUND) {
    for (const tab of Object.values(tabs)) tab.times.push(...(await timedGets(tab.page, Math.min(ROUND, GETS - done))));
  }
  const figures = {};
  for (const [transport, { times }] of Object.entries(tabs)) {
    const sorted = times.sort((a, b) => a - b);
    figures[transport] = { p50: percentile(sorted, 50), p99: percentile(sorted, 99), n: sorted.length };
    console.log(`get over the ${transport.padEnd(9)}: p50 ${(figures[transport].p50 * 1000).toFixed(0)} µs, ` +
      `p99 ${(figures[transport].p99 * 1000).toFixed(0)} µs (${sorted.length} gets)`);
  }
  const ratio = (p) => (figures.extension[p] / figures.websocket[p]).toFixed(2);
  console.log(`extension / websocket: p50 ${ratio('p50')}x, p99 ${ratio('p99')}x`);
} finally {
  await browser.close();
  await bridge.stop();
  await site.close();
  host.remove();
}
