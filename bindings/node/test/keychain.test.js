'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { quorin, scratch, cloud, openTestDevice } = require('./support');

test('values round-trip; absent is null; removed is gone', async () => {
  const client = openTestDevice().client();
  assert.equal(await client.keychainGet('token'), null);
  await client.keychainSet('token', 'sécret ✓');
  assert.equal(await client.keychainGet('token'), 'sécret ✓');
  await client.keychainSet('token', '');
  assert.equal(await client.keychainGet('token'), '');
  await client.keychainRemove('token');
  assert.equal(await client.keychainGet('token'), null);
  client.dispose();
});

test('calls run in the order made, without awaiting each', async () => {
  const client = openTestDevice().client();
  const calls = [];
  for (let i = 0; i < 50; ++i) calls.push(client.keychainSet('counter', String(i)));
  const last = client.keychainGet('counter');
  const cleared = client.clearKeychains();
  const after = client.keychainGet('counter');
  await Promise.all(calls);
  assert.equal(await last, '49');
  await cleared;
  assert.equal(await after, null);
});

test('facts read while a keychain call runs wait for it, and answer', async () => {
  const client = openTestDevice().client();
  const writes = Array.from({ length: 20 }, (_, i) => client.keychainSet(`k${i}`, 'v'));
  const model = client.deviceModel;
  await Promise.all(writes);
  assert.equal(model, client.deviceModel);
  assert.equal(await client.keychainGet('k19'), 'v');
});

test('keychain calls still work after dispose', async () => {
  const client = openTestDevice().client();
  client.dispose();
  client.dispose();
  await client.keychainSet('after', 'yes');
  assert.equal(await client.keychainGet('after'), 'yes');
});

test('bad keys and values are refused and nothing is written', async () => {
  const client = openTestDevice().client();
  await client.keychainSet('a', 'kept');
  await assert.rejects(client.keychainSet('a\0b', 'x'), { code: 'INVALID_ARGUMENT' });
  await assert.rejects(client.keychainSet('a', 'x\0y'), { code: 'INVALID_ARGUMENT' });
  await assert.rejects(client.keychainSet('a', 'lone \uD800'), { code: 'INVALID_ARGUMENT' });
  await assert.rejects(client.keychainSet('a', 5), TypeError);
  await assert.rejects(client.keychainGet(null), TypeError);
  assert.equal(await client.keychainGet('a'), 'kept');
  assert.equal(await client.keychainGet('a\0b').catch((e) => e.code), 'INVALID_ARGUMENT');
  assert.ok((await client.keychainSet('x', 1).catch((e) => e)) instanceof TypeError);
  assert.ok((await client.keychainSet('a\0', '').catch((e) => e)) instanceof quorin.QuorinError);
});

test('the legacy data is collected into JSON files, then erased', async () => {
  const container = path.join(scratch, 'legacy');
  fs.cpSync(path.join(__dirname, '..', '..', '..', 'examples', 'legacy-container'), container,
    { recursive: true });
  const device = quorin.openDevice({ container, cloudAccount: cloud, keyStore: 'key-file' });
  const [client, other] = [device.client(), device.client()];
  const [directory, again] = await Promise.all([client.collectMigrationData(),
    other.collectMigrationData()]);
  assert.equal(directory, again);
  const files = fs.readdirSync(directory);
  assert.deepEqual(files.sort(), ['cachedAnalytics', 'context', 'counters', 'generalInfo',
    'ltoInfo']);
  for (const file of files) JSON.parse(fs.readFileSync(path.join(directory, file), 'utf8'));
  await client.clearDataAfterMigration();
  assert.equal(fs.existsSync(directory), false);
});
