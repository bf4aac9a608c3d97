'use strict';
// The packed tarball holds the addon as a prebuild: installed with --ignore-scripts into a
// fresh project, with no build step at all, it loads and works.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { scratch } = require('./support');

const root = path.join(__dirname, '..');
const npm = (args, cwd) => execFileSync('npm', args, { cwd, encoding: 'utf8',
  env: { ...process.env, npm_config_loglevel: 'error', npm_config_fund: 'false',
    npm_config_audit: 'false', npm_config_update_notifier: 'false' } });

test('the tarball installs with --ignore-scripts and runs', async () => {
  const packed = path.join(scratch, 'packed');
  fs.mkdirSync(packed);
  const [{ filename, files }] = JSON.parse(npm(['pack', '--json', '--pack-destination', packed],
    root));
  const names = files.map((file) => file.path);
  assert.ok(names.includes('prebuilds/linux-x64/quorin_native.node'), names.join(' '));
  assert.ok(!names.some((name) => name.startsWith('build/') || name.startsWith('test/')));
  assert.equal(fs.existsSync(path.join(root, 'prebuilds')), false, 'pack left prebuilds/');

  const project = path.join(scratch, 'fresh-project');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'), '{"name":"fresh","private":true}');
  npm(['install', '--ignore-scripts', '--prefer-offline', path.join(packed, filename)], project);
  const installed = path.join(project, 'node_modules', 'quorin-native');
  assert.equal(fs.existsSync(path.join(installed, 'build')), false);
  fs.writeFileSync(path.join(project, 'use.mjs'), `
    import { openDevice, version } from 'quorin-native';
    const client = openDevice({ container: ${JSON.stringify(path.join(scratch, 'fresh-device'))},
      cloudAccount: ${JSON.stringify(path.join(scratch, 'fresh-cloud'))}, keyStore: 'key-file' })
      .client();
    await client.keychainSet('k', 'from the tarball');
    console.log(version, await client.keychainGet('k'));
    client.dispose();
  `);
  const out = execFileSync(process.execPath, ['use.mjs'], { cwd: project, encoding: 'utf8' });
  assert.equal(out, `${require('../package.json').version} from the tarball\n`);
});
