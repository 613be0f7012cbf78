// The talrec extension in headless Chromium, through native messaging with no bridge running
// and no port open by talrec: a page of an origin the user allows on the extension's consent
// page records 2 s with connect({ transport: "native" }), the toolbar badge reading "REC" (the
// origin in its title) while it records and "" after; it lists the file, reads it byte-equal
// to the data folder's, plays it to "play-complete" and deletes it, while a second tab of that
// origin hears none of its events and a frame of another origin cannot send on its channel. A
// page of another origin opens the consent page, where a script's click on "Allow" and a forged
// message do nothing and "Deny" leaves it "not-paired" with nothing recorded; a tab closed
// while it records clears the badge. (The bridge's client is walked by crossorigin_test.mjs.)
//   node extension_test.mjs   (TALREC_BIN_DIR: the folder of talrec; TALREC_TEST_OUT: scratch)
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { createHash, randomBytes } from "node:crypto";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { once } from "node:events";
import https from "node:https";
import path from "node:path";
import { chromium } from "playwright-core";

const out = process.env.TALREC_TEST_OUT ?? path.resolve("browser-test");
mkdirSync(out, { recursive: true });
const scratch = mkdtempSync(path.join(out, "ext-"));
const at = (...parts) => path.join(scratch, ...parts);
// Chromium starts the host with its own environment: these folders are the host's too.
const env = { ...process.env, HOME: at("home"), TALREC_REGISTRY: at("registry"),
  XDG_DATA_HOME: at("data"), XDG_RUNTIME_DIR: at("run"), XDG_CONFIG_HOME: at("config"),
  XDG_STATE_HOME: at("state"), TALREC_WAVE_DEVICE: "virtual",
  TALREC_VIRTUAL_SOURCE: "tone:440:0.2", TALREC_VIRTUAL_SPEED: "1" };
for (const folder of ["home", "run", "data", "state", "config"]) mkdirSync(at(folder), { mode: 0o700 });
const dataFolder = at("data", "quorvex");
const talrec = path.resolve(process.env.TALREC_BIN_DIR ?? "bin", "talrec");
const extension = new URL("../../host/extension", import.meta.url).pathname;
const extensionId = "nabnkdmdefeedmjlhnopnpkjibphleki";
const step = (text) => console.log(`extension: ${text}`);
const sha256 = (bytes) => createHash("sha256").update(bytes).digest("hex");

// The app: one page, served over HTTPS as two origins (127.0.0.1 and localhost).
execFileSync("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
  "/CN=127.0.0.1", "-keyout", at("key.pem"), "-out", at("cert.pem")], { stdio: "ignore" });
const client = new URL("../../host/bridge/web/", import.meta.url);
const app = https.createServer({ key: readFileSync(at("key.pem")), cert: readFileSync(at("cert.pem")) },
  (request, response) => {
    const file = /^\/client\/(talrec|members)\.js$/.exec(request.url)?.[0].slice(8);
    response.setHeader("Content-Type", file ? "text/javascript" : "text/html");
    response.end(file ? readFileSync(new URL(file, client)) : `<script type="module">
      import * as talrec from "/client/talrec.js";
      const hex = (b) => [...new Uint8Array(b)].map((x) => x.toString(16).padStart(2, "0")).join("");
      window.heard = [];
      addEventListener("message", (e) => e.data?.talrec === "receive" && (window.channel = e.data.channel));
      window.open_ = async (options) => {
        const rec = (window.rec = await talrec.connect(options));
        for (const name of ["RecorderStateNotify", "VolumeStatus", "EvtPlayStop", "debug"]) {
          rec.addEventListener(name, (e) => window.heard.push(name === "RecorderStateNotify" ? e.detail : name));
        }
        return rec.GetDataFolder();
      };
      window.start = async (name) => rec.recStart((await rec.GetDataFolder()) + "/" + name);
      window.read = async (name) => {
        const blob = await rec.readFile(name);
        return { type: blob.type, digest: hex(await crypto.subtle.digest("SHA-256", await blob.arrayBuffer())) };
      };
      window.stopAndRead = async (name) => {
        const stopped = await rec.recStop();
        const listed = (await rec.listFiles()).map((f) => f.name);
        return { stopped, listed, ...(await window.read(name)) };
      };
      window.playAndDelete = async (name) => {
        const file = (await rec.GetDataFolder()) + "/" + name;
        const complete = new Promise((done) => rec.addEventListener("RecorderStateNotify",
          (e) => e.detail === "play-complete" && done()));
        const played = await rec.playStart(file);
        await complete;
        const deleted = await rec.DeleteAudioFile(file);
        const left = await rec.listFiles();
        rec.close();
        return { played, deleted, left: left.length };
      };</script>`);
  });
await once(app.listen(0, "127.0.0.1"), "listening");
const allowed = `https://127.0.0.1:${app.address().port}`;
const denied = `https://localhost:${app.address().port}`;

execFileSync(talrec, ["register"], { env, stdio: "ignore" });
const profile = at("profile");
mkdirSync(path.join(profile, "NativeMessagingHosts"), { recursive: true });
// The host's manifest as talrec writes it, in the test profile where Chromium looks.
writeFileSync(path.join(profile, "NativeMessagingHosts", "com.talrec.recorder.json"),
  execFileSync(talrec, ["install-browser-host", "--print", "--browser", "chromium"], { env }));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: "/usr/bin/chromium",
  headless: false,
  ignoreDefaultArgs: ["--disable-extensions"],
  env,
  args: ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
    "--ignore-certificate-errors", `--disable-extensions-except=${extension}`,
    `--load-extension=${extension}`],
});
let failed = false;
try {
  const worker = context.serviceWorkers()[0] ?? (await context.waitForEvent("serviceworker"));
  assert.equal(new URL(worker.url()).host, extensionId, "the manifest's key gives the fixed ID");
  const badge = () => worker.evaluate(async () =>
    [await chrome.action.getBadgeText({}), await chrome.action.getTitle({})]);
  const consentPages = [];
  context.on("page", (p) => p.url().startsWith(`chrome-extension://${extensionId}/consent.html`) &&
    consentPages.push(p));
  const openPage = async (origin) => {
    const page = await context.newPage();
    page.on("pageerror", (e) => console.error(`page error: ${e.message}`));
    await page.goto(`${origin}/`);
    await page.waitForFunction(() => window.open_ !== undefined);
    return page;
  };
  const consent = async () => {
    const page = await context.waitForEvent("page", (p) => p.url().includes("/consent.html"));
    await page.waitForLoadState();
    return page;
  };

  // The first page's origin is allowed on the consent page.
  const first = await openPage(allowed);
  const connecting = first.evaluate(() => window.open_({ transport: "native" }));
  const allowPage = await consent();
  assert.equal(await allowPage.locator("h1 .origin").textContent(), allowed);
  await allowPage.getByRole("button", { name: "Allow" }).click();
  assert.equal(await connecting, dataFolder);
  // A frame of another origin that knows the channel cannot send on it.
  await first.evaluate((src) => new Promise((done) => document.body.append(
    Object.assign(document.createElement("iframe"), { src, onload: done }))), `${denied}/`);
  const channel = await first.evaluate(() => window.channel);
  assert.match(channel, /^[0-9a-f-]{36}$/);
  await first.frames()[1].evaluate(([channel, file]) => parent.postMessage({ talrec: "send", channel,
    message: { jsonrpc: "2.0", id: 99, method: "recStart", params: [file] } }, "*"),
  [channel, `${dataFolder}/forged.wav`]);
  assert.match(execFileSync(talrec, ["pair", "--list"], { env }).toString(), new RegExp(allowed));
  // A second tab of the same origin: no question asked, and none of the first tab's events.
  const second = await openPage(allowed);
  assert.equal(await second.evaluate(() => window.open_({ transport: "native" })), dataFolder);

  // Record 2 s: the badge shows it; talrec has no listening socket, only its native hosts.
  assert.equal(await first.evaluate(() => window.start("native.wav")), 0);
  await first.waitForFunction(() => window.heard.includes("VolumeStatus"), null, { timeout: 10000 });
  assert.deepEqual(await badge(), ["REC", `talrec records: ${allowed}`]);
  // (Only the native hosts count: another test's bridge may listen on this machine meanwhile.)
  const hosts = execFileSync("pgrep", ["-f", `^${talrec} chrome-extension://${extensionId}/`])
    .toString().trim().split("\n");
  assert.equal(hosts.length, 2, "one native host per connection");
  const listening = execFileSync("ss", ["-ltnpH"]).toString();
  for (const pid of hosts) {
    assert.doesNotMatch(listening, new RegExp(`pid=${pid},`), `a native host listens:\n${listening}`);
  }
  await first.waitForTimeout(2000);
  const take = await first.evaluate(() => window.stopAndRead("native.wav"));
  const wav = readFileSync(path.join(dataFolder, "native.wav"));
  assert.deepEqual(take, { stopped: 0, listed: ["native.wav"], type: "audio/wav", digest: sha256(wav) });
  assert.ok(wav.length - 44 >= 1.9 * 22050 * 4, `${wav.length} bytes: 2 s recorded`);
  assert.deepEqual(await badge(), ["", "talrec: not recording"]);
  assert.deepEqual(await first.evaluate(() => window.playAndDelete("native.wav")),
    { played: 0, deleted: 0, left: 0 });
  const heard = await first.evaluate(() => window.heard.filter((e) => e !== "VolumeStatus"));
  assert.deepEqual(heard, ["record-start", "record-stop", "play-start", "EvtPlayStop", "play-complete"]);
  assert.deepEqual(await second.evaluate(() => window.heard), [], "the second tab heard nothing");
  // A file of several chunks reads whole.
  const big = randomBytes(1300 * 1000);
  writeFileSync(path.join(dataFolder, "big.bin"), big);
  assert.deepEqual(await second.evaluate(() => window.read("big.bin")), { type: "", digest: sha256(big) });
  rmSync(path.join(dataFolder, "big.bin"));
  step(`allowed ${allowed}, recorded ${wav.length} bytes with the badge up, read, played, deleted`);

  // Another origin: a script's click and a forged answer do nothing, "Deny" refuses.
  const other = await openPage(denied);
  await other.evaluate(() => void window.open_({ transport: "native" }).then(
    () => (window.outcome = "connected"), (e) => (window.outcome = e.reason)));
  const denyPage = await consent();
  assert.equal(await denyPage.locator("h1 .origin").textContent(), denied);
  await denyPage.evaluate(() => document.getElementById("allow").click());
  await other.evaluate(() => window.postMessage({ talrec: "consent", origin: location.origin, allow: true }, "*"));
  await other.waitForTimeout(1000);
  assert.equal(await other.evaluate(() => window.outcome), undefined, "still asking");
  await denyPage.getByRole("button", { name: "Deny" }).click();
  assert.equal(await (await other.waitForFunction(() => window.outcome)).jsonValue(), "not-paired");
  assert.doesNotMatch(execFileSync(talrec, ["pair", "--list"], { env }).toString(), /localhost/);
  assert.deepEqual(readdirSync(dataFolder), [], "nothing recorded");
  assert.equal(consentPages.length, 2, "asked once per origin");
  step(`${denied} denied: not-paired, nothing recorded`);

  // A tab closed while it records takes its badge with it.
  assert.equal(await second.evaluate(() => window.start("closed.wav")), 0);
  assert.equal((await badge())[0], "REC");
  await second.close();
  for (let i = 0; i < 50 && (await badge())[0] !== ""; i++) await first.waitForTimeout(100);
  assert.deepEqual(await badge(), ["", "talrec: not recording"]);
} catch (e) {
  failed = true;
  console.error(e);
} finally {
  await context.close();
  app.close();
  rmSync(scratch, { recursive: true, force: true });
}
console.log(failed ? "extension: FAILED" : "extension: passed");
process.exit(failed ? 1 : 0);
