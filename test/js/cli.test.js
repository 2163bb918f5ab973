'use strict';
// The trace-label command: usage errors exit 2 with a message, failures exit 1,
// and print, render and preview agree with each other on a private scheduler.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { PNG } = require('pngjs');
const { PrivateCups } = require('../../lib/private-cups');
const { makeBmp } = require('../../lib/bmp-writer');
const { ROOT } = require('../support/child');

const BIN = path.join(ROOT, 'bin', 'trace-label.js');
const QUEUE = 'cli_label';

test('trace-label', async (t) => {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  t.after(() => cups.stop());
  const dir = cups.dir;
  const file = (name) => path.join(dir, name);
  // Left half black, right half white, at 16 x 8 pixels: scaled to any label
  // it stays half and half, so the preview can be checked without a decoder.
  const half = (x) => (x < 8 ? [0, 0, 0] : [255, 255, 255]);
  fs.writeFileSync(file('half.bmp'), makeBmp({ width: 16, height: 8, bpp: 24, pixel: half }));
  const png = new PNG({ width: 16, height: 8 });
  for (let i = 0; i < 16 * 8; i++) png.data.set([...half(i % 16), 255], 4 * i);
  fs.writeFileSync(file('half.png'), PNG.sync.write(png));
  fs.writeFileSync(file('garbage.zpl'), 'not a label\r\n');
  fs.writeFileSync(file('unknown.txt'), 'hello');
  fs.writeFileSync(file('half.png.part'), fs.readFileSync(file('half.png')).subarray(0, 60));
  const cli = (...args) => spawnSync(process.execPath, [BIN, ...args], { env: cups.env, encoding: 'latin1', cwd: dir });
  const label = ['--width', '4', '--height', '2'];
  assert.equal(cli('render', '-l', 'ZPL', ...label, '-o', 'label.zpl', 'half.bmp').status, 0);

  await t.test('command-line mistakes exit 2 and say what is wrong', () => {
    const cases = [
      [[], /no command given/],
      [['frob'], /unknown command "frob"/],
      [['check'], /missing the queue name/],
      [['check', 'a', 'b'], /unexpected argument "b"/],
      [['print', '-l', 'ZPL', ...label, 'half.bmp'], /--printer is required/],
      [['print', '-p', QUEUE, ...label, 'half.bmp'], /--language is required/],
      [['print', '-p', QUEUE, '-l', 'PCL', ...label, 'half.bmp'], /unknown language "PCL"; use one of TSPL, ZPL, ESC\/POS, CPCL, PPLA, DPL/],
      [['print', '-p', QUEUE, '-l', 'ZPL', '--width', '0', '--height', '2', 'half.bmp'], /--width must be a whole number from 1, not "0"/],
      [['render', '-l', 'ZPL', '--width', '4', '--height', '1001', '-o', 'x.zpl', 'half.bmp'], /--height 1001 mm is larger than any label printer prints \(1000 mm at most\); give --force/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, '--colour', 'half.bmp'], /unknown option "--colour"/],
      // A value that looks like an option is still the option's value, refused by its rule.
      [['print', '-p', QUEUE, '-l', 'ZPL', '--width', '-5', '--height', '2', 'half.bmp'], /--width must be a whole number from 1, not "-5"/],
      [['render', '-l', 'ZPL', '--width', '4', '--height', '-0.5', '-o', 'x.zpl', 'half.bmp'], /--height must be a whole number from 1, not "-0.5"/],
      [['render', '-l', 'ZPL', ...label, 'half.bmp', '-o'], /--output needs a value/],
      [['render', '-l', 'ZPL', '--width', '--height', '2', '-o', 'x.zpl', 'half.bmp'], /--width needs a value/],
      [['render', '-l', 'ZPL', ...label, '--cutter=yes', '-o', 'x.zpl', 'half.bmp'], /--cutter takes no value/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, '--dpi', '250', 'half.bmp'], /--dpi must be 203, 300 or 600, not "250"/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, '--dpi', '0300', 'half.bmp'], /--dpi must be 203, 300 or 600, not "0300"/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, '--title', '', 'half.bmp'], /--title must be 1 to 255 bytes of text, not 0/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, '--title', 'é'.repeat(128), 'half.bmp'], /--title must be 1 to 255 bytes of text, not 256/],
      [['cancel'], /missing the job id/],
      [['watch'], /missing the queue name/],
      [['cancel', '-3'], /unknown option "-3"/],
      [['cancel', '0'], /the job id must be a whole number from 1, not "0"/],
      [['render', '-l', 'ZPL', ...label, 'half.bmp'], /-o FILE is required/],
      [['preview', 'unknown.txt'], /-o IMAGE.png is required/],
      [['preview', 'unknown.txt', '-o', 'x.png'], /cannot tell the language of "unknown.txt"; give --language/],
      [['preview', '--scale', '600', 'label.zpl', '-o', 'x.png'], /--scale 600 would draw 184 million pixels for 32 x 16 dots; use --scale 441 or less/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, '--copies', '1000', 'half.bmp'], /--copies must be at most 999, not 1000/],
      [['job', 'x1'], /the job id must be a whole number from 1, not "x1"/],
      [['list', 'extra'], /unexpected argument "extra"/],
    ];
    for (const [args, message] of cases) {
      const r = cli(...args);
      assert.equal(r.status, 2, args.join(' '));
      assert.match(r.stderr, message, args.join(' '));
      assert.match(r.stderr, /Run "trace-label .*--help" for usage/);
    }
  });

  await t.test('every command explains itself with --help', () => {
    for (const command of ['check', 'print', 'render', 'preview', 'list', 'status', 'watch', 'job', 'cancel']) {
      const r = cli(...(command === 'render' ? ['help', command] : [command, '--help']));
      assert.equal(r.status, 0);
      assert.match(r.stdout, new RegExp(`^Usage: trace-label ${command}`));
    }
    const r = cli('--help');
    assert.equal(r.status, 0);
    assert.match(r.stdout, /Commands:[^]*check[^]*print[^]*render[^]*preview[^]*cancel/);
    assert.match(r.stdout, /Exit codes: 0 done; 1 the printer, the scheduler or a file said no[^]*; 2 the command line is\swrong/);
    const { version } = JSON.parse(fs.readFileSync(path.join(ROOT, 'package.json'), 'utf8'));
    for (const flag of ['--version', '-v']) assert.deepEqual([cli(flag).status, cli(flag).stdout], [0, `${version}\n`]);
    assert.match(cli('render', '--help').stdout, /-p, --printer NAME .*\n.*not used: render never asks CUPS/);
  });

  await t.test('failures exit 1 and say why', () => {
    const cases = [
      [['check', 'no_such_queue'], /no CUPS queue named "no_such_queue"/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, 'missing.bmp'], /cannot read missing.bmp: no such file/],
      [['print', '-p', 'no_such_queue', '-l', 'ZPL', ...label, 'half.bmp'], /no CUPS queue named "no_such_queue"; the queues are listed by: trace-label list/],
      [['status', 'no_such_queue'], /no CUPS queue named "no_such_queue"/],
      [['watch', 'no_such_queue'], /no CUPS queue named "no_such_queue"/],
      [['job', '9999'], /CUPS knows no job 9999/],
      [['cancel', '9999'], /job 9999 was not cancelled: it had ended already, or CUPS does not know it/],
      [['print', '-p', QUEUE, '-l', 'ZPL', ...label, 'garbage.zpl'], /^trace-label: garbage.zpl: unreadable image: not a PNG or BMP file/],
      [['render', '-l', 'ZPL', ...label, '-o', 'x.zpl', 'half.png.part'], /half.png.part: unreadable image: the PNG is truncated/],
      [['preview', 'garbage.zpl', '-o', 'x.png'], /garbage.zpl is not a ZPL label this tool can read: ZPL:/],
    ];
    for (const [args, message] of cases) {
      const r = cli(...args);
      assert.equal(r.status, 1, `${args.join(' ')}\n${r.stderr}`);
      assert.match(r.stderr, message, args.join(' '));
    }
    assert.equal(cups.jobs(QUEUE).length, 0);
  });

  // A language may be named in any case; the file written by render is the job print sends, from a PNG as from a BMP.
  await t.test('print, render and preview agree', async () => {
    const before = cups.jobs(QUEUE).length;
    const printed = cli('print', '-p', QUEUE, '-l', 'escpos', ...label, '--cutter', 'half.png');
    assert.equal(printed.status, 0, printed.stderr);
    assert.match(printed.stdout, new RegExp(`^ESC\\/POS label 4 x 2 mm sent to ${QUEUE} as job ${before + 1}\\n$`));
    const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);

    const out = file(`label-${before}.out`);
    const rendered = cli('render', '-l', 'escpos', ...label, '--cutter', '-o', out, 'half.bmp');
    assert.equal(rendered.status, 0, rendered.stderr);
    assert.deepEqual(fs.readFileSync(out), job.data);

    const png = file(`label-${before}.png`);
    const previewed = cli('preview', '-l', 'escpos', '--scale', '3', out, '-o', png);
    assert.equal(previewed.status, 0, previewed.stderr);
    // 4 x 2 mm at 8 dots/mm is 32 x 16 dots; ESC/POS rounds the width up to whole bytes (already 32).
    const picture = PNG.sync.read(fs.readFileSync(png));
    assert.deepEqual([picture.width, picture.height], [32 * 3 + 4, 16 * 3 + 4]);
    const gray = (x, y) => picture.data[4 * (y * picture.width + x)];
    assert.deepEqual([gray(0, 0), gray(2, 2), gray(2 + 47, 30), gray(2 + 48, 30), gray(2 + 95, 2 + 47)], [160, 0, 0, 255, 255]);
    assert.match(previewed.stdout, new RegExp(`ESC\\/POS label of 32 x 16 dots, 256 printed\\n$`));
  });

  await t.test('print with several images sends one job, a label each in order', async () => {
    const before = cups.jobs(QUEUE).length;
    const bad = cli('print', '-p', QUEUE, '-l', 'ZPL', ...label, 'half.png', 'garbage.zpl');
    assert.equal(bad.status, 1);
    assert.match(bad.stderr, /garbage.zpl: unreadable image/);
    const printed = cli('print', '-p', QUEUE, '-l', 'ZPL', ...label, 'half.bmp', 'half.png', 'half.bmp');
    assert.equal(printed.status, 0, printed.stderr);
    // Standard output is a pipe: no log lines before the answer.
    assert.match(printed.stdout, new RegExp(`^3 ZPL labels 4 x 2 mm sent to ${QUEUE} as job ${before + 1}\\n$`));
    const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);
    const one = file(`batch-${before}.zpl`);
    assert.equal(cli('render', '-l', 'ZPL', ...label, '-o', one, 'half.bmp').status, 0);
    assert.deepEqual(job.data, Buffer.concat(Array(3).fill(fs.readFileSync(one))));
    // A directory (its images by name) and a list file; on a terminal, a progress line unless --quiet.
    fs.mkdirSync(file('carton'));
    for (const [name, from] of [['a10.bmp', 'half.bmp'], ['a9.png', 'half.png'], ['notes.txt', 'unknown.txt']]) fs.copyFileSync(file(from), file(`carton/${name}`));
    fs.writeFileSync(file('list.txt'), 'half.png\n\ncarton/a10.bmp\n');
    const onTerminal = (...args) => spawnSync('script', ['-qec', [process.execPath, BIN, ...args].map((a) => `'${a}'`).join(' '), '/dev/null'], { env: cups.env, encoding: 'latin1', cwd: dir });
    const runs = [onTerminal('print', '-p', QUEUE, '-l', 'ZPL', ...label, 'carton'), onTerminal('print', '-q', '-p', QUEUE, '-l', 'ZPL', ...label, '--list', 'list.txt', 'half.bmp')];
    for (const r of runs) assert.equal(r.status, 0, r.stdout + r.stderr);
    assert.match(runs[0].stdout, /\r2 of 2 labels sent \(2 made\)\x1b\[K\r?\n/);
    assert.doesNotMatch(runs[1].stdout, /labels sent \(/);
    const [fromDir, fromList] = (await cups.waitForJobs(QUEUE, before + 3)).slice(-2);
    const png = file(`batch-${before}.png.zpl`);
    assert.equal(cli('render', '-l', 'ZPL', ...label, '-o', png, 'half.png').status, 0);
    const [b, p] = [fs.readFileSync(one), fs.readFileSync(png)];
    assert.deepEqual(fromDir.data, Buffer.concat([p, b]));
    assert.match(fromDir.title, /^ZPL 4x2mm 2 labels [0-9a-f]{6}$/);
    assert.deepEqual(fromList.data, Buffer.concat([p, b, b]));
  });

  await t.test('check, list, status and job show what CUPS has; --copies reaches the job', async () => {
    // Standard output is a pipe here: the add-on's log is left out unless --verbose asks for it.
    assert.equal(cli('check', QUEUE).stdout, `${QUEUE}: connected\n`);
    assert.equal(cli('check', '--verbose', '--quiet', QUEUE).stdout, `${QUEUE}: connected\n`);
    assert.match(cli('check', '--verbose', QUEUE).stdout, new RegExp(`^\\[DEBUG\\] Checking printer connection: ${QUEUE}\\n[^]*isConnected = true\\n${QUEUE}: connected\\n$`));
    cups.admin('cupsdisable', ['-r', 'out of labels', QUEUE]);
    const printed = cli('print', '-p', QUEUE, '-l', 'TSPL', ...label, '--copies', '2', 'half.png');
    assert.match(printed.stdout, new RegExp(`^2 copies of a TSPL label 4 x 2 mm sent to ${QUEUE} as job (\\d+)\\n$`), printed.stderr);
    const id = printed.stdout.match(/as job (\d+)\n$/)[1];
    assert.match(cli('list').stdout, new RegExp(`^QUEUE +STATE +DPI +JOBS +DEFAULT +MESSAGE\\n${QUEUE} +stopped +203 +accepted +out of labels\\n$`));
    assert.match(cli('status', QUEUE).stdout, /: stopped \(paused\): out of labels\n {2}accepting jobs\n {2}resolution: 203 dpi \(8 dots\/mm\)\n {2}device: capture:\/cli_label\n/);
    assert.match(cli('job', id).stdout, new RegExp(`^job ${id} on ${QUEUE}: pending\\n {2}title: TSPL 4x2mm [0-9a-f]{6}\\n {2}created: \\d{4}-.*, ended: -\\n$`));
    assert.equal(JSON.parse(cli('job', '--json', id).stdout).state, 'pending');
    // A second job waits behind it on the stopped queue: cancel it, then it cannot be cancelled again.
    const waiting = cli('print', '-p', QUEUE, '-l', 'ZPL', ...label, '--dpi', '300', '--title', 'crate 7', 'half.png');
    const second = waiting.stdout.match(/as job (\d+)\n$/)[1];
    assert.equal(cli('job', second).stdout.split('\n')[1], '  title: crate 7');
    assert.deepEqual([cli('cancel', second).status, cli('cancel', second).status], [0, 1]);
    assert.match(cli('job', second).stdout, new RegExp(`^job ${second} on ${QUEUE}: canceled`));
    cups.admin('cupsenable', [QUEUE]);
    assert.equal((await cups.waitForJobs(QUEUE, Number(id))).at(-1).copies, 2);
  });

  await t.test('print --dpi and --title reach the job', async () => {
    const before = cups.jobs(QUEUE).length;
    const r = cli('print', '-p', QUEUE, '-l', 'ZPL', ...label, '--dpi', '300', '--title', 'lot 42', 'half.png');
    assert.equal(r.status, 0, r.stderr);
    const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);
    assert.equal(job.title, 'lot 42');
    // The queue says 203 dpi; --dpi 300 makes the label at 12 dots/mm, as render --dpi 300 does (the rest of --dpi is dots.test.js's).
    assert.deepEqual(job.data, Buffer.from(cli('render', '-l', 'ZPL', ...label, '--dpi', '300', '-o', '-', 'half.png').stdout, 'latin1'));
    // --force reaches submitTraceCode as allowLarge; render takes it too.
    const long = ['-l', 'CPCL', '--width', '1001', '--height', '1', '--force'];
    assert.equal(cli('print', '-p', QUEUE, ...long, 'half.png').status, 0);
    const made = cli('render', ...long, '-o', '-', 'half.png').stdout;
    assert.match(made, /^! 0 200 200 8 1\r\nPW 8008\r\n/);
    assert.equal((await cups.waitForJobs(QUEUE, before + 2)).at(-1).data.toString('latin1'), made);
  });

  // 100 x 150 mm of ZPL is larger than a pipe buffer, so the write is still going when head leaves.
  await t.test('a reader that closes standard output early ends render quietly with 0', () => {
    const big = ['-l', 'ZPL', '--width', '100', '--height', '150', 'half.png'];
    assert.equal(cli('render', ...big, '-o', 'big.zpl').status, 0);
    const size = fs.statSync(file('big.zpl')).size;
    assert.ok(size > 2 * 65536, `${size} bytes`);
    const command = `"${process.execPath}" "${BIN}" render ${big.join(' ')} -o - | head -c1 > /dev/null; echo "\${PIPESTATUS[0]}"`;
    const early = spawnSync('bash', ['-c', command], { env: cups.env, encoding: 'latin1', cwd: dir });
    assert.deepEqual([early.stdout, early.stderr], ['0\n', '']);
    // Read to the end, the count comes after the stream and is its length.
    const whole = spawnSync('bash', ['-c', `"${process.execPath}" "${BIN}" render ${big.join(' ')} -o - | wc -c`], { env: cups.env, encoding: 'latin1', cwd: dir });
    assert.deepEqual([whole.stdout, whole.stderr], [`${size}\n`, `standard output: ${size} bytes of ZPL at 203 dpi\n`]);
  });

  await t.test('watch: a line per change; Ctrl-C ends it with 0 and cancels its subscription', async () => {
    const { spawn } = require('child_process');
    const { subscriptions } = require('../support/ipp-printer');
    const child = spawn(process.execPath, [BIN, 'watch', QUEUE], { env: cups.env, stdio: ['ignore', 'pipe', 'pipe'] });
    const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
    let stdout = '';
    let step = 0;
    const lines = () => stdout.split('\n').filter(Boolean).map((l) => l.replace(/^\S+Z /, ''));
    child.stdout.on('data', (chunk) => {
      stdout += chunk;
      const seen = lines();
      if (step === 0 && seen.length >= 1) {
        step = 1;
        cups.admin('cupsdisable', ['-r', 'out of ribbon', QUEUE]);
      } else if (step === 1 && seen.length >= 2) {
        step = 2;
        assert.equal(subscriptions(cups, QUEUE).length, 1);
        child.kill('SIGINT');
      }
    });
    const { code, signal } = await exited;
    cups.admin('cupsenable', [QUEUE]);
    assert.deepEqual({ code, signal }, { code: 0, signal: null });
    assert.deepEqual(lines(), [`${QUEUE}: ready`, `${QUEUE}: stopped (paused): out of ribbon`]);
    assert.deepEqual(subscriptions(cups, QUEUE), []);
  });
});
