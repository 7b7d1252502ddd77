// Many pages of several origins driving one bridge at once, each with a window of requests in
// flight, for the load test and the soak bench. Every answer is checked against what its own
// connection asked for, in order, and against what only its own origin can have stored:
//
//   - a connection's own baReaderName reads back what it put last (order within a connection);
//   - control 1's baReaderName, left empty, falls back to the reader name last put by any page
//     of the same origin: always one of that origin's names;
//   - isPullPlugReader follows the origin's noPullPlugReader ("False" for the exempt origins);
//   - GetCardStatus on the real reader (control 2) answers 0 with a card present, on the
//     made-up reader name (control 0) SCARD_E_UNKNOWN_READER.
import WebSocket from '../../../web/node_modules/ws/wrapper.mjs';

export const ORIGINS = [1, 2, 3, 4, 5].map((n) => `http://127.0.0.1:91${String(n).padStart(2, '0')}`);
const UNKNOWN_READER = 0x80100009 | 0;
const NAMES_PER_ORIGIN = 10;
const readerName = (o, i) => `R${o}-${i % NAMES_PER_ORIGIN}`;
const exempt = (o) => o % 2 === 0;
const exemptList = (o) => Array.from({ length: NAMES_PER_ORIGIN }, (_, i) => readerName(o, i)).join(',');

// The i-th request of a page of origin o: [method, params, check(result) -> problem or null].
function step(o, i, realReader) {
  const expect = (want) => (got) => (got === want ? null : `expected ${JSON.stringify(want)}, got ${JSON.stringify(got)}`);
  switch (i % 10) {
    case 0: return ['put', { name: 'baReaderName', value: readerName(o, i) }, expect(null)];
    case 1: return ['get', { name: 'baReaderName' }, expect(readerName(o, i - 1))];
    case 2: return ['get', { name: 'baReaderName', control: 1 }, (got) =>
      (typeof got === 'string' && got.startsWith(`R${o}-`) ? null : `fallback reader name ${JSON.stringify(got)} is not of origin ${o}`)];
    case 3: return ['get', { name: 'isPullPlugReader' }, expect(exempt(o) ? 'False' : 'True')];
    case 4: return ['put', { name: 'curAccntIndex', value: (i % 8) + 1 }, expect(null)];
    case 5: return ['get', { name: 'curAccntIndex' }, expect(((i - 1) % 8) + 1)];
    case 6: return ['call', { name: 'GetCardStatus', control: 2 }, expect(0)];
    case 7: return ['get', { name: 'ulState', control: 2 }, (got) => ((got & 0x20) ? null : `ulState ${got} without a card`)];
    case 8: return ['call', { name: 'GetCardStatus' }, expect(UNKNOWN_READER)];
    default: return ['get', { name: 'caReader1', control: 2 }, expect(realReader)];
  }
}

// Opens a page of origin ORIGINS[o] with its controls prepared (origin o's exemption list on
// control 0, the real reader on control 2 listed and named).
export async function openLoadPage(port, o, realReader) {
  const ws = new WebSocket(`ws://127.0.0.1:${port}/`, { origin: ORIGINS[o] });
  await new Promise((resolve, reject) => {
    ws.once('open', resolve);
    ws.once('error', reject);
  });
  // Answers must arrive in the order of their requests, each once: ids are numbered from 1.
  const waiting = new Map();
  const disorder = [];
  let lastArrived = 0;
  ws.on('message', (data) => {
    const answer = JSON.parse(data.toString());
    if (answer.id !== lastArrived + 1) disorder.push(`answer ${answer.id} arrived after ${lastArrived}`);
    lastArrived = Math.max(lastArrived, answer.id);
    const resolve = waiting.get(answer.id);
    waiting.delete(answer.id);
    if (resolve) resolve(answer);
  });
  const closed = new Promise((resolve) => ws.once('close', (code) => resolve(code)));
  let nextId = 1;
  const send = (method, params) => {
    const id = nextId++;
    const answer = new Promise((resolve) => waiting.set(id, resolve));
    ws.send(JSON.stringify({ jsonrpc: '2.0', id, method, params }));
    return answer;
  };
  for (const [method, params] of [
    ['put', { name: 'noPullPlugReader', value: exempt(o) ? exemptList(o) : 'none' }],
    ['call', { name: 'ConnectReader', control: 2 }],
    ['call', { name: 'ListReaders', control: 2 }],
    ['put', { name: 'baReaderName', value: realReader, control: 2 }],
  ]) {
    const a = await send(method, params);
    if (a.error || (method === 'call' && a.result !== 0)) throw new Error(`${method} ${params.name}: ${JSON.stringify(a)}`);
  }
  return { ws, o, send, disorder, waiting, closed, realReader, nextStep: 0 };
}

// Runs `count` requests (or until `until()` is true) with `window` in flight; latencies (ms)
// are appended to `latencies`. Returns the problems found: wrong answers, answers out of order
// or twice, a closed connection (at most 20 are kept, `problems.count` has them all). An
// answer that never comes leaves the drive waiting: callers bound it with a deadline.
export async function drive(page, { count = Infinity, until = () => false, window = 8, latencies = [] } = {}) {
  const problems = [];
  problems.count = 0;
  const problem = (text) => {
    problems.count++;
    if (problems.length < 20) problems.push(`origin ${page.o}: ${text}`);
  };
  let sent = 0;
  const inFlight = new Set();
  const one = async () => {
    const i = page.nextStep++;
    const [method, params, check] = step(page.o, i, page.realReader);
    const started = performance.now();
    sent++;
    const answer = await Promise.race([page.send(method, params), page.closed.then((code) => ({ closedWith: code }))]);
    latencies.push(performance.now() - started);
    if (answer.closedWith !== undefined) return problem(`connection closed (${answer.closedWith}) awaiting request ${i}`);
    if (answer.error) return problem(`${method} ${params.name}: error ${JSON.stringify(answer.error)}`);
    const wrong = check(answer.result);
    if (wrong) problem(`request ${i} (${method} ${params.name}): ${wrong}`);
  };
  while (sent < count && !until()) {
    const p = one().finally(() => inFlight.delete(p));
    inFlight.add(p);
    if (inFlight.size >= window) await Promise.race(inFlight);
  }
  await Promise.all(inFlight);
  for (const text of page.disorder.splice(0)) problem(text);
  return problems;
}

export function percentile(sorted, p) {
  if (sorted.length === 0) return NaN;
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
}

// Resident memory of a process in MiB, from /proc.
export async function rssMiB(pid) {
  const { readFile } = await import('node:fs/promises');
  const status = await readFile(`/proc/${pid}/status`, 'utf8');
  return Number(/VmRSS:\s+(\d+) kB/.exec(status)[1]) / 1024;
}
