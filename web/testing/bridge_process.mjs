// Starts the real ruzazuv-bridge for tests and benchmarks: on a free port (--port 0), with the
// simulated reader unless told otherwise, and reports the port it serves.
import { spawn } from 'node:child_process';
import { join } from 'node:path';
import net from 'node:net';
import WebSocket from 'ws';

export const SOURCE_DIR = process.env.RUZAZUV_SOURCE ?? new URL('../..', import.meta.url).pathname;
export const BIN_DIR = process.env.RUZAZUV_BIN ?? join(SOURCE_DIR, 'build', 'dev', 'bin');
export const DEFAULT_PROFILE = join(SOURCE_DIR, 'sim', 'profiles', 'default.json');

export async function startBridge(args = [], { env = {}, pcsc = `simulated:${DEFAULT_PROFILE}` } = {}) {
  const argv = ['--port', '0', '--ui', 'none', ...(pcsc ? ['--pcsc', pcsc] : []), ...args];
  const child = spawn(join(BIN_DIR, 'ruzazuv-bridge'), argv, {
    env: { ...process.env, ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let log = '';
  let output = '';
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  const port = await new Promise((resolve, reject) => {
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (chunk) => {
      log += chunk;
      const match = /serving ws:\/\/127\.0\.0\.1:(\d+)\//.exec(log);
      if (match) resolve(Number(match[1]));
    });
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => (output += chunk));
    exited.then(({ code, signal }) => reject(new Error(`bridge exited (${code ?? signal}) before serving:\n${log}`)));
  });
  return {
    port,
    child,
    get log() {
      return log;
    },
    // What it printed on its standard output.
    get output() {
      return output;
    },
    alive: () => child.exitCode === null && child.signalCode === null,
    // Resolves once the log holds `pattern` (a RegExp), counting matches after `from`.
    async waitForLog(pattern, from = 0, timeoutMs = 20000) {
      const start = Date.now();
      while (!pattern.test(log.slice(from))) {
        if (Date.now() - start > timeoutMs) throw new Error(`no ${pattern} in bridge log:\n${log}`);
        if (child.exitCode !== null) throw new Error(`bridge exited:\n${log}`);
        await new Promise((r) => setTimeout(r, 10));
      }
    },
    // SIGTERM, then the exit status (0 for a clean stop).
    async stop() {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
      return exited;
    },
  };
}

// A WebSocket client that keeps every answer, for driving the bridge by hand.
export async function openClient(port, { origin, headers } = {}) {
  const ws = new WebSocket(`ws://127.0.0.1:${port}/`, { ...(origin ? { origin } : {}), headers, maxPayload: 64 * 1024 * 1024 });
  const answers = [];
  const waiters = [];
  ws.on('message', (data) => {
    answers.push(JSON.parse(data.toString()));
    for (const w of waiters.splice(0)) w();
  });
  const closed = new Promise((resolve) => ws.on('close', (code, reason) => resolve({ code, reason: reason.toString() })));
  ws.on('error', () => {});
  await new Promise((resolve, reject) => {
    ws.once('open', resolve);
    ws.once('unexpected-response', (_req, res) => reject(Object.assign(new Error(`HTTP ${res.statusCode}`), { status: res.statusCode })));
    ws.once('error', reject);
  });
  let nextId = 1;
  const client = {
    ws,
    answers,
    closed,
    send: (message) => ws.send(typeof message === 'string' ? message : JSON.stringify(message)),
    // The next answer not yet taken.
    taken: 0,
    async next(timeoutMs = 20000) {
      const start = Date.now();
      while (answers.length <= client.taken) {
        if (Date.now() - start > timeoutMs) throw new Error('no answer from the bridge');
        await Promise.race([new Promise((r) => waiters.push(r)), closed, new Promise((r) => setTimeout(r, 50))]);
        if (answers.length <= client.taken && ws.readyState !== WebSocket.OPEN) throw new Error('connection closed');
      }
      return answers[client.taken++];
    },
    // One request; resolves to the whole answer object.
    async request(method, params) {
      const id = nextId++;
      client.send({ jsonrpc: '2.0', id, method, ...(params ? { params } : {}) });
      const answer = await client.next();
      if (answer.id !== id) throw new Error(`answer for ${answer.id}, expected ${id}`);
      return answer;
    },
    async get(name, control) {
      return (await client.request('get', { name, ...(control ? { control } : {}) })).result;
    },
    async put(name, value) {
      const a = await client.request('put', { name, value });
      if (a.error) throw new Error(`put ${name}: ${a.error.message}`);
    },
    async call(name) {
      return (await client.request('call', { name })).result;
    },
    close: (code = 1000) => ws.close(code),
  };
  return client;
}

// Sends raw bytes and collects everything until the bridge closes the connection.
export function rawExchange(port, text, timeoutMs = 5000) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.write(text));
    let data = '';
    socket.setEncoding('latin1');
    socket.on('data', (chunk) => (data += chunk));
    socket.on('close', () => resolve(data));
    socket.on('error', reject);
    socket.setTimeout(timeoutMs, () => {
      socket.destroy();
      resolve(data);
    });
  });
}

export function handshake(port, { host = `127.0.0.1:${port}`, origin, extra = '' } = {}) {
  return `GET / HTTP/1.1\r\nHost: ${host}\r\n${origin ? `Origin: ${origin}\r\n` : ''}Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n${extra}\r\n`;
}
