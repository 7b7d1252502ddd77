// A stand-in for the bridge: a WebSocket server on 127.0.0.1 that records what the client sends
// and answers with whatever the test's handler returns.
import { WebSocketServer } from 'ws';

export async function startFakeBridge({ handler = () => undefined, refuse = false } = {}) {
  const received = [];
  const sockets = [];
  const server = new WebSocketServer({
    host: '127.0.0.1',
    port: 0,
    verifyClient: (_info, done) => (refuse ? done(false, 403, 'Forbidden') : done(true)),
  });
  await new Promise((resolve) => server.once('listening', resolve));
  server.on('connection', (socket) => {
    sockets.push(socket);
    socket.on('message', (data) => {
      const text = data.toString();
      received.push(text);
      const reply = handler(JSON.parse(text), socket, text);
      if (reply !== undefined) socket.send(typeof reply === 'string' ? reply : JSON.stringify(reply));
    });
  });
  return {
    port: server.address().port,
    received,
    sockets,
    // Resolves once `count` messages have arrived.
    async waitFor(count) {
      while (received.length < count) await new Promise((r) => setTimeout(r, 5));
    },
    close: () => new Promise((resolve) => {
      for (const s of sockets) s.terminate();
      server.close(resolve);
    }),
  };
}

// Answers every request with `result(request)`, keeping batches as batches.
export function answering(result) {
  const one = (request) => ({ jsonrpc: '2.0', id: request.id, result: result(request) });
  return (message) => (Array.isArray(message) ? message.map(one) : one(message));
}
