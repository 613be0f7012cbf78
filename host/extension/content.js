// talrec's content script: the relay between a page's client (talrec.js) and the extension's
// service worker, which holds the native-messaging port to the recorder. It runs in the
// isolated world of every http(s) frame, from document_start, and serves that frame only.
//
// The page and this script talk with window.postMessage(message, location.origin); each side
// ignores messages whose event.source is not this very window and messages of the wrong shape.
// Every message is a plain object whose "talrec" member names its kind:
//
//   page -> script
//     { talrec: "probe" }                              is the extension installed?
//     { talrec: "open", request: R }                   open a connection (one control); R is
//                                                      the page's own string (1..64 characters)
//                                                      that the answer repeats
//     { talrec: "send", channel: C, message: M }       a JSON-RPC 2.0 request on connection C
//     { talrec: "close", channel: C }                  close connection C (its control ends)
//   script -> page
//     { talrec: "present", version: 1 }                the answer to a probe
//     { talrec: "opened", request: R, channel: C }     the connection is ready; C is a random
//                                                      identifier this script made for it
//     { talrec: "refused", request: R, reason: S }     it is not: "not-paired", "unavailable",
//                                                      "not-installed", "bad-request",
//                                                      "extension-not-allowed", "busy"
//     { talrec: "receive", channel: C, message: M }    a JSON-RPC reply or notification
//     { talrec: "closed", channel: C, reason: S }      the connection has ended
//
// A message from the page only ever reaches this frame's own connections (by C); nothing the
// page sends is called, and its objects are read as the structured clones postMessage makes.
(() => {
  "use strict";

  const origin = location.origin;
  if (!/^https?:\/\//.test(origin)) return;  // an opaque origin: nobody to answer

  // Connections of this frame: channel -> runtime Port to the service worker.
  const channels = new Map();
  const MAX_CHANNELS = 8;
  const MAX_MESSAGE = 1024 * 1024;

  const tell = (message) => window.postMessage(message, origin);
  const isText = (value, max) => typeof value === "string" && value.length > 0 && value.length <= max;
  // Structured clones and the worker's JSON carry no functions or getters: reading them is safe.
  const isPlain = (value) => value !== null && typeof value === "object" && !Array.isArray(value);

  // A JSON-RPC request as the client sends it, no larger than a bridge message.
  function isRequest(message) {
    if (!isPlain(message) || message.jsonrpc !== "2.0" || !isText(message.method, 256)) return false;
    if (!Number.isSafeInteger(message.id) || !Array.isArray(message.params ?? [])) return false;
    try {
      return JSON.stringify(message).length <= MAX_MESSAGE;
    } catch {
      return false;
    }
  }

  function open(request) {
    if (channels.size >= MAX_CHANNELS) {
      tell({ talrec: "refused", request, reason: "busy" });
      return;
    }
    const channel = crypto.randomUUID();
    let port;
    try {
      port = chrome.runtime.connect({ name: "talrec" });
    } catch {
      // The extension was reloaded or removed under this page.
      tell({ talrec: "refused", request, reason: "unavailable" });
      return;
    }
    let ready = false;
    channels.set(channel, port);
    port.onMessage.addListener((answer) => {
      if (!isPlain(answer)) return;
      if (!ready && answer.ready === true) {
        ready = true;
        tell({ talrec: "opened", request, channel });
      } else if (!ready && typeof answer.refused === "string") {
        channels.delete(channel);
        port.disconnect();
        tell({ talrec: "refused", request, reason: answer.refused });
      } else if (ready && isPlain(answer.message)) {
        tell({ talrec: "receive", channel, message: answer.message });
      } else if (ready && typeof answer.closed === "string") {
        channels.delete(channel);
        port.disconnect();
        tell({ talrec: "closed", channel, reason: answer.closed });
      }
    });
    port.onDisconnect.addListener(() => {
      if (!channels.delete(channel)) return;
      if (ready) tell({ talrec: "closed", channel, reason: "unavailable" });
      else tell({ talrec: "refused", request, reason: "unavailable" });
    });
  }

  window.addEventListener("message", (event) => {
    if (event.source !== window || !isPlain(event.data)) return;
    const data = event.data;
    switch (data.talrec) {
      case "probe":
        tell({ talrec: "present", version: 1 });
        break;
      case "open":
        if (isText(data.request, 64)) open(data.request);
        break;
      case "send": {
        const port = channels.get(data.channel);
        if (port && isRequest(data.message)) port.postMessage({ send: data.message });
        break;
      }
      case "close": {
        const port = channels.get(data.channel);
        if (!port) break;
        channels.delete(data.channel);
        port.disconnect();
        tell({ talrec: "closed", channel: data.channel, reason: "closed" });
        break;
      }
      default:
        break;  // this script's own answers, or someone else's messages
    }
  });
})();
