'use strict';
// Builds the addon with node-gyp against the headers of the Node that runs this script, so
// that nothing is downloaded: a Debian Node has them in /usr/include/node.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const prefix = path.resolve(path.dirname(process.execPath), '..');
const headers = path.join(prefix, 'include', 'node', 'node_api.h');
if (!fs.existsSync(headers)) {
  console.error(`quorin-native: no Node headers at ${headers}; install the Node development files`);
  process.exit(1);
}
const probe = spawnSync('pkg-config', ['--exists', 'quorin-native']);
if (probe.error || probe.status !== 0) {
  console.error('quorin-native: pkg-config finds no quorin-native; install libquorinnative-dev ' +
    'or point PKG_CONFIG_PATH at the lib/pkgconfig of an installed QuorinNative');
  process.exit(1);
}
// npm names the node-gyp it ships when it runs this script; run by hand, this finds that one.
const bundled = path.join(prefix, 'lib', 'node_modules', 'npm', 'node_modules', 'node-gyp', 'bin',
  'node-gyp.js');
const gyp = process.env.npm_config_node_gyp || bundled;
const result = spawnSync(process.execPath, [gyp, 'rebuild', `--nodedir=${prefix}`], {
  stdio: 'inherit',
});
process.exit(result.status ?? 1);
