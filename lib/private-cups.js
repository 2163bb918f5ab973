'use strict';
// A private, throw-away CUPS scheduler with a "capture" backend: a virtual
// label printer that stores every job it receives as a file. The C++ tests,
// the JS tests and the demo all print through it; nothing fakes libcups.
//
// As a library:   const cups = await PrivateCups.start({ queues: ['lab'] });
//                 ... cups.env ... await cups.waitForJobs('lab', 1); cups.stop();
// As a wrapper:   node lib/private-cups.js [--queue NAME]... -- CMD ARGS
//                 runs CMD with CUPS_SERVER and CUPS_CAPTURE_DIR set, then stops.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { freePort, sleep, processGone, stopProcess } = require('./processes');

const REQUIRED = [
  { file: 'cupsd', dirs: ['/usr/sbin', '/usr/bin'], pkg: 'cups-daemon' },
  { file: 'lpadmin', dirs: ['/usr/sbin', '/usr/bin'], pkg: 'cups-client' },
];

// The backend announces itself when run without arguments (device discovery)
// and otherwise copies the job next to its title, options and content type.
// The job file is renamed into place last, so a reader never sees half a job.
// While <queue>.hold exists the backend keeps its job, and so the printer
// processing (state 4), after saying so in <queue>-<id>.held; it gives up
// holding after a minute, so a forgotten file cannot wedge a run. Every
// job it finished is also a line "<id> TAB <title>" of <queue>.printed,
// which a job id handed out again does not overwrite.
const BACKEND = `#!/bin/sh
if [ $# -eq 0 ]; then
  echo 'direct capture "Unknown" "Capture"'
  exit 0
fi
queue=\${DEVICE_URI#capture:/}
base="@CAPTURE@/$queue-$1"
if [ -e "@CAPTURE@/$queue.hold" ]; then
  : > "$base.held"
  n=0
  while [ -e "@CAPTURE@/$queue.hold" ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
fi
if [ -n "$6" ]; then cp "$6" "$base.part" || exit 1; else cat > "$base.part" || exit 1; fi
printf '%s' "$3" > "$base.title"
printf '%s' "$4" > "$base.copies"
printf '%s' "$5" > "$base.options"
printf '%s' "$CONTENT_TYPE" > "$base.type"
mv "$base.part" "$base.job"
printf '%s\t%s\n' "$1" "$3" >> "@CAPTURE@/$queue.printed"
exit 0
`;

function findTool(tool) {
  for (const dir of tool.dirs) {
    const candidate = path.join(dir, tool.file);
    if (fs.existsSync(candidate)) return candidate;
  }
  return null;
}

function requireTools() {
  const missing = REQUIRED.filter((t) => !findTool(t));
  if (missing.length) {
    const pkgs = [...new Set(missing.map((t) => t.pkg))].join(' ');
    throw new Error(
      `CUPS is not installed (${missing.map((t) => t.file).join(', ')} missing). ` +
        `Install it with: apt-get install ${pkgs}`,
    );
  }
  return Object.fromEntries(REQUIRED.map((t) => [t.file, findTool(t)]));
}

// The operations that authenticate: 'jobs' asks for a password on the job
// operations, 'all' on the queries too (the queues stay administered over
// the local socket without one).
const JOB_OPERATIONS = [
  'Create-Job', 'Print-Job', 'Print-URI', 'Validate-Job', 'Send-Document', 'Send-URI',
  'Cancel-Job', 'Cancel-My-Jobs', 'Hold-Job', 'Release-Job', 'Restart-Job', 'Set-Job-Attributes',
  'Close-Job', 'CUPS-Move-Job', 'CUPS-Authenticate-Job', 'CUPS-Get-Document',
];
const QUERY_OPERATIONS = [
  'Get-Printer-Attributes', 'CUPS-Get-Printers', 'CUPS-Get-Default', 'Get-Jobs', 'Get-Job-Attributes',
];

// Like a stock policy, only a job's owner (or a member of the system group)
// may change or cancel it.
const OWNED_OPERATIONS = JOB_OPERATIONS.filter((op) => !['Create-Job', 'Print-Job', 'Print-URI', 'Validate-Job'].includes(op));

// subscriptions: false lets no one make event subscriptions (only a user
// that does not exist may), as a scheduler that refuses them does.
function policyLines(authenticate, subscriptions = true) {
  const refused = subscriptions ? [] : ['  <Limit Create-Printer-Subscription Create-Job-Subscription>', '    AuthType Basic', '    Require user no-such-user', '    Order allow,deny', '    Allow all', '  </Limit>'];
  const owned = [...refused,`  <Limit ${OWNED_OPERATIONS.join(' ')}>`, '    Require user @OWNER @SYSTEM', '    Order allow,deny', '    Allow all', '  </Limit>'];
  const open = [...owned, '  <Limit All>', '    Order allow,deny', '    Allow all', '  </Limit>'];
  if (!authenticate) return open;
  const ops = authenticate === 'all' ? [...JOB_OPERATIONS, ...QUERY_OPERATIONS] : JOB_OPERATIONS;
  return [`  <Limit ${ops.join(' ')}>`, '    AuthType Basic', '    Require valid-user', '    Order allow,deny', '    Allow all', '  </Limit>', ...open];
}

class PrivateCups {
  constructor(dir, tools) {
    this.dir = dir;
    this.tools = tools;
    this.socket = path.join(dir, 'cups.sock');
    this.captureDir = path.join(dir, 'capture');
    this.home = path.join(dir, 'home');
    this.proc = null;
    this.env = {
      ...process.env,
      CUPS_SERVER: this.socket,
      CUPS_CAPTURE_DIR: this.captureDir,
      HOME: this.home,
    };
    delete this.env.CUPS_USER;
  }

  // jobHistory: false makes the scheduler forget a job once it has ended.
  // tcp: true listens on 127.0.0.1 too, on a free port: tcpEnv reaches the
  // scheduler that way (env keeps the local socket, for administration).
  // tls: true gives the scheduler its own self-signed certificate, made on
  // the first encrypted connection; without it the scheduler cannot encrypt.
  // authenticate: 'jobs' or 'all' wants Basic authentication (PAM: a local
  // user and password) over TCP for those operations (see policyLines).
  // subscriptions: false refuses IPP event subscriptions.
  static async start({ queues = [], jobHistory = true, tcp = false, authenticate = null, tls = false, subscriptions = true } = {}) {
    const tools = requireTools();
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'label-cups-'));
    const cups = new PrivateCups(dir, tools);
    try {
      if (tcp) {
        cups.port = await freePort();
        cups.tcpEnv = { ...cups.env, CUPS_SERVER: `127.0.0.1:${cups.port}` };
      }
      cups.writeConfig({ jobHistory, authenticate, tls, subscriptions });
      await cups.launch();
      for (const q of queues) cups.addQueue(q);
    } catch (err) {
      cups.stop();
      throw err;
    }
    return cups;
  }

  writeConfig({ jobHistory = true, authenticate = null, tls = false, subscriptions = true } = {}) {
    const d = this.dir;
    // Backends run as "lp" when cupsd runs as root: the folders on the way
    // to the capture folder must be traversable and the folder writable.
    fs.chmodSync(d, 0o755);
    for (const sub of ['bin', 'bin/backend', 'spool', 'cache', 'state', 'log', 'tmp', 'home', 'home/.cups', 'ssl']) {
      fs.mkdirSync(path.join(d, sub), { recursive: true, mode: 0o755 });
    }
    fs.mkdirSync(this.captureDir, { mode: 0o777 });
    fs.chmodSync(this.captureDir, 0o777);
    fs.chmodSync(path.join(d, 'tmp'), 0o1777);
    fs.symlinkSync('/usr/lib/cups/daemon', path.join(d, 'bin/daemon'));
    fs.symlinkSync('/usr/lib/cups/notifier', path.join(d, 'bin/notifier'));
    const backend = path.join(d, 'bin/backend/capture');
    fs.writeFileSync(backend, BACKEND.replaceAll('@CAPTURE@', this.captureDir), { mode: 0o755 });
    fs.chmodSync(backend, 0o755);

    fs.writeFileSync(
      path.join(d, 'cupsd.conf'),
      [
        'LogLevel warn',
        'AccessLogLevel all',
        `Listen ${this.socket}`,
        ...(this.port ? [`Listen 127.0.0.1:${this.port}`] : []),
        'Browsing No',
        'WebInterface No',
        `DefaultAuthType ${authenticate ? 'Basic' : 'None'}`,
        'JobRetryLimit 0',
        'MaxJobs 0',
        // Finished jobs stay queryable (their state, not their files), as on
        // a stock scheduler.
        `PreserveJobHistory ${jobHistory ? 'On' : 'Off'}`,
        'PreserveJobFiles Off',
        '<Location />',
        '  Order allow,deny',
        '  Allow all',
        '</Location>',
        '<Policy default>',
        ...policyLines(authenticate, subscriptions),
        '</Policy>',
        '',
      ].join('\n'),
    );
    fs.writeFileSync(
      path.join(d, 'cups-files.conf'),
      [
        `ServerRoot ${d}`,
        `ServerBin ${path.join(d, 'bin')}`,
        `RequestRoot ${path.join(d, 'spool')}`,
        `CacheDir ${path.join(d, 'cache')}`,
        `StateDir ${path.join(d, 'state')}`,
        `TempDir ${path.join(d, 'tmp')}`,
        `AccessLog ${path.join(d, 'log/access_log')}`,
        `ErrorLog ${path.join(d, 'log/error_log')}`,
        `PageLog ${path.join(d, 'log/page_log')}`,
        'FileDevice No',
        'Sandboxing Relaxed',
        // Never the system's keychain (/etc/cups/ssl).
        `ServerKeychain ${path.join(d, 'ssl')}`,
        `CreateSelfSignedCerts ${tls ? 'Yes' : 'No'}`,
        '',
      ].join('\n'),
    );
  }

  async launch() {
    const conf = path.join(this.dir, 'cupsd.conf');
    const files = path.join(this.dir, 'cups-files.conf');
    // The scheduler is not under test: a sanitizer runtime preloaded into the
    // caller must not reach it (cupsd can deadlock under it).
    const env = { ...process.env };
    delete env.LD_PRELOAD;
    this.proc = spawn(this.tools.cupsd, ['-f', '-c', conf, '-s', files], {
      env,
      stdio: ['ignore', 'ignore', 'pipe'],
      detached: false,
    });
    let stderr = '';
    this.proc.stderr.on('data', (c) => (stderr += c));
    let exited = null;
    this.proc.on('exit', (code, sig) => (exited = { code, sig }));
    for (let i = 0; i < 200; i++) {
      if (exited) break;
      if (fs.existsSync(this.socket) && this.run('lpstat', ['-r']).status === 0) return;
      await sleep(50);
    }
    const log = this.readLog();
    throw new Error(`private cupsd did not start${exited ? ` (exit ${exited.code})` : ''}: ${stderr}${log}`);
  }

  readLog() {
    try {
      return fs.readFileSync(path.join(this.dir, 'log/error_log'), 'utf8');
    } catch {
      return '';
    }
  }

  run(cmd, args) {
    return spawnSync(cmd, args, { env: this.env, encoding: 'utf8' });
  }

  admin(cmd, args) {
    const r = this.run(cmd, args);
    if (r.status !== 0) throw new Error(`${cmd} ${args.join(' ')} failed: ${r.stderr}`);
    return r.stdout;
  }

  // A raw queue whose device is the capture backend.
  addQueue(name) {
    this.admin('lpadmin', ['-p', name, '-E', '-v', `capture:/${name}`]);
  }
  // A queue with a driver: a PPD this writes, with DefaultResolution
  // `resolution` dpi (none: the PPD names no resolution), and the capture
  // backend as its device. Raw jobs reach the backend unchanged.
  addPpdQueue(name, { resolution = null } = {}) {
    const file = path.join(this.dir, `${name}.ppd`);
    fs.writeFileSync(file, ppdText(name, resolution));
    this.admin('lpadmin', ['-p', name, '-E', '-v', `capture:/${name}`, '-P', file]);
  }
  removeQueue(name) {
    this.admin('lpadmin', ['-x', name]);
  }
  disable(name) {
    this.admin('cupsdisable', [name]);
  }
  reject(name) {
    this.admin('cupsreject', [name]);
  }

  // Keeps the queue busy: its backend holds the next job it gets (the printer
  // stays processing) until the returned release() is called.
  hold(queue) {
    const file = path.join(this.captureDir, `${queue}.hold`);
    fs.writeFileSync(file, '');
    return () => fs.rmSync(file, { force: true });
  }

  // lpoptions for this scheduler's clients; returns the HOME that holds them.
  writeLpoptions(lines, home = this.home) {
    fs.mkdirSync(path.join(home, '.cups'), { recursive: true });
    fs.writeFileSync(path.join(home, '.cups', 'lpoptions'), lines.join('\n') + '\n');
    return home;
  }

  // The IPP operations the scheduler has answered so far, oldest first
  // (from its access log), e.g. 'Get-Printer-Attributes'.
  operations() {
    let log = '';
    try {
      log = fs.readFileSync(path.join(this.dir, 'log/access_log'), 'utf8');
    } catch {}
    return [...log.matchAll(/" \d+ \d+ ([A-Za-z-]+) /g)].map((m) => m[1]);
  }

  // Completed jobs of a queue, oldest first.
  jobs(queue) {
    const prefix = `${queue}-`;
    return fs
      .readdirSync(this.captureDir)
      .filter((f) => f.startsWith(prefix) && f.endsWith('.job') && /^\d+$/.test(f.slice(prefix.length, -4)))
      .map((f) => Number(f.slice(prefix.length, -4)))
      .sort((a, b) => a - b)
      .map((id) => this.job(queue, id));
  }

  job(queue, id) {
    const base = path.join(this.captureDir, `${queue}-${id}`);
    const text = (ext) => fs.readFileSync(`${base}.${ext}`, 'utf8');
    return {
      id,
      data: fs.readFileSync(`${base}.job`),
      title: text('title'),
      copies: Number(text('copies')),
      options: text('options'),
      type: text('type'),
    };
  }

  // Every job the queue's backend finished, in order: [{ id, title }]. Unlike
  // jobs(), a job whose id was handed out again is still here.
  printed(queue) {
    let text = '';
    try {
      text = fs.readFileSync(path.join(this.captureDir, `${queue}.printed`), 'utf8');
    } catch {}
    return text.split('\n').filter(Boolean).map((line) => {
      const tab = line.indexOf('\t');
      return { id: Number(line.slice(0, tab)), title: line.slice(tab + 1) };
    });
  }

  noPendingJobs(queue) {
    const r = this.run('lpstat', ['-o', queue]);
    return r.status === 0 && r.stdout === '';
  }

  // Jobs reach the backend asynchronously. The wait follows the work, not
  // the clock: it ends early only when the scheduler holds no pending job for
  // the queue, and gives up only after `stallMs` without a new job arriving.
  async waitForJobs(queue, count, stallMs = 10000) {
    let have = -1;
    let stalledSince = 0;
    for (;;) {
      const jobs = this.jobs(queue);
      if (jobs.length >= count) return jobs;
      if (jobs.length !== have) [have, stalledSince] = [jobs.length, Date.now()];
      const stalled = Date.now() - stalledSince;
      const idle = stalled > 200 && this.noPendingJobs(queue) && this.jobs(queue).length < count;
      if (idle || stalled > stallMs) {
        const why = idle ? 'no job is pending' : `none arrived for ${stallMs} ms`;
        throw new Error(`waiting for ${count} job(s) on ${queue}, have ${have}: ${why}\n${this.readLog()}`);
      }
      await sleep(25);
    }
  }

  // Stops the scheduler (it saves its queues) and starts it again on the
  // same configuration, queues and port; forgetJobs drops its job history
  // in between, so job ids start again at 1, as after a crash that lost the spool.
  // signal: 'SIGKILL' kills it instead, as a crash would, without saving.
  async restart({ forgetJobs = true, signal = 'SIGTERM' } = {}) {
    this.proc.kill(signal);
    for (let i = 0; i < 250 && !processGone(this.proc.pid); i++) await sleep(20);
    if (!processGone(this.proc.pid)) this.proc.kill('SIGKILL');
    if (forgetJobs) {
      const spool = path.join(this.dir, 'spool');
      for (const f of fs.readdirSync(spool)) if (/^[cd]\d+/.test(f)) fs.rmSync(path.join(spool, f), { force: true });
      fs.rmSync(path.join(this.dir, 'cache', 'job.cache'), { force: true });
    }
    fs.rmSync(this.socket, { force: true });
    await this.launch();
  }

  stop() {
    stopProcess(this.proc);
    this.proc = null;
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// A minimal PostScript-printer PPD for a 2 x 3 inch label.
function ppdText(name, resolution) {
  const lines = [
    '*PPD-Adobe: "4.3"',
    '*FormatVersion: "4.3"',
    '*FileVersion: "1.0"',
    '*LanguageVersion: English',
    '*LanguageEncoding: ISOLatin1',
    `*PCFileName: "LABEL.PPD"`,
    '*Manufacturer: "Test"',
    '*Product: "(Label)"',
    `*ModelName: "Test ${name}"`,
    `*ShortNickName: "Test ${name}"`,
    `*NickName: "Test ${name}"`,
    '*PSVersion: "(3010.000) 0"',
    '*LanguageLevel: "3"',
    '*ColorDevice: False',
    '*DefaultColorSpace: Gray',
    '*FileSystem: False',
    '*Throughput: "1"',
    '*LandscapeOrientation: Plus90',
    '*TTRasterizer: Type42',
    '*OpenUI *PageSize: PickOne',
    '*OrderDependency: 10 AnySetup *PageSize',
    '*DefaultPageSize: w144h216',
    '*PageSize w144h216: "<</PageSize[144 216]>>setpagedevice"',
    '*CloseUI: *PageSize',
    '*OpenUI *PageRegion: PickOne',
    '*OrderDependency: 10 AnySetup *PageRegion',
    '*DefaultPageRegion: w144h216',
    '*PageRegion w144h216: "<</PageSize[144 216]>>setpagedevice"',
    '*CloseUI: *PageRegion',
    '*DefaultImageableArea: w144h216',
    '*ImageableArea w144h216: "0 0 144 216"',
    '*DefaultPaperDimension: w144h216',
    '*PaperDimension w144h216: "144 216"',
  ];
  if (resolution) {
    lines.push(
      '*OpenUI *Resolution: PickOne',
      '*OrderDependency: 10 AnySetup *Resolution',
      `*DefaultResolution: ${resolution}dpi`,
      `*Resolution ${resolution}dpi: "<</HWResolution[${resolution} ${resolution}]>>setpagedevice"`,
      '*CloseUI: *Resolution',
    );
  }
  return lines.join('\n') + '\n';
}

// Wrapper mode: run one command against a fresh scheduler and always stop it.
async function main(argv) {
  const sep = argv.indexOf('--');
  if (sep < 0 || sep === argv.length - 1) {
    console.error('usage: private-cups.js [--queue NAME]... -- COMMAND [ARGS...]');
    return 2;
  }
  const queues = [];
  for (let i = 0; i < sep; i++) {
    if (argv[i] === '--queue' && i + 1 < sep) queues.push(argv[++i]);
  }
  let cups;
  try {
    cups = await PrivateCups.start({ queues });
  } catch (err) {
    console.error(err.message);
    return 1;
  }
  const stopAndExit = (code) => {
    cups.stop();
    process.exit(code);
  };
  for (const sig of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(sig, () => stopAndExit(130));
  const [cmd, ...args] = argv.slice(sep + 1);
  const child = spawn(cmd, args, { env: cups.env, stdio: 'inherit' });
  return new Promise((resolve) => {
    child.on('error', (err) => {
      console.error(`${cmd}: ${err.message}`);
      cups.stop();
      resolve(127);
    });
    child.on('exit', (code, sig) => {
      cups.stop();
      resolve(code === null ? 128 + (os.constants.signals[sig] || 0) : code);
    });
  });
}

module.exports = { PrivateCups, requireTools };

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => process.exit(code));
}
