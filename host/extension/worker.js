// talrec's service worker: one native-messaging port to the recorder (`talrec native-host`, one
// control per port) for each connection a page's frame opens through the content script, the
// replies and events relayed back to that frame's port only. The host learns the page's origin
// from here, as the browser names it (sender.origin), never from the page. An origin the user
// has not allowed gets the extension's consent page; while any page records, the toolbar icon
// shows a red "REC" badge naming the recording origins.

import { State } from "./states.js";

const HOST = "com.talrec.recorder";
const CONSENT = chrome.runtime.getURL("consent.html");
// The states of RecorderStateNotify that start and end a recording's time at the microphone.
const RECORDING = new Set([State.RecordStart, State.RecordResume]);
const NOT_RECORDING = new Set([State.RecordPause, State.RecordStop]);

const isWebOrigin = (origin) =>
  typeof origin === "string" && /^https?:\/\/[^/?#\s]+$/.test(origin);
const isPlain = (value) => value !== null && typeof value === "object" && !Array.isArray(value);

// --- The badge -------------------------------------------------------------------------------

// Page port -> the origin that records through it.
const recording = new Map();

function showBadge() {
  const origins = [...new Set(recording.values())];
  chrome.action.setBadgeBackgroundColor({ color: "#c81e1e" });
  chrome.action.setBadgeText({ text: origins.length ? "REC" : "" });
  chrome.action.setTitle({
    title: origins.length ? `talrec records: ${origins.join(", ")}` : "talrec: not recording",
  });
}

function noteState(page, origin, message) {
  if (message.method !== "RecorderStateNotify" || !Array.isArray(message.params)) return;
  const [state] = message.params;
  if (RECORDING.has(state)) recording.set(page, origin);
  else if (NOT_RECORDING.has(state)) recording.delete(page);
  else return;
  showBadge();
}

// --- The native host -------------------------------------------------------------------------

// Opens a fresh native port, sends `first` and resolves with the port and the host's first
// answer. Messages after the first go to `then` from the moment they arrive, none lost.
function ask(first, then = () => {}) {
  return new Promise((resolve) => {
    const native = chrome.runtime.connectNative(HOST);
    let answered = false;
    native.onMessage.addListener((message) => {
      if (answered) return then(message);
      answered = true;
      resolve({ native, answer: isPlain(message) ? message : {} });
    });
    native.onDisconnect.addListener(() => {
      if (answered) return;
      answered = true;
      // "Specified native messaging host not found." and the like: the host is not installed.
      const text = chrome.runtime.lastError?.message ?? "";
      const reason = /not found|forbidden/i.test(text) ? "not-installed" : "unavailable";
      resolve({ native: null, answer: { talrec: "refused", reason, message: text } });
    });
    native.postMessage(first);
  });
}

// --- Consent ---------------------------------------------------------------------------------

// Origin -> { tabId, waiting: [resolve] }: one consent page per origin at a time.
const consents = new Map();

// Origins the user denied in this browser session: asked again after a restart, or paired from
// a terminal (`talrec pair --allow`), not by a page that keeps asking.
async function wasDenied(origin) {
  const { denied = [] } = await chrome.storage.session.get("denied");
  return denied.includes(origin);
}

async function rememberDenied(origin) {
  const { denied = [] } = await chrome.storage.session.get("denied");
  if (!denied.includes(origin)) await chrome.storage.session.set({ denied: [...denied, origin] });
}

// Asks the user about `origin` on the consent page; resolves true once the host has recorded
// the user's "Allow", false for "Deny" or a consent page closed unanswered.
async function askUser(origin) {
  if (await wasDenied(origin)) return false;
  return new Promise((resolve) => {
    const pending = consents.get(origin);
    if (pending) {
      pending.waiting.push(resolve);
      return;
    }
    const entry = { tabId: -1, waiting: [resolve] };
    consents.set(origin, entry);
    const url = `${CONSENT}?origin=${encodeURIComponent(origin)}`;
    chrome.windows.create({ url, type: "popup", width: 560, height: 520 }, (window) => {
      const tab = window?.tabs?.[0];
      if (tab === undefined) finishConsent(origin, false);
      else entry.tabId = tab.id;
    });
  });
}

function finishConsent(origin, allowed) {
  const entry = consents.get(origin);
  if (!entry) return;
  consents.delete(origin);
  for (const resolve of entry.waiting) resolve(allowed);
}

// The consent page's answer: only from the extension's own consent page, in the tab opened for
// that origin.
chrome.runtime.onMessage.addListener((message, sender) => {
  if (sender.id !== chrome.runtime.id || !isPlain(message) || message.talrec !== "consent") return;
  let page;
  try {
    page = new URL(sender.url);
  } catch {
    return;
  }
  if (page.origin + page.pathname !== CONSENT || page.searchParams.get("origin") !== message.origin) {
    return;
  }
  const entry = consents.get(message.origin);
  if (!entry || sender.tab?.id !== entry.tabId) return;
  entry.tabId = null;  // answered: the page closing now is not a refusal
  if (message.allow !== true) {
    rememberDenied(message.origin).then(() => finishConsent(message.origin, false));
    return;
  }
  ask({ talrec: "allow", origin: message.origin }).then(({ native, answer }) => {
    native?.disconnect();
    finishConsent(message.origin, answer.talrec === "allowed" && answer.origin === message.origin);
  });
});

chrome.tabs.onRemoved.addListener((tabId) => {
  for (const [origin, entry] of consents) {
    if (entry.tabId === tabId) finishConsent(origin, false);
  }
});

// --- Pages -----------------------------------------------------------------------------------

// One connection of a page's frame: opens the native port for the frame's origin (asking the
// user first when it is not allowed), then relays requests to the host and the host's replies
// and notifications to this port alone.
async function serve(page, origin) {
  let native = null;
  let gone = false;
  page.onDisconnect.addListener(() => {
    gone = true;
    native?.disconnect();
    if (recording.delete(page)) showBadge();
  });
  page.onMessage.addListener((message) => {
    if (native && isPlain(message) && isPlain(message.send) && message.send.jsonrpc === "2.0") {
      native.postMessage(message.send);
    }
  });
  const relay = (message) => {
    if (!isPlain(message)) return;
    noteState(page, origin, message);
    page.postMessage({ message });
  };

  let opened = await ask({ talrec: "open", origin }, relay);
  if (opened.answer.talrec === "refused" && opened.answer.reason === "not-paired" && !gone) {
    if (await askUser(origin)) opened = await ask({ talrec: "open", origin }, relay);
  }
  const { answer } = opened;
  if (gone || answer.talrec !== "ready") {
    opened.native?.disconnect();
    if (!gone) {
      page.postMessage({ refused: typeof answer.reason === "string" ? answer.reason : "unavailable" });
      page.disconnect();
    }
    return;
  }
  native = opened.native;
  native.onDisconnect.addListener(() => {
    native = null;
    if (gone) return;
    if (recording.delete(page)) showBadge();
    page.postMessage({ closed: "host-ended" });
    page.disconnect();
  });
  page.postMessage({ ready: true });
}

chrome.runtime.onConnect.addListener((page) => {
  const sender = page.sender;
  // Content scripts of this extension in a tab's frame, of a web origin the browser vouches for.
  const ours = sender?.id === chrome.runtime.id && sender.tab && typeof sender.frameId === "number";
  if (page.name !== "talrec" || !ours || !isWebOrigin(sender.origin)) {
    page.disconnect();
    return;
  }
  serve(page, sender.origin);
});

showBadge();
