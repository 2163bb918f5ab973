'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { labelRig, loggedJobFiles } = require('../support/child');
const { makeBmp } = require('../../lib/bmp-writer');

const QUEUE = 'js_tspl';
const CONVERT_FAILED = '[DEBUG] BMP数据不完整或无效\n[DEBUG] BaseInstruction: BMP转换8bit失败，返回空数据\n';

test('printTraceCode', async (t) => {
  const { cups, imageFile, run, good } = await labelRig(t, QUEUE);
  const print = (over) => run(`return addon.printTraceCode(${good(over)});`);

  // Both readers, the add-on's and the async calls', in one table. An unknown
  // language ('NOPE') answers false without a log line.
  await t.test('properties are read in order and reading stops at the first refusal', async () => {
    const r = await run(`
      const reads = [];
      const spy = (values) => new Proxy({}, { get: (_, k) => (reads.push(k), values[k]) });
      const out = { printTraceCode: {}, printTraceCodeAsync: {} };
      for (const call of Object.keys(out)) {
        for (const [label, change] of [['all', {}], ['emptyDevice', { device: '' }], ['zeroHeight', { height: 0 }],
                                       ['badCutter', { withCutter: 0 }]]) {
          reads.length = 0;
          const answer = await addon[call](spy({ ...${good(", instruction: 'NOPE', withCutter: true")}, ...change }));
          out[call][label] = { answer: String(answer), reads: reads.join(',') };
        }
      }
      return out;`);
    const expected = {
      all: { answer: 'false', reads: 'device,instruction,withCutter,width,height,buffer' },
      emptyDevice: { answer: 'undefined', reads: 'device' },
      zeroHeight: { answer: 'undefined', reads: 'device,instruction,withCutter,width,height' },
      badCutter: { answer: 'undefined', reads: 'device,instruction,withCutter' },
    };
    assert.deepEqual(r.answer.value, { printTraceCode: expected, printTraceCodeAsync: expected });
    assert.equal(r.stdout, '');
  });

  // A view one byte short, the real last byte right after it: read in place,
  // never past its length. The other refusals' lines are the C++ tests'.
  await t.test('a view one byte short is a truncated image', async () => {
    const r = await print(', buffer: Buffer.from(image).subarray(0, -1)');
    assert.deepEqual(r.answer, { kind: 'value', value: false });
    assert.ok(r.stdout.endsWith(CONVERT_FAILED), r.stdout);
    assert.doesNotMatch(r.stdout, /生成临时文件名/);
  });

  // The whole job, its type and title, and the whole log. The 300 dpi lines
  // are scheduler.test.js's and test/cpp/cups/print_test.cpp's.
  await t.test('a TSPL label arrives byte-exact', async () => {
    // Left half black, right half white: every row is the same.
    const image = makeBmp({ width: 16, height: 8, bpp: 24, pixel: (x) => (x < 8 ? [0, 0, 0] : [255, 255, 255]) });
    const before = cups.jobs(QUEUE).length;
    const r = await run(`return addon.printTraceCode(${good(`, withCutter: true, buffer: Buffer.from('${image.toString('hex')}', 'hex')`)});`);
    assert.deepEqual(r.answer, { kind: 'value', value: true }, r.stdout);
    const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);
    assert.deepEqual([job.type, job.title], ['application/vnd.cups-raw', 'Qorvin']);
    // The job options exactly as CUPS hands them to the printer's backend
    // (fit-to-page=false arrives as nofit-to-page), patterns where CUPS picks the value.
    const [jobFile] = loggedJobFiles(r.stdout);
    const options = [`document-name-supplied=${path.basename(jobFile)}`, 'nofit-to-page', 'media=Custom.Transverse',
      'number-up=1', 'orientation-requested=3', 'print-scaling=none', 'scaling=100', /^job-uuid=urn:uuid:[-0-9a-f]{36}$/,
      'job-originating-host-name=localhost', 'date-time-at-creation=', 'date-time-at-processing=',
      /^time-at-creation=\d+$/, /^time-at-processing=\d+$/];
    const got = job.options.split(' ');
    assert.equal(got.length, options.length, job.options);
    options.forEach((want, i) => (typeof want === 'string' ? assert.equal : assert.match)(got[i], want));
    assert.deepEqual(job.data, Buffer.concat([
      Buffer.from('SIZE 2 mm, 1 mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\nSET CUTTER 1\r\nBITMAP 0,0,2,8,0,'),
      Buffer.from(Array(8).fill([0x00, 0xff]).flat()),
      Buffer.from('\r\nPRINT 1\r\n'),
    ]));
    const log = r.stdout.replace(/printer_command_\d{8}_\d{6}_\d+/, 'printer_command_NAME').split('\n');
    assert.deepEqual(log, [
      ...['尝试加载打印机默认设置', '加载打印机默认设置失败，将使用内置默认值', '开始准备准备8bit'].map((l) => `[DEBUG] BaseInstruction: ${l}`),
      '[DEBUG] 成功将24位BMP转换为8位灰度BMP',
      '[DEBUG] BaseInstruction: BMP转换8bit成功',
      '[DEBUG] 成功将8位BMP转换为8位灰度BMP',
      '[DEBUG] 成功将BMP图像从16 x 8调整为16 x 8',
      '[DEBUG] BaseInstruction: BMP调整尺寸成功',
      ...['生成临时文件名: /tmp/printer_command_NAME', '成功创建临时文件', '成功写入打印命令到临时文件', '关闭临时文件',
        '设置CUPS打印选项', '发送打印任务到CUPS...', `打印任务已提交，ID=${job.id}`, '释放CUPS选项资源', '删除临时文件',
        '打印任务处理完成'].map((l) => `[DEBUG] macOS平台: ${l}`),
      '',
    ]);
  });

  await t.test('the job goes ahead of ordinary ones waiting for a busy printer', async () => {
    // job-priority 100 outranks lp's 50.
    const before = cups.jobs(QUEUE).length;
    const release = cups.hold(QUEUE);
    try {
      const lp = () => cups.admin('lp', ['-d', QUEUE, imageFile]).match(/-(\d+) /)[1];
      const blocker = lp();
      for (let i = 0; i < 400 && !fs.existsSync(`${cups.captureDir}/${QUEUE}-${blocker}.held`); i++) {
        await new Promise((resolve) => setTimeout(resolve, 25));
      }
      const ordinary = lp();
      const r = await print();
      assert.deepEqual(r.answer, { kind: 'value', value: true }, r.stdout);
      const ours = r.stdout.match(/ID=(\d+)/)[1];
      // The scheduler lists its pending jobs in the order it will run them.
      const order = [...cups.run('lpstat', ['-o', QUEUE]).stdout.matchAll(/^\S+-(\d+) /gm)].map((m) => m[1]);
      assert.deepEqual(order, [ours, blocker, ordinary]);
    } finally {
      release();
    }
    await cups.waitForJobs(QUEUE, before + 3);
  });
});
