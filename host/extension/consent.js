// The extension's consent page, opened by its service worker for the web origin in the
// address: the user allows or denies it. Only a person's click counts (a script's synthetic
// click on "Allow" does nothing); the worker takes the answer only from this page, in the window
// it opened for that origin, and records "Allow" in the recorder's pairings.
"use strict";

const origin = new URLSearchParams(location.search).get("origin") ?? "";
const $ = (id) => document.getElementById(id);

function answer(allow) {
  $("allow").disabled = $("deny").disabled = true;
  chrome.runtime.sendMessage({ talrec: "consent", origin, allow }).finally(() => window.close());
}

if (/^https?:\/\/[^/?#\s]+$/.test(origin)) {
  for (const place of document.querySelectorAll(".origin")) place.textContent = origin;
  document.title = `talrec — allow ${origin}?`;
  $("allow").addEventListener("click", (event) => {
    if (event.isTrusted) answer(true);
  });
  $("deny").addEventListener("click", () => answer(false));
  $("allow").disabled = $("deny").disabled = false;
} else {
  $("message").textContent = "This page asks about no web site.";
}
