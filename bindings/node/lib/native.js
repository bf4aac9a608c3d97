'use strict';
// Loads the addon: the prebuild the package ships first, then a local build. Only the main
// thread claims the process's main loop; elsewhere every call is refused with WRONG_THREAD.
const path = require('node:path');
const { isMainThread } = require('node:worker_threads');

const root = path.join(__dirname, '..');
const candidates = [
  path.join(root, 'prebuilds', `${process.platform}-${process.arch}`, 'quorin_native.node'),
  path.join(root, 'build', 'Release', 'quorin_native.node'),
];

function load() {
  const failures = [];
  for (const candidate of candidates) {
    try {
      return require(candidate);
    } catch (error) {
      failures.push(`  ${candidate}: ${error.message.split('\n')[0]}`);
    }
  }
  throw new Error('quorin-native: no addon could be loaded (libQuorinNative.so.1 comes with ' +
    'the libquorinnative1 package, or a build of QuorinNative; `npm rebuild quorin-native` ' +
    `builds the addon):\n${failures.join('\n')}`);
}

const native = load();

module.exports = { native, isMainThread };
