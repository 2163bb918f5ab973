'use strict';
// Demo on a machine with no printer: a private CUPS scheduler with a virtual
// label printer, and the add-on asked whether that printer is there.
const { PrivateCups } = require('../test/support/cups-server');

async function main() {
  const cups = await PrivateCups.start({ queues: ['virtual_label'] });
  try {
    Object.assign(process.env, { CUPS_SERVER: cups.env.CUPS_SERVER, HOME: cups.env.HOME });
    const addon = require('..');
    const connected = addon.checkPrinterConnection('virtual_label');
    console.log(`virtual_label connected: ${connected}`);
    return connected === true ? 0 : 1;
  } finally {
    cups.stop();
  }
}

main().then(
  (code) => process.exit(code),
  (err) => {
    console.error(err.message);
    process.exit(1);
  },
);
