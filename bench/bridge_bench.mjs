// The bridge's cost, measured next to the same commands without it, on the same stack in one
// run: a get round trip page -> bridge -> page, and a full FiscListAccounts through the bridge,
// against an in-process get and the raw exchange of FiscListAccounts' APDUs
// (BM_BridgeRaw* in ruzazuv_bench); and the bridge's resident memory idle and after 1,000 calls.
//
// env: RUZAZUV_BIN (bin dir), RUZAZUV_BENCH_PCSC ("system" or "simulated:PROFILE"; default the
// simulated default card), RUZAZUV_BENCH_READER (the reader on the system stack).
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { startBridge, openClient, BIN_DIR, DEFAULT_PROFILE } from '../web/testing/bridge_process.mjs';

const pcsc = process.env.RUZAZUV_BENCH_PCSC ?? `simulated:${DEFAULT_PROFILE}`;
const GETS = Number(process.env.RUZAZUV_BENCH_GETS ?? 5000);
const LISTS = Number(process.env.RUZAZUV_BENCH_LISTS ?? 300);

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
}

function summary(samplesUs) {
  const sorted = [...samplesUs].sort((a, b) => a - b);
  return { median: percentile(sorted, 50), p99: percentile(sorted, 99), n: sorted.length };
}

function rssKiB(pid) {
  const status = readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(/^VmRSS:\s+(\d+) kB/m.exec(status)[1]);
}

// The in-process and raw figures, in microseconds per operation.
function rawFigures() {
  const run = spawnSync(join(BIN_DIR, 'ruzazuv_bench'), ['--benchmark_filter=BM_BridgeRaw', '--benchmark_format=json'], {
    encoding: 'utf8',
    env: { ...process.env, RUZAZUV_BENCH_PCSC: pcsc },
    maxBuffer: 16 * 1024 * 1024,
  });
  if (run.status !== 0) throw new Error(`ruzazuv_bench failed: ${run.stderr}`);
  const figures = {};
  for (const b of JSON.parse(run.stdout).benchmarks) {
    if (b.error_occurred) throw new Error(`${b.name}: ${b.error_message}`);
    const scale = { ns: 1e-3, us: 1, ms: 1e3, s: 1e6 }[b.time_unit];
    figures[b.name] = { us: b.real_time * scale, apdus: b.apdus };
  }
  return figures;
}

async function timed(fn) {
  const start = process.hrtime.bigint();
  await fn();
  return Number(process.hrtime.bigint() - start) / 1000;
}

async function bridgeFigures() {
  const bridge = await startBridge(['--site-address', ''], { pcsc });
  try {
    await new Promise((r) => setTimeout(r, 500));
    const idle = rssKiB(bridge.child.pid);
    const c = await openClient(bridge.port);
    let calls = 0;
    const call = async (name) => {
      calls++;
      const ret = await c.call(name);
      if (ret !== 0) throw new Error(`${name} gave ${ret}`);
    };
    await call('ConnectReader');
    await call('ListReaders');
    const reader = process.env.RUZAZUV_BENCH_READER ?? (await c.get('caReader1'));
    await c.put('baReaderName', reader);
    await call('ConnectCard');
    calls += 2;
    while (calls < 1000) {
      await c.get('iNoR');
      calls++;
    }
    const after1000 = rssKiB(bridge.child.pid);

    const gets = [];
    for (let i = 0; i < 200; i++) await c.get('iNoR');
    for (let i = 0; i < GETS; i++) gets.push(await timed(() => c.get('iNoR')));
    const lists = [];
    for (let i = 0; i < 20; i++) await call('FiscListAccounts');
    for (let i = 0; i < LISTS; i++) lists.push(await timed(() => call('FiscListAccounts')));
    const end = rssKiB(bridge.child.pid);
    await call('DisConnectCard');
    await call('DisConnectReader');
    c.close();
    return { get: summary(gets), list: summary(lists), rss: { idle, after1000, end } };
  } finally {
    await bridge.stop();
  }
}

const raw = rawFigures();
const bridged = await bridgeFigures();
const rawGet = raw.BM_BridgeRawGet.us;
const rawApdus = raw.BM_BridgeRawListApdus.us;
const inProcessList = raw.BM_BridgeRawListAccounts.us;
const fmt = (us) => (us < 1 ? `${(us * 1000).toFixed(0)} ns` : us < 1000 ? `${us.toFixed(1)} us` : `${(us / 1000).toFixed(2)} ms`);
const ratio = (a, b) => `${(a / b).toFixed(1)}x`;

console.log(`stack: ${pcsc === 'system' ? 'pcscd + vpcd + ruzazuv-cardsim' : pcsc}`);
console.log(`get round trip through the bridge   median ${fmt(bridged.get.median)}  p99 ${fmt(bridged.get.p99)}  (n=${bridged.get.n})`);
console.log(`  in-process get                    ${fmt(rawGet)}   ratio (median) ${ratio(bridged.get.median, rawGet)}`);
console.log(`FiscListAccounts through the bridge median ${fmt(bridged.list.median)}  p99 ${fmt(bridged.list.p99)}  (n=${bridged.list.n})`);
console.log(`  raw exchange of its ${raw.BM_BridgeRawListApdus.apdus} APDUs        ${fmt(rawApdus)}   ratio (median) ${ratio(bridged.list.median, rawApdus)}`);
console.log(`  in-process FiscListAccounts       ${fmt(inProcessList)}   ratio (median) ${ratio(bridged.list.median, inProcessList)}`);
console.log(`bridge VmRSS: idle ${bridged.rss.idle} KiB, after 1,000 calls ${bridged.rss.after1000} KiB, after the run ${bridged.rss.end} KiB`);
