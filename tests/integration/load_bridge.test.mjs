// 50 pages of 5 origins send 1,000 requests each, eight in flight per page, to one bridge on the
// real stack: every answer comes once, in order, with what its own connection and origin stored
// (lib/load_clients.mjs has the checks). The throughput, latency and memory figures are printed
// for the record; they are not judged here (bench/soak.sh does that over time).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { READER0, bridgeHost, sleep } from './lib/stack_page.mjs';
import { ORIGINS, drive, openLoadPage, percentile, rssMiB } from './lib/load_clients.mjs';

const PAGES = 50;
const REQUESTS = 1000;

test(`${PAGES} pages of ${ORIGINS.length} origins, ${REQUESTS} requests each`, async () => {
  const host = await bridgeHost(['--ui', 'none', ...ORIGINS.flatMap((o) => ['--allow-origin', o])]);
  const pid = host.bridge.child.pid;
  try {
    const pages = await Promise.all(Array.from({ length: PAGES }, (_, c) => openLoadPage(host.bridge.port, c % ORIGINS.length, READER0)));
    const rssBefore = await rssMiB(pid);
    const latencies = [];
    const started = performance.now();
    let timer;
    const deadline = new Promise((_, reject) => {
      timer = setTimeout(() => {
        const missing = pages.reduce((n, p) => n + p.waiting.size, 0);
        reject(new Error(`${missing} answers never came`));
      }, 150000);
    });
    const results = await Promise.race([Promise.all(pages.map((p) => drive(p, { count: REQUESTS, latencies }))), deadline]);
    clearTimeout(timer);
    const seconds = (performance.now() - started) / 1000;
    await sleep(300); // an answer sent twice would arrive by now
    const late = pages.flatMap((p) => p.disorder);
    const problems = results.flat();
    const count = results.reduce((n, r) => n + r.count, 0);
    assert.equal(count + late.length, 0, [...problems, ...late].slice(0, 20).join('\n'));
    assert.equal(latencies.length, PAGES * REQUESTS);
    const sorted = latencies.sort((a, b) => a - b);
    console.log(`load: ${PAGES * REQUESTS} requests in ${seconds.toFixed(1)} s (${Math.round((PAGES * REQUESTS) / seconds)}/s); ` +
      `latency p50 ${percentile(sorted, 50).toFixed(2)} ms, p99 ${percentile(sorted, 99).toFixed(2)} ms (8 in flight per page); ` +
      `bridge RSS ${rssBefore.toFixed(1)} -> ${(await rssMiB(pid)).toFixed(1)} MiB; lost 0, duplicated 0, out of order 0`);
    for (const p of pages) p.ws.close();
  } finally {
    assert.deepEqual(await host.bridge.stop(), { code: 0, signal: null }, host.bridge.log.slice(-4000));
  }
});
