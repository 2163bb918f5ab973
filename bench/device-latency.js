'use strict';
// Through the device rig (root; see test/support/ipp-printer.js), five fresh
// IPP printers: how long submitTraceCode({ wait: true }) takes for one label
// on an idle queue, and how long from the printer reporting media-empty (its
// print command writes "held" right after saying so) until getPrinter's
// problems show it, read every 20 ms.
//   node bench/device-latency.js
const fs = require('fs');
const path = require('path');
const { withDevices, sleep } = require('./lib/devices');
withDevices(async ({ rig, cups, addon, label }) => {
  const out = [];
  for (let run = 0; run < 5; run++) {
    const p = await rig.ippPrinter('lat' + run);
    cups.admin('lpadmin', ['-p', 'q' + run, '-E', '-v', p.uri]);
    // one job per queue, timed end to end when ready
    let t = Date.now();
    await addon.submitTraceCode({ ...label, device: 'q' + run, wait: true });
    const printed = Date.now() - t;
    const refill = p.mediaEmpty();
    await addon.submitTraceCode({ ...label, device: 'q' + run });
    const held = path.join(p.dir, 'held');
    for (let i = 0; i < 2000 && !fs.existsSync(held); i++) await sleep(5);
    const t0 = fs.statSync(held).mtimeMs;
    let seen = null;
    for (let i = 0; i < 2000 && !seen; i++) {
      const info = await addon.getPrinter('q' + run);
      if (info.problems.includes('media-empty')) seen = Date.now();
      else await sleep(20);
    }
    out.push({ printedMs: printed, mediaEmptySeenMs: Math.round(seen - t0) });
    refill();
  }
  console.log(JSON.stringify(out));
});
