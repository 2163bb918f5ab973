'use strict';
// The device rig (root; see test/support/ipp-printer.js) and a private
// scheduler with CUPS's ipp backend, with the package loaded against them,
// for the benchmarks that time real printers. Both are stopped afterwards.

const { DeviceRig, addIppBackend } = require('../../test/support/ipp-printer');
const { PrivateCups } = require('../../lib/private-cups');

// The smallest label: what is timed is the device's answer, not the label.
const TINY_LABEL = { instruction: 'TSPL', withCutter: false, width: 2, height: 1, image: { width: 16, height: 8, data: new Uint8Array(128).fill(255), channels: 1 } };

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function withDevices(run) {
  const rig = await DeviceRig.start();
  const cups = await PrivateCups.start();
  try {
    addIppBackend(cups);
    Object.assign(process.env, cups.env);
    const addon = require('../..');
    addon.setLogger(() => {});
    return await run({ rig, cups, addon, label: TINY_LABEL });
  } finally {
    cups.stop();
    rig.stop();
  }
}

module.exports = { withDevices, sleep };
