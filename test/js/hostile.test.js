'use strict';
// Hostile input from JavaScript: every option of every JS type, and options
// objects that fight back. The child must never crash, no native exception
// may escape, and each answer must be the one the contract gives, worked out
// here from JavaScript's own semantics (ToInt32 is `v | 0`, a C string ends
// at the first NUL, Node-API takes every ArrayBuffer view as a Buffer).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const { PrivateCups } = require('../../lib/private-cups');
const { runInChild, loggedJobFiles } = require('../support/child');
const { makeBmp } = require('../../lib/bmp-writer');

const QUEUE = 'hostile';
const PENDING_QUEUE = 'hostile_pending';  // its own, so late jobs of other cases cannot mix in
const LANGUAGES = ['TSPL', 'ZPL', 'ESC/POS', 'CPCL', 'PPLA', 'DPL'];
const IMAGE = makeBmp({ width: 16, height: 8, bpp: 24, pixel: (x, y) => ((x + y) % 2 ? [255, 255, 255] : [0, 0, 0]) });

// Shared by this process (for the expected answers) and the children (for the
// calls): the image, a good request and the values that need some set-up.
const PRELUDE = `
const IMAGE = Buffer.alloc(${IMAGE.length}, '${IMAGE.toString('hex')}', 'hex'); // unpooled, as a file read is
const QUEUE = ${JSON.stringify(QUEUE)};
const GOOD = { device: QUEUE, instruction: 'TSPL', withCutter: false, width: 2, height: 1, buffer: IMAGE };
const traps = [];
const spyHandler = Object.fromEntries(['get', 'has', 'ownKeys', 'getOwnPropertyDescriptor', 'getPrototypeOf',
  'defineProperty', 'set', 'deleteProperty', 'apply', 'construct'].map((t) => [t, (...a) => { traps.push(t); return Reflect[t](...a); }]));
const copyOf = (bytes, size = bytes.length) => { const ab = new ArrayBuffer(size); new Uint8Array(ab).set(bytes); return ab; };
const sabOf = (bytes) => { const sab = new SharedArrayBuffer(bytes.length); new Uint8Array(sab).set(bytes); return sab; };
const detached = () => { const ab = copyOf(IMAGE); const view = new Uint8Array(ab); structuredClone(ab, { transfer: [ab] }); return view; };
`;

// Every JS type, as source text evaluated once here and once in the child.
const VALUES = [
  'undefined', 'null', 'true', 'false',
  '0', '-0', '1', '-1', '0.5', '-0.5', '1.999', 'NaN', 'Infinity', '-Infinity',
  '2**31', '2**31 - 1', '-(2**31)', '-(2**31) - 1', '2**32', '2**32 + 2', '2**53', '-(2**53)',
  'Number.MAX_VALUE', 'Number.MIN_VALUE', 'Number.EPSILON', '1e21',
  '0n', '10n', '2n**64n', 'Symbol("s")', 'Symbol.iterator',
  "''", "'\\0'", "'\\0TSPL'", "QUEUE + '\\0tail'", "'TSPL\\0junk'", "'TSPL '", "'tspl'",
  "'\\uD800'", "'\\uDC00' + QUEUE", "'日本語'", "'x'.repeat(1 << 20)", ...LANGUAGES.map((l) => `'${l}'`), 'QUEUE',
  '{}', '[]', "['TSPL']", '[1, 2, 3]', "new String('TSPL')", 'new Number(2)', 'new Boolean(true)',
  '() => 2', 'new Date(0)', '/TSPL/', 'new Map([[0, 1]])', 'Object.create(null)', 'Promise.resolve(2)',
  "({ valueOf() { throw new Error('valueOf') }, toString() { throw new Error('toString') }, [Symbol.toPrimitive]() { throw new Error('toPrimitive') } })",
  'new Proxy({}, spyHandler)', "new Proxy(new String('TSPL'), spyHandler)",
  'IMAGE', 'Buffer.from(IMAGE)', 'Buffer.concat([Buffer.alloc(7), IMAGE]).subarray(7)', 'Buffer.alloc(0)',
  'Buffer.alloc(1 << 20)', 'IMAGE.subarray(0, 53)', 'new Uint8Array(copyOf(IMAGE))', 'new Uint8ClampedArray(copyOf(IMAGE))',
  'new Float64Array(copyOf(IMAGE, Math.ceil(IMAGE.length / 8) * 8))', 'new DataView(copyOf(IMAGE))',
  'new Int16Array(3)', 'Buffer.from(sabOf(IMAGE))', 'new Uint8Array(sabOf(IMAGE))', 'detached()',
  'copyOf(IMAGE)', 'sabOf(IMAGE)', 'new WeakRef({})',
];

// The answer the contract gives for `value` as property `key` of an
// otherwise good request ('true' when the label is printed).
const cut = (s) => s.split('\0')[0];
function expectedFor(key, value) {
  switch (key) {
    case 'device':
      if (typeof value !== 'string' || cut(value) === '') return undefined;
      return cut(value) === QUEUE;
    case 'instruction':
      if (typeof value !== 'string' || cut(value) === '') return undefined;
      return LANGUAGES.includes(cut(value));
    case 'withCutter':
      return typeof value === 'boolean' ? true : undefined;
    case 'width':
    case 'height': {
      if (typeof value !== 'number' || (value | 0) === 0) return undefined;
      const mm = value | 0;
      // Negative sizes are refused by the resize, huge ones before it.
      assert.ok(mm < 0 || mm <= 100 || mm >= 2 ** 28, `pick values that are clearly good or bad: ${mm}`);
      return mm > 0 && mm <= 100;
    }
    case 'buffer': {
      if (!ArrayBuffer.isView(value)) return undefined;
      // A detached view reads as zero bytes.
      const bytes = value.byteLength ? Buffer.from(value.buffer, value.byteOffset, value.byteLength) : Buffer.alloc(0);
      return bytes.length >= IMAGE.length && bytes.subarray(0, IMAGE.length).equals(IMAGE);
    }
  }
  throw new Error(key);
}

// The answer as JSON can carry it: values as they are, strings marked, other
// types by name, exceptions by name and message.
const OUTCOME = `(f) => {
  try {
    const v = f();
    if (v === undefined) return 'undefined';
    if (v === null || typeof v === 'boolean' || typeof v === 'number') return v;
    return typeof v === 'string' ? 'string ' + v : 'type ' + typeof v;
  } catch (e) {
    return e instanceof Error ? 'threw ' + e.name + ': ' + e.message : 'threw value ' + String(e);
  }
}`;

// The job files the children logged; other processes may have their own.
const jobFiles = [];

// Runs the calls (JS source, one per case) in one child and returns the answers.
async function runBatch(cups, calls) {
  const body = `${PRELUDE}
    const outcome = ${OUTCOME};
    return [${calls.map((c) => `outcome(() => ${c})`).join(',\n')}];`;
  const r = await runInChild(body, { env: cups.env, timeoutMs: 120000 });
  jobFiles.push(...loggedJobFiles(r.stdout));
  assert.equal(r.signal, null, r.stderr);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stderr, '');
  assert.equal(r.answer.kind, 'value', JSON.stringify(r.answer));
  return { answers: r.answer.value, stdout: r.stdout };
}

const evaluate = new Function('IMAGE', 'require', `${PRELUDE.replace(/^const IMAGE = .*$/m, '')}
  return (src) => eval('(' + src + ')');`)(IMAGE, require);
const asOutcome = (v) => (v === undefined ? 'undefined' : v);

test('hostile input', async (t) => {
  const cups = await PrivateCups.start({ queues: [QUEUE, PENDING_QUEUE] });
  t.after(() => cups.stop());

  // [what, the call for a value, its answer, extra [call, answer] rows, whether a true answer is a job]
  const KEYS = ['device', 'instruction', 'withCutter', 'width', 'height', 'buffer'];
  const matrices = [
    ['checkPrinterConnection: every type as the name', (v) => `addon.checkPrinterConnection(${v})`,
      (v) => (typeof v === 'string' && cut(v) !== '' ? cut(v) === QUEUE : null),
      // No proxy trap ran; `new` gives an object. No argument and extra ones are async.test.js's.
      [['traps.length', 0], ['typeof new addon.checkPrinterConnection(QUEUE)', 'string object']], false],
    ...KEYS.map((key) => [`printTraceCode: every type as ${key}`, (v) => `addon.printTraceCode({ ...GOOD, ${JSON.stringify(key)}: ${v} })`,
      (v) => asOutcome(expectedFor(key, v)), [], true]),
    // Primitives are boxed and have no such properties; undefined and null cannot be.
    ['printTraceCode: every type as the options', (v) => `addon.printTraceCode(${v})`,
      (v) => (v == null ? 'threw TypeError: Cannot convert undefined or null to object' : 'undefined'), [], true],
  ];
  for (const [what, call, answer, extra, prints] of matrices) {
    await t.test(what, async () => {
      const before = cups.jobs(QUEUE).length;
      const rows = [...VALUES.map((v) => [v, call(v), answer(evaluate(v))]), ...extra.map(([c, a]) => [c, c, a])];
      const { answers } = await runBatch(cups, rows.map(([, c]) => c));
      const labelled = (list) => list.map((a, i) => `${rows[i][0].slice(0, 60)} -> ${a}`);
      assert.deepEqual(labelled(answers), labelled(rows.map(([, , a]) => a)));
      // Every true is one job on the queue, none elsewhere.
      const printed = prints ? answers.filter((a) => a === true).length : 0;
      assert.equal((await cups.waitForJobs(QUEUE, before + printed)).length, before + printed);
    });
  }

  // Options objects that fight back. Each row: the call, then its answer.
  const objectCases = [
    ['a frozen request', 'addon.printTraceCode(Object.freeze({ ...GOOD }))', true],
    ['inherited properties', 'addon.printTraceCode(Object.create(GOOD))', true],
    ['an array with the properties', 'addon.printTraceCode(Object.assign([], GOOD))', true],
    ['a transparent proxy', 'addon.printTraceCode(new Proxy({ ...GOOD }, spyHandler))', true],
    ['a proxy whose get trap throws', "addon.printTraceCode(new Proxy(GOOD, { get() { throw new RangeError('trap'); } }))", 'threw RangeError: trap'],
    ['a revoked proxy', '(() => { const p = Proxy.revocable({}, {}); p.revoke(); return addon.printTraceCode(p.proxy); })()', "threw TypeError: Cannot perform 'get' on a proxy that has been revoked"],
    ['a getter that throws a non-Error', 'addon.printTraceCode({ ...GOOD, get width() { throw 42; } })', 'threw value 42'],
    ['the device getter zeroes the width', 'addon.printTraceCode({ ...GOOD, get device() { this.width = 0; return QUEUE; } })', 'undefined'],
    ['the width getter deletes the buffer', 'addon.printTraceCode({ ...GOOD, get width() { delete this.buffer; return 2; } })', 'undefined'],
    ['the width getter detaches the buffer', '(() => { const ab = copyOf(IMAGE); const view = new Uint8Array(ab); return addon.printTraceCode({ ...GOOD, buffer: view, get width() { structuredClone(ab, { transfer: [ab] }); return 2; } }); })()', false],
    ['the height getter overwrites the image', '(() => { const img = Buffer.from(IMAGE); return addon.printTraceCode({ ...GOOD, buffer: img, get height() { img.fill(0); return 1; } }); })()', false],
    ['a getter prints a label of its own', 'addon.printTraceCode({ ...GOOD, get device() { return addon.printTraceCode(GOOD) === true ? QUEUE : "none"; } })', true],
    ['a getter checks the connection', 'addon.printTraceCode({ ...GOOD, get instruction() { return addon.checkPrinterConnection(QUEUE) ? "TSPL" : "PCL"; } })', true],
    ['called with new', 'typeof new addon.printTraceCode(GOOD)', 'string object'],
    ['called on another receiver', 'addon.printTraceCode.call(Symbol("this"), GOOD)', true],
    ['extra arguments', 'addon.printTraceCode(GOOD, undefined, null, Symbol("x"))', true],
  ];
  for (const key of KEYS) {
    objectCases.push([`the ${key} getter throws`, `addon.printTraceCode({ ...GOOD, get ${key}() { throw new SyntaxError(${JSON.stringify(key)}); } })`, `threw SyntaxError: ${key}`]);
  }

  await t.test('printTraceCode: options objects that fight back', async () => {
    const before = cups.jobs(QUEUE).length;
    const { answers } = await runBatch(cups, objectCases.map(([, call]) => call));
    const got = objectCases.map(([name], i) => `${name} -> ${answers[i]}`);
    assert.deepEqual(got, objectCases.map(([name, , answer]) => `${name} -> ${answer}`));
    // `new` discards the answer but still prints; the nested print is a job of its own.
    const printed = answers.filter((a) => a === true).length + 2;
    assert.equal((await cups.waitForJobs(QUEUE, before + printed)).length, before + printed);
  });

  await t.test('printTraceCode: an image that another thread rewrites while it is read', async () => {
    // The image is read in place; a worker scribbles over the shared bytes,
    // headers included, the whole time. Any answer but true or false, or a
    // crash, is a fault; the header is read once, so no size can grow under it.
    const before = cups.jobs(QUEUE).length;
    const { answers } = await runBatch(cups, [`(() => {
      const { Worker } = require('worker_threads');
      const sab = sabOf(IMAGE);
      const stop = new Int32Array(new SharedArrayBuffer(4));
      const worker = new Worker(\`
        const { workerData: { sab, stop } } = require('worker_threads');
        const bytes = new Uint8Array(sab);
        const header = bytes.slice(0, 54);
        let seed = 1;
        // Mostly pixels; now and then a header byte, put back soon after.
        for (let n = 1; Atomics.load(stop, 0) === 0; n++) {
          seed = (Math.imul(seed, 1103515245) + 12345) >>> 0;
          const at = seed % 65536 === 0 ? (seed >>> 8) % 54 : 54 + ((seed >>> 8) % (bytes.length - 54));
          bytes[at] = seed >>> 24;
          if (n % 4096 === 0) bytes.set(header);
        }\`, { eval: true, workerData: { sab, stop } });
      const seen = {};
      for (let i = 0; i < 200; i++) {
        const answer = String(addon.printTraceCode({ ...GOOD, buffer: Buffer.from(sab) }));
        seen[answer] = (seen[answer] || 0) + 1;
      }
      Atomics.store(stop, 0, 1);
      return JSON.stringify(seen);
    })()`]);
    const seen = JSON.parse(answers[0].replace(/^string /, ''));
    assert.deepEqual(Object.keys(seen).filter((a) => a !== 'true' && a !== 'false'), [], answers[0]);
    assert.equal((seen.true || 0) + (seen.false || 0), 200);
    t.diagnostic(`answers while rewritten: ${answers[0]}`);
    const printed = seen.true || 0;
    assert.equal((await cups.waitForJobs(QUEUE, before + printed, 10000 + 200 * printed)).length, before + printed);
  });

  await t.test('printTraceCodeAsync: buffers changed while the call is pending', async () => {
    // The image is read when the job gets to it, as it is then: a buffer taken
    // away or shrunk must read as what is left (nothing here), never beyond.
    // A 2 x 1 mm label reads this image in place, a 50 x 30 mm one from a
    // copy; both must behave alike.
    const cases = [
      ['a view at an odd offset', 'Buffer.concat([Buffer.alloc(7), BIG]).subarray(7)', '', true],
      ['a DataView', 'new DataView(copyOf(BIG))', '', true],
      ['transferred by structuredClone', 'new Uint8Array(copyOf(BIG))', 'structuredClone(b.buffer, { transfer: [b.buffer] })', false],
      ['transferred to a port', 'new Uint8Array(copyOf(BIG))', 'new MessageChannel().port1.postMessage(0, [b.buffer])', false],
      ['shrunk under a fixed view', 'new Uint8Array(resizable(BIG), 0, BIG.length)', 'b.buffer.resize(10)', false],
      ['shrunk under a tracking view', 'new Uint8Array(resizable(BIG))', 'b.buffer.resize(BIG.length >> 1)', false],
      ['grown under a tracking view', 'new Uint8Array(resizable(BIG))', 'b.buffer.resize(BIG.length + 64)', true],
    ];
    const sizes = [[2, 1], [50, 30]];
    const r = await runInChild(`${PRELUDE}
      GOOD.device = '${PENDING_QUEUE}';
      const { makeBmp } = require(${JSON.stringify(require.resolve('../../lib/bmp-writer'))});
      const BIG = makeBmp({ width: 64, height: 64, bpp: 24, pixel: (x, y) => ((x ^ y) & 4 ? [255, 255, 255] : [0, 0, 0]) });
      const resizable = (bytes) => { const ab = new ArrayBuffer(bytes.length, { maxByteLength: 2 * bytes.length }); new Uint8Array(ab).set(bytes); return ab; };
      const answers = [];
      for (const [width, height] of ${JSON.stringify(sizes)}) {
        ${cases.map(([, make, change]) => `answers.push(await (async () => { const b = ${make}; const p = addon.printTraceCodeAsync({ ...GOOD, width, height, buffer: b }); ${change}; return p; })());`).join('\n')}
      }
      const expected = ${JSON.stringify(sizes)}.map(([width, height]) => addon.renderTraceCode({ ...GOOD, width, height, buffer: BIG }).toString('base64'));
      return { answers, expected };`, { env: cups.env });
    jobFiles.push(...loggedJobFiles(r.stdout));
    assert.equal(r.answer.kind, 'value', r.stderr);
    const { answers, expected } = r.answer.value;
    const want = sizes.flatMap(() => cases.map(([what, , , ok]) => `${what} -> ${ok}`));
    assert.deepEqual(answers.map((a, i) => `${cases[i % cases.length][0]} -> ${a}`), want);
    // Each true is the label of the untouched image, in call order.
    const printed = sizes.flatMap((_, s) => cases.filter(([, , , ok]) => ok).map(() => expected[s]));
    const jobs = await cups.waitForJobs(PENDING_QUEUE, printed.length);
    assert.deepEqual(jobs.map((j) => j.data.toString('base64')), printed);
  });

  await t.test('no temporary job file is left behind', () => {
    assert.ok(jobFiles.length > 0);
    assert.deepEqual(jobFiles.filter((f) => fs.existsSync(f)), []);
  });
});
