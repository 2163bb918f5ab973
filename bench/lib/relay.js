'use strict';
// A TCP forwarder on 127.0.0.1 that holds each chunk for `delayMs` before
// passing it on, in both directions: a remote print server's round trip
// (2 x delayMs) in front of a local scheduler. Chunks keep their order.
const net = require('net');

function startRelay(targetPort, delayMs) {
  const sockets = new Set();
  const server = net.createServer((client) => {
    const upstream = net.connect(targetPort, '127.0.0.1');
    for (const s of [client, upstream]) {
      sockets.add(s);
      s.on('close', () => sockets.delete(s));
      s.on('error', () => {});
    }
    const pipe = (from, to) => {
      from.on('data', (chunk) => setTimeout(() => to.destroyed || to.write(chunk), delayMs));
      from.on('end', () => setTimeout(() => to.end(), delayMs));
      from.on('close', () => setTimeout(() => to.destroy(), delayMs));
    };
    pipe(client, upstream);
    pipe(upstream, client);
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () =>
      resolve({
        port: server.address().port,
        close() {
          for (const s of sockets) s.destroy();
          server.close();
        },
      }),
    );
  });
}

module.exports = { startRelay };
