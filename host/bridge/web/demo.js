// The bridge's demo page: records, pauses, resumes and stops through the control, shows the
// input level and the state strings as they arrive, and lists the data folder's files with
// playback (through the control's own player), conversion to WMA, download and deletion.
// Failures the control reports to nobody (its debug output) are listed beside the state.
import { connect, State } from "/talrec.js";

const $ = (id) => document.getElementById(id);
let rec = null;
let folder = "";
let playing = "";
let recording = false;  // level messages count only while recording

function say(text) {
  $("message").textContent = text;
}

function setButtons(state) {
  const recording = state === State.RecordStart || state === State.RecordResume;
  const paused = state === State.RecordPause && $("pause").dataset.paused === "1";
  $("record").disabled = !rec || recording || paused;
  $("pause").disabled = !rec || !recording;
  $("resume").disabled = !rec || !paused;
  $("stop").disabled = !rec || !(recording || paused);
  $("refresh").disabled = !rec;
}

function showLevel(level) {
  const meter = $("meter");
  meter.dataset.level = String(level);
  meter.dataset.peak = String(Math.max(level, Number(meter.dataset.peak)));
  meter.setAttribute("aria-valuenow", String(level));
  $("meter-cover").style.width = `${100 - level}%`;
  $("level").textContent = String(level);
}

// Level messages queued before a pause or a stop may still arrive after it: they are not shown.
function onLevel(level) {
  if (recording) showLevel(level);
}

function showDebug(text) {
  const item = document.createElement("li");
  item.textContent = text;
  $("debug").append(item);
  while ($("debug").children.length > 5) $("debug").firstElementChild.remove();
}

function showState(state) {
  recording = state === State.RecordStart || state === State.RecordResume;
  if (state === State.RecordPause || state === State.RecordStop) showLevel(0);
  $("state").textContent = state;
  const item = document.createElement("li");
  item.textContent = state;
  $("states").append(item);
  while ($("states").children.length > 50) $("states").firstElementChild.remove();
  $("states").scrollTop = $("states").scrollHeight;
  if (state === State.RecordStop) {
    refresh().catch((e) => say(`listing: ${e.message}`));
  }
  if (state === State.PlayComplete || state === State.PlayStop) markPlaying("");
  setButtons(state);
}

function markPlaying(name) {
  playing = name;
  for (const row of document.querySelectorAll("#files tbody tr")) {
    row.classList.toggle("playing", row.dataset.name === name);
  }
}

function defaultName() {
  const now = new Date();
  const pad = (n) => String(n).padStart(2, "0");
  return `take-${now.getFullYear()}${pad(now.getMonth() + 1)}${pad(now.getDate())}-` +
    `${pad(now.getHours())}${pad(now.getMinutes())}${pad(now.getSeconds())}.wav`;
}

function formatSize(bytes) {
  if (bytes < 1024) return `${bytes} B`;
  if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(1)} KiB`;
  return `${(bytes / 1024 / 1024).toFixed(1)} MiB`;
}

function button(label, className, action) {
  const b = document.createElement("button");
  b.textContent = label;
  b.className = className;
  b.addEventListener("click", () => action().catch((e) => say(`${label}: ${e.message}`)));
  return b;
}

async function refresh() {
  if (!rec) return;
  const files = await rec.listFiles();
  const body = $("files").querySelector("tbody");
  body.replaceChildren();
  for (const file of files) {
    const row = document.createElement("tr");
    row.dataset.name = file.name;
    const cells = [
      file.name,
      formatSize(file.size),
      file.duration === null ? "" : `${file.duration.toFixed(1)} s`,
      file.modified ? new Date(file.modified).toLocaleString() : "",
    ];
    for (const text of cells) {
      const cell = document.createElement("td");
      cell.textContent = text;
      row.append(cell);
    }
    const actions = document.createElement("td");
    actions.className = "actions";
    const path = `${folder}/${file.name}`;
    actions.append(
      button("Play", "play", async () => {
        await rec.playStart(path);
        markPlaying(file.name);
      }),
      button("Pause", "pause", () => rec.PlayPause()),
      button("Stop", "stop", () => rec.PlayStop()),
    );
    if (/\.wav$/i.test(file.name)) {
      actions.append(button("To WMA", "convert", async () => {
        say(`converting ${file.name}…`);
        const target = path.replace(/\.wav$/i, ".wma");
        const result = await rec.ConvertWavToWMA(path, target);
        say(result === 0 ? `converted to ${target}` : `conversion failed (${result})`);
        await refresh();
      }));
    }
    const download = document.createElement("a");
    download.textContent = "Download";
    download.className = "download";
    download.href = "#";
    download.download = file.name;
    // A ticket holds 60 s: each click asks for a fresh address, then follows it.
    download.addEventListener("click", (e) => {
      if (download.dataset.fresh) return void delete download.dataset.fresh;
      e.preventDefault();
      rec.fileUrl(file.name, { download: true }).then((url) => {
        download.href = url;
        download.dataset.fresh = "1";
        download.click();
      }, (error) => say(`Download: ${error.message}`));
    });
    actions.append(download, button("Delete", "delete", async () => {
      const result = await rec.DeleteAudioFile(path);
      say(result === 0 ? `deleted ${file.name}` : `could not delete ${file.name}`);
      await refresh();
    }));
    row.append(actions);
    body.append(row);
  }
  markPlaying(playing);
}

// The run's token, for this tab: exchanged once for the one-time code the address carries,
// which then leaves the address (and the history), kept in sessionStorage for reloads.
async function sessionToken() {
  const code = /(?:^#|&)code=([0-9a-f]+)/.exec(location.hash)?.[1];
  if (code) {
    history.replaceState(null, "", location.pathname + location.search);
    const response = await fetch("/session", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ code }),
    });
    if (response.ok) sessionStorage.setItem("talrec.token", (await response.json()).token);
  }
  return sessionStorage.getItem("talrec.token") ?? "";
}

async function start() {
  $("name").value = defaultName();
  try {
    rec = await connect({ transport: "bridge", token: await sessionToken() });
  } catch (e) {
    $("connection").textContent =
      "not connected: open the address `talrec serve` printed, or run `talrec open`";
    $("connection").className = "connection closed";
    return;
  }
  $("connection").textContent = "connected";
  $("connection").className = "connection open";
  rec.onVolumeStatus = onLevel;
  rec.onRecorderStateNotify = showState;
  rec.onMessageBox = (text) => say(text);
  rec.onDebug = showDebug;
  rec.onClose = ({ code }) => {
    $("connection").textContent = `connection closed (${code})`;
    $("connection").className = "connection closed";
    rec = null;
    setButtons("");
  };
  folder = await rec.GetDataFolder();
  $("folder").textContent = folder;

  // Each control's failure (a rejected call) is shown, not lost.
  const on = (id, action) =>
    $(id).addEventListener("click", () =>
      Promise.resolve().then(action).catch((e) => say(`${$(id).textContent}: ${e.message}`)));
  on("record", async () => {
    const name = $("name").value.trim() || defaultName();
    $("meter").dataset.peak = "0";
    $("pause").dataset.paused = "0";
    const result = await rec.recStart(`${folder}/${name}`);
    if (result !== 0) say(`recording refused (${result})`);
  });
  on("pause", () => {
    $("pause").dataset.paused = "1";
    return rec.RecordPause();
  });
  on("resume", () => {
    $("pause").dataset.paused = "0";
    return rec.RecordContinue();
  });
  on("stop", async () => {
    $("pause").dataset.paused = "0";
    await rec.recStop();
    $("name").value = defaultName();
  });
  on("refresh", () => refresh());
  setButtons("");
  await refresh();
}

start();
