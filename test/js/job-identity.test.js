'use strict';
// A job is known by its uuid as well as its id: after a scheduler restart
// that lost its job history, the same id names another job, and a query
// about the first one answers 'lost', never the other job's state.
const test = require('node:test');
const assert = require('node:assert/strict');
const { PrivateCups } = require('../../lib/private-cups');

test('a job id handed out again after a restart is not the same job', async (t) => {
  const cups = await PrivateCups.start({ queues: ['id_q'] });
  t.after(() => cups.stop());
  // This file's own process talks to the scheduler: set before the first call.
  Object.assign(process.env, { CUPS_SERVER: cups.env.CUPS_SERVER, HOME: cups.env.HOME });
  const addon = require('../../index.js');
  addon.setLogger(null);
  const label = { device: 'id_q', instruction: 'ZPL', withCutter: false, width: 20, height: 10,
    image: { width: 8, height: 8, channels: 1, data: Buffer.alloc(64, 0) } };

  const first = await addon.submitTraceCode(label);
  assert.match(first.uuid, /^urn:uuid:[0-9a-f-]{36}$/);
  const done = await addon.waitForJob(first);
  assert.deepEqual([done.id, done.uuid, done.state], [first.jobId, first.uuid, 'completed']);
  assert.equal((await addon.getJob({ id: first.jobId, uuid: first.uuid })).uuid, first.uuid);

  await cups.restart({ forgetJobs: true });
  const lost = { id: first.jobId, uuid: first.uuid, state: 'lost' };
  assert.deepEqual(await addon.getJob(first), lost, 'gone');
  assert.equal(await addon.getJob(first.jobId), null, 'a bare id still answers as before');

  // The next job gets the same id; held at the backend, it stays processing.
  const release = cups.hold('id_q');
  const second = await addon.submitTraceCode(label);
  assert.equal(second.jobId, first.jobId, 'the scheduler reused the id');
  assert.notEqual(second.uuid, first.uuid);
  const answers = {
    getJob: await addon.getJob(first),
    getJobById: await addon.getJob({ id: first.jobId, uuid: first.uuid }),
    waitForJob: await addon.waitForJob(first),
    cancelJob: await addon.cancelJob(first),
  };
  assert.deepEqual(answers, { getJob: lost, getJobById: lost, waitForJob: lost, cancelJob: false });
  const still = await addon.getJob(second);
  assert.ok(['pending', 'processing'].includes(still.state), `the other job was left alone: ${still.state}`);
  release();
  const printed = await addon.waitForJob(second);
  assert.deepEqual([printed.uuid, printed.state], [second.uuid, 'completed']);
  // The capture is named by id: the second job's stream replaced the first's.
  assert.deepEqual((await cups.waitForJobs('id_q', 1)).map((j) => j.id), [first.jobId]);
  // The backend's record keeps both, one line per finished job.
  assert.deepEqual(cups.printed('id_q').map((j) => j.id), [first.jobId, first.jobId]);
});
