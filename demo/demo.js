'use strict';
// `npm run demo` in a clone: the demo of lib/demo.js with the sample label
// drawn anew (a real QR code, made with the qrcode development dependency),
// its previews in demo-output/ (or DEMO_OUTPUT). Exits non-zero when any step fails.

const path = require('path');
const { runDemo, LABEL } = require('../lib/demo');
const { sampleLabelBmp } = require('./sample-label');

const out = process.env.DEMO_OUTPUT ? path.resolve(process.env.DEMO_OUTPUT) : path.join(__dirname, '..', 'demo-output');
const DOTS_PER_MM = 8;
const image = sampleLabelBmp({ width: LABEL.width * DOTS_PER_MM, height: LABEL.height * DOTS_PER_MM });

runDemo({ image, out }).then(
  (code) => process.exit(code),
  (error) => {
    console.error(`demo failed: ${error.message}`);
    process.exit(1);
  },
);
