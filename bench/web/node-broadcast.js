// The fan-out peer of `make bench-web`: a WebSocket broadcast server over TLS with Node's built-in
// modules only (the framing is written here). A client's {"type":"subscribe"} is answered with a ready
// notification on that socket; {"type":"push","content":...} sends one notification to every socket.
//
//     node node-broadcast.js PORT PEM_FILE      (PEM: certificate and key, as the agent's)
'use strict';
const https = require('https');
const crypto = require('crypto');
const fs = require('fs');

const [port, pemFile] = process.argv.slice(2);
const pem = fs.readFileSync(pemFile);
const sockets = new Set();
let seq = 0;

function frame(text) {
    const payload = Buffer.from(text);
    const n = payload.length;
    const head = n < 126 ? Buffer.from([0x81, n])
        : n < 65536 ? Buffer.from([0x81, 126, n >> 8, n & 0xff])
        : Buffer.concat([Buffer.from([0x81, 127]), (() => { const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(n)); return b; })()]);
    return Buffer.concat([head, payload]);
}

function notification(content) {
    return `{"mode":"event","type":"notify","path":"/v1/service/events","sdpTraceId":"0000beef",` +
        `"from":"node","data":{"events":[${content}],"id":${++seq}},"seq":${seq},"version":1}`;
}

// Yields each complete client message (masked frames, no fragmentation needed by our client).
function* messages(state) {
    for (;;) {
        const b = state.buffer;
        if (b.length < 2) return;
        let n = b[1] & 0x7f, at = 2;
        if (n === 126) { if (b.length < 4) return; n = b.readUInt16BE(2); at = 4; }
        else if (n === 127) { if (b.length < 10) return; n = Number(b.readBigUInt64BE(2)); at = 10; }
        const masked = (b[1] & 0x80) !== 0;
        const start = at + (masked ? 4 : 0);
        if (b.length < start + n) return;
        const payload = Buffer.from(b.subarray(start, start + n));
        if (masked) for (let i = 0; i < n; ++i) payload[i] ^= b[at + (i & 3)];
        state.buffer = b.subarray(start + n);
        yield { opcode: b[0] & 0x0f, payload };
    }
}

const server = https.createServer({ cert: pem, key: pem });
server.on('upgrade', (request, socket) => {
    const accept = crypto.createHash('sha1')
        .update(request.headers['sec-websocket-key'] + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
    socket.write('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
        `Sec-WebSocket-Accept: ${accept}\r\n\r\n`);
    socket.setNoDelay(true);
    sockets.add(socket);
    const state = { buffer: Buffer.alloc(0) };
    socket.on('data', (chunk) => {
        state.buffer = Buffer.concat([state.buffer, chunk]);
        for (const { opcode, payload } of messages(state)) {
            if (opcode === 8) { socket.end(); return; }
            if (opcode !== 1) continue;
            const message = JSON.parse(payload.toString());
            if (message.type === 'subscribe') {
                socket.write(frame(notification('{"event":"ready"}')));
            } else if (message.type === 'push') {
                const text = notification(JSON.stringify(message.content));
                for (const s of sockets) s.write(frame(text));
            }
        }
    });
    const forget = () => sockets.delete(socket);
    socket.on('close', forget);
    socket.on('error', forget);
});
server.listen(Number(port), '127.0.0.1', () => console.log('listening'));
