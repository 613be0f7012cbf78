// An app of another origin, served over HTTPS and taken by the browser for a public site, uses
// the recorder with its vendored client: (a) without the browser's loopback permission
// connect() says "blocked"; (b) with it granted as a user would, a bridge nobody runs is
// "not-running", the page pairs (the user clicks "Allow" in the bridge's popup) and connects
// with its token, records 3 s from the virtual device, reads the file and uploads it to its own
// origin byte for byte; (c) once the pairing is
// revoked, its open connection closes with 4001 and the same token is "not-paired"; (d) as root,
// an administrator's policy (LoopbackNetworkAllowedForUrls) lets the app, paired again from the
// terminal, connect in a new browser without the user's answer.
//   node crossorigin_test.mjs   (TALREC_BIN_DIR: the folder of talrec; TALREC_TEST_OUT: scratch)
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { once } from "node:events";
import https from "node:https";
import path from "node:path";
import { createInterface } from "node:readline";
import { chromium } from "playwright-core";

const out = process.env.TALREC_TEST_OUT ?? path.resolve("browser-test");
mkdirSync(out, { recursive: true });
const scratch = mkdtempSync(path.join(out, "cross-"));
const at = (...parts) => path.join(scratch, ...parts);
const env = { ...process.env, TALREC_REGISTRY: at("registry"), XDG_DATA_HOME: at("data"),
  XDG_RUNTIME_DIR: at("run"), XDG_CONFIG_HOME: at("config"), XDG_STATE_HOME: at("state"),
  TALREC_WAVE_DEVICE: "virtual", TALREC_VIRTUAL_SOURCE: "tone:440:0.2", TALREC_VIRTUAL_SPEED: "1" };
for (const folder of ["run", "data", "state"]) mkdirSync(at(folder));
const talrec = path.join(process.env.TALREC_BIN_DIR ?? "bin", "talrec");
const step = (text) => console.log(`cross-origin app: ${text}`);

// The app: its page, the client as the package ships it (host/bridge/web), and an upload.
execFileSync("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
  "/CN=127.0.0.1", "-keyout", at("key.pem"), "-out", at("cert.pem")], { stdio: "ignore" });
const client = new URL("../../host/bridge/web/", import.meta.url);
const uploads = [];
const app = https.createServer({ key: readFileSync(at("key.pem")), cert: readFileSync(at("cert.pem")) },
  async (request, response) => {
    const file = /^\/client\/(talrec|members)\.js$/.exec(request.url)?.[0].slice(8);
    if (request.url === "/upload") {
      const chunks = [];
      for await (const chunk of request) chunks.push(chunk);
      uploads.push(Buffer.concat(chunks));
    }
    response.setHeader("Content-Type", file ? "text/javascript" : "text/html");
    response.end(file ? readFileSync(new URL(file, client)) : `<button id="pair">Pair</button>
      <script type="module">import * as talrec from "/client/talrec.js"; window.talrec = talrec;
      const url = new URLSearchParams(location.search).get("bridge");
      document.querySelector("#pair").onclick = () => talrec.pair({ url })
        .then((token) => (window.paired = token), (e) => (window.paired = e.reason));</script>`);
  });
await once(app.listen(0, "127.0.0.1"), "listening");
const appOrigin = `https://127.0.0.1:${app.address().port}`;

execFileSync(talrec, ["register"], { env, stdio: "ignore" });
const serve = spawn(talrec, ["serve", "--port", "0"], { env, stdio: ["ignore", "pipe", "pipe"] });
let serveLog = "";
serve.stderr.on("data", (chunk) => (serveLog += chunk));
const [address] = await once(createInterface({ input: serve.stdout }), "line");
const url = /^http:\/\/127\.0\.0\.1:\d+/.exec(address)[0];
step(`app at ${appOrigin}, bridge at ${url}`);

const launch = (profile) => chromium.launchPersistentContext(at(profile), {
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
    "--ignore-certificate-errors", `--ip-address-space-overrides=127.0.0.1:${app.address().port}=public`],
});
const openApp = async (context) => {
  const page = context.pages()[0] ?? (await context.newPage());
  await page.goto(`${appOrigin}/?bridge=${encodeURIComponent(url)}`);
  await page.waitForFunction(() => window.talrec !== undefined);
  return page;
};
// Chromium's managed policies, where an administrator puts them; made and removed by (d).
const policies = "/etc/chromium/policies";
const policy = path.join(policies, "managed", `talrec-test-${process.pid}.json`);
const madePolicies = !existsSync(policies);
let context = await launch("profile");
let failed = false;
try {
  let page = await openApp(context);
  const reason = (options) => page.evaluate((o) => window.talrec.connect(o).then(
    (rec) => (rec.close(), "connected"), (e) => `${e.reason}: ${e.message}`), options);

  // (a) The permission not granted.
  assert.match(await reason({ token: "0".repeat(64), url }), /^blocked: The browser .+\.$/);
  // (b) Granted for the app's origin, as the user's answer to the browser's question does.
  const cdp = await context.newCDPSession(page);
  await cdp.send("Browser.setPermission",
    { permission: { name: "loopback-network" }, setting: "granted", origin: appOrigin });
  assert.match(await reason({ token: "0".repeat(64), url: "http://127.0.0.1:9" }),
    /^not-running: /);
  // The user pairs the app: "Pair" on its page, "Allow" in the bridge's popup.
  const [popup] = await Promise.all([page.waitForEvent("popup"), page.click("#pair")]);
  const popupClosed = once(popup, "close");
  await popup.getByRole("button", { name: "Allow" }).click();
  await popupClosed;
  const token = await (await page.waitForFunction(() => window.paired)).jsonValue();
  assert.match(token, /^[0-9a-f]{64}$/, `pair() gave ${token}`);
  const result = await page.evaluate(async (options) => {
    const rec = (window.rec = await window.talrec.connect(options));
    const states = [];
    rec.onRecorderStateNotify = (state) => states.push(state);
    rec.onClose = ({ code }) => (window.closedWith = code);
    const started = await rec.recStart((await rec.GetDataFolder()) + "/cross.wav");
    await new Promise((done) => setTimeout(done, 3000));
    const stopped = await rec.recStop();
    const upload = await fetch("/upload", { method: "POST", body: await rec.readFile("cross.wav") });
    const viaTicket = await (await fetch(await rec.fileUrl("cross.wav"))).arrayBuffer();
    const listed = (await rec.listFiles()).map((f) => f.name);
    return { started, stopped, states, upload: upload.status, listed, ticket: viaTicket.byteLength };
  }, { token, url });
  step(`recorded and uploaded: ${JSON.stringify(result)}`);
  const wav = readFileSync(at("data", "quorvex", "cross.wav"));
  assert.deepEqual(result, { started: 0, stopped: 0, states: ["record-start", "record-stop"],
    upload: 200, listed: ["cross.wav"], ticket: wav.length });
  assert.ok(uploads.length === 1 && uploads[0].equals(wav), "the upload equals the file");
  assert.ok(wav.length - 44 > 2 * 22050 * 4, `${wav.length} bytes: more than 2 s recorded`);

  // (c) Revoked: the open connection ends with 4001, the token is not paired any more.
  execFileSync(talrec, ["pair", "--revoke", appOrigin], { env, stdio: "ignore" });
  await page.waitForFunction(() => window.closedWith === 4001, null, { timeout: 30000 });
  assert.match(await reason({ token, url }), /^not-paired: /);
  step("blocked, not-running, paired, connected and uploaded, closed with 4001, not-paired");

  // (d) The administrator's route: the policy and a pairing made from the terminal.
  if (process.getuid() === 0) {
    await context.close();
    mkdirSync(path.dirname(policy), { recursive: true });
    writeFileSync(policy, JSON.stringify({ LoopbackNetworkAllowedForUrls: [appOrigin] }));
    const adminToken = execFileSync(talrec, ["pair", "--allow", appOrigin], { env }).toString().trim();
    context = await launch("profile-managed");
    page = await openApp(context);
    assert.equal(await reason({ token: adminToken, url }), "connected");
    step("the policy's origin connected without the user's answer");
  } else {
    step("not root: the policy's route is not tried");
  }
} catch (e) {
  failed = true;
  console.error(e, `\nbridge's standard error:\n${serveLog}`);
} finally {
  await context.close();
  rmSync(madePolicies ? policies : policy, { recursive: true, force: true });
  app.close();
  serve.kill("SIGTERM");
  const [code] = await once(serve, "exit");
  failed ||= code !== 0;
  rmSync(scratch, { recursive: true, force: true });
}
console.log(failed ? "cross-origin app: FAILED" : "cross-origin app: passed");
process.exit(failed ? 1 : 0);
