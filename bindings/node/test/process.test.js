'use strict';
// What a whole process does: wait for another process's write without spending CPU, exit by
// itself when nothing is awaited, stay while a read is, and end cleanly however it ends.
const test = require('node:test');
const assert = require('node:assert/strict');
const { runScript } = require('./support');

const device = (name) =>
  `quorin.openDevice({ container: path.join(scratch, ${JSON.stringify(name)}), ` +
  'cloudAccount: cloud, keyStore: \'key-file\' })';

test('a read waits for another process\'s write, spending next to no CPU', async () => {
  const waiting = runScript(`
    const client = ${device('waiting')}.client();
    const start = process.cpuUsage();
    client.cloudGet('from-afar').then((value) => {
      const used = process.cpuUsage(start);
      console.log(JSON.stringify({ value, cpuMs: (used.user + used.system) / 1000 }));
    });
    console.log('waiting');
  `, {
    onStdout: (out) => {
      if (out === 'waiting\n') setTimeout(writeFromAnotherProcess, 1500);
    },
  });
  let writer;
  function writeFromAnotherProcess() {
    writer = runScript(`${device('writing')}.client().cloudSet('from-afar', 'hello there');`);
  }
  const result = await waiting.done;
  assert.equal((await writer.done).code, 0);
  assert.equal(result.code, 0, result.stderr);
  const answer = JSON.parse(result.stdout.split('\n')[1]);
  assert.equal(answer.value, 'hello there');
  // A poll loop would burn most of the wait; an idle watch spends a few milliseconds.
  assert.ok(answer.cpuMs < 150, `${answer.cpuMs} ms of CPU while waiting 1.5 s`);
});

test('a script with listeners and nothing pending exits by itself', async () => {
  const { done } = runScript(`
    const client = ${device('listening')}.client();
    for (const name of ['foreground', 'active', 'cloudChange']) client.on(name, () => {});
    client.on('active', () => console.log('heard active'));
    quorin.postApplicationEvent('active');
    client.keychainSet('k', 'v').then(() => console.log('set'));
  `);
  const timer = setTimeout(() => assert.fail('the script did not exit'), 20000);
  const result = await done;
  clearTimeout(timer);
  assert.equal(result.code, 0, result.stderr);
  assert.deepEqual(result.stdout.split('\n').sort(), ['', 'heard active', 'set']);
});

test('a script with a pending read stays until it is answered', async () => {
  const { child, done } = runScript(`
    ${device('staying')}.client().cloudGet('awaited').then((v) => console.log('got', v));
    setTimeout(() => console.log('still here'), 2000).unref();
  `, {
    onStdout: (out) => {
      if (out === 'still here\n') {
        runScript(`${device('answering')}.client().cloudSet('awaited', 'yes');`);
      }
    },
  });
  const result = await done;
  assert.equal(result.code, 0, result.stderr);
  assert.equal(result.stdout, 'still here\ngot yes\n');
  assert.equal(child.signalCode, null);
});

test('exit while reads are pending, or with clients never disposed, ends cleanly', async () => {
  const scripts = [
    `const c = ${device('exiting')}.client(); c.cloudGet('never'); c.on('active', () => {});
     setTimeout(() => process.exit(3), 200);`,
    `const c = ${device('throwing')}.client(); c.cloudGet('never');
     setTimeout(() => { throw new Error('boom'); }, 200);`,
    `const d = ${device('left')}; for (let i = 0; i < 20; ++i) d.client().cloudGet('x' + i);
     d.client().keychainSet('k', 'v').then(() => process.exit(0));`,
    `const d = ${device('natural')}; const c = d.client(); c.on('resign', () => {});
     c.keychainSet('k', 'v');`,
  ];
  const results = await Promise.all(scripts.map((source) => runScript(source).done));
  assert.deepEqual(results.map(({ code, signal }) => [code, signal]),
    [[3, null], [1, null], [0, null], [0, null]], JSON.stringify(results));
  assert.match(results[1].stderr, /Error: boom/);
});

test('a listener that throws surfaces as an uncaught exception', async () => {
  const { done } = runScript(`
    const c = ${device('angry')}.client();
    c.on('active', () => { throw new Error('listener failed'); });
    process.on('uncaughtException', (error) => { console.log('caught', error.message); });
    quorin.postApplicationEvent('active');
  `);
  const result = await done;
  assert.equal(result.code, 0, result.stderr);
  assert.equal(result.stdout, 'caught listener failed\n');
});

test('worker threads are refused with WRONG_THREAD', async () => {
  const { done } = runScript(`
    const { Worker } = require('node:worker_threads');
    const worker = new Worker(\`
      const { parentPort } = require('node:worker_threads');
      const quorin = require(\${JSON.stringify(packageDir)});
      try { quorin.openDevice({ container: '/tmp/unused' }); parentPort.postMessage('opened'); }
      catch (error) { parentPort.postMessage(error.code + ' ' + (error instanceof quorin.QuorinError)); }
    \`, { eval: true });
    worker.on('message', (m) => console.log(m));
    worker.on('exit', (code) => console.log('worker exit', code));
    ${device('main')}.client().keychainSet('k', 'v');
  `);
  const result = await done;
  assert.equal(result.code, 0, result.stderr);
  assert.equal(result.stdout, 'WRONG_THREAD true\nworker exit 0\n');
});

test('diagnostic lines go to the emitter and NODE_DEBUG, never to stdout', async () => {
  const { done } = runScript(`
    quorin.diagnostics.on('line', (line) => console.log('line: ' + line.slice(0, 16)));
    // With no session bus the Secret Service cannot be reached: each read says so.
    const c = quorin.openDevice({ container: path.join(scratch, 'diagnosed'),
      keyStore: 'secret-service' }).client();
    c.keychainGet('k').then((value) => setImmediate(() => console.error('answered', value)));
  `, { env: { NODE_DEBUG: 'quorin', DBUS_SESSION_BUS_ADDRESS: '' } });
  const result = await done;
  assert.equal(result.code, 0, result.stderr);
  const lines = result.stdout.split('\n').filter(Boolean);
  assert.ok(lines.length > 0, 'no diagnostic line was heard');
  for (const line of lines) assert.equal(line, 'line: OSStatus error:[');
  assert.match(result.stderr, /QUORIN \d+: OSStatus error:\[/);
  assert.match(result.stderr, /answered null/);
});
