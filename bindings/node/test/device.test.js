'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { quorin, scratch, openTestDevice } = require('./support');

test('the versions are the package\'s and the library\'s', () => {
  assert.equal(quorin.version, require('../package.json').version);
  assert.match(quorin.libraryVersion, /^@\(#\)PROGRAM:QuorinNative {2}PROJECT:QuorinNative-1\n$/);
});

test('a refused device throws with its code and makes nothing', () => {
  const refusals = [
    [{ container: 'relative/device' }, 'RELATIVE_CONTAINER'],
    [{}, 'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'missing', 'device') }, 'UNUSABLE_CONTAINER'],
    [{ container: path.join(scratch, 'bad-store'), keyStore: 'vault' }, 'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'both'), keyStore: 'key-file',
      keychainKey: Buffer.alloc(32) }, 'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'short-key'), keychainKey: Buffer.alloc(31) },
      'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'typo'), cloudAcount: '/tmp/x' }, 'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'number'), infoPlist: 7 }, 'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'nul\0') }, 'INVALID_OPTIONS'],
    [{ container: path.join(scratch, 'cloud-missing'),
      cloudAccount: path.join(scratch, 'nowhere', 'cloud') }, 'UNUSABLE_CLOUD_ACCOUNT'],
    [null, 'INVALID_OPTIONS'],
  ];
  for (const [options, code] of refusals) {
    assert.throws(() => quorin.openDevice(options),
      (error) => error instanceof quorin.QuorinError && error.code === code,
      `${JSON.stringify(options)} gives ${code}`);
  }
  for (const name of ['missing', 'bad-store', 'both', 'short-key', 'typo', 'number', 'nowhere']) {
    assert.equal(fs.existsSync(path.join(scratch, name)), false, `${name} was made`);
  }
});

test('clients keep to their own device, several side by side', async () => {
  const first = openTestDevice().client();
  const second = openTestDevice().client();
  await first.keychainSet('token', 'one');
  await second.keychainSet('token', 'two');
  assert.equal(await first.keychainGet('token'), 'one');
  assert.equal(await second.keychainGet('token'), 'two');
  assert.notEqual(first.idfv, second.idfv);
  first.dispose();
  second.dispose();
});

test('a device with the host\'s own key reads back what it sealed', async () => {
  const options = { container: path.join(scratch, 'own-key'), keychainKey: Buffer.alloc(32, 7) };
  await quorin.openDevice(options).client().keychainSet('k', 'sealed');
  assert.equal(await quorin.openDevice(options).client().keychainGet('k'), 'sealed');
});

test('facts have their types, nil as null', () => {
  const client = openTestDevice().client();
  for (const name of ['deviceModel', 'osVersion', 'buildNumber', 'languageWithRegion',
    'encodedDeviceIdentifier']) {
    assert.equal(typeof client[name], 'string', name);
  }
  assert.equal(typeof client.isTablet, 'boolean');
  assert.equal(client.buildNumber, '');
  assert.match(client.idfv, /^[0-9A-F-]{36}$/);
  assert.equal(client.idfv, client.idfv);
  for (const name of ['idfa', 'storeCountry']) {
    assert.ok(client[name] === null || typeof client[name] === 'string', name);
  }
  assert.equal(client.isApplicationInstalled('no-such-scheme-here'), false);
  assert.throws(() => client.isApplicationInstalled(3), TypeError);
  client.dispose();
});

test('devices and clients are made only through openDevice and device.client', () => {
  assert.throws(() => new quorin.Device(), TypeError);
  assert.throws(() => new quorin.Client(), TypeError);
});
