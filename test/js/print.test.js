'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild } = require('../support/child');
const { makeBmp } = require('../../lib/bmp-writer');

const QUEUE = 'js_tspl';
const IMAGE = makeBmp({ width: 16, height: 8, bpp: 24, pixel: (x, y) => ((x + y) % 3 ? [255, 255, 255] : [0, 0, 0]) });

// Every job file a call of this test logged; other processes may have their own.
const loggedJobFiles = [];
function noteJobFiles(log) {
  for (const m of log.matchAll(/生成临时文件名: (\/tmp\/printer_command_\d{8}_\d{6}_\d+)\n/g)) loggedJobFiles.push(m[1]);
  return log;
}

const run = async (...args) => {
  const r = await runInChild(...args);
  noteJobFiles(r.stdout);
  return r;
};

test('printTraceCode', async (t) => {
  const cups = await PrivateCups.start({ queues: [QUEUE] });
  t.after(() => cups.stop());
  fs.writeFileSync('/tmp/js_print_image.bmp', IMAGE);
  t.after(() => fs.rmSync('/tmp/js_print_image.bmp', { force: true }));

  // opts is JS source for the options; `image` is the test image as a Buffer.
  const print = (opts, env = cups.env) =>
    run(`const image = require('fs').readFileSync('/tmp/js_print_image.bmp');
                return addon.printTraceCode(${opts});`, { env });
  const good = (over = '') =>
    `{ device: '${QUEUE}', instruction: 'TSPL', withCutter: false, width: 2, height: 1, buffer: image ${over} }`;

  await t.test('properties are read in order and reading stops at the first refusal', async () => {
    const r = await run(`
      const image = require('fs').readFileSync('/tmp/js_print_image.bmp');
      const reads = [];
      const spy = (values) => new Proxy({}, { get: (_, k) => (reads.push(k), values[k]) });
      const full = { device: '${QUEUE}', instruction: 'NOPE', withCutter: true, width: 2, height: 1, buffer: image };
      const out = {};
      for (const [label, change] of [['all', {}], ['emptyDevice', { device: '' }], ['zeroHeight', { height: 0 }],
                                     ['badCutter', { withCutter: 0 }]]) {
        reads.length = 0;
        const answer = addon.printTraceCode(spy({ ...full, ...change }));
        out[label] = { answer: String(answer), reads: reads.join(',') };
      }
      return out;`, { env: cups.env });
    assert.deepEqual(r.answer.value, {
      all: { answer: 'false', reads: 'device,instruction,withCutter,width,height,buffer' },
      emptyDevice: { answer: 'undefined', reads: 'device' },
      zeroHeight: { answer: 'undefined', reads: 'device,instruction,withCutter,width,height' },
      badCutter: { answer: 'undefined', reads: 'device,instruction,withCutter' },
    });
    assert.equal(r.stdout, '');
  });

  await t.test('names that are not languages answer false without a log line', async () => {
    for (const name of ['PCL', 'tspl', 'Tspl', 'TSPL ', 'ESCPOS', 'ESC-POS']) {
      const r = await print(good(`, instruction: '${name}'`));
      assert.deepEqual(r.answer, { kind: 'value', value: false }, name);
      assert.equal(r.stdout, '', name);
    }
  });

  await t.test('a fractional width is truncated', async () => {
    const before = cups.jobs(QUEUE).length;
    const r = await print(good(', width: 2.7, height: 1.2'));
    assert.deepEqual(r.answer, { kind: 'value', value: true }, r.stdout);
    const jobs = await cups.waitForJobs(QUEUE, before + 1);
    assert.match(jobs.at(-1).data.toString('latin1'), /^SIZE 2 mm, 1 mm\r\n/);
    assert.match(r.stdout, /成功将BMP图像从16 x 8调整为16 x 8\n/);
  });

  // The image is read in place, so a Buffer that views part of a larger
  // block must be read at its own offset and no further than its length.
  await t.test('a Buffer inside a larger block is read at its offset and length', async () => {
    const before = cups.jobs(QUEUE).length;
    const r = await run(`const image = require('fs').readFileSync('/tmp/js_print_image.bmp');
      const block = Buffer.alloc(image.length + 100, 0x5a);
      image.copy(block, 37);
      const view = block.subarray(37, 37 + image.length);
      const short = block.subarray(37, 36 + image.length);
      return [addon.printTraceCode(${good()}), addon.printTraceCode(${good(', buffer: view')}),
              addon.printTraceCode(${good(', buffer: short')})];`, { env: cups.env });
    assert.deepEqual(r.answer, { kind: 'value', value: [true, true, false] }, r.stdout);
    assert.ok(r.stdout.endsWith('[DEBUG] BMP数据不完整或无效\n[DEBUG] BaseInstruction: BMP转换8bit失败，返回空数据\n'));
    const jobs = await cups.waitForJobs(QUEUE, before + 2);
    assert.deepEqual(jobs.at(-1).data, jobs.at(-2).data);
  });

  const failureCases = [
    {
      name: 'a negative width is refused by the resize',
      opts: good(', width: -50'),
      tail: '[DEBUG] 无效的目标尺寸: -400 x 8\n[DEBUG] BaseInstruction: BMP调整尺寸失败，返回空数据\n',
    },
    {
      name: 'a label whose dot count leaves 32 bits is not resized',
      opts: good(', width: 300000000'),
      tail: '[DEBUG] BaseInstruction: BMP调整尺寸失败，返回空数据\n',
    },
    {
      name: 'a label too large for memory gets the length error',
      opts: good(', width: 200000, height: 200000'),
      tail: '[ERROR] BaseInstruction: 发生长度错误异常: vector\n',
    },
  ];
  for (const c of failureCases) {
    await t.test(c.name, async () => {
      const r = await print(c.opts);
      assert.deepEqual(r.answer, { kind: 'value', value: false });
      assert.ok(r.stdout.endsWith(c.tail), r.stdout);
      assert.doesNotMatch(r.stdout, /macOS平台: 生成临时文件名/);
    });
  }

  await t.test('a zero-length Buffer answers false after the conversion line', async () => {
    const r = await print(good(', buffer: Buffer.alloc(0)'));
    assert.deepEqual(r.answer, { kind: 'value', value: false });
    assert.ok(r.stdout.endsWith('[DEBUG] BMP数据不完整或无效\n[DEBUG] BaseInstruction: BMP转换8bit失败，返回空数据\n'));
  });

  await t.test('an all-text stream still travels raw', async () => {
    const before = cups.jobs(QUEUE).length;
    const white = makeBmp({ width: 8, height: 8, bpp: 8, pixel: () => 255 });
    fs.writeFileSync('/tmp/js_print_white.bmp', white);
    const r = await run(`return addon.printTraceCode({ device: '${QUEUE}', instruction: 'TSPL',
      withCutter: true, width: 1, height: 1, buffer: require('fs').readFileSync('/tmp/js_print_white.bmp') });`,
    { env: cups.env });
    fs.rmSync('/tmp/js_print_white.bmp');
    assert.deepEqual(r.answer, { kind: 'value', value: true });
    const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);
    assert.equal(job.type, 'application/vnd.cups-raw');
    assert.equal(job.title, 'Qorvin');
  });

  // The whole job and the whole log, at both dot densities.
  const exactCases = [
    { dpi: null, dots: [16, 8], resolution: ['[DEBUG] BaseInstruction: 加载打印机默认设置失败，将使用内置默认值'] },
    {
      dpi: 300,
      dots: [24, 12],
      resolution: ['[DEBUG] BaseInstruction: macOS平台，成功获取DPI: 300', '[DEBUG] BaseInstruction: 加载打印机默认设置成功'],
    },
  ];
  for (const c of exactCases) {
    await t.test(`a TSPL label arrives byte-exact at ${c.dpi || 203} dpi`, async () => {
      const home = cups.writeLpoptions(c.dpi ? [`Dest ${QUEUE} printer-resolution-default=${c.dpi}dpi`] : [], `${cups.dir}/home-${c.dpi}`);
      const [w, h] = c.dots;
      // Left half black, right half white: every row is the same.
      const image = makeBmp({ width: w, height: h, bpp: 24, pixel: (x) => (x < w / 2 ? [0, 0, 0] : [255, 255, 255]) });
      fs.writeFileSync('/tmp/js_print_exact.bmp', image);
      const before = cups.jobs(QUEUE).length;
      const r = await run(`return addon.printTraceCode({ device: '${QUEUE}', instruction: 'TSPL', withCutter: true,
        width: 2, height: 1, buffer: require('fs').readFileSync('/tmp/js_print_exact.bmp') });`, { env: { ...cups.env, HOME: home } });
      fs.rmSync('/tmp/js_print_exact.bmp');
      assert.deepEqual(r.answer, { kind: 'value', value: true }, r.stdout);
      const job = (await cups.waitForJobs(QUEUE, before + 1)).at(-1);
      const row = w === 16 ? [0x00, 0xff] : [0x00, 0x0f, 0xff];
      const expected = Buffer.concat([
        Buffer.from(`SIZE 2 mm, 1 mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\nSET CUTTER 1\r\nBITMAP 0,0,${row.length},${h},0,`),
        Buffer.from(Array.from({ length: h }, () => row).flat()),
        Buffer.from('\r\nPRINT 1\r\n'),
      ]);
      assert.deepEqual(job.data, expected);
      const log = r.stdout.replace(/printer_command_\d{8}_\d{6}_\d+/, 'printer_command_NAME').split('\n');
      assert.deepEqual(log, [
        '[DEBUG] BaseInstruction: 尝试加载打印机默认设置',
        ...c.resolution,
        '[DEBUG] BaseInstruction: 开始准备准备8bit',
        '[DEBUG] 成功将24位BMP转换为8位灰度BMP',
        '[DEBUG] BaseInstruction: BMP转换8bit成功',
        '[DEBUG] 成功将8位BMP转换为8位灰度BMP',
        `[DEBUG] 成功将BMP图像从${w} x ${h}调整为${w} x ${h}`,
        '[DEBUG] BaseInstruction: BMP调整尺寸成功',
        '[DEBUG] macOS平台: 生成临时文件名: /tmp/printer_command_NAME',
        '[DEBUG] macOS平台: 成功创建临时文件',
        '[DEBUG] macOS平台: 成功写入打印命令到临时文件',
        '[DEBUG] macOS平台: 关闭临时文件',
        '[DEBUG] macOS平台: 设置CUPS打印选项',
        '[DEBUG] macOS平台: 发送打印任务到CUPS...',
        `[DEBUG] macOS平台: 打印任务已提交，ID=${job.id}`,
        '[DEBUG] macOS平台: 释放CUPS选项资源',
        '[DEBUG] macOS平台: 删除临时文件',
        '[DEBUG] macOS平台: 打印任务处理完成',
        '',
      ]);
    });
  }

  await t.test('no temporary job file is left behind', () => {
    assert.ok(loggedJobFiles.length >= 4, `only ${loggedJobFiles.length} job files logged`);
    assert.deepEqual(loggedJobFiles.filter((f) => fs.existsSync(f)), []);
  });
});
