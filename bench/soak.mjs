// The soak run of bench/soak.sh: ten pages of five origins (the load test's checked mix of
// get, put and GetCardStatus, one request in flight each) and one page of a sixth origin that
// connects to the card, lists the accounts and disconnects, round after round, for the given
// seconds. Every answer is checked as in the load test. Samples the bridge's resident memory
// at the start and then every minute (every fifth of a shorter run), prints p50/p99 latency,
// the samples and their least-squares slope, and exits 1 when the fitted growth over the run
// exceeds 10 % of the first sample or any answer was wrong.
import { READER0, bridgeHost, sleep } from '../tests/integration/lib/stack_page.mjs';
import { ORIGINS, drive, openLoadPage, percentile, rssMiB } from '../tests/integration/lib/load_clients.mjs';
import WebSocket from '../web/node_modules/ws/wrapper.mjs';

const seconds = Number(process.argv[2] ?? 600);
const PAGES = 10;
const CARD_ORIGIN = 'http://127.0.0.1:9199';

const host = await bridgeHost(['--ui', 'none', ...[...ORIGINS, CARD_ORIGIN].flatMap((o) => ['--allow-origin', o])]);
const pid = host.bridge.child.pid;
const end = Date.now() + seconds * 1000;
const until = () => Date.now() >= end;

// The card page: one request at a time, each result checked.
async function cardRounds(latencies, problems) {
  const ws = new WebSocket(`ws://127.0.0.1:${host.bridge.port}/`, { origin: CARD_ORIGIN });
  await new Promise((resolve, reject) => ws.once('open', resolve).once('error', reject));
  const answers = [];
  let wake = null;
  ws.on('message', (d) => {
    answers.push(JSON.parse(d.toString()));
    wake?.();
  });
  let id = 0;
  const request = async (method, params) => {
    const started = performance.now();
    ws.send(JSON.stringify({ jsonrpc: '2.0', id: ++id, method, params }));
    while (answers.length === 0) await new Promise((r) => (wake = r));
    const a = answers.shift();
    latencies.push(performance.now() - started);
    if (a.id !== id || a.error) problems.push(`card page: ${JSON.stringify(a)} for request ${id}`);
    return a.result;
  };
  const expect = async (method, name, want, extra = {}) => {
    const got = await request(method, { name, ...extra });
    if (got !== want) problems.push(`card page: ${method} ${name} gave ${JSON.stringify(got)}, expected ${JSON.stringify(want)}`);
  };
  await expect('call', 'ConnectReader', 0);
  await expect('put', 'baReaderName', null, { value: READER0 });
  let rounds = 0;
  while (!until()) {
    await expect('call', 'ConnectCard', 0);
    await expect('call', 'FiscListAccounts', 0);
    await expect('get', 'account0', '0081234567890101');
    await expect('call', 'DisConnectCard', 0);
    rounds++;
  }
  ws.close();
  return rounds;
}

const interval = Math.min(60000, (seconds * 1000) / 5);
const samples = [];
const sample = async () => samples.push({ minute: (Date.now() - (end - seconds * 1000)) / 60000, mib: await rssMiB(pid) });

const pages = await Promise.all(Array.from({ length: PAGES }, (_, c) => openLoadPage(host.bridge.port, c % ORIGINS.length, READER0)));
const latencies = [];
const cardLatencies = [];
const cardProblems = [];
await sample();
const sampler = setInterval(sample, interval);
const [results, rounds] = await Promise.all([
  Promise.all(pages.map((p) => drive(p, { until, window: 1, latencies }))),
  cardRounds(cardLatencies, cardProblems),
]);
clearInterval(sampler);
await sample();
await sleep(300);
for (const p of pages) p.ws.close();
const stopped = await host.bridge.stop();

const wrong = results.reduce((n, r) => n + r.count, 0) + pages.reduce((n, p) => n + p.disorder.length, 0) + cardProblems.length;
const sorted = latencies.sort((a, b) => a - b);
const cardSorted = cardLatencies.sort((a, b) => a - b);
const n = samples.length;
const mx = samples.reduce((s, p) => s + p.minute, 0) / n;
const my = samples.reduce((s, p) => s + p.mib, 0) / n;
const slope = samples.reduce((s, p) => s + (p.minute - mx) * (p.mib - my), 0) / samples.reduce((s, p) => s + (p.minute - mx) ** 2, 0);
const growth = slope * (seconds / 60);
const flat = Math.abs(growth) <= 0.1 * samples[0].mib;

console.log(`soak: ${seconds} s, ${PAGES} pages of ${ORIGINS.length} origins + 1 card page; bridge exit ${JSON.stringify(stopped)}`);
console.log(`  mixed calls: ${latencies.length} (${Math.round(latencies.length / seconds)}/s), p50 ${percentile(sorted, 50).toFixed(3)} ms, p99 ${percentile(sorted, 99).toFixed(3)} ms`);
console.log(`  card rounds (ConnectCard, FiscListAccounts, get, DisConnectCard): ${rounds}, per request p50 ${percentile(cardSorted, 50).toFixed(3)} ms, p99 ${percentile(cardSorted, 99).toFixed(3)} ms`);
console.log(`  RSS samples (minute: MiB): ${samples.map((s) => `${s.minute.toFixed(1)}: ${s.mib.toFixed(1)}`).join(', ')}`);
console.log(`  RSS slope ${slope.toFixed(3)} MiB/min, fitted growth ${growth.toFixed(2)} MiB over the run (${((100 * growth) / samples[0].mib).toFixed(1)} % of the first sample): ${flat ? 'flat within 10 %' : 'NOT flat within 10 %'}`);
console.log(`  wrong answers: ${wrong}`);
for (const text of [...results.flat(), ...cardProblems].slice(0, 10)) console.log(`    ${text}`);
process.exit(flat && wrong === 0 && stopped.code === 0 ? 0 : 1);
