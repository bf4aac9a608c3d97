'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { runScript } = require('./support');

// Clients dropped without dispose are collected with what they hold: memory after 10,000 of
// them is what it was after the first 1,000 (a client that leaked would keep some 150 KiB).
test('10,000 clients dropped without dispose leave memory flat', async () => {
  const { done } = runScript(`
    const device = quorin.openDevice({ container: path.join(scratch, 'dropped'),
      cloudAccount: cloud, keyStore: 'key-file' });
    // Collected a hundred at a time, as a host that makes clients steadily would see them go.
    const dropThousand = async () => {
      for (let batch = 0; batch < 10; ++batch) {
        for (let i = 0; i < 100; ++i) {
          const client = device.client();
          if (i % 2) client.on('active', () => {}).removeAllListeners('active');
        }
        globalThis.gc();
        await new Promise((resolve) => setImmediate(resolve));
      }
      return process.memoryUsage.rss();
    };
    (async () => {
      const before = await dropThousand();
      let after;
      for (let round = 1; round < 10; ++round) after = await dropThousand();
      console.log(JSON.stringify({ before, after }));
    })();
  `, { args: ['--expose-gc'] });
  const result = await done;
  assert.equal(result.code, 0, result.stderr);
  const { before, after } = JSON.parse(result.stdout);
  const grownMiB = (after - before) / 2 ** 20;
  assert.ok(grownMiB < 16, `memory grew by ${grownMiB.toFixed(1)} MiB over 10,000 clients`);
});
