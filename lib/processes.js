'use strict';
// What the private scheduler and the test device rig both need to run
// helper processes on the loopback interface: a free port, waits, and
// stopping a child by its pid.

const net = require('net');
const { spawnSync } = require('child_process');

// A TCP port on 127.0.0.1 that nothing listens on now.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const sleepSync = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

// Whether our child `pid` has exited. A synchronous stop runs before Node
// has reaped it, so a signal probe still finds the zombie: ps tells the
// two apart, on Linux and macOS alike (no /proc there). Without ps only the
// probe is left, and a stop waits out its bound.
function processGone(pid) {
  try {
    process.kill(pid, 0);
  } catch {
    return true;
  }
  // Without the caller's LD_PRELOAD (a sanitizer runtime deadlocks ps), and
  // bounded: a ps that hangs must not hang a stop.
  const env = { ...process.env };
  delete env.LD_PRELOAD;
  const ps = spawnSync('ps', ['-o', 'stat=', '-p', String(pid)], { encoding: 'utf8', env, timeout: 5000 });
  if (ps.error) return false;
  return ps.status !== 0 || ps.stdout.trim().startsWith('Z');
}

// TERM, then KILL after two seconds; by pid only.
function stopProcess(proc) {
  if (!proc || proc.exitCode !== null || proc.signalCode !== null) return;
  proc.kill('SIGTERM');
  for (let i = 0; i < 100 && proc.exitCode === null && !processGone(proc.pid); i++) sleepSync(20);
  if (!processGone(proc.pid)) proc.kill('SIGKILL');
}

module.exports = { freePort, sleep, processGone, stopProcess };
