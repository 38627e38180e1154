// The server's calls. The page has one engine of its own, opened by its first call, kept
// by a call every few seconds and closed when the page goes; one the server closed while
// the page was away is opened anew.

let opening = null;  // the promise of this page's session
let current = null;  // the session, once open

async function post(path, body, options = {}) {
  const response = await fetch(path, {
    method: "POST",
    headers: {"Content-Type": "application/json"},
    body: JSON.stringify(body),
    ...options,
  });
  const reply = await response.json().catch(() => ({}));
  if (!response.ok) {
    const error = new Error(reply.error || `${response.status} ${response.statusText}`);
    error.status = response.status;
    throw error;
  }
  return reply;
}

function session() {
  opening ??= post("/api/open", {}).then(reply => (current = reply.session)).catch(error => {
    opening = null;
    throw error;
  });
  return opening;
}

// A call of this page's engine.
export async function call(path, body = {}) {
  const key = await session();
  try {
    return await post(path, {...body, session: key});
  } catch (error) {
    if (error.status !== 410) throw error;
    if (current === key) opening = current = null;
    return post(path, {...body, session: await session()});
  }
}

// A call that needs no engine (reading and writing game files).
export function callPlain(path, body) {
  return post(path, body);
}

export function keepSession(seconds) {
  setInterval(() => current && call("/api/ping").catch(() => {}), seconds * 1000);
  addEventListener("pagehide", () => {
    if (!current) return;
    // keepalive: the call goes out even as the page closes.
    post("/api/close", {session: current}, {keepalive: true}).catch(() => {});
    opening = current = null;
  });
}
