// talrec.js: the recorder control from a web page, through the talrec browser extension
// (native messaging, no open port) or the `talrec serve` bridge.
//
//   import { connect } from "/talrec.js";
//   const rec = await connect({ token });   // from a click: the browser asks its permission then
//   rec.onRecorderStateNotify = (state) => console.log(state);
//   await rec.recStart((await rec.GetDataFolder()) + "/take.wav");
//
// connect() uses the extension when it is installed (its content script answers a probe) and
// the bridge otherwise; `connect({ transport: "native" | "bridge" })` chooses. Both give the
// same methods, events, errors and files, so a page written for one runs on the other.
//
// Each method of the control is an async function with its own name resolving to the
// control's result; an automation error rejects with a TalrecError carrying `hresult` and
// `description`. Events arrive as DOM events (`rec.addEventListener("VolumeStatus", e =>
// e.detail)`) and through the `on<Event>` properties, before the result of the call that raised
// them. Failures the control does not report (an input that does not open, a file that cannot
// be played, why a conversion failed) arrive as "debug" events with their text (`onDebug`). No
// dependencies; one control per connection. Over the bridge: one WebSocket per connection; the
// token travels in the WebSocket's subprotocol and in the Authorization header, never in an
// address the browser keeps; `fileUrl` gives an address with a ticket for one file, good for 60
// seconds. Over the extension: window messages to its content script on a channel of its own,
// files read in chunks; `fileUrl` gives a blob: address of the file read.

// The members, as the control's member table gives them (members.js is generated from it).
import { METHODS, PROPERTIES, EVENTS, State } from "./members.js";

// The state strings of RecorderStateNotify by name (State.RecordStart is "record-start").
export { State };

// The host's own notifications, by the event names the page sees.
const HOST_EVENTS = { "host.messageBox": "MessageBox", "host.debug": "debug" };

/** An automation error (or a protocol error) of a call, or why `connect` failed (`reason`). */
export class TalrecError extends Error {
  constructor(hresult, description, reason) {
    super(description);
    this.name = "TalrecError";
    this.hresult = hresult;
    this.description = description;
    if (reason !== undefined) this.reason = reason;
  }
}

// Why a connection could not be made, in words a page can show.
const REASONS = {
  "not-running":
    "The recorder is not running on this computer. Start it (talrec serve, or once: " +
    "systemctl --user enable --now talrec.socket) and try again.",
  blocked:
    "The browser does not let this page reach the recorder on this computer. Allow this site " +
    "to access apps and services on this device (the browser asks when you click to " +
    "connect), then try again.",
  "not-paired":
    "This page is not paired with the recorder, or its pairing was revoked. Pair it again.",
  "origin-not-allowed": "The recorder does not accept pages from this address.",
  busy: "The recorder has too many connections open. Close another page that uses it and try again.",
  "extension-missing":
    "The talrec extension is not installed or not enabled in this browser. Add it, or connect " +
    "through the talrec bridge, and try again.",
};

// The same reasons, where the extension is the way: what the user can do differs.
const NATIVE_REASONS = {
  ...REASONS,
  "not-running":
    "The recorder is not set up for this browser, or could not start. Install talrec (or run " +
    "talrec install-browser-host), then try again.",
  busy: "This page has too many recorder connections open. Close one and try again.",
};

function refusal(reason, reasons = REASONS) {
  return new TalrecError(-1, reasons[reason], reason);
}

function bearer(token) {
  return token ? { Authorization: "Bearer " + token } : {};
}

// The browser's loopback permission: "granted", "prompt", "denied", or "unknown" where the
// browser has none (it does not guard loopback requests then).
async function loopbackPermission() {
  for (const name of ["loopback-network", "local-network-access"]) {
    try {
      return (await navigator.permissions.query({ name })).state;
    } catch {
      // Not this name: an older browser, or none.
    }
  }
  return "unknown";
}

// Asks the bridge's /hello why a connection cannot be made; null when nothing stands in the way.
// A request the browser refused and one nobody answered fail alike, so the permission tells
// them apart: not granted, the browser blocked it.
async function obstacle(base, token) {
  let response;
  try {
    response = await fetch(new URL("/hello", base), { headers: bearer(token), cache: "no-store" });
  } catch {
    const permission = await loopbackPermission();
    return permission === "prompt" || permission === "denied" ? "blocked" : "not-running";
  }
  if (response.status === 503) return "busy";
  if (response.status === 403) return "origin-not-allowed";
  const hello = response.ok ? await response.json().catch(() => null) : null;
  if (hello?.talrec !== 1) return "not-running";  // something else listens there
  return hello.paired ? null : "not-paired";
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

// The bridge's way to a control: a WebSocket for the calls, HTTP with the token for the files.
class BridgeLink {
  #socket;
  #base;
  #token;

  constructor(socket, base, token) {
    this.#socket = socket;
    this.#base = base;
    this.#token = token;
  }

  get open() {
    return this.#socket.readyState === WebSocket.OPEN;
  }

  listen(receive, closed) {
    this.#socket.addEventListener("message", (e) => {
      try {
        receive(JSON.parse(e.data));
      } catch {
        // Not JSON: nothing to deliver.
      }
    });
    this.#socket.addEventListener("close", (e) => closed(e.code, e.reason));
  }

  send(message) {
    this.#socket.send(JSON.stringify(message));
  }

  close() {
    this.#socket.close(1000);
  }

  async listFiles() {
    return (await this.#fetch("/files", `listing failed`)).json();
  }

  async readFile(name) {
    return (await this.#fetch("/files/" + encodeURIComponent(name), `reading ${name} failed`)).blob();
  }

  async fileUrl(name, download) {
    const response = await this.#fetch("/tickets", `no address for ${name}`, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ name }),
    });
    const { ticket } = await response.json();
    const url = new URL("/files/" + encodeURIComponent(name), this.#base);
    url.searchParams.set("ticket", ticket);
    if (download) url.searchParams.set("download", "1");
    return url.href;
  }

  async #fetch(path, failure, init = {}) {
    const headers = { ...init.headers, ...bearer(this.#token) };
    const response = await fetch(new URL(path, this.#base), { ...init, headers, cache: "no-store" });
    if (!response.ok) throw new TalrecError(-1, `${failure}: ${response.status}`);
    return response;
  }
}

// Bytes of a file the host reads per call: its answers stay under native messaging's 1 MB.
const CHUNK = 512 * 1024;
const FILE_TYPES = { wav: "audio/wav", wma: "audio/x-ms-wma" };

// Whether a message event came from the extension's content script in this very window.
function fromExtension(event) {
  return event.source === window && event.origin === location.origin && event.data !== null &&
    typeof event.data === "object";
}

function post(message) {
  window.postMessage(message, location.origin);
}

// The extension's way to a control: window messages on a channel the content script made for
// this connection; the service worker holds the native port (one control), the files come
// through the host's methods in chunks.
class NativeLink {
  #channel;
  #open = true;
  #call;
  #listener = null;

  constructor(channel) {
    this.#channel = channel;
  }

  get open() {
    return this.#open;
  }

  // `call` is the Recorder's, for the host's file methods.
  listen(receive, closed, call) {
    this.#call = call;
    this.#listener = (event) => {
      if (!fromExtension(event) || event.data.channel !== this.#channel) return;
      if (event.data.talrec === "receive") {
        receive(event.data.message);
      } else if (event.data.talrec === "closed" && this.#open) {
        this.#open = false;
        window.removeEventListener("message", this.#listener);
        // As a WebSocket reports it: 1000 closed by the page, 1006 the host went away.
        closed(event.data.reason === "closed" ? 1000 : 1006, String(event.data.reason));
      }
    };
    window.addEventListener("message", this.#listener);
  }

  send(message) {
    post({ talrec: "send", channel: this.#channel, message });
  }

  close() {
    if (this.#open) post({ talrec: "close", channel: this.#channel });
  }

  listFiles() {
    return this.#call("host.listFiles");
  }

  async readFile(name) {
    const parts = [];
    for (let offset = 0, size = 1; offset < size; ) {
      const chunk = await this.#call("host.readFile", name, offset, CHUNK);
      const text = atob(chunk.data);
      if (text.length === 0) break;  // the file shrank while read
      const bytes = new Uint8Array(text.length);
      for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
      parts.push(bytes);
      offset += bytes.length;
      size = chunk.size;
    }
    const type = FILE_TYPES[/\.([^.]+)$/.exec(name)?.[1].toLowerCase()] ?? "";
    return new Blob(parts, { type });
  }

  async fileUrl(name) {
    return URL.createObjectURL(await this.readFile(name));
  }
}

export class Recorder extends EventTarget {
  #link;
  #nextId = 1;
  #pending = new Map();

  constructor(link) {
    super();
    this.#link = link;
    for (const name of EVENTS) this["on" + name] = null;
    this.onMessageBox = null;
    this.onDebug = null;
    this.onClose = null;
    link.listen(
      (message) => this.#receive(message),
      (code, reason) => this.#closed(code, reason),
      (method, ...params) => this.call(method, ...params),
    );
  }

  /** Calls a member by name ("#N" for dispatch id N) with its arguments. */
  call(method, ...params) {
    return new Promise((resolve, reject) => {
      if (!this.#link.open) {
        reject(new TalrecError(-1, "the connection is closed"));
        return;
      }
      const id = this.#nextId++;
      this.#pending.set(id, { resolve, reject });
      this.#link.send({ jsonrpc: "2.0", id, method, params });
    });
  }

  /** The data folder's files: [{ name, size, modified, duration }]. */
  async listFiles() {
    return this.#link.listFiles();
  }

  /** A file of the data folder, as a Blob. */
  async readFile(name) {
    return this.#link.readFile(name);
  }

  /**
   * An address of a file in the data folder for <audio src> or a download link. Over the
   * bridge it carries a ticket that opens this one file for 60 seconds, and `download: true`
   * makes the browser save it; over the extension it is a blob: address of the file's bytes
   * (give the link a `download` attribute to save it).
   */
  async fileUrl(name, { download = false } = {}) {
    return this.#link.fileUrl(name, download);
  }

  /** Closes the connection; its control is destroyed. */
  close() {
    this.#link.close();
  }

  #receive(message) {
    if (message === null || typeof message !== "object") return;
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

// Whether the extension's content script answers in this window, asked once per page.
let extensionPresent = null;
function probeExtension(timeout = 300) {
  // The content script serves http(s) frames; an opaque origin ("null") has none.
  if (typeof window === "undefined" || !/^https?:\/\//.test(location.origin)) {
    return Promise.resolve(false);
  }
  extensionPresent ??= new Promise((resolve) => {
    const answer = (event) => {
      if (!fromExtension(event) || event.data.talrec !== "present") return;
      finish(true);
    };
    const finish = (present) => {
      clearTimeout(timer);
      window.removeEventListener("message", answer);
      resolve(present);
    };
    const timer = setTimeout(() => finish(false), timeout);
    window.addEventListener("message", answer);
    post({ talrec: "probe" });
  });
  return extensionPresent;
}

// The extension's refusals, as the reasons a page knows.
const NATIVE_REFUSALS = {
  "not-paired": "not-paired",
  "bad-request": "origin-not-allowed",
  busy: "busy",
};

async function connectNative() {
  if (!(await probeExtension())) throw refusal("extension-missing", NATIVE_REASONS);
  const request = crypto.randomUUID();
  const answer = await new Promise((resolve) => {
    const listener = (event) => {
      if (!fromExtension(event) || event.data.request !== request) return;
      if (event.data.talrec !== "opened" && event.data.talrec !== "refused") return;
      window.removeEventListener("message", listener);
      resolve(event.data);
    };
    window.addEventListener("message", listener);
    post({ talrec: "open", request });
  });
  if (answer.talrec === "refused") {
    throw refusal(NATIVE_REFUSALS[answer.reason] ?? "not-running", NATIVE_REASONS);
  }
  return new Recorder(new NativeLink(answer.channel));
}

/**
 * Opens a connection: one control, through the extension when it is installed and the bridge
 * otherwise; `transport: "native"` or `"bridge"` chooses. Over the bridge `token` defaults to
 * the page's own `#token=` and `url` to the bridge that served this module; call it from a user
 * gesture (a click): that is when the browser asks its permission to reach the recorder. Over
 * the extension, an origin the user has not allowed gets the extension's consent page first.
 * Rejects with a TalrecError whose `reason` is "not-running", "blocked", "not-paired",
 * "origin-not-allowed", "busy" or "extension-missing", and whose message is a sentence a page
 * can show.
 */
export async function connect(options = {}) {
  const { transport } = options;
  if (transport === "native") return connectNative();
  if (transport === "bridge") return connectBridge(options);
  if (transport !== undefined) throw new TypeError(`unknown transport ${transport}`);
  return (await probeExtension()) ? connectNative() : connectBridge(options);
}

async function connectBridge({ token = tokenFromPage(), url }) {
  const base = url ? new URL(url) : defaultBase();
  if (base.protocol === "ws:" || base.protocol === "wss:") {
    base.protocol = base.protocol === "wss:" ? "https:" : "http:";
  }
  const rpc = new URL("/rpc", base);
  rpc.protocol = base.protocol === "https:" ? "wss:" : "ws:";
  const before = await obstacle(base, token);
  if (before) throw refusal(before);
  const socket = await new Promise((resolve) => {
    const protocols = token ? ["talrec", "talrec.token." + token] : ["talrec"];
    const socket = new WebSocket(rpc, protocols);
    const failed = () => resolve(null);
    socket.addEventListener("error", failed, { once: true });
    socket.addEventListener("close", failed, { once: true });
    socket.addEventListener(
      "open",
      () => {
        socket.removeEventListener("error", failed);
        socket.removeEventListener("close", failed);
        resolve(socket);
      },
      { once: true },
    );
  });
  // Refused after /hello let it through: the pairing went meanwhile, or every place is taken.
  if (!socket) throw refusal((await obstacle(base, token)) ?? "busy");
  return new Recorder(new BridgeLink(socket, base, token));
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
