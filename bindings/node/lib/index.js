'use strict';
const { EventEmitter } = require('node:events');
const util = require('node:util');
const { native, isMainThread } = require('./native');
const { QuorinError, callNative } = require('./errors');
const { Client, dispatch } = require('./client');
const { Device, openDevice } = require('./device');
const { version } = require('../package.json');

// The library's diagnostic lines, as 'line' events and on NODE_DEBUG=quorin; never on stdout.
const diagnostics = new EventEmitter();
const debug = util.debuglog('quorin');

function onDiagnostic(line) {
  debug('%s', line);
  diagnostics.emit('line', line);
}

if (isMainThread) {
  native.claim(native.NativeDevice, dispatch, onDiagnostic);
  process.once('exit', () => native.stop());
}

const APPLICATION_EVENTS = ['foreground', 'background', 'active', 'resign'];

// Tells every device that the application changed state, as the system would; the listeners
// hear it at the main loop's next turn, and the process stays until then.
function postApplicationEvent(name) {
  const event = APPLICATION_EVENTS.indexOf(name);
  if (event < 0) {
    throw new QuorinError('UNKNOWN_EVENT',
      `unknown application event ${String(name)}: one of ${APPLICATION_EVENTS.join(', ')}`);
  }
  callNative(() => native.postApplicationEvent(event));
}

module.exports = {
  version,
  libraryVersion: native.libraryVersion(),
  QuorinError,
  Client,
  Device,
  openDevice,
  postApplicationEvent,
  diagnostics,
};
