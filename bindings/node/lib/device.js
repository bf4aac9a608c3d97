'use strict';
const { native } = require('./native');
const { QuorinError, callNative } = require('./errors');
const { Client } = require('./client');
const { CREATE, MIGRATE } = require('./symbols');

const STATUS_CODES = new Map([
  [-1, 'INVALID_OPTIONS'],
  [-2, 'RELATIVE_CONTAINER'],
  [-3, 'FAILED'],
  [-4, 'UNUSABLE_CONTAINER'],
  [-5, 'UNUSABLE_CLOUD_ACCOUNT'],
]);
const STATUS_MESSAGES = new Map([
  [-1, 'the options are not valid'],
  [-2, 'the container must be an absolute path'],
  [-3, 'the device could not be set up'],
  [-4, 'the container cannot be used (its parent directory is missing, or it is not a ' +
    'directory this process can read and write)'],
  [-5, 'the cloud account directory cannot be used (its parent directory is missing, or ' +
    'something else stands in its place)'],
]);
const TEXT_OPTIONS = ['container', 'cloudAccount', 'infoPlist', 'keyStore'];
const OPTIONS = new Set([...TEXT_OPTIONS, 'keychainKey']);

function invalid(message) {
  return new QuorinError('INVALID_OPTIONS', message);
}

// A misspelt option would quietly name the user's default account instead: refused.
function checkOptions(options) {
  if (options === null || typeof options !== 'object') throw invalid('options must be an object');
  for (const name of Object.keys(options)) {
    if (!OPTIONS.has(name)) throw invalid(`unknown option ${name}`);
  }
  for (const name of TEXT_OPTIONS) {
    const value = options[name];
    if (value === undefined || value === null) continue;
    if (typeof value !== 'string') throw invalid(`${name} must be a string`);
    if (!value.isWellFormed() || value.includes('\0')) {
      throw invalid(`${name} holds a NUL or a lone surrogate`);
    }
  }
  const key = options.keychainKey;
  if (key !== undefined && key !== null && !(key instanceof Uint8Array)) {
    throw invalid('keychainKey must be a Buffer or Uint8Array');
  }
}

class Device {
  #native;
  #migration = Promise.resolve();

  constructor(token, nativeDevice) {
    if (token !== CREATE) throw new TypeError('devices are made by openDevice()');
    this.#native = nativeDevice;
  }

  client() {
    return Client[CREATE](this, callNative(() => new native.NativeClient(this.#native)));
  }

  // Both migration calls write the device's files, so they run one at a time on each device,
  // whichever client asks.
  [MIGRATE](call) {
    const run = this.#migration.then(call);
    this.#migration = run.catch(() => {});
    return run;
  }
}

// Opens a device, checked at once: a refusal throws and makes nothing.
function openDevice(options) {
  checkOptions(options);
  const given = { ...options };
  if (given.keychainKey) given.keychainKey = Buffer.from(given.keychainKey);
  const opened = callNative(() => native.openDevice(given));
  if (typeof opened === 'number') {
    throw new QuorinError(STATUS_CODES.get(opened) ?? 'FAILED',
      STATUS_MESSAGES.get(opened) ?? `the device was refused (status ${opened})`);
  }
  return new Device(CREATE, opened);
}

module.exports = { Device, openDevice };
