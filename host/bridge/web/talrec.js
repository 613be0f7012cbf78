// talrec.js: the recorder control from a web page, through the `talrec serve` bridge.
//
//   import { connect } from "/talrec.js";
//   const rec = await connect({ token });
//   rec.onRecorderStateNotify = (state) => console.log(state);
//   await rec.recStart((await rec.GetDataFolder()) + "/take.wav");
//
// Each method of the control is an async function with its own name resolving to the
// control's result; an automation error rejects with a TalrecError carrying `hresult` and
// `description`. Events arrive as DOM events (`rec.addEventListener("VolumeStatus", e =>
// e.detail)`) and through the `on<Event>` properties, before the result of the call that raised
// them. Failures the control does not report (an input that does not open, a file that cannot
// be played, why a conversion failed) arrive as "debug" events with their text (`onDebug`). No
// dependencies; one WebSocket per connection, one control per WebSocket.

// The members, as the control's member table gives them (members.js is generated from it).
import { METHODS, PROPERTIES, EVENTS } from "./members.js";

// The host's own notifications, by the event names the page sees.
const HOST_EVENTS = { "host.messageBox": "MessageBox", "host.debug": "debug" };

/** An automation error (or a protocol error) of a call. */
export class TalrecError extends Error {
  constructor(hresult, description) {
    super(description);
    this.name = "TalrecError";
    this.hresult = hresult;
    this.description = description;
  }
}

function defaultBase() {
  try {
    return new URL("/", import.meta.url);
  } catch {
    return new URL("/", location.href);
  }
}

function tokenFromPage() {
  if (typeof location === "undefined") return "";
  const match = /(?:^#|&)token=([0-9a-fA-F]+)/.exec(location.hash);
  return match ? match[1] : "";
}

export class Recorder extends EventTarget {
  #socket;
  #base;
  #token;
  #nextId = 1;
  #pending = new Map();

  constructor(socket, base, token) {
    super();
    this.#socket = socket;
    this.#base = base;
    this.#token = token;
    for (const name of EVENTS) this["on" + name] = null;
    this.onMessageBox = null;
    this.onDebug = null;
    this.onClose = null;
    socket.addEventListener("message", (e) => this.#receive(e.data));
    socket.addEventListener("close", (e) => this.#closed(e.code, e.reason));
  }

  /** Calls a member by name ("#N" for dispatch id N) with its arguments. */
  call(method, ...params) {
    return new Promise((resolve, reject) => {
      if (this.#socket.readyState !== WebSocket.OPEN) {
        reject(new TalrecError(-1, "the connection is closed"));
        return;
      }
      const id = this.#nextId++;
      this.#pending.set(id, { resolve, reject });
      this.#socket.send(JSON.stringify({ jsonrpc: "2.0", id, method, params }));
    });
  }

  /** The data folder's files: [{ name, size, modified, duration }]. */
  async listFiles() {
    const response = await fetch(this.#url("/files"));
    if (!response.ok) throw new TalrecError(-1, `listing failed: ${response.status}`);
    return response.json();
  }

  /** The address of a file in the data folder (for fetch, <audio>, a download link). */
  fileUrl(name) {
    return this.#url("/files/" + encodeURIComponent(name)).href;
  }

  /** Closes the connection; the bridge destroys its control. */
  close() {
    this.#socket.close(1000);
  }

  #url(path) {
    const url = new URL(path, this.#base);
    url.searchParams.set("token", this.#token);
    return url;
  }

  #receive(text) {
    let message;
    try {
      message = JSON.parse(text);
    } catch {
      return;
    }
    if (message.id === undefined || message.id === null) {
      if (message.method === undefined) return;
      this.#event(message.method, Array.isArray(message.params) ? message.params : []);
      return;
    }
    const call = this.#pending.get(message.id);
    if (!call) return;
    this.#pending.delete(message.id);
    if (message.error) {
      call.reject(new TalrecError(message.error.code, message.error.message));
    } else {
      call.resolve(message.result);
    }
  }

  #event(method, params) {
    const name = HOST_EVENTS[method] ?? method;
    const detail = params.length === 0 ? undefined : params[0];
    this.dispatchEvent(new CustomEvent(name, { detail }));
    const handler = this["on" + name[0].toUpperCase() + name.slice(1)];
    if (typeof handler === "function") handler.call(this, detail);
  }

  #closed(code, reason) {
    for (const call of this.#pending.values()) {
      call.reject(new TalrecError(-1, `the connection closed (${code})`));
    }
    this.#pending.clear();
    const detail = { code, reason };
    this.dispatchEvent(new CustomEvent("close", { detail }));
    if (typeof this.onClose === "function") this.onClose.call(this, detail);
  }
}

function define(name, value) {
  Object.defineProperty(Recorder.prototype, name, { value, writable: true, configurable: true });
}
for (const [name, callAs] of METHODS) {
  define(name, function (...params) {
    return this.call(callAs, ...params);
  });
}
for (const name of PROPERTIES) {
  define("get" + name, function () {
    return this.call(name);
  });
  define("set" + name, function (value) {
    return this.call(name, value);
  });
}

/**
 * Opens a connection (one control) to the bridge. `token` defaults to the page's own
 * `#token=`, `url` to the bridge that served this module.
 */
export function connect({ token = tokenFromPage(), url } = {}) {
  const base = url ? new URL(url) : defaultBase();
  const rpc = new URL("/rpc", base);
  rpc.protocol = rpc.protocol === "https:" || rpc.protocol === "wss:" ? "wss:" : "ws:";
  rpc.searchParams.set("token", token);
  const httpBase = new URL(base);
  httpBase.protocol = httpBase.protocol === "wss:" ? "https:" : httpBase.protocol === "ws:" ? "http:" : httpBase.protocol;
  return new Promise((resolve, reject) => {
    const socket = new WebSocket(rpc);
    const failed = () => reject(new TalrecError(-1, "cannot connect to the bridge at " + rpc.host));
    socket.addEventListener("error", failed, { once: true });
    socket.addEventListener("close", failed, { once: true });
    socket.addEventListener(
      "open",
      () => {
        socket.removeEventListener("error", failed);
        socket.removeEventListener("close", failed);
        resolve(new Recorder(socket, httpBase, token));
      },
      { once: true },
    );
  });
}

// Pairing: an app of another origin asks the user, once, for a token of its own.

function bridgePage(url, path) {
  const page = new URL(path, url ? new URL(url) : defaultBase());
  if (page.protocol === "ws:" || page.protocol === "wss:") {
    page.protocol = page.protocol === "wss:" ? "https:" : "http:";
  }
  return page;
}

function denied(text) {
  return Object.assign(new TalrecError(-1, text, "denied"), { reason: "denied" });
}

/**
 * Asks the user to pair this page's origin with the bridge: opens the bridge's pairing page
 * in a popup (call it from a click, so that the browser lets the popup open) and resolves with
 * the origin's token once the user clicks "Allow". The app keeps the token itself (e.g. in
 * localStorage) and passes it to connect(). Rejects with a TalrecError whose reason is
 * "denied" when the user clicks "Deny", closes the popup, or does not answer within `timeout`
 * milliseconds.
 */
export function pair({ url, timeout = 120000 } = {}) {
  const page = bridgePage(url, "/pair");
  page.searchParams.set("origin", location.origin);
  return new Promise((resolve, reject) => {
    const popup = window.open(page.href, "talrec-pair", "popup,width=560,height=520");
    if (!popup) {
      reject(denied("the pairing window did not open: the browser blocked the popup"));
      return;
    }
    let closedSeen = false;
    const finish = (settle, value) => {
      clearInterval(watch);
      clearTimeout(timer);
      window.removeEventListener("message", receive);
      settle(value);
    };
    // Only the popup's own message, from the bridge's origin.
    const receive = (event) => {
      if (event.origin !== page.origin || event.source !== popup) return;
      if (event.data?.talrec !== "pair") return;
      if (typeof event.data.token === "string" && event.data.token) {
        finish(resolve, event.data.token);
      } else {
        finish(reject, denied("the user denied the pairing"));
      }
    };
    // A popup closed by the user; seen twice, so that a message posted as it closed comes first.
    const watch = setInterval(() => {
      if (!popup.closed) return;
      if (closedSeen) finish(reject, denied("the pairing window was closed"));
      closedSeen = true;
    }, 250);
    const timer = setTimeout(() => {
      popup.close();
      finish(reject, denied("the pairing was not answered in time"));
    }, timeout);
    window.addEventListener("message", receive);
  });
}
