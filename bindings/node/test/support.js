'use strict';
// Scratch devices for the suites: each test file gets a directory of its own, removed at exit,
// and every device there syncs through one cloud account directory in it.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const quorin = require('..');

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'quorin-node-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
const cloud = path.join(scratch, 'cloud');
let devices = 0;

function openTestDevice(name = `device-${++devices}`) {
  return quorin.openDevice({
    container: path.join(scratch, name),
    cloudAccount: cloud,
    keyStore: 'key-file',
  });
}

// Events alone do not keep a process alive, as an unreferenced handle does not: a test that
// awaits one keeps the process alive itself until it is heard.
async function keptAlive(promise) {
  const timer = setInterval(() => {}, 60000);
  try {
    return await promise;
  } finally {
    clearInterval(timer);
  }
}

// Runs `source` in a new node process with this package importable as 'quorin-native' and
// the scratch cloud in QRN_TEST_CLOUD; resolves with its exit code, signal and output.
function runScript(source, { args = [], env = {}, onStdout } = {}) {
  const packageDir = JSON.stringify(path.join(__dirname, '..'));
  const preamble = `const packageDir = ${packageDir};\nconst quorin = require(packageDir);\n` +
    `const path = require('node:path');\nconst cloud = ${JSON.stringify(cloud)};\n` +
    `const scratch = ${JSON.stringify(scratch)};\n`;
  const child = spawn(process.execPath, [...args, '-e', preamble + source], {
    env: { ...process.env, XDG_DATA_HOME: path.join(scratch, 'xdg'), ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (chunk) => {
    stdout += chunk;
    onStdout?.(stdout);
  });
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const done = new Promise((resolve) => {
    child.on('exit', (code, signal) => resolve({ code, signal, stdout, stderr }));
  });
  return { child, done };
}

module.exports = { quorin, scratch, cloud, openTestDevice, runScript, keptAlive };
