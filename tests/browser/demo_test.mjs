// The demo page of `talrec serve` in headless Chromium: records 1 s from the virtual device
// with the level meter moving, finds the file in the list, plays it to "play-complete",
// converts it to WMA (checked with ffprobe), downloads it (bytes equal to the file on disk) and
// deletes it; shows why a file that is no sound does not play. Saves a screenshot of the page
// during the recording.
//   node demo_test.mjs   (TALREC_BIN_DIR: the folder of talrec; TALREC_TEST_OUT: scratch)
// talrec.exe's bridge under Wine (scripts/test-windows.sh) is named by
//   TALREC_COMMAND      the command that runs talrec, as a JSON array (wine64, the program)
//   TALREC_DATA_FOLDER  the control's data folder as this machine sees it
//   TALREC_STATE_FOLDER the folder of the bridge's serve.json, the same way
//   TALREC_WINE=1       what differs there: the input is a null device (silence, so the meter
//                       stays at 0, and not paced, so a take may outrun the clock); the debug
//                       output is the system's, which the page does not see; SIGINT (Ctrl+C)
//                       stops the bridge
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { once } from "node:events";
import path from "node:path";
import { createInterface } from "node:readline";
import { chromium } from "playwright-core";

const bin = process.env.TALREC_BIN_DIR ?? "bin";
const out = process.env.TALREC_TEST_OUT ?? path.resolve("browser-test");
mkdirSync(out, { recursive: true });
const scratch = mkdtempSync(path.join(out, "run-"));
const env = {
  ...process.env,
  TALREC_REGISTRY: path.join(scratch, "registry"),
  XDG_DATA_HOME: path.join(scratch, "data"),
  XDG_RUNTIME_DIR: path.join(scratch, "run"),
  TALREC_WAVE_DEVICE: "virtual",
  TALREC_VIRTUAL_SOURCE: "tone:440:0.2",
  TALREC_VIRTUAL_SPEED: "1",
};
mkdirSync(env.XDG_RUNTIME_DIR, { recursive: true });
mkdirSync(env.XDG_DATA_HOME, { recursive: true });
const dataFolder = process.env.TALREC_DATA_FOLDER ?? path.join(env.XDG_DATA_HOME, "quorvex");
const [talrec, ...talrecArgs] = process.env.TALREC_COMMAND
  ? JSON.parse(process.env.TALREC_COMMAND)
  : [path.join(bin, "talrec")];
const wine = process.env.TALREC_WINE === "1";
const stateFolder = process.env.TALREC_STATE_FOLDER ?? path.join(env.XDG_RUNTIME_DIR, "talrec");
const step = (text) => console.log(`demo page: ${text}`);

execFileSync(talrec, [...talrecArgs, "register"], { env, stdio: "ignore" });
const serve = spawn(talrec, [...talrecArgs, "serve", "--port", "0"], {
  env,
  stdio: ["ignore", "pipe", "pipe"],
});
let serveLog = "";
serve.stderr.on("data", (chunk) => (serveLog += chunk));
const [address] = await once(createInterface({ input: serve.stdout }), "line");
assert.match(address, /^http:\/\/127\.0\.0\.1:\d+\/#code=[0-9a-f]{32}$/);
step(`bridge at ${address}`);

const context = await chromium.launchPersistentContext(path.join(scratch, "profile"), {
  executablePath: "/usr/bin/chromium",
  headless: true,
  acceptDownloads: true,
  args: [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
  ],
});
let failed = false;
try {
  const page = context.pages()[0] ?? (await context.newPage());
  page.on("pageerror", (e) => console.error(`page error: ${e.message}`));
  await page.goto(address);
  await page.locator("#connection.open").waitFor({ timeout: 30000 });
  const states = () => page.locator("#states li").allTextContents();
  const waitState = (state) =>
    page.waitForFunction(
      (s) => [...document.querySelectorAll("#states li")].some((li) => li.textContent === s),
      state,
      { timeout: 30000 },
    );
  const row = (name) => page.locator(`#files tbody tr[data-name="${name}"]`);

  // Record 1 s.
  await page.fill("#name", "browser-take.wav");
  await page.click("#record");
  await waitState("record-start");
  const started = Date.now();
  if (!wine) {
    await page.waitForFunction(() => Number(document.getElementById("meter").dataset.level) > 0,
      null, { timeout: 10000 });
  }
  const screenshot = path.join(out, "recording.png");
  await page.screenshot({ path: screenshot, fullPage: true });
  const level = Number(await page.locator("#meter").getAttribute("data-peak"));
  step(`recording, meter at ${level}; screenshot ${screenshot}`);
  assert.ok(wine || level > 0, "the meter shows a level");
  await page.waitForTimeout(Math.max(0, 1000 - (Date.now() - started)));
  // The meter rests at 0 while paused and once stopped, whatever level messages come late.
  for (const [button, state] of [["#pause", "record-pause"], ["#stop", "record-stop"]]) {
    await page.click(button);
    await waitState(state);
    assert.equal(await page.locator("#meter").getAttribute("data-level"), "0", state);
  }
  const elapsed = (Date.now() - started) / 1000;

  // The file in the list, as long as the recording ran (at least the 1 s asked for; longer
  // when a loaded machine took its time over the screenshot).
  await row("browser-take.wav").waitFor({ timeout: 30000 });
  const wav = path.join(dataFolder, "browser-take.wav");
  const seconds = (readFileSync(wav).length - 44) / (22050 * 4);
  step(`listed browser-take.wav, ${seconds.toFixed(2)} s`);
  assert.ok(seconds > 0.8 && (wine || seconds < elapsed + 0.6),
    `recorded ${seconds} s in ${elapsed} s`);

  // Played through the control to its end.
  await row("browser-take.wav").locator("button.play").click();
  await waitState("play-start");
  await waitState("play-complete");
  step("played to play-complete");

  // Converted to WMA, which ffprobe reads.
  await row("browser-take.wav").locator("button.convert").click();
  await row("browser-take.wma").waitFor({ timeout: 60000 });
  const wma = path.join(dataFolder, "browser-take.wma");
  const probe = execFileSync("ffprobe", [
    "-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels", "-of", "csv=p=0", wma,
  ]).toString().trim();
  step(`converted; ffprobe reads ${probe}`);
  assert.equal(probe, "wmav2,22050,2");

  // Downloaded with the bytes on disk.
  const [download] = await Promise.all([
    page.waitForEvent("download", { timeout: 30000 }),
    row("browser-take.wav").locator("a.download").click(),
  ]);
  const saved = path.join(scratch, "downloaded.wav");
  await download.saveAs(saved);
  assert.ok(readFileSync(saved).equals(readFileSync(wav)), "downloaded bytes equal the file");
  step(`downloaded ${readFileSync(saved).length} bytes, equal to the file`);

  // A file the control cannot play: the page shows why, beside the state.
  if (!wine) {
    writeFileSync(path.join(dataFolder, "bad.wav"), "not a sound");
    await page.click("#refresh");
    await row("bad.wav").locator("button.play").click();
    await page.locator("#debug li", { hasText: "cannot play" }).waitFor({ timeout: 30000 });
  }

  // Deleted, both of them.
  for (const name of ["browser-take.wav", "browser-take.wma"]) {
    await row(name).locator("button.delete").click();
    await row(name).waitFor({ state: "detached", timeout: 30000 });
    assert.ok(!existsSync(path.join(dataFolder, name)), `${name} deleted`);
  }
  step("deleted");

  // Names that would reach outside the data folder where "\\" separates and "C:" is a drive
  // (Windows) are refused, with the run's token, as a file of another folder (win.ini there).
  const { token } = JSON.parse(readFileSync(path.join(stateFolder, "serve.json")));
  const get = (target) =>
    fetch(new URL(target, address), { headers: { Authorization: `Bearer ${token}` } });
  assert.equal((await get("/files")).status, 200, "the token holds");
  for (const name of ["..\\..\\..\\..\\windows\\win.ini", "C:\\windows\\win.ini", "C:win.ini"]) {
    assert.equal((await get(`/files/${encodeURIComponent(name)}`)).status, 404, name);
  }
  step("names reaching outside the data folder refused");
  step(`states seen: ${(await states()).join(", ")}`);
  assert.match(serveLog, /records into .*browser-take\.wav/);
  assert.match(serveLog, /stopped recording into .*browser-take\.wav/);
} catch (e) {
  failed = true;
  console.error(e);
  console.error(`bridge's standard error:\n${serveLog}`);
} finally {
  await context.close();
  serve.kill(wine ? "SIGINT" : "SIGTERM");
  const [code] = await once(serve, "exit");
  if (code !== 0) {
    failed = true;
    console.error(`talrec serve exited with ${code}`);
  }
  rmSync(scratch, { recursive: true, force: true });
}
console.log(failed ? "demo page: FAILED" : "demo page: passed");
process.exit(failed ? 1 : 0);
