'use strict';
// Real devices behind the private scheduler: an IPP Everywhere printer
// (ippeveprinter) that checks every job's options and keeps what it prints.
// Every language reaches it byte for byte as renderTraceCode makes it, through
// each of the three calls that print.
const test = require('node:test');
const assert = require('node:assert/strict');
const { PrivateCups } = require('../../lib/private-cups');
const { LANGUAGES } = require('../../lib/languages');
const { runInChild } = require('../support/child');
const { numberedLabel } = require('../support/numbered-label');
const { DeviceRig, unavailable, addIppBackend } = require('../support/ipp-printer');

const CALLS = ['printTraceCode', 'printTraceCodeAsync', 'submitTraceCode'];

test('an IPP printer', { skip: unavailable() || false }, async (t) => {
  const rig = await DeviceRig.start();
  t.after(() => rig.stop());
  const cups = await PrivateCups.start();
  t.after(() => cups.stop());
  addIppBackend(cups);
  const printer = await rig.ippPrinter('label');
  cups.admin('lpadmin', ['-p', 'ipp_label', '-E', '-v', printer.uri]);

  await t.test('receives every language from every call, as rendered', async () => {
    // One job per call and language, each label numbered so a job names its request.
    const requests = CALLS.flatMap((call) => LANGUAGES.map((instruction) => ({ call, instruction })));
    const r = await runInChild(
      `const requests = ${JSON.stringify(requests)};
      const out = [];
      for (const [i, { call, instruction }] of requests.entries()) {
        const options = { device: 'ipp_label', instruction, withCutter: i % 2 === 0, width: 2, height: 1,
                          buffer: Buffer.from(LABELS[i], 'hex') };
        const answer = await addon[call](options);
        out.push({ answer: call === 'submitTraceCode' ? answer.jobId > 0 : answer,
                   expected: addon.renderTraceCode(options).toString('base64') });
      }
      return out;`.replace('LABELS', JSON.stringify(requests.map((_, i) => numberedLabel(i + 1).toString('hex')))),
      { env: cups.env },
    );
    assert.equal(r.answer.kind, 'value', r.stderr);
    const sent = r.answer.value;
    assert.deepEqual(sent.map((s) => s.answer), requests.map(() => true));
    const kept = await printer.waitForJobs(requests.length);
    assert.equal(kept.length, requests.length);
    // The scheduler hands jobs to the printer one at a time, in order.
    kept.forEach((job, i) => {
      assert.equal(job.data.toString('base64'), sent[i].expected, `${requests[i].call} ${requests[i].instruction}`);
    });
  });
});
