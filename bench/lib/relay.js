'use strict';
// A TCP forwarder on 127.0.0.1 that holds each chunk for `delayMs` before
// passing it on, in both directions: a remote print server's round trip
// (2 x delayMs) in front of a local scheduler. Chunks keep their order.
// `accepted` counts the connections clients have made through it;
// `requests` holds the head of each HTTP request clients sent. With `trace`,
// `chunks` holds each chunk's direction and when it came in and went on
// (process.hrtime.bigint(), a clock every process on the machine shares), so
// that a call's time can be split between the wire and either end.
const net = require('net');

function startRelay(targetPort, delayMs, { trace = false } = {}) {
  const sockets = new Set();
  const relay = { port: 0, accepted: 0, requests: [], chunks: [] };
  const server = net.createServer((client) => {
    relay.accepted++;
    const upstream = net.connect(targetPort, '127.0.0.1');
    for (const s of [client, upstream]) {
      // Each chunk goes on when it is due, as a router passes it on.
      s.setNoDelay(true);
      sockets.add(s);
      s.on('close', () => sockets.delete(s));
      s.on('error', () => {});
    }
    const pipe = (from, to, up) => {
      from.on('data', (chunk) => {
        const seen = trace ? { up, arrived: process.hrtime.bigint(), passed: null } : null;
        if (seen) relay.chunks.push(seen);
        setTimeout(() => {
          if (!to.destroyed) to.write(chunk);
          if (seen) seen.passed = process.hrtime.bigint();
        }, delayMs);
      });
      from.on('end', () => setTimeout(() => to.end(), delayMs));
      from.on('close', () => setTimeout(() => to.destroy(), delayMs));
    };
    // Request heads, found in the client's bytes (documents here hold no "POST /").
    let seen = '';
    client.on('data', (chunk) => {
      seen += chunk.toString('latin1');
      for (let at; (at = seen.indexOf('POST /')) >= 0 && seen.indexOf('\r\n\r\n', at) >= 0; ) {
        const end = seen.indexOf('\r\n\r\n', at);
        relay.requests.push(seen.slice(at, end));
        seen = seen.slice(end);
      }
      if (seen.indexOf('POST /') < 0) seen = seen.slice(-8);
    });
    pipe(client, upstream, true);
    pipe(upstream, client, false);
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      relay.port = server.address().port;
      relay.close = () => {
        for (const s of sockets) s.destroy();
        server.close();
      };
      resolve(relay);
    });
  });
}

module.exports = { startRelay };
