'use strict';
// Real devices for the tests: an IPP Everywhere printer (ippeveprinter, CUPS's
// own reference printer) on the loopback interface, with the DNS-SD daemon it
// will not start without, and AppSocket (port 9100 style) printers. Nothing is announced on any network: avahi-daemon
// runs from its own configuration (lo only, no publishing, no IPv6) on a
// private D-Bus bus this rig starts, never the host's.
//
//   const rig = await DeviceRig.start();
//   const printer = await rig.ippPrinter('label');   // printer.uri, printer.jobs()
//   const socket = await rig.socketPrinter();        // socket.uri, socket.jobs()
//   ... rig.stop();                                 // stops every process by pid
//
// Needs root (avahi-daemon) and Debian's cups-ipp-utils, avahi-daemon, dbus.

const fs = require('fs');
const os = require('os');
const net = require('net');
const path = require('path');
const { spawn } = require('child_process');
const { freePort, sleep, stopProcess } = require('../../lib/processes');

const TOOLS = {
  ippeveprinter: { dirs: ['/usr/sbin', '/usr/bin'], pkg: 'cups-ipp-utils' },
  'avahi-daemon': { dirs: ['/usr/sbin'], pkg: 'avahi-daemon' },
  'dbus-daemon': { dirs: ['/usr/bin'], pkg: 'dbus' },
  unshare: { dirs: ['/usr/bin'], pkg: 'util-linux' },
};

function findTool(name) {
  const dir = TOOLS[name].dirs.find((d) => fs.existsSync(path.join(d, name)));
  return dir ? path.join(dir, name) : null;
}

// Why the rig cannot run here, or null when it can: tests skip with this.
function unavailable() {
  if (process.getuid && process.getuid() !== 0) return 'the device rig needs root (avahi-daemon)';
  const missing = Object.keys(TOOLS).filter((t) => !findTool(t));
  if (missing.length) {
    const pkgs = [...new Set(missing.map((t) => TOOLS[t].pkg))].join(' ');
    return `missing ${missing.join(', ')}: apt-get install ${pkgs}`;
  }
  return null;
}

const BUS_CONF = `<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
`;

const AVAHI_CONF = `[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
disable-publishing=yes
publish-addresses=no
publish-hinfo=no
publish-workstation=no
[reflector]
enable-reflector=no
`;

// The printer's print command. Each job's document is copied into the kept
// folder (renamed into place last, so a reader never sees half a job). While
// the media-empty flag exists the job is held and the printer reports
// media-empty, as a label printer out of labels does; a minute at most.
const PRINT_COMMAND = `#!/bin/sh
dir="@DIR@"
if [ -e "$dir/refuse" ]; then
  echo "ERROR: the label stock does not fit this job" >&2
  exit 1
fi
if [ -e "$dir/media-empty" ]; then
  echo "STATE: +media-empty" >&2
  : > "$dir/held"
  n=0
  while [ -e "$dir/media-empty" ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
  echo "STATE: -media-empty" >&2
fi
name=$(basename "$1")
cp "$1" "$dir/kept/$name.part" || exit 1
mv "$dir/kept/$name.part" "$dir/kept/$name"
exit 0
`;

function connects(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.on('connect', () => (socket.destroy(), resolve(true)));
    socket.on('error', () => resolve(false));
  });
}

// Starts a process and waits (bounded) until ready() says so or it exits.
async function launch(cmd, args, { env, ready, what }) {
  const proc = spawn(cmd, args, { env, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  proc.stdout.on('data', (c) => (output += c));
  proc.stderr.on('data', (c) => (output += c));
  proc.on('error', () => {});
  for (let i = 0; i < 200; i++) {
    if (proc.exitCode !== null || proc.signalCode !== null) break;
    if (await ready(output)) return { proc, output: () => output };
    await sleep(50);
  }
  stopProcess(proc);
  throw new Error(`${what} did not start: ${output}`);
}

// Polls a printer's kept jobs; gives up after 15 s without a new one.
async function waitForJobs(printer, count, what) {
  let [have, since] = [-1, 0];
  for (;;) {
    const jobs = printer.jobs();
    if (jobs.length >= count) return jobs;
    if (jobs.length !== have) [have, since] = [jobs.length, Date.now()];
    if (Date.now() - since > 15000) throw new Error(`waiting for ${count} job(s) on ${what}, have ${have}`);
    await sleep(25);
  }
}

class IppPrinter {
  constructor(rig, name, dir, port, formats) {
    Object.assign(this, { rig, name, dir, port, formats, proc: null });
    this.keptDir = path.join(dir, 'kept');
    this.uri = `ipp://127.0.0.1:${port}/ipp/print`;
  }

  async launch() {
    const spool = path.join(this.dir, 'spool');
    fs.mkdirSync(spool, { recursive: true });
    fs.mkdirSync(this.keptDir, { recursive: true });
    const command = path.join(this.dir, 'print-command');
    fs.writeFileSync(command, PRINT_COMMAND.replaceAll('@DIR@', this.dir), { mode: 0o755 });
    // -n localhost: the printer listens on 127.0.0.1 and ::1 only (a numeric
    // IPv4 name leaves it without the IPv6 listener it insists on).
    // CUPS's ipp backend sends a raw queue's job as application/vnd.cups-raw
    // to a printer that lists it, and as application/octet-stream otherwise,
    // which ippeveprinter takes only for the formats it can detect.
    const args = ['-p', String(this.port), '-n', 'localhost', '-d', spool, '-c', command];
    args.push('-f', this.formats, '-v', this.name);
    const started = await launch(findTool('ippeveprinter'), args, {
      env: this.rig.env,
      what: `ippeveprinter ${this.name}`,
      ready: () => connects(this.port),
    });
    this.proc = started.proc;
    this.output = started.output;
  }

  // Kept jobs, oldest first: { id, data }.
  jobs() {
    return fs
      .readdirSync(this.keptDir)
      .filter((f) => /^\d+-/.test(f) && !f.endsWith('.part'))
      .map((f) => ({ id: Number(f.split('-')[0]), data: fs.readFileSync(path.join(this.keptDir, f)) }))
      .sort((a, b) => a.id - b.id);
  }

  waitForJobs(count) {
    return waitForJobs(this, count, `${this.name}\n${this.output()}`);
  }

  // Out of labels: the next job is held and the printer reports media-empty
  // until the returned refill() is called.
  mediaEmpty() {
    const flag = path.join(this.dir, 'media-empty');
    fs.writeFileSync(flag, '');
    return () => fs.rmSync(flag, { force: true });
  }
  // True once a job is being held for want of media.
  holding() {
    return fs.existsSync(path.join(this.dir, 'held'));
  }

  // The device fails every job from now on, until the returned undo() is called.
  refuseJobs() {
    const flag = path.join(this.dir, 'refuse');
    fs.writeFileSync(flag, '');
    return () => fs.rmSync(flag, { force: true });
  }

  // The device disappears: connections are refused from now on.
  stop() {
    stopProcess(this.proc);
  }
}

// A network printer on a raw TCP port (AppSocket, JetDirect): each
// connection's bytes are one job, kept in arrival order once the sender has
// closed its side. Runs in this process, on 127.0.0.1.
class SocketPrinter {
  constructor(server) {
    this.server = server;
    this.kept = [];
    this.uri = `socket://127.0.0.1:${server.address().port}`;
    server.on('connection', (socket) => {
      const chunks = [];
      socket.on('data', (c) => chunks.push(c));
      socket.on('end', () => this.kept.push({ id: this.kept.length + 1, data: Buffer.concat(chunks) }));
      socket.on('error', () => {});
    });
  }

  static start() {
    return new Promise((resolve, reject) => {
      const server = net.createServer();
      server.on('error', reject);
      server.listen(0, '127.0.0.1', () => resolve(new SocketPrinter(server)));
    });
  }

  jobs() {
    return this.kept.slice();
  }

  waitForJobs(count) {
    return waitForJobs(this, count, this.uri);
  }

  // Closing the listener: connections are refused from now on.
  stop() {
    this.server.close();
  }
}

class DeviceRig {
  constructor(dir) {
    this.dir = dir;
    this.busSocket = path.join(dir, 'bus.sock');
    this.env = { ...process.env, DBUS_SYSTEM_BUS_ADDRESS: `unix:path=${this.busSocket}` };
    // The devices are not under test: a sanitizer runtime preloaded into the
    // suite's node must not reach them (ps and others hang under it).
    delete this.env.LD_PRELOAD;
    this.procs = [];
    this.printers = [];
  }

  static async start() {
    const why = unavailable();
    if (why) throw new Error(why);
    const rig = new DeviceRig(fs.mkdtempSync(path.join(os.tmpdir(), 'label-devices-')));
    try {
      await rig.startBus();
      await rig.startAvahi();
    } catch (err) {
      rig.stop();
      throw err;
    }
    return rig;
  }

  async startBus() {
    const conf = path.join(this.dir, 'bus.conf');
    fs.writeFileSync(conf, BUS_CONF.replace('@SOCKET@', this.busSocket));
    const { proc } = await launch(findTool('dbus-daemon'), ['--config-file', conf, '--nofork', '--print-address'], {
      env: this.env,
      what: 'dbus-daemon',
      ready: (out) => out.includes('unix:path='),
    });
    this.procs.push(proc);
  }

  // avahi-daemon keeps its pid file in a fixed place (/run/avahi-daemon): a
  // private mount there lets this daemon run beside any other.
  async startAvahi() {
    const conf = path.join(this.dir, 'avahi-daemon.conf');
    fs.writeFileSync(conf, AVAHI_CONF);
    fs.mkdirSync('/run/avahi-daemon', { recursive: true });
    const script = 'mount -t tmpfs tmpfs /run/avahi-daemon && exec "$0" "$@"';
    const args = ['--mount', '--propagation', 'private', 'sh', '-c', script];
    args.push(findTool('avahi-daemon'), '-f', conf, '--no-chroot', '--no-drop-root', '--no-rlimits');
    const { proc } = await launch(findTool('unshare'), args, {
      env: this.env,
      what: 'avahi-daemon',
      ready: (out) => out.includes('Server startup complete'),
    });
    this.procs.push(proc);
  }

  // formats: the document-format-supported the printer lists.
  async ippPrinter(name, { formats = 'application/vnd.cups-raw' } = {}) {
    const dir = path.join(this.dir, `printer-${name}`);
    fs.mkdirSync(dir, { recursive: true });
    const printer = new IppPrinter(this, name, dir, await freePort(), formats);
    this.printers.push(printer);
    await printer.launch();
    return printer;
  }

  async socketPrinter() {
    const printer = await SocketPrinter.start();
    this.printers.push(printer);
    return printer;
  }

  stop() {
    for (const p of this.printers.reverse()) p.stop();
    for (const proc of this.procs.reverse()) stopProcess(proc);
    this.printers = [];
    this.procs = [];
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// CUPS's socket backend: Debian's `cups` package, or the copy taken out of it
// by scripts/socket-backend.sh.
const SOCKET_BACKENDS = ['/usr/lib/cups/backend/socket', '/usr/local/lib/trace-label/backend/socket'];
const socketBackend = () => SOCKET_BACKENDS.find((f) => fs.existsSync(f)) || null;
const socketUnavailable = () => (socketBackend() ? null : 'no CUPS socket backend: bash scripts/socket-backend.sh');

// A private cupsd gets CUPS's ipp and socket backends beside its capture
// backend, so its queues can point at the rig's printers.
function addIppBackend(cups) {
  const links = { ipp: '/usr/lib/cups/backend/ipp', socket: socketBackend() };
  for (const [name, target] of Object.entries(links)) {
    const backend = path.join(cups.dir, 'bin', 'backend', name);
    if (target && !fs.existsSync(backend)) fs.symlinkSync(target, backend);
  }
}

// The scheduler's subscriptions on `queue`, anyone's, by id, and cancelling
// one as its lease running out would (ipptool over the local socket).
const SUBSCRIPTION_TESTS = {
  list: ['Get-Subscriptions', 'ATTR boolean my-subscriptions false', 'STATUS client-error-not-found', 'DISPLAY notify-subscription-id'],
  cancel: ['Cancel-Subscription', 'ATTR integer notify-subscription-id $id'],
};
const ippTest = ([operation, ...lines]) => `{
  OPERATION ${operation}
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name root
  ${lines.join('\n  ')}
  STATUS successful-ok
}
`;
function ipptool(cups, queue, which, vars = []) {
  const file = path.join(cups.dir, `${which}-subscriptions.test`);
  fs.writeFileSync(file, ippTest(SUBSCRIPTION_TESTS[which]));
  const uri = `ipp://${encodeURIComponent(cups.socket)}/printers/${queue}`;
  const args = ['-t', ...vars.flatMap((v) => ['-d', v]), uri, file];
  const r = require('child_process').spawnSync('ipptool', args, { encoding: 'utf8', timeout: 30000 });
  if (r.status !== 0) throw new Error(`ipptool: ${r.stdout}${r.stderr}`);
  return r.stdout;
}
const subscriptions = (cups, queue) =>
  [...ipptool(cups, queue, 'list').matchAll(/notify-subscription-id \(integer\) = (\d+)/g)].map((m) => Number(m[1]));
const cancelSubscription = (cups, queue, id) => ipptool(cups, queue, 'cancel', [`id=${id}`]);

module.exports = { subscriptions, cancelSubscription, DeviceRig, IppPrinter, SocketPrinter, unavailable, socketUnavailable, addIppBackend };
