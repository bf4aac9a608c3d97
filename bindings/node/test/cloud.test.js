'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { once } = require('node:events');
const { quorin, openTestDevice, keptAlive } = require('./support');

function changeOf(client, key) {
  return new Promise((resolve) => {
    client.on('cloudChange', function heard(change) {
      if (!change.keys.includes(key)) return;
      client.off('cloudChange', heard);
      resolve(change);
    });
  });
}

test('a value already there answers at once', async () => {
  const client = openTestDevice().client();
  await client.cloudSet('here', 'now');
  assert.equal(await client.cloudGet('here'), 'now');
  await client.cloudRemove('here');
  client.dispose();
});

test('pending reads are answered when another device writes, each of them', async () => {
  const reader = openTestDevice().client();
  const writer = openTestDevice().client();
  const sameKey = [reader.cloudGet('later'), reader.cloudGet('later'), reader.cloudGet('later')];
  const otherKey = reader.cloudGet('elsewhere');
  await writer.cloudSet('later', 'arrived');
  assert.deepEqual(await Promise.all(sameKey), ['arrived', 'arrived', 'arrived']);
  await writer.cloudSet('elsewhere', 'too');
  assert.equal(await otherKey, 'too');
  reader.dispose();
  writer.dispose();
});

test('an aborted read rejects with the signal\'s reason; the others are still answered',
  async () => {
    const reader = openTestDevice().client();
    const writer = openTestDevice().client();
    const controller = new AbortController();
    const first = reader.cloudGet('abort-me', { signal: controller.signal });
    const second = reader.cloudGet('abort-me');
    const reason = new Error('no longer wanted');
    controller.abort(reason);
    await assert.rejects(first, (error) => error === reason);
    await assert.rejects(reader.cloudGet('abort-me', { signal: controller.signal }),
      (error) => error === reason);
    await assert.rejects(reader.cloudGet('abort-me', { signal: AbortSignal.abort() }),
      { name: 'AbortError' });
    await assert.rejects(reader.cloudGet('abort-me', { signal: 'soon' }), TypeError);
    await writer.cloudSet('abort-me', 'value');
    assert.equal(await second, 'value');
    reader.dispose();
    writer.dispose();
  });

test('dispose rejects pending reads, and later cloud calls, with DISPOSED', async () => {
  const client = openTestDevice().client();
  const pending = client.cloudGet('never');
  client.dispose();
  await assert.rejects(pending, { code: 'DISPOSED' });
  await assert.rejects(client.cloudGet('never'), { code: 'DISPOSED' });
  await assert.rejects(client.cloudSet('k', 'v'), { code: 'DISPOSED' });
  await assert.rejects(client.cloudRemove('k'), { code: 'DISPOSED' });
});

test('another device\'s write is a cloudChange with its reason', async () => {
  const watcher = openTestDevice().client();
  const writer = openTestDevice().client();
  const heard = changeOf(watcher, 'shared');
  await writer.cloudSet('shared', 'v');
  const change = await keptAlive(heard);
  assert.ok(change.reason === 0 || change.reason === 1, `reason ${change.reason}`);
  assert.deepEqual(change.keys, ['shared']);
  watcher.dispose();
  writer.dispose();
});

test('a write over the quota is a cloudChange with reason 2, for every listener', async () => {
  const client = openTestDevice().client();
  const heard = [changeOf(client, 'huge'), changeOf(client, 'huge')];
  await client.cloudSet('huge', 'x'.repeat(1024 * 1024 + 1));
  const quota = { keys: ['huge'], reason: 2 };
  assert.deepEqual(await keptAlive(Promise.all(heard)), [quota, quota]);
  client.dispose();
});

test('lifecycle events reach every listener, and none after dispose', async () => {
  const client = openTestDevice().client();
  const heard = [];
  for (const name of ['foreground', 'background', 'active', 'resign']) {
    client.on(name, () => heard.push(`${name} 1`));
    client.on(name, () => heard.push(`${name} 2`));
  }
  const last = once(client, 'resign');
  for (const name of ['foreground', 'background', 'active', 'resign']) {
    quorin.postApplicationEvent(name);
  }
  await last;
  assert.deepEqual(heard, ['foreground 1', 'foreground 2', 'background 1', 'background 2',
    'active 1', 'active 2', 'resign 1', 'resign 2']);
  client.dispose();
  const other = openTestDevice().client();
  const otherHeard = once(other, 'active');
  quorin.postApplicationEvent('active');
  await otherHeard;
  assert.equal(heard.length, 8);
  other.dispose();
  assert.throws(() => quorin.postApplicationEvent('sleep'), { code: 'UNKNOWN_EVENT' });
});

test('a listener removed hears nothing more', async () => {
  const client = openTestDevice().client();
  let calls = 0;
  const listener = () => { calls += 1; };
  client.on('active', listener);
  quorin.postApplicationEvent('active');
  await once(client, 'active');
  client.off('active', listener);
  const other = openTestDevice().client();
  const otherHeard = once(other, 'active');
  quorin.postApplicationEvent('active');
  await otherHeard;
  assert.equal(calls, 1);
  client.dispose();
  other.dispose();
});
