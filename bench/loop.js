'use strict';
// One preparation in a loop, for a profiler:
//   perf record -o /tmp/prepare.data node bench/loop.js 1000 660 480 320 20000
//   perf report -i /tmp/prepare.data --no-children --stdio
const { loadBench, makeBmp } = require('./lib/common');

const [sw, sh, tw, th, n] = process.argv.slice(2).map(Number);
const bench = loadBench();
bench.muteLog(true);
const source = bench.source(makeBmp(sw, sh, 24));

(async () => {
  const t0 = process.hrtime.bigint();
  for (let i = 0; i < n; i++) {
    bench.prepare(source, tw, th);
    // Lets spent images be freed, as they are between two prints.
    await new Promise(setImmediate);
  }
  console.log(`${sw}x${sh} -> ${tw}x${th}: ${(Number(process.hrtime.bigint() - t0) / 1e6 / n).toFixed(4)} ms per image`);
})();
