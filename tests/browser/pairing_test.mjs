// Pairing and one-time codes in headless Chromium, walked as a user would: the demo page at the
// printed address exchanges its code (gone from the address; a second use fails), `talrec open`
// hands the browser a fresh one; an app page of another origin pairs through the popup ("Allow"
// clicked) and connects with its token, while a page that claims the app's origin receives
// nothing; "Deny" and a closed popup reject with "denied"; the pairing page will not render in a
// frame.
//   node pairing_test.mjs   (TALREC_BIN_DIR: the folder of talrec; TALREC_TEST_OUT: scratch)
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { once } from "node:events";
import { createServer } from "node:http";
import path from "node:path";
import { createInterface } from "node:readline";
import { chromium } from "playwright-core";

const bin = process.env.TALREC_BIN_DIR ?? "bin";
const out = process.env.TALREC_TEST_OUT ?? path.resolve("browser-test");
mkdirSync(out, { recursive: true });
const scratch = mkdtempSync(path.join(out, "pair-"));
const [data, run, config] = ["data", "run", "config"].map((name) => path.join(scratch, name));
const env = { ...process.env, TALREC_REGISTRY: path.join(scratch, "registry"), XDG_DATA_HOME: data,
  XDG_RUNTIME_DIR: run, XDG_CONFIG_HOME: config, TALREC_WAVE_DEVICE: "virtual" };
mkdirSync(run);
const talrec = path.join(bin, "talrec");

execFileSync(talrec, ["register"], { env, stdio: "ignore" });
const serve = spawn(talrec, ["serve", "--port", "0"], { env, stdio: ["ignore", "pipe", "pipe"] });
let serveLog = "";
serve.stderr.on("data", (chunk) => (serveLog += chunk));
const [address] = await once(createInterface({ input: serve.stdout }), "line");
assert.match(address, /^http:\/\/127\.0\.0\.1:\d+\/#code=[0-9a-f]{32}$/);
const bridge = new URL(address).origin;

// The app's origin and the one that claims it: the client vendored from the bridge, and a page
// that pairs and connects on a click, or opens the pairing page for `claim` itself.
const client = Object.fromEntries(await Promise.all(["talrec.js", "members.js"].map(
  async (name) => [name, await (await fetch(`${bridge}/${name}`)).text()])));
const appPage = `<button id="pair">Pair</button><script type="module">
import { pair, connect } from "/talrec.js";
window.got = [];
addEventListener("message", (e) => window.got.push(e.data));
document.getElementById("pair").onclick = () => {
  const claim = new URLSearchParams(location.search).get("claim");
  if (claim) return void window.open("${bridge}/pair?origin=" + encodeURIComponent(claim));
  window.outcome = pair({ url: "${bridge}" }).then(async (token) => {
    const rec = await connect({ token, url: "${bridge}" });
    const folder = await rec.GetDataFolder();
    rec.close();
    return { token, folder };
  }, (e) => ({ reason: e.reason }));
};
</script>`;
const apps = [];
for (let i = 0; i < 2; ++i) {
  const server = createServer((request, response) => {
    const name = request.url.slice(1);
    response.setHeader("Content-Type", client[name] ? "text/javascript" : "text/html");
    response.end(client[name] ?? appPage);
  }).listen(0, "127.0.0.1");
  await once(server, "listening");
  apps.push({ server, origin: `http://127.0.0.1:${server.address().port}` });
}
const [app, claimer] = apps;

const context = await chromium.launchPersistentContext(path.join(scratch, "profile"), {
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run"],
});
let failed = false;
try {
  // The demo page exchanges its code, which leaves the address; the same address again fails.
  const demo = await context.newPage();
  await demo.goto(address);
  await demo.locator("#connection.open").waitFor();
  assert.equal(demo.url(), `${bridge}/`);
  const again = await context.newPage();
  await again.goto(address);
  await again.locator("#connection.closed").waitFor();

  // `talrec open` hands the browser (here a stand-in for xdg-open) a fresh code.
  const fake = path.join(scratch, "fakebin");
  mkdirSync(fake);
  writeFileSync(path.join(fake, "xdg-open"), `#!/bin/sh\necho "$1" > "${fake}/opened"\n`,
    { mode: 0o755 });
  execFileSync(talrec, ["open"], { env: { ...env, PATH: `${fake}:${env.PATH}` } });
  const opened = readFileSync(path.join(fake, "opened"), "utf8").trim();
  assert.match(opened, new RegExp(`^${bridge}/#code=[0-9a-f]{32}$`));
  const fresh = await context.newPage();
  await fresh.goto(opened);
  await fresh.locator("#connection.open").waitFor();

  // Clicks "Pair" on a page of `origin` (`query` added), then `button` in the popup.
  const pairWith = async (origin, query, button) => {
    const page = await context.newPage();
    await page.goto(`${origin}/${query}`);
    const [popup] = await Promise.all([page.waitForEvent("popup"), page.click("#pair")]);
    const closed = once(popup, "close");
    await (button ? popup.getByRole("button", { name: button }).click() : popup.close());
    await closed;
    return page;
  };
  const outcome = (page) => page.waitForFunction(() => window.outcome).then((h) => h.jsonValue());

  // A page that only claims the app's origin: the user allows (checked below).
  const claiming = await pairWith(claimer.origin, `?claim=${app.origin}`, "Allow");

  // The app pairs and connects with its token; deny and a closed popup reject.
  const paired = await outcome(await pairWith(app.origin, "", "Allow"));
  assert.match(paired.token ?? "", /^[0-9a-f]{64}$/, JSON.stringify(paired));
  assert.equal(paired.folder, path.join(data, "quorvex"));
  assert.deepEqual(await claiming.evaluate(() => window.got), [], "the claimer received nothing");
  assert.deepEqual(await outcome(await pairWith(app.origin, "", "Deny")), { reason: "denied" });
  assert.deepEqual(await outcome(await pairWith(app.origin, "", null)), { reason: "denied" });

  // In a frame the pairing page does not render.
  const framing = await context.newPage();
  await framing.goto(`${app.origin}/`);
  await framing.setContent(`<iframe src="${bridge}/pair?origin=${app.origin}"></iframe>`);
  const frame = framing.frames()[1];
  assert.equal(await frame.locator("#allow").count(), 0, frame.url());
} catch (e) {
  failed = true;
  console.error(e);
  console.error(`bridge's standard error:\n${serveLog}`);
} finally {
  await context.close();
  for (const { server } of apps) server.close();
  serve.kill("SIGTERM");
  const [code] = await once(serve, "exit");
  if (code !== 0) {
    failed = true;
    console.error(`talrec serve exited with ${code}`);
  }
  rmSync(scratch, { recursive: true, force: true });
}
console.log(failed ? "pairing: FAILED" : "pairing: passed");
process.exit(failed ? 1 : 0);
