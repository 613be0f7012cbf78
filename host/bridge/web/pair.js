// The bridge's pairing page: the user allows or denies the origin named in the page. "Allow"
// (a person's click only) asks the bridge for the origin's token with the page's one-time value
// and hands the token to the window that opened the page, addressed to that origin alone: a
// page that claimed another origin receives nothing. "Deny" tells the opener so.
const $ = (id) => document.getElementById(id);
const { origin, nonce } = $("pair").dataset;

function tell(message) {
  window.opener.postMessage({ talrec: "pair", ...message }, origin);
  window.close();
}

async function allow(event) {
  if (!event.isTrusted) return;
  $("allow").disabled = $("deny").disabled = true;
  try {
    const response = await fetch("/pair", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ origin, nonce }),
    });
    const answer = await response.json();
    if (!response.ok) throw new Error(answer.error ?? `the bridge answered ${response.status}`);
    tell({ token: answer.token });
  } catch (e) {
    $("message").textContent = `Not paired: ${e.message}`;
  }
}

if (window.opener) {
  $("allow").addEventListener("click", allow);
  $("deny").addEventListener("click", () => tell({ denied: true }));
  $("allow").disabled = $("deny").disabled = false;
} else {
  // Nobody would receive the token: an administrator pairs with `talrec pair --allow`.
  $("message").textContent = "Open this page from the app that asks for talrec.";
}
