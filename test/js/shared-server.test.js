'use strict';
// A scheduler that wants a password, over TCP on 127.0.0.1, as a shared
// print server is reached: no call ever prompts, a missing or wrong password
// is ERR_AUTHENTICATION, setCredentials gives one per environment, and no
// credential reaches a log line. Needs root (a local user for PAM).
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('crypto');
const { spawnSync } = require('child_process');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');

const root = process.getuid && process.getuid() === 0;
const skip = root ? false : 'needs root to make a local user with a password';

const USER = `tlauth${crypto.randomBytes(3).toString('hex')}`;
const PASSWORD = `pw-${crypto.randomBytes(9).toString('base64url')}`;
const WANTS = 'the CUPS server wants a user name and password: setCredentials(...)';
const REFUSED = 'the CUPS server refused the user name and password: check what was given to setCredentials(...)';

if (root) {
  test.before(() => {
    spawnSync('userdel', [USER]);
    const made = spawnSync('useradd', ['-M', '-s', '/usr/sbin/nologin', USER], { encoding: 'utf8' });
    assert.equal(made.status, 0, made.stderr);
    const set = spawnSync('chpasswd', [], { input: `${USER}:${PASSWORD}\n`, encoding: 'utf8' });
    assert.equal(set.status, 0, set.stderr);
  });
  test.after(() => spawnSync('userdel', [USER]));
}

const PRELUDE = `
const label = (device) => ({ device, instruction: 'TSPL', withCutter: false, width: 20, height: 10,
  image: { width: 8, height: 8, channels: 1, data: Buffer.alloc(64, 0) } });
const bmp = (device) => ({ ...label(device), image: undefined, buffer: addon.toBMP(label(device).image) });
const outcome = (p) => p.then((v) => ({ ok: v === null ? null : (v.name || v.jobId || v.id || v) }),
  (e) => ({ code: e.code, message: e.message }));
const good = { user: ${JSON.stringify(USER)}, password: ${JSON.stringify(PASSWORD)} };
const bad = { user: ${JSON.stringify(USER)}, password: 'not-' + good.password };
`;
const run = (cups, body) =>
  runInChild(`${PRELUDE}${body}`, { env: { ...cups.tcpEnv, TRACE_LABEL_CUPS_TIMEOUT: '10' } });

function assertNoSecret(r) {
  for (const text of [r.stdout, r.stderr, JSON.stringify(r.answer)]) {
    assert.ok(!text.includes(PASSWORD), 'the password reached the output');
    assert.ok(!/password for/i.test(text), 'libcups prompted');
  }
}

const owners = (cups, queue) =>
  cups.admin('lpstat', ['-W', 'all', '-o', queue]).split('\n').filter(Boolean).map((l) => l.split(/\s+/)[1]);

// submitTraceCode without or with a wrong password on a jobs-only server is the CLI's --user test's.
test('a password on the job operations: refused without credentials, per environment with them', { skip }, async (t) => {
  const cups = await PrivateCups.start({ queues: ['auth_q'], tcp: true, authenticate: 'jobs' });
  t.after(() => cups.stop());
  const r = await run(
    cups,
    `const { Worker } = require('worker_threads');
    const answers = {};
    answers.check = addon.checkPrinterConnection('auth_q');
    answers.print = addon.printTraceCode(bmp('auth_q'));
    answers.printAsync = await addon.printTraceCodeAsync(bmp('auth_q'));
    // Credentials given in a worker are that worker's only.
    answers.worker = await new Promise((resolve, reject) => {
      const w = new Worker(\`
        const addon = require(\${JSON.stringify(require.resolve(${JSON.stringify(require.resolve('../../index.js'))}))});
        const { parentPort, workerData } = require('worker_threads');
        addon.setLogger(null);
        addon.setCredentials(workerData.good);
        addon.submitTraceCode(workerData.label).then((j) => parentPort.postMessage({ ok: j.jobId }),
          (e) => parentPort.postMessage({ code: e.code }));\`, { eval: true, workerData: { good, label: label('auth_q') } });
      w.once('message', resolve);
      w.once('error', reject);
    });
    answers.afterWorker = await outcome(addon.submitTraceCode(label('auth_q')));
    addon.setCredentials(bad);
    answers.wrongPrint = addon.printTraceCode(bmp('auth_q'));
    addon.setCredentials(good);
    answers.right = await outcome(addon.submitTraceCode(label('auth_q')));
    answers.rightPrint = addon.printTraceCode(bmp('auth_q'));
    answers.rightAsync = await addon.printTraceCodeAsync(bmp('auth_q'));
    addon.setCredentials(null);
    answers.forgotten = await outcome(addon.submitTraceCode(label('auth_q')));
    return answers;`,
  );
  assert.equal(r.answer.kind, 'value', r.stderr);
  const a = r.answer.value;
  assert.deepEqual(
    { ...a, worker: typeof a.worker.ok, right: typeof a.right.ok },
    {
      check: true, // the queries need no password here
      print: false,
      printAsync: false,
      worker: 'number',
      afterWorker: { code: 'ERR_AUTHENTICATION', message: WANTS },
      wrongPrint: false,
      right: 'number',
      rightPrint: true,
      rightAsync: true,
      forgotten: { code: 'ERR_AUTHENTICATION', message: WANTS },
    },
  );
  assertNoSecret(r);
  // Four jobs went through (the worker's and three with the right password), each as that user.
  await cups.waitForJobs('auth_q', 4);
  assert.deepEqual(owners(cups, 'auth_q'), [USER, USER, USER, USER]);
});

test('a password on every operation: each call answers at once with the right reason', { skip }, async (t) => {
  const cups = await PrivateCups.start({ queues: ['auth_all'], tcp: true, authenticate: 'all' });
  t.after(() => cups.stop());
  const r = await run(
    cups,
    `const calls = async () => ({
      check: addon.checkPrinterConnection('auth_all'),
      checkAsync: await addon.checkPrinterConnectionAsync('auth_all'),
      print: addon.printTraceCode(bmp('auth_all')),
      list: await outcome(addon.listPrinters().then((l) => l.map((p) => p.name))),
      printer: await outcome(addon.getPrinter('auth_all')),
      job: await outcome(addon.getJob(1)),
      cancel: await outcome(addon.cancelJob(1)),
      submit: await outcome(addon.submitTraceCode(label('auth_all'))),
    });
    // The right password first: its print is job 1, which the others then ask about.
    addon.setCredentials(good);
    const right = await calls();
    addon.setCredentials(null);
    const none = await calls();
    // The server takes seconds over each wrong password: a few calls only.
    addon.setCredentials(bad);
    const wrong = {
      check: addon.checkPrinterConnection('auth_all'),
      job: await outcome(addon.getJob(1)),
      submit: await outcome(addon.submitTraceCode(label('auth_all'))),
    };
    return { none, wrong, right };`,
  );
  assert.equal(r.answer.kind, 'value', r.stderr);
  const { none, wrong, right } = r.answer.value;
  // The checks and the print answer false; the rest reject with the reason.
  const refused = (message) => ({ check: false, checkAsync: false, print: false,
    ...Object.fromEntries(['list', 'printer', 'job', 'cancel', 'submit'].map((k) => [k, { code: 'ERR_AUTHENTICATION', message }])) });
  assert.deepEqual(none, refused(WANTS));
  const { check, job, submit } = refused(REFUSED);
  assert.deepEqual(wrong, { check, job, submit });
  assert.equal(typeof right.submit.ok, 'number');
  assert.deepEqual({ ...right, submit: 'job' }, {
    check: true,
    checkAsync: true,
    print: true,
    list: { ok: ['auth_all'] },
    printer: { ok: 'auth_all' },
    job: { ok: 1 },
    cancel: { ok: false }, // job 1 (the print) has ended: nothing to cancel
    submit: 'job',
  });
  assertNoSecret(r);
});

test('under a terminal no call prompts, and each answers within the bound', { skip }, async (t) => {
  const cups = await PrivateCups.start({ queues: ['auth_tty'], tcp: true, authenticate: 'all' });
  t.after(() => cups.stop());
  const index = JSON.stringify(require.resolve('../../index.js'));
  const script = `const a = require(${index}); a.setLogger(null);
    const l = { device: 'auth_tty', instruction: 'TSPL', withCutter: false, width: 20, height: 10, image: { width: 8, height: 8, channels: 1, data: Buffer.alloc(64) } };
    const b = { ...l, image: undefined, buffer: a.toBMP(l.image) };
    const out = [a.checkPrinterConnection('auth_tty'), a.printTraceCode(b)];
    a.printTraceCodeAsync(b).then(async (p) => { out.push(p);
      out.push(await a.submitTraceCode(l).catch((e) => e.code));
      console.log('ANSWERS ' + JSON.stringify(out)); });`;
  // The bound is TRACE_LABEL_CUPS_TIMEOUT: the run is killed only well past it.
  const r = spawnSync('script', ['-qec', `${process.execPath} -e "$TL_SCRIPT"`, '/dev/null'], {
    env: { ...cups.tcpEnv, TL_SCRIPT: script, TRACE_LABEL_CUPS_TIMEOUT: '5' },
    encoding: 'utf8',
    timeout: 30000,
    stdio: ['pipe', 'pipe', 'pipe'],
    input: 'never-typed\n',
  });
  assert.equal(r.signal, null, `killed: ${r.stdout}`);
  assert.equal(r.status, 0, r.stdout + r.stderr);
  assert.doesNotMatch(r.stdout, /password/i);
  assert.match(r.stdout, /ANSWERS \[false,false,false,"ERR_AUTHENTICATION"\]/);
});

test('setCredentials takes { user, password } or null, nothing else', () => {
  const addon = require('../../index.js');
  const long = 'x'.repeat(256);
  for (const bad of [undefined, 'user', 5, {}, { user: 'a' }, { password: 'p' }, { user: '', password: 'p' },
    { user: 'a', password: 5 }, { user: long, password: 'p' }, { user: 'a', password: long }, { user: 'a\0b', password: 'p' }]) {
    assert.throws(() => addon.setCredentials(bad), { name: 'TypeError', code: 'ERR_INVALID_ARG_TYPE' }, JSON.stringify(bad));
  }
  addon.setCredentials({ user: 'a', password: '' });
  addon.setCredentials(null);
});

test('only a job\'s owner cancels it: another local user is refused', { skip }, async (t) => {
  const cups = await PrivateCups.start({ queues: ['own_q'] });
  t.after(() => cups.stop());
  const release = cups.hold('own_q');
  t.after(release);
  const index = JSON.stringify(require.resolve('../../index.js'));
  const cancel = (options) =>
    spawnSync(process.execPath, ['-e', `const a = require(${index}); a.setLogger(null);
      a.cancelJob(1).then((v) => console.log(JSON.stringify(v)), (e) => console.log(JSON.stringify([e.code, e.cupsStatus])));`],
    { env: cups.env, encoding: 'utf8', ...options }).stdout.trim();
  cups.admin('lp', ['-d', 'own_q', '-H', 'hold', '/etc/hostname']);
  const uid = Number(spawnSync('id', ['-u', USER], { encoding: 'utf8' }).stdout);
  assert.deepEqual(
    [cancel({ uid, gid: uid }), cancel({})],
    [JSON.stringify(['ERR_SCHEDULER_REFUSED', 0x401]), 'true'],
  );
});

// Runs the CLI under a pseudo-terminal and types `typed` once `prompt` shows.
function underTerminal(args, env, prompt, typed) {
  const { spawn } = require('child_process');
  const quote = (s) => `'${s.replace(/'/g, `'\\''`)}'`;
  const line = [process.execPath, require.resolve('../../bin/trace-label.js'), ...args].map(quote).join(' ');
  return new Promise((resolve, reject) => {
    const child = spawn('script', ['-qec', line, '/dev/null'], { env, stdio: ['pipe', 'pipe', 'pipe'] });
    let out = '';
    let asked = false;
    child.stdout.on('data', (c) => {
      out += c;
      if (!asked && out.includes(prompt)) {
        asked = true;
        child.stdin.write(`${typed}\n`);
      }
    });
    child.stderr.on('data', (c) => (out += c));
    // Only a hung run is stopped: the answer is judged by its words, not its time.
    const timer = setTimeout(() => child.kill('SIGKILL'), 60000);
    child.on('error', reject);
    child.on('close', (status, signal) => {
      clearTimeout(timer);
      child.stdin.destroy();
      resolve({ status, signal, out, asked });
    });
  });
}

test('the CLI\'s --user: a password from TRACE_LABEL_CUPS_PASSWORD or typed unseen on its terminal', { skip }, async (t) => {
  const cups = await PrivateCups.start({ queues: ['cli_q'], tcp: true, authenticate: 'jobs' });
  t.after(() => cups.stop());
  const addon = require('../../index.js');
  const image = require('path').join(cups.dir, 'label.bmp');
  require('fs').writeFileSync(image, addon.toBMP({ width: 8, height: 8, channels: 1, data: Buffer.alloc(64) }));
  const env = { ...cups.tcpEnv, TRACE_LABEL_CUPS_TIMEOUT: '10' };
  delete env.TRACE_LABEL_CUPS_PASSWORD;
  // --verbose: the add-on's log lines are in the output too.
  const print = ['print', '--verbose', '-p', 'cli_q', '-l', 'TSPL', '--width', '20', '--height', '10', image];
  const cli = (args, extra = {}, options = {}) => {
    const r = spawnSync(process.execPath, [require.resolve('../../bin/trace-label.js'), ...args],
      { env: { ...env, ...extra }, encoding: 'utf8', timeout: 60000, ...options });
    return { status: r.status, out: r.stdout + r.stderr };
  };
  const prompt = `Password for ${USER} on the CUPS server: `;
  const runs = {
    fromEnv: cli([...print, '--user', USER], { TRACE_LABEL_CUPS_PASSWORD: PASSWORD }),
    wrong: cli([...print, '-u', USER], { TRACE_LABEL_CUPS_PASSWORD: `not-${PASSWORD}` }),
    none: cli(print),
    // A new session has no terminal to ask on.
    noTerminal: cli([...print, '--user', USER], {}, { detached: true }),
    typed: await underTerminal([...print, '--user', USER], env, prompt, PASSWORD),
    typedCheck: await underTerminal(['check', 'cli_q', '--user', USER], env, prompt, PASSWORD),
  };
  for (const [name, r] of Object.entries(runs)) {
    assert.ok(!r.out.includes(PASSWORD), `${name}: the password reached the output`);
  }
  const sent = /TSPL label 20 x 10 mm sent to cli_q as job \d+/;
  assert.equal(runs.fromEnv.status, 0, runs.fromEnv.out);
  assert.match(runs.fromEnv.out, sent);
  assert.doesNotMatch(runs.fromEnv.out, /password for/i);
  assert.equal(runs.wrong.status, 1, runs.wrong.out);
  assert.ok(runs.wrong.out.includes(`trace-label: ${REFUSED}`), runs.wrong.out);
  assert.equal(runs.none.status, 1, runs.none.out);
  assert.ok(runs.none.out.includes(`trace-label: ${WANTS}`), runs.none.out);
  assert.deepEqual(runs.noTerminal, {
    status: 1,
    out: `trace-label: no terminal to ask the password of "${USER}" on: set TRACE_LABEL_CUPS_PASSWORD\n`,
  });
  for (const name of ['typed', 'typedCheck']) {
    const r = runs[name];
    assert.deepEqual([r.status, r.signal, r.asked], [0, null, true], `${name}: ${r.out}`);
    assert.equal(r.out.split(prompt).length, 2, `${name}: asked once: ${r.out}`);
  }
  assert.match(runs.typed.out, sent);
  assert.match(runs.typedCheck.out, /cli_q: connected/);
  // The two prints with the right password, each as that user.
  await cups.waitForJobs('cli_q', 2);
  assert.deepEqual(owners(cups, 'cli_q'), [USER, USER]);
});
