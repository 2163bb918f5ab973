'use strict';
// Through the device rig (root; see test/support/ipp-printer.js): how long
// from an IPP printer reporting media-empty (its print command writes "held"
// right after saying so) until a watchPrinter loop has the record with
// problems ['media-empty'], over five fresh printers; then the requests one
// watcher makes of the scheduler in a minute on an idle queue, counted in
// the private scheduler's access_log.
//   node bench/watch-latency.js [idle seconds, 60]
const fs = require('fs');
const path = require('path');
const { withDevices, sleep } = require('./lib/devices');
const idleSeconds = Number(process.argv[2] || 60);

withDevices(async ({ rig, cups, addon, label }) => {
  const result = { mediaEmptySeenMs: [], idle: null };
  for (let run = 0; run < 5; run++) {
    const p = await rig.ippPrinter(`watch${run}`);
    const queue = `w${run}`;
    cups.admin('lpadmin', ['-p', queue, '-E', '-v', p.uri]);
    const refill = p.mediaEmpty();
    const controller = new AbortController();
    let seenAt = null;
    for await (const info of addon.watchPrinter(queue, { signal: controller.signal })) {
      if (info.problems.length === 0 && seenAt === null) addon.submitTraceCode({ ...label, device: queue });
      if (info.problems.includes('media-empty')) {
        seenAt = Date.now();
        controller.abort();
      }
    }
    const held = fs.statSync(path.join(p.dir, 'held')).mtimeMs;
    result.mediaEmptySeenMs.push(Math.round(seenAt - held));
    refill();
    await p.waitForJobs(1); // so the idle minute below is idle
  }
  for (let i = 0; i < 600 && cups.run('lpstat', ['-o']).stdout !== ''; i++) await sleep(100);

  cups.admin('lpadmin', ['-p', 'idle', '-E', '-v', 'capture:/idle']);
  const controller = new AbortController();
  let records = 0;
  const loop = (async () => {
    for await (const info of addon.watchPrinter('idle', { signal: controller.signal })) void info, records++;
  })();
  await sleep(2000); // past the first answers and the pause's growth
  const before = cups.operations().length;
  const recordsBefore = records;
  await sleep(idleSeconds * 1000);
  const ops = cups.operations().slice(before);
  const recordsIdle = records - recordsBefore;
  controller.abort();
  await loop;
  const byOperation = {};
  for (const op of ops) byOperation[op] = (byOperation[op] || 0) + 1;
  result.idle = { seconds: idleSeconds, requests: ops.length, perMinute: Math.round((ops.length * 60) / idleSeconds), byOperation, records: recordsIdle };
  console.log(JSON.stringify(result));
});
