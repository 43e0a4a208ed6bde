// A portal page of the agent: detects it, long-polls its events and subscribes to them over a WebSocket,
// and shows every event as it comes. Plain browser JavaScript, no build step. Its state is also kept in
// `window.portal` so that scripts (and the browser test) can look at it.
"use strict";

const params = new URLSearchParams(location.search);
const agent = `127.0.0.1:${params.get("port") || "54630"}`;
const portal = (window.portal = {
  detect: null,     // the detect reply, or {error}
  poll: "idle",     // "polling", "failed: …"
  socket: "idle",   // "connecting", "open", "closed <code>", "error"
  events: [],       // {channel, id, traceId, content}
});

function traceId() {
  const bytes = crypto.getRandomValues(new Uint8Array(4));
  return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
}

function request(data) {
  return { type: "web", lang: "en-US", guid: "portal-example", addr: location.origin, token: "portal",
           sdpTraceId: traceId(), data };
}

function show(id, text, kind) {
  const element = document.getElementById(id);
  element.textContent = text;
  element.className = kind;
}

// Events carry no id of their own: a reply names the next id, and stored events are numbered in a row.
// The WebSocket's "ready" event is the agent's greeting, not a stored event.
function record(channel, reply, trace) {
  const events = (reply.data && reply.data.events) || [];
  let id = reply.data.id - 1;
  const rows = [];
  for (let i = events.length - 1; i >= 0; --i) {
    const event = events[i];
    const greeting = channel === "websocket" && event.event === "ready" && event.data &&
                     event.data.channel === "websocket";
    rows.unshift({ channel, id: greeting ? "ready" : id--, traceId: trace, content: JSON.stringify(event) });
  }
  const body = document.getElementById("events");
  for (const row of rows) {
    portal.events.push(row);
    const tr = document.createElement("tr");
    for (const key of ["channel", "id", "traceId", "content"]) {
      const td = document.createElement("td");
      td.textContent = row[key];
      if (key === "content") td.className = "content";
      tr.appendChild(td);
    }
    body.prepend(tr);
  }
}

// JSON with the trace id also as a header: the agent grants both to authorised origins.
async function post(path, body) {
  const response = await fetch(`https://${agent}${path}`, {
    method: "POST",
    headers: { "Content-Type": "application/json", "x-sdp-traceid": body.sdpTraceId },
    body: JSON.stringify(body),
  });
  const text = await response.text();
  if (!response.ok) throw new Error(`HTTP ${response.status} ${text}`);
  return JSON.parse(text);
}

async function detect() {
  try {
    portal.detect = await post("/v1/detect", request(undefined));
    show("detect", `${portal.detect.message} (code ${portal.detect.code})`, "ok");
    return true;
  } catch (error) {
    portal.detect = { error: String(error) };
    show("detect", `failed: ${error}`, "bad");
    return false;
  }
}

async function longPoll() {
  let fromId = 1;
  portal.poll = "polling";
  show("poll", "polling", "ok");
  for (;;) {
    const body = request({ fromId, timeout: 10000 });
    try {
      const reply = await post("/v1/service/events", body);
      if (reply.data.events) record("long poll", reply, body.sdpTraceId);
      if (reply.data.id > 0) fromId = reply.data.id;
    } catch (error) {
      portal.poll = `failed: ${error}`;
      show("poll", portal.poll, "bad");
      await new Promise((resolve) => setTimeout(resolve, 2000));
      portal.poll = "polling";
      show("poll", "polling", "ok");
    }
  }
}

function subscribe() {
  portal.socket = "connecting";
  show("socket", "connecting", "wait");
  const socket = new WebSocket(`wss://${agent}/`);
  const trace = traceId();
  socket.onopen = () => {
    portal.socket = "open";
    show("socket", "open", "ok");
    socket.send(JSON.stringify({ mode: "request", type: "subscribe", path: "/v1/service/events",
                                 sdpTraceId: trace, from: "web", data: { fromId: 0, pid: 0 } }));
  };
  socket.onmessage = (message) => {
    const notification = JSON.parse(message.data);
    if (notification.type === "notify") record("websocket", notification, notification.sdpTraceId);
  };
  socket.onerror = () => {
    portal.socket = "error";
    show("socket", "refused or unreachable", "bad");
  };
  socket.onclose = (event) => {
    if (portal.socket !== "error") {
      portal.socket = `closed ${event.code}`;
      show("socket", portal.socket, "bad");
    }
  };
}

document.getElementById("agent").textContent = `https://${agent}`;
detect().then((found) => {
  if (found) longPoll();
  subscribe();
});
