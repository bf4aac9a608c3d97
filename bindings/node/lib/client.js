'use strict';
const { EventEmitter } = require('node:events');
const { native } = require('./native');
const { QuorinError, fromNative, callNative, checkText } = require('./errors');

const { CREATE, MIGRATE, OWNER, RECEIVE } = require('./symbols');

const LIBRARY_EVENTS = new Set(['foreground', 'background', 'active', 'resign', 'cloudChange']);

// Clients with a listener of the library's events or a read pending stay alive without a
// reference of the host's, as a server with a listener does; the others are collected.
const kept = new Set();

// Called by the addon, with the native client as `this`, for each event of the main loop.
function dispatch(kind, first, second) {
  this[OWNER]?.deref()?.[RECEIVE](kind, first, second);
}

function disposedError() {
  return new QuorinError('DISPOSED', 'the client was disposed');
}

class Client extends EventEmitter {
  #native;
  #device;
  #disposed = false;
  #tail = Promise.resolve();
  // The reads the library holds, in the order it answers them, by key.
  #reads = new Map();
  #pending = 0;

  constructor(token, device, nativeClient) {
    super();
    if (token !== CREATE) throw new TypeError('clients are made by device.client()');
    this.#device = device;
    this.#native = nativeClient;
    nativeClient[OWNER] = new WeakRef(this);
    this.on('newListener', (event) => this.#listening(event, true));
    this.on('removeListener', (event) => this.#listening(event, this.listenerCount(event) > 0));
  }

  static [CREATE](device, nativeClient) {
    return new Client(CREATE, device, nativeClient);
  }

  get deviceModel() { return this.#fact('deviceModel'); }
  get osVersion() { return this.#fact('osVersion'); }
  get buildNumber() { return this.#fact('buildNumber'); }
  get isTablet() { return this.#fact('isTablet'); }
  get languageWithRegion() { return this.#fact('languageWithRegion'); }
  get idfa() { return this.#fact('idfa'); }
  get idfv() { return this.#fact('idfv'); }
  get encodedDeviceIdentifier() { return this.#fact('encodedDeviceIdentifier'); }
  get storeCountry() { return this.#fact('storeCountry'); }
  get disposed() { return this.#disposed; }

  isApplicationInstalled(scheme) {
    checkText(scheme, 'scheme');
    return callNative(() => this.#native.isApplicationInstalled(scheme));
  }

  async keychainGet(key) {
    checkText(key, 'key');
    return this.#job(() => this.#native.keychainGet(key));
  }

  async keychainSet(key, value) {
    checkText(key, 'key');
    checkText(value, 'value');
    return this.#job(() => this.#native.keychainSet(key, value));
  }

  async keychainRemove(key) {
    checkText(key, 'key');
    return this.#job(() => this.#native.keychainRemove(key));
  }

  async clearKeychains() {
    return this.#job(() => this.#native.clearKeychains());
  }

  async cloudSet(key, value) {
    checkText(key, 'key');
    checkText(value, 'value');
    this.#checkLive();
    return this.#job(() => this.#native.cloudSet(key, value));
  }

  async cloudRemove(key) {
    checkText(key, 'key');
    this.#checkLive();
    return this.#job(() => this.#native.cloudRemove(key));
  }

  // At once when the value is there, when another device writes it, else null after 30 s.
  async cloudGet(key, { signal } = {}) {
    checkText(key, 'key');
    if (signal !== undefined && !(signal instanceof AbortSignal)) {
      throw new TypeError('signal must be an AbortSignal');
    }
    signal?.throwIfAborted();
    this.#checkLive();
    return new Promise((resolve, reject) => {
      const read = { resolve, reject, settled: false, signal, onAbort: null };
      if (signal) {
        read.onAbort = () => this.#settle(read, { error: signal.reason });
        signal.addEventListener('abort', read.onAbort, { once: true });
      }
      this.#wait(+1);
      this.#job(() => this.#ask(key, read)).catch((error) => this.#settle(read, { error }));
    });
  }

  async collectMigrationData() {
    return this.#job(() => this.#device[MIGRATE](() => this.#native.collectMigrationData()));
  }

  async clearDataAfterMigration() {
    return this.#job(() => this.#device[MIGRATE](() => this.#native.clearDataAfterMigration()));
  }

  // Stops the client's events and cloud calls; pending reads are rejected with DISPOSED.
  // Keychain calls still work. Safe to call twice.
  dispose() {
    if (this.#disposed) return;
    this.#disposed = true;
    callNative(() => this.#native.dispose());
    for (const reads of this.#reads.values()) {
      for (const read of reads) this.#settle(read, { error: disposedError() });
    }
    this.#reads.clear();
    kept.delete(this);
  }

  [RECEIVE](kind, first, second) {
    if (this.#disposed) return;
    if (kind === 'value') return this.#answer(first, second);
    if (kind === 'change') return this.emit('cloudChange', { keys: first, reason: second });
    this.emit(kind);
  }

  #fact(name) {
    return callNative(() => this.#native[name]());
  }

  #checkLive() {
    if (this.#disposed) throw disposedError();
  }

  // Calls of one client run one at a time, in the order they were made.
  #job(call) {
    const run = this.#tail.then(call).catch((error) => { throw fromNative(error); });
    this.#tail = run.catch(() => {});
    return run;
  }

  #ask(key, read) {
    if (read.settled) return;
    if (this.#disposed) return this.#settle(read, { error: disposedError() });
    const now = this.#native.fetch(key);
    if (now !== undefined) return this.#settle(read, { value: now });
    if (!this.#reads.has(key)) this.#reads.set(key, []);
    this.#reads.get(key).push(read);
  }

  #answer(key, value) {
    const reads = this.#reads.get(key);
    const read = reads?.shift();
    if (reads?.length === 0) this.#reads.delete(key);
    if (read) this.#settle(read, { value });
  }

  // An aborted read stays in #reads until the library answers it, so answers keep their order.
  #settle(read, { value, error }) {
    if (read.settled) return;
    read.settled = true;
    read.signal?.removeEventListener('abort', read.onAbort);
    this.#wait(-1);
    if (error !== undefined) read.reject(error);
    else read.resolve(value);
  }

  #wait(change) {
    this.#pending += change;
    if (change > 0) native.hold();
    else native.release();
    this.#keep();
  }

  // 'newListener' comes before the listener is added, so `on` is given rather than counted.
  #listening(event, on) {
    if (!LIBRARY_EVENTS.has(event) || this.#disposed) return;
    callNative(() => this.#native.listen(event, on));
    this.#keep(on);
  }

  #keep(listening = false) {
    const listened = listening ||
      [...LIBRARY_EVENTS].some((event) => this.listenerCount(event) > 0);
    if (!this.#disposed && (listened || this.#pending > 0)) kept.add(this);
    else kept.delete(this);
  }
}

if (Symbol.dispose) Client.prototype[Symbol.dispose] = Client.prototype.dispose;

module.exports = { Client, dispatch };
