// Helpers of the browser tests: the bridge as a child process serving the demo page, Chromium
// through playwright-core (optionally with the unpacked extension and a native-messaging host),
// pages of their own origins on 127.0.0.1 driving ruzazuv.js, the card simulator's control
// channel, an X display and its screenshots.
import { spawn, execFile } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync, mkdirSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';

const run = promisify(execFile);
export const sourceDir = path.resolve(process.env.RUZAZUV_SOURCE ?? path.join(import.meta.dirname, '../..'));
export const binDir = path.resolve(process.env.RUZAZUV_BIN ?? path.join(sourceDir, 'build/dev/bin'));
export const profile = JSON.parse(readFileSync(path.join(sourceDir, 'sim/profiles/default.json'), 'utf8'));

// The launch flags for Chromium in tests and CI.
export const CHROMIUM_FLAGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-background-networking',
  '--disable-component-update',
  '--no-first-run',
];

// Lines of a child's output as they come, with waits on a pattern.
class Lines {
  #lines = [];
  #waiters = [];

  push(line) {
    this.#lines.push(line);
    this.#waiters = this.#waiters.filter((w) => {
      const match = w.pattern.exec(line);
      if (match) w.resolve(match);
      return !match;
    });
  }

  get all() {
    return this.#lines.join('\n');
  }

  // Resolves with the match of the first line from `from` on that matches.
  wait(pattern, what, { from = 0, timeoutMs = 60000 } = {}) {
    for (const line of this.#lines.slice(from)) {
      const match = pattern.exec(line);
      if (match) return Promise.resolve(match);
    }
    return new Promise((resolve, reject) => {
      const waiter = { pattern, resolve };
      const timer = setTimeout(() => {
        this.#waiters = this.#waiters.filter((w) => w !== waiter);
        reject(new Error(`no ${what} (${pattern}) in the output:\n${this.all}`));
      }, timeoutMs);
      waiter.resolve = (m) => {
        clearTimeout(timer);
        resolve(m);
      };
      this.#waiters.push(waiter);
    });
  }

  get count() {
    return this.#lines.length;
  }
}

function collect(stream, lines, echo) {
  let rest = '';
  stream.setEncoding('utf8');
  stream.on('data', (chunk) => {
    rest += chunk;
    let newline;
    while ((newline = rest.indexOf('\n')) >= 0) {
      const line = rest.slice(0, newline);
      rest = rest.slice(newline + 1);
      lines.push(line);
      if (echo) process.stderr.write(`  [bridge] ${line}\n`);
    }
  });
}

// Starts ruzazuv-bridge on the machine's pcscd with the demo page served from web/, the page's
// origin as the bank's site. Resolves once it serves, with the page address the bridge printed.
export async function startBridge({ ui, port = 47950, env = {} }) {
  const demoPort = port + 1;
  const site = `http://127.0.0.1:${demoPort}/`;
  const args = ['--pcsc', 'system', '--port', String(port), '--serve-demo', path.join(sourceDir, 'web'),
    '--demo-port', String(demoPort), '--site-address', site, '--ui', ui];
  const child = spawn(path.join(binDir, 'ruzazuv-bridge'), args, {
    env: { ...process.env, ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const log = new Lines();
  collect(child.stderr, log, process.env.RUZAZUV_BROWSER_VERBOSE === '1');
  collect(child.stdout, log, false);
  const exited = once(child, 'exit');
  const [, url] = await Promise.race([
    log.wait(/^Open (http:\/\/127\.0\.0\.1:\d+\/demo\/\S*)$/, 'address of the demo page', { timeoutMs: 20000 }),
    exited.then(([code]) => {
      throw new Error(`ruzazuv-bridge exited with ${code}:\n${log.all}`);
    }),
  ]);
  // The one address printed is the one to open: the page, told the bridge's port.
  if (url !== `${site}demo/?port=${port}`) throw new Error(`the bridge printed ${url}:\n${log.all}`);
  return {
    url,
    log,
    async stop() {
      if (child.exitCode === null) child.kill('SIGTERM');
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      const [code, signal] = await exited;
      clearTimeout(timer);
      return { code, signal };
    },
  };
}

// Chromium with a fresh profile directory, removed again by close(). With `extension` (a
// folder) that unpacked extension is loaded, and resolves once its service worker runs;
// `nativeHosts` (manifests) go into the profile's NativeMessagingHosts folder, where Chromium
// looks for a host before the user's and the system's folders.
export async function launchBrowser({ extension, nativeHosts = [] } = {}) {
  const profileDir = mkdtempSync(path.join(os.tmpdir(), 'ruzazuv-chromium-'));
  if (nativeHosts.length > 0) {
    const hosts = path.join(profileDir, 'NativeMessagingHosts');
    mkdirSync(hosts);
    for (const manifest of nativeHosts) {
      writeFileSync(path.join(hosts, `${manifest.name}.json`), JSON.stringify(manifest, null, 2));
    }
  }
  const extensionFlags = extension
    ? [`--disable-extensions-except=${extension}`, `--load-extension=${extension}`]
    : [];
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: process.env.RUZAZUV_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: [...CHROMIUM_FLAGS, ...extensionFlags],
  });
  const close = async () => {
    await context.close();
    rmSync(profileDir, { recursive: true, force: true });
  };
  let worker;
  if (extension) {
    try {
      worker = context.serviceWorkers()[0] ??
        (await context.waitForEvent('serviceworker', { timeout: 15000 }));
    } catch (e) {
      await close();
      throw new Error(`the extension in ${extension} did not start its service worker: ${e.message}`);
    }
  }
  const page = context.pages()[0] ?? (await context.newPage());
  return { page, context, worker, close };
}

// One command on the card simulator's control channel; resolves with its answer line.
export function cardsim(command, port = Number(process.env.RUZAZUV_CARDSIM_CONTROL0)) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    let answer = '';
    socket.setEncoding('utf8');
    socket.on('connect', () => socket.write(`${command}\n`));
    socket.on('data', (chunk) => {
      answer += chunk;
      const newline = answer.indexOf('\n');
      if (newline >= 0) {
        socket.end();
        const line = answer.slice(0, newline);
        if (line.startsWith('ok')) resolve(line);
        else reject(new Error(`cardsim: ${command}: ${line}`));
      }
    });
    socket.on('error', reject);
  });
}

// Puts the card of another profile into reader 0 in place of the one there, and resolves once
// pcscd sees it.
export async function swapCard(profileFile) {
  await cardsim(`swap ${profileFile}`);
  await run(path.join(binDir, 'ruzazuv-pcsc-wait'), ['--timeout', '10000', '--state', 'present',
    '--reader', process.env.RUZAZUV_READER0]);
}

// --- The demo page ----------------------------------------------------------------------------

// Clicks a step's button and waits until its result is in; returns { state, ret, sw, text }.
export async function runStep(page, button, step, timeoutMs = 30000) {
  const result = page.locator(`#result-${step}`);
  const before = Number((await result.getAttribute('data-seq')) ?? 0);
  await page.click(`#${button}`);
  await page.waitForFunction(
    ([id, seen]) => Number(document.getElementById(id).dataset.seq ?? 0) > seen,
    [`result-${step}`, before],
    { timeout: timeoutMs },
  ).catch(async (e) => {
    throw new Error(`${button}: no result: ${e.message}\npage log:\n${await pageLog(page)}`);
  });
  return result.evaluate((e) => ({
    state: e.dataset.state,
    ret: e.dataset.ret === undefined ? undefined : Number(e.dataset.ret),
    sw: e.dataset.sw === undefined ? undefined : Number(e.dataset.sw),
    text: e.textContent,
  }));
}

export function pageLog(page) {
  return page.locator('#log').innerText();
}

export async function openDemo(page, url) {
  await page.goto(url);
  await page.waitForSelector('#bridge[data-state="up"]', { timeout: 15000 });
}

// The session up to the transaction: readers, card, accounts, transfer-in accounts and PIN.
export async function prepareSession(t, assert, page) {
  const reader = process.env.RUZAZUV_READER0;
  const readers = await runStep(page, 'list-readers', 'readers');
  assert.equal(readers.state, 'ok', readers.text);
  const names = await page.locator('#reader option').allTextContents();
  assert.ok(names.includes(reader), `${reader} among ${names}`);
  await page.selectOption('#reader', reader);

  const card = await runStep(page, 'connect-card', 'readers');
  assert.equal(card.ret, 0, card.text);
  assert.match(await page.locator('#atr').innerText(), new RegExp(profile.atr));
  assert.match(await page.locator('#pull-plug').innerText(), /pulled out and put back/);

  const accounts = await runStep(page, 'read-accounts', 'accounts');
  assert.equal(accounts.ret, 0, accounts.text);
  assert.equal(accounts.sw, 0x9000, accounts.text);
  assert.deepEqual(await page.locator('#accounts li').allTextContents(), profile.accounts);
  assert.equal(await page.locator('#issue-no').innerText(), `issuer ${profile.issueNumber}`);

  const imports = await runStep(page, 'read-import-accounts', 'accounts');
  assert.equal(imports.ret, 0, imports.text);
  const shown = await page.locator('#import-accounts li').allTextContents();
  // Records 1 to 7 and 10 of the card's file.
  assert.deepEqual(shown, [...profile.importAccounts.slice(0, 7), profile.importAccounts[9]]);

  await page.fill('#pin', '000000');
  const wrong = await runStep(page, 'verify-pin', 'pin');
  assert.equal(wrong.ret, 0, wrong.text);
  assert.equal(wrong.sw & 0xfff0, 0x63c0, `a wrong PIN: ${wrong.text}`);
  assert.match(wrong.text, /^The PIN is wrong: \d tries? left\. Type it again in step 3\. \(card status 63 C\d\)$/);
  await page.fill('#pin', profile.pin);
  const pin = await runStep(page, 'verify-pin', 'pin');
  assert.equal(pin.sw, 0x9000, pin.text);
  assert.match(pin.text, /PIN accepted/);
  assert.equal(await page.inputValue('#pin'), '', 'the PIN field is cleared');
}

export async function inquiry(assert, page) {
  await page.selectOption('#account', '2');
  const r = await runStep(page, 'inquiry', 'inquiry');
  assert.equal(r.ret, 0, r.text);
  assert.equal(r.sw, 0x9000, r.text);
  const fact = (name) => page.locator(`#inquiry-facts dd[data-name="${name}"]`).innerText();
  assert.equal(await fact('Account'), profile.accounts[1]);
  assert.equal(await fact('ICC'), profile.icc);
  assert.equal(await fact('TACLen'), '8');
  assert.match(await fact('TAC'), /^[0-9A-F]{16}$/);
  assert.equal(await fact('PCode'), '2500');
}

// Fills the transfer form: 1,500.00 to the third transfer-in account, chosen from the list as
// a customer would.
export async function fillTransfer(page) {
  await page.locator('#import-accounts li', { hasText: profile.importAccounts[2] }).click();
  await page.fill('#amount', '1,500.00');
}

// The answers of the page's requests whose status is an error, and the requests that failed,
// from now on.
export function badResponses(page) {
  const bad = [];
  page.on('response', (r) => {
    if (r.status() >= 400) bad.push(`${r.status()} ${r.url()}`);
  });
  page.on('requestfailed', (r) => bad.push(`failed ${r.url()}: ${r.failure()?.errorText}`));
  return bad;
}

export async function checkTransfer(assert, page, r) {
  assert.equal(r.ret, 0, r.text);
  assert.equal(r.sw, 0x9000, r.text);
  assert.match(r.text, /Transfer authorised/);
  const fact = (name) => page.locator(`#transfer-facts dd[data-name="${name}"]`).innerText();
  assert.equal(await fact('TACLen'), '8');
  assert.match(await fact('TAC'), /^[0-9A-F]{16}$/);
  assert.equal(await fact('PCode'), '2521');
}

// The card pulls itself out 1.5 s after the next VERIFY (the transfer's own PIN check, just
// before the countdown opens) and goes back in 2 s later.
export function pullAndReinsertDuringTransfer() {
  return cardsim('script on-apdu:00200010#1+1500,remove;then:2000,insert');
}

// --- The extension, its native host and pages of their own origins ----------------------------

// The extension's id, fixed by the public key in its manifest; the host manifest names it.
export const EXTENSION_ID = 'moanljbngfilffkbckjlcdhohgonjlgj';
export const extensionDir = path.join(sourceDir, 'web', 'extension');

const shellQuote = (text) => `'${String(text).replaceAll("'", "'\\''")}'`;

// ruzazuv-nmhost as Chromium starts it for the test profile: its manifest points at a wrapper
// script (Chromium wants an absolute path) that records the process id of each start (the host
// keeps it, as the script execs), gives the host an empty configuration folder of its own, so
// no allow-list file of this machine counts, and appends its log to one file.
export function nativeHost({ args, env = {} }) {
  const dir = mkdtempSync(path.join(os.tmpdir(), 'ruzazuv-nmhost-'));
  const config = path.join(dir, 'config');
  mkdirSync(config);
  const script = path.join(dir, 'host.sh');
  const log = path.join(dir, 'host.log');
  const pids = path.join(dir, 'pids');
  const variables = { XDG_CONFIG_HOME: config, XDG_CONFIG_DIRS: config, ...env };
  writeFileSync(script, [
    '#!/bin/sh',
    `echo $$ >> ${shellQuote(pids)}`,
    ...Object.entries(variables).map(([k, v]) => `export ${k}=${shellQuote(v)}`),
    `exec ${shellQuote(path.join(binDir, 'ruzazuv-nmhost'))} ${args.map(shellQuote).join(' ')} "$@" 2>>${shellQuote(log)}`,
    '',
  ].join('\n'), { mode: 0o755 });
  return {
    manifest: {
      name: 'ruzazuv.nmhost',
      description: 'RuzaZUV card service (test profile)',
      path: script,
      type: 'stdio',
      allowed_origins: [`chrome-extension://${EXTENSION_ID}/`],
    },
    // Process ids of the hosts started so far, oldest first.
    pids: () => (existsSync(pids) ? readFileSync(pids, 'utf8').split('\n').filter(Boolean).map(Number) : []),
    log: () => (existsSync(log) ? readFileSync(log, 'utf8') : ''),
    remove: () => rmSync(dir, { recursive: true, force: true }),
  };
}

// A page origin of its own on 127.0.0.1 (a free port): a blank page at / and ruzazuv.js with
// its member table, nothing else.
export async function servePage() {
  const files = new Map([
    ['/', { type: 'text/html', body: '<!doctype html><meta charset="utf-8"><title>bank page</title><body>bank page</body>' }],
    ...['ruzazuv.js', 'ruzazuv.members.js'].map((name) => [`/${name}`, {
      type: 'text/javascript',
      body: readFileSync(path.join(sourceDir, 'web', name)),
    }]),
  ]);
  const server = http.createServer((request, response) => {
    const file = files.get(new URL(request.url, 'http://x').pathname);
    response.writeHead(file ? 200 : 404, { 'content-type': file?.type ?? 'text/plain', 'cache-control': 'no-store' });
    response.end(file?.body ?? 'not found');
  });
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const origin = `http://127.0.0.1:${server.address().port}`;
  return {
    origin,
    url: `${origin}/`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// The control of a page, driven from the test through the page's own ruzazuv.js: open()
// connects with connect(options); get, put and call resolve to what the page got, or reject
// with an Error carrying the page's error (`page`: its name, message, code and reason), or when
// the page has no outcome in `timeoutMs`, so that a hang fails the test instead of stalling it.
export function pageControl(page, { timeoutMs = 60000 } = {}) {
  const run = async (op, args) => {
    let timer;
    const deadline = new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`${op} ${args.map((a) => JSON.stringify(a)).join(' ')}: no outcome in ${timeoutMs} ms`)), timeoutMs);
    });
    const evaluated = page.evaluate(async ([what, values]) => {
      try {
        if (what === 'open') {
          const ruzazuv = await import('/ruzazuv.js');
          window.ruzazuvControl = await ruzazuv.connect(values[0]);
          return { value: null };
        }
        const value = await window.ruzazuvControl[what](...values);
        return { value: value ?? null };
      } catch (e) {
        return { error: { name: e?.name, message: e?.message ?? String(e), code: e?.code ?? null, reason: e?.reason ?? null } };
      }
    }, [op, args]);
    const outcome = await Promise.race([evaluated, deadline]).finally(() => clearTimeout(timer));
    if (outcome.error) {
      const e = new Error(`${op} ${args.map((a) => JSON.stringify(a)).join(' ')}: ${outcome.error.name}: ${outcome.error.message}`);
      e.page = outcome.error;
      throw e;
    }
    return outcome.value;
  };
  return {
    page,
    open: (options) => run('open', [options]),
    get: (name) => run('get', [name]),
    put: (name, value) => run('put', [name, value]),
    call: (name) => run('call', [name]),
  };
}

// A whole session on `reader` through a pageControl: readers, card, accounts, transfer-in
// accounts, PIN, an inquiry and a transfer during whose countdown the card is pulled out and put
// back, then both disconnects. Resolves to everything the page was answered, by step.
export async function fullSession(ctl, { reader, pin = profile.pin }) {
  const seen = {};
  const read = async (names) => {
    const values = {};
    for (const name of names) values[name] = await ctl.get(name);
    return values;
  };
  const numbered = (prefix) => Array.from({ length: 8 }, (_, i) => `${prefix}${i}`);
  seen.ConnectReader = await ctl.call('ConnectReader');
  seen.ListReaders = await ctl.call('ListReaders');
  seen.readers = await read(['iNoR', 'caReader1', 'caReader2']);
  await ctl.put('baReaderName', reader);
  seen.ConnectCard = await ctl.call('ConnectCard');
  seen.card = await read(['baATR', 'isPullPlugReader']);
  seen.FiscListAccounts = await ctl.call('FiscListAccounts');
  seen.accounts = await read(['uiSW12', 'issueNo', ...numbered('account')]);
  seen.FiscListImportAccounts = await ctl.call('FiscListImportAccounts');
  seen.importAccounts = await read(['uiSW12', ...numbered('importaccount')]);
  await ctl.put('baBuf', pin.padEnd(16, 'F'));
  await ctl.put('bPq', 16);
  seen.VerifyPIN = await ctl.call('VerifyPIN');
  seen.pin = await read(['uiSW12']);
  const fields = { FdId: 'FD000001', FdChkCode: 'CHK00001', DateTime: '20261209090503', curAccntIndex: 2, OptionData1: '' };
  for (const [name, value] of Object.entries(fields)) await ctl.put(name, value);
  seen.FiscCardInquiry = await ctl.call('FiscCardInquiry');
  seen.inquiry = await read(['uiSW12', 'Account', 'ICC', 'TACLen', 'TAC', 'PCode']);
  for (const [name, value] of Object.entries({ money: '150000', ImprtAccnt: profile.importAccounts[2].slice(-16), AcceptNo: profile.importAccounts[2].slice(0, 3) })) {
    await ctl.put(name, value);
  }
  await pullAndReinsertDuringTransfer();
  seen.FiscCardTransfer = await ctl.call('FiscCardTransfer');
  seen.transfer = await read(['uiSW12', 'ICC', 'TACLen', 'TAC', 'PCode']);
  await ctl.put('iDisConnectType', 0);
  seen.DisConnectCard = await ctl.call('DisConnectCard');
  seen.DisConnectReader = await ctl.call('DisConnectReader');
  return seen;
}

// --- An X display -----------------------------------------------------------------------------

// Xvfb on a free display number, its screen kept as an XWD file for screenshots.
export async function startXvfb() {
  const fbdir = mkdtempSync(path.join(os.tmpdir(), 'ruzazuv-xvfb-'));
  for (let display = 99; display < 120; display++) {
    const child = spawn('Xvfb', [`:${display}`, '-screen', '0', '1280x800x24', '-nolisten', 'tcp',
      '-fbdir', fbdir], { stdio: ['ignore', 'ignore', 'pipe'] });
    let errors = '';
    child.stderr.on('data', (d) => (errors += d));
    const started = await Promise.race([
      once(child, 'exit').then(() => false),
      (async () => {
        for (let i = 0; i < 50; i++) {
          try {
            await run('xdotool', ['getmouselocation'], { env: { ...process.env, DISPLAY: `:${display}` } });
            return true;
          } catch {
            await new Promise((r) => setTimeout(r, 100));
          }
        }
        return false;
      })(),
    ]);
    if (started) {
      return {
        display: `:${display}`,
        screenFile: path.join(fbdir, 'Xvfb_screen0'),
        async stop() {
          child.kill('SIGTERM');
          await once(child, 'exit');
          rmSync(fbdir, { recursive: true, force: true });
        },
      };
    }
    if (child.exitCode === null) child.kill('SIGKILL');
    if (!/already active|Server is already/.test(errors)) throw new Error(`Xvfb did not start: ${errors}`);
  }
  throw new Error('no free X display');
}

export function xdotool(display, ...args) {
  return run('xdotool', args, { env: { ...process.env, DISPLAY: display } });
}

// Writes the X screen (Xvfb's XWD frame buffer, 24-bit TrueColor in 32-bit pixels) as a PNG.
export function saveScreen(screenFile, pngFile) {
  const xwd = readFileSync(screenFile);
  const header = (i) => xwd.readUInt32BE(i * 4);
  const headerSize = header(0);
  const width = header(4);
  const height = header(5);
  const byteOrder = header(7); // 0: LSB first
  const bitsPerPixel = header(11);
  const bytesPerLine = header(12);
  const colours = header(19);
  if (bitsPerPixel !== 32) throw new Error(`screen of ${bitsPerPixel} bits per pixel`);
  const redMask = header(14);
  const data = headerSize + colours * 12;
  const rows = [];
  for (let y = 0; y < height; y++) {
    const row = Buffer.alloc(1 + width * 3);
    for (let x = 0; x < width; x++) {
      const at = data + y * bytesPerLine + x * 4;
      const pixel = byteOrder === 0 ? xwd.readUInt32LE(at) : xwd.readUInt32BE(at);
      const [r, g, b] = redMask === 0xff0000
        ? [(pixel >> 16) & 0xff, (pixel >> 8) & 0xff, pixel & 0xff]
        : [pixel & 0xff, (pixel >> 8) & 0xff, (pixel >> 16) & 0xff];
      row[1 + x * 3] = r;
      row[2 + x * 3] = g;
      row[3 + x * 3] = b;
    }
    rows.push(row);
  }
  const chunk = (type, body) => {
    const out = Buffer.alloc(12 + body.length);
    out.writeUInt32BE(body.length, 0);
    out.write(type, 4, 'ascii');
    body.copy(out, 8);
    out.writeUInt32BE(zlib.crc32(out.subarray(4, 8 + body.length)), 8 + body.length);
    return out;
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([8, 2, 0, 0, 0], 8); // 8-bit RGB
  mkdirSync(path.dirname(pngFile), { recursive: true });
  writeFileSync(pngFile, Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(Buffer.concat(rows))),
    chunk('IEND', Buffer.alloc(0)),
  ]));
  return { width, height, pixel: (x, y) => rows[y].subarray(1 + x * 3, 4 + x * 3) };
}
