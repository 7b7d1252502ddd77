import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';

import { generate, describe, findCli } from '../tools/generate.mjs';

const webDir = join(dirname(fileURLToPath(import.meta.url)), '..');
const cli = findCli();

test('the checked-in members and declarations match a fresh generation', { skip: !existsSync(cli) && `no ruzazuv-cli at ${cli}` }, () => {
  const files = generate(describe(cli));
  for (const [name, text] of Object.entries(files)) {
    assert.equal(readFileSync(join(webDir, name), 'utf8'), text, `${name} is stale: run npm run generate`);
  }
  const description = describe(cli);
  assert.equal(description.members.length, 96);
  assert.equal(description.members.find((m) => m.name === 'FiscCardTransfer').dispid, 56);
});

const sample = {
  progid: 'RuzaZUV.Vorn.1',
  version: '1.0',
  members: [
    { dispid: 1, name: 'ConnectReader', kind: 'method', type: 'long', help: 'method ConnectReader' },
    { dispid: 3, name: 'iNoR', kind: 'property', type: 'long', help: 'property iNoR' },
    { dispid: 4, name: 'caReader1', kind: 'property', type: 'string', help: 'property caReader1' },
    { dispid: 40, name: 'bPq', kind: 'property', type: 'short', help: 'property bPq' },
  ],
};

test('declarations type methods as ret, properties by their kind, and puts of text as nullable', () => {
  const dts = generate(sample)['ruzazuv.d.ts'];
  assert.match(dts, /^ {2}ConnectReader\(\): Promise<number>;$/m);
  assert.match(dts, /^ {2}readonly iNoR: Promise<number>;$/m);
  assert.match(dts, /^ {2}readonly caReader1: Promise<string>;$/m);
  assert.match(dts, /^ {2}readonly bPq: Promise<number>;$/m);
  assert.match(dts, /^export type MethodName = "ConnectReader";$/m);
  assert.match(dts, /^export type PropertyName = "iNoR" \| "caReader1" \| "bPq";$/m);
  assert.match(dts, /^export type StringPropertyName = "caReader1";$/m);
  assert.match(dts, /\(DISPID 40\)/);
});

test('the members module lists the table in order with every field', async () => {
  const js = generate(sample)['ruzazuv.members.js'];
  const module = await import(`data:text/javascript,${encodeURIComponent(js)}`);
  assert.equal(module.progid, 'RuzaZUV.Vorn.1');
  assert.deepEqual(module.members, sample.members);
  assert.ok(Object.isFrozen(module.members) && Object.isFrozen(module.members[0]));
});

test('a table the client cannot offer is refused', () => {
  const withMember = (m) => ({ ...sample, members: [...sample.members, m] });
  const base = { dispid: 99, kind: 'property', type: 'long', help: '' };
  assert.throws(() => generate(withMember({ ...base, name: 'INOR' })), /two members/);
  assert.throws(() => generate(withMember({ ...base, name: 'then' })), /cannot be offered/);
  assert.throws(() => generate(withMember({ ...base, name: 'x y' })), /bad member name/);
  assert.throws(() => generate(withMember({ ...base, name: 'x', type: 'double' })), /unknown type/);
});
