'use strict';
// Runs a snippet against the add-on in a child process. The add-on logs to
// standard output through C stdio, so the log is read from a child that exits
// normally; the snippet's answer comes back on a separate pipe (fd 3).

const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { PrivateCups } = require('../../lib/private-cups');
const { makeBmp } = require('../../lib/bmp-writer');

const ROOT = path.resolve(__dirname, '..', '..');

const PRELUDE = `
const fs = require('fs');
const addon = require(${JSON.stringify(path.join(ROOT, 'index.js'))});
const describe = (v) => v === undefined ? { kind: 'undefined' } : { kind: 'value', value: v };
Promise.resolve().then(async () => {
  let out;
  try { out = describe(await (async () => { __BODY__ })()); }
  catch (e) { out = { kind: 'threw', name: e && e.name, message: e && e.message }; }
  fs.writeSync(3, JSON.stringify(out));
});
`;

// body: the text of an async function body that sees `addon` and returns the answer.
function runInChild(body, { env = process.env, timeoutMs = 60000 } = {}) {
  const script = PRELUDE.replace('__BODY__', body);
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', script], { env, stdio: ['ignore', 'pipe', 'pipe', 'pipe'] });
    const chunks = { out: [], err: [], ret: [] };
    child.stdout.on('data', (c) => chunks.out.push(c));
    child.stderr.on('data', (c) => chunks.err.push(c));
    child.stdio[3].on('data', (c) => chunks.ret.push(c));
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    child.on('error', reject);
    child.on('close', (status, signal) => {
      clearTimeout(timer);
      const ret = Buffer.concat(chunks.ret).toString();
      resolve({
        status,
        signal,
        stdout: Buffer.concat(chunks.out).toString(),
        stderr: Buffer.concat(chunks.err).toString(),
        answer: ret ? JSON.parse(ret) : null,
      });
    });
  });
}

// A private scheduler with `queue` for test `t`, an image in its folder, and
// run(body, env), whose snippet sees the image as `image`; good(over) is a
// small TSPL label of it.
const IMAGE = makeBmp({ width: 16, height: 8, bpp: 24, pixel: (x, y) => ((x + y) % 3 ? [255, 255, 255] : [0, 0, 0]) });
async function labelRig(t, queue, bytes = IMAGE) {
  const cups = await PrivateCups.start({ queues: [queue] });
  t.after(() => cups.stop());
  const imageFile = path.join(cups.dir, 'image.bmp');
  fs.writeFileSync(imageFile, bytes);
  const run = (body, env = cups.env) =>
    runInChild(`const image = require('fs').readFileSync(${JSON.stringify(imageFile)}); ${body}`, { env });
  const good = (over = '') =>
    `{ device: '${queue}', instruction: 'TSPL', withCutter: false, width: 2, height: 1, buffer: image ${over} }`;
  return { cups, imageFile, run, good };
}

// The README's js block marked <!-- name -->, as it stands, as app.js of an
// app folder under `dir` whose node_modules holds the package and qrcode.
function readmeApp(dir, name) {
  const block = fs.readFileSync(path.join(ROOT, 'README.md'), 'utf8').match(new RegExp(`<!-- ${name} -->\\n\`\`\`js\\n([^]*?)\`\`\``));
  if (!block) throw new Error(`no js block is marked <!-- ${name} --> in README.md`);
  const app = path.join(dir, name);
  fs.mkdirSync(path.join(app, 'node_modules'), { recursive: true });
  fs.symlinkSync(ROOT, path.join(app, 'node_modules', 'trace-label-printer'));
  fs.symlinkSync(path.join(ROOT, 'node_modules', 'qrcode'), path.join(app, 'node_modules', 'qrcode'));
  fs.writeFileSync(path.join(app, 'app.js'), block[1]);
  const run = (env, ...args) => spawnSync(process.execPath, ['app.js', ...args], { cwd: app, env, encoding: 'utf8', timeout: 120000 });
  return { app, run };
}

// The job files a log names; each must be gone once its call has answered.
const loggedJobFiles = (log) => [...log.matchAll(/生成临时文件名: (\/tmp\/printer_command_\d{8}_\d{6}_\d+)\n/g)].map((m) => m[1]);

// A log with what differs from call to call (job file names, job ids) made equal.
const normaliseLog = (log) =>
  log.replace(/printer_command_\d{8}_\d{6}_\d+/g, 'printer_command_NAME').replace(/ID=\d+/g, 'ID=N');

module.exports = { runInChild, labelRig, readmeApp, loggedJobFiles, normaliseLog, ROOT };
