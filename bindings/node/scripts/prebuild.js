'use strict';
// Around `npm pack`: `copy` puts the built addon into prebuilds/<platform>-<arch>/, where the
// loader looks first, so that the tarball installs with no compiler; `remove` takes it away
// again so that the source tree keeps loading its own build.
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const built = path.join(root, 'build', 'Release', 'quorin_native.node');
const prebuilds = path.join(root, 'prebuilds');
const target = path.join(prebuilds, `${process.platform}-${process.arch}`, 'quorin_native.node');

switch (process.argv[2]) {
  case 'copy':
    if (!fs.existsSync(built)) {
      console.error(`quorin-native: ${built} is missing; run npm install first`);
      process.exit(1);
    }
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.copyFileSync(built, target);
    break;
  case 'remove':
    fs.rmSync(prebuilds, { recursive: true, force: true });
    break;
  default:
    console.error('usage: prebuild.js copy|remove');
    process.exit(2);
}
