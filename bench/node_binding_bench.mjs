// The cost of the Node package over the C interface: one `await keychainGet` and one `await
// cloudGet` of a present value, against the same C call on a device of the same kind, in one
// run. Needs the package built (npm install in bindings/node) and PKG_CONFIG_PATH naming the
// library it was built against, for the C peer.
//   node bench/node_binding_bench.mjs [ITERATIONS]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { openDevice } from '../bindings/node/index.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const iterations = Number(process.argv[2] ?? 20000);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quorin-node-bench-'));
process.on('exit', () => fs.rmSync(work, { recursive: true, force: true }));

const pkg = (flag) => execFileSync('pkg-config', [flag, 'quorin-native'], { encoding: 'utf8' })
  .trim().split(/\s+/).filter(Boolean);
const peer = path.join(work, 'peer');
execFileSync('cc', ['-O2', '-std=c11', path.join(here, 'node_binding_peer.c'), ...pkg('--cflags'),
  ...pkg('--libs'), `-Wl,-rpath,${pkg('--variable=libdir')[0]}`, '-o', peer]);
const c = Object.fromEntries(execFileSync(peer, [path.join(work, 'c'), path.join(work, 'cloud'),
  String(iterations)], { encoding: 'utf8' }).trim().split('\n').map((line) => {
  const [name, ns] = line.split(' ');
  return [name, Number(ns)];
}));

const client = openDevice({ container: path.join(work, 'node'), cloudAccount: path.join(work,
  'cloud'), keyStore: 'key-file' }).client();
await client.keychainSet('bench-key', 'bench-value');
await client.cloudSet('bench-key', 'bench-value');

async function timed(call) {
  const start = process.hrtime.bigint();
  for (let i = 0; i < iterations; ++i) {
    if ((await call()) !== 'bench-value') throw new Error('wrong answer');
  }
  return Number(process.hrtime.bigint() - start) / iterations;
}

const node = {
  keychainGet: await timed(() => client.keychainGet('bench-key')),
  cloudGet: await timed(() => client.cloudGet('bench-key')),
};
client.dispose();
console.log(`${iterations} calls each, mean of one call`);
for (const name of ['keychainGet', 'cloudGet']) {
  console.log(`${name.padEnd(12)} C ${(c[name] / 1000).toFixed(1).padStart(7)} µs   ` +
    `Node ${(node[name] / 1000).toFixed(1).padStart(7)} µs   ratio ${(node[name] / c[name])
      .toFixed(2)}`);
}
