// The live page of `quillon serve`: reads the JSON API, follows the event
// stream, and draws the latest spectrum. The token lives in an HttpOnly
// cookie, so every request here is a plain same-origin request.
"use strict";

const $ = (id) => document.getElementById(id);
const SVG = "http://www.w3.org/2000/svg";
const PLOT = { left: 70, right: 785, top: 20, bottom: 370 };

let state = null;        // the last module state
let tables = null;       // widths, exposures, types
let latest = null;       // { nm: [], values: [], quantity, label, name }
let recent = [];         // the last spectra as the server sends them, oldest first
const kept = { dark: null, reference: null };  // the references, as documents
const MAX_RECENT = 10;
// One colour per overlaid spectrum, the latest in the trace's own colour.
const COLOURS = ["#1f6feb", "#2b8a3e", "#9c36b5", "#e67700", "#0b7285", "#c2255c", "#5c940d", "#862e9c", "#364fc7"];
let cursorIndex = -1;
let moduleIndex = 0;     // which of the served modules the page shows
let eventSource = null;
let progressTimer = null;

function say(text, ok) {
  $("message").textContent = text;
  $("message").className = ok ? "ok" : "";
}

// Every request names the module the page shows.
function withModule(path) {
  return `${path}${path.includes("?") ? "&" : "?"}module=${moduleIndex}`;
}

async function api(method, path, body) {
  const options = { method, headers: {} };
  if (method === "POST") {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body || {});
  }
  const response = await fetch(withModule(path), options);
  const reply = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(reply.error || `${path}: HTTP ${response.status}`);
  return reply;
}

// Runs an API call for a control; the reply's error is shown, never thrown.
async function act(what, method, path, body) {
  try {
    const reply = await api(method, path, body);
    say(what, true);
    return reply;
  } catch (error) {
    say(error.message, false);
    return null;
  }
}

function quantity() {
  return document.querySelector("input[name=quantity]:checked").value;
}

// ---- the plot --------------------------------------------------------------

function niceTicks(low, high, count) {
  const span = high - low || 1;
  const raw = span / count;
  const step = [1, 2, 5, 10].map((m) => m * 10 ** Math.floor(Math.log10(raw))).find((s) => s >= raw);
  const ticks = [];
  for (let t = Math.ceil(low / step) * step; t <= high + step * 1e-9; t += step) ticks.push(t);
  return ticks;
}

function svgElement(name, attributes, text) {
  const element = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (text !== undefined) element.textContent = text;
  return element;
}

// The spectra drawn besides the latest: earlier ones (as many as chosen) and,
// for intensities, the references; each { nm, values, label, colour, reference }.
function overlays() {
  if (!latest) return [];
  const shown = [];
  const count = Number($("overlay-count").value) || 1;
  const earlier = recent.slice(0, -1).slice(-(count - 1) || recent.length);
  if (count > 1)
    earlier.forEach((doc, i) => {
      const one = spectrumOf(doc);
      if (one.quantity === latest.quantity) shown.push({ ...one, colour: COLOURS[i % COLOURS.length] });
    });
  if (latest.quantity === "intensity")
    for (const [which, colour] of [["dark", "#495057"], ["reference", "#868e96"]])
      if (kept[which]) shown.push({ ...spectrumOf(kept[which]), colour, reference: true,
                                    name: which === "dark" ? "dark spectrum" : "white reference" });
  return shown;
}

function scales() {
  const finite = latest.values.concat(...overlays().map((o) => o.values)).filter(Number.isFinite);
  let low = Math.min(...finite), high = Math.max(...finite);
  if (!(high > low)) { low -= 1; high += 1; }
  const pad = (high - low) * 0.05;
  low -= pad; high += pad;
  const nmLow = latest.nm[0], nmHigh = latest.nm[latest.nm.length - 1];
  return {
    x: (nm) => PLOT.left + (nm - nmLow) / (nmHigh - nmLow || 1) * (PLOT.right - PLOT.left),
    y: (v) => PLOT.bottom - (v - low) / (high - low) * (PLOT.bottom - PLOT.top),
    nmLow, nmHigh, low, high,
  };
}

function polyline(s, spectrum) {
  const points = [];
  spectrum.nm.forEach((nm, i) => {
    if (Number.isFinite(spectrum.values[i])) points.push(`${s.x(nm).toFixed(2)},${s.y(spectrum.values[i]).toFixed(2)}`);
  });
  return points;
}

function drawLegend(shown) {
  const legend = $("legend");
  legend.replaceChildren();
  if (!latest) return;
  for (const entry of [...shown, { name: `${latest.name} (latest)`, colour: "var(--trace)" }]) {
    const item = document.createElement("li");
    item.style.setProperty("--swatch", entry.colour);
    item.textContent = entry.name;
    legend.append(item);
  }
}

function drawPlot() {
  const grid = $("grid");
  grid.replaceChildren();
  $("overlays").replaceChildren();
  const empty = !latest || latest.nm.length === 0;
  $("empty-hint").setAttribute("visibility", empty ? "visible" : "hidden");
  $("empty-hint-2").setAttribute("visibility", empty ? "visible" : "hidden");
  if (empty) return drawLegend([]);
  const s = scales();
  const shown = overlays();
  for (const other of shown)
    $("overlays").append(svgElement("polyline", { points: polyline(s, other).join(" "), stroke: other.colour,
                                                   class: other.reference ? "reference" : "" }));
  drawLegend(shown);
  for (const nm of niceTicks(s.nmLow, s.nmHigh, 8)) {
    grid.append(svgElement("line", { x1: s.x(nm), x2: s.x(nm), y1: PLOT.top, y2: PLOT.bottom }));
    grid.append(svgElement("text", { x: s.x(nm), y: PLOT.bottom + 16, "text-anchor": "middle" }, nm));
  }
  for (const v of niceTicks(s.low, s.high, 6)) {
    grid.append(svgElement("line", { x1: PLOT.left, x2: PLOT.right, y1: s.y(v), y2: s.y(v) }));
    grid.append(svgElement("text", { x: PLOT.left - 6, y: s.y(v) + 4, "text-anchor": "end" },
                           +v.toPrecision(6)));
  }
  grid.append(svgElement("text", { x: (PLOT.left + PLOT.right) / 2, y: 405, "text-anchor": "middle" },
                         "Wavelength (nm)"));
  grid.append(svgElement("text", { x: 14, y: 195, transform: "rotate(-90 14 195)", "text-anchor": "middle" },
                         latest.label));
  // A point without a value breaks the line: it is left out.
  const points = polyline(s, latest);
  $("trace").setAttribute("points", points.join(" "));
  $("plot").dataset.points = String(points.length);
  showCursor(cursorIndex);
}

function showCursor(index) {
  if (!latest || index < 0 || index >= latest.nm.length) return;
  cursorIndex = index;
  const s = scales();
  const nm = latest.nm[index], value = latest.values[index];
  const x = s.x(nm);
  $("cursor").setAttribute("x1", x);
  $("cursor").setAttribute("x2", x);
  $("cursor").setAttribute("visibility", "visible");
  const dot = $("cursor-dot");
  dot.setAttribute("visibility", Number.isFinite(value) ? "visible" : "hidden");
  if (Number.isFinite(value)) { dot.setAttribute("cx", x); dot.setAttribute("cy", s.y(value)); }
  $("readout").textContent = `${nm.toFixed(2)} nm: ${Number.isFinite(value) ? +value.toPrecision(6) : "no value"} (${latest.quantity})`;
}

function nearestIndex(clientX) {
  const box = $("plot").getBoundingClientRect();
  const x = (clientX - box.left) / box.width * 800;
  const s = scales();
  let best = 0;
  latest.nm.forEach((nm, i) => { if (Math.abs(s.x(nm) - x) < Math.abs(s.x(latest.nm[best]) - x)) best = i; });
  return best;
}

function spectrumOf(doc) {
  const scan = doc.scans[doc.scans.length - 1];
  const quantity = doc.quantity || "intensity";
  const when = doc.taken_at_ms ? ` at ${new Date(doc.taken_at_ms).toLocaleTimeString()}` : "";
  return {
    nm: scan.wavelength_nm,
    values: scan[quantity].map((v) => (v === null ? NaN : v)),
    quantity,
    label: quantity === "intensity" ? "Intensity (counts)" : quantity[0].toUpperCase() + quantity.slice(1),
    name: `scan ${scan.scan}${when}`,
  };
}

// A new sample from the event stream: drawn, and kept for the overlay.
function addSpectrum(doc) {
  recent.push(doc);
  recent = recent.slice(-MAX_RECENT);
  showSpectrum(doc);
}

function showSpectrum(doc) {
  latest = spectrumOf(doc);
  const scan = doc.scans[doc.scans.length - 1];
  const config = doc.configuration || {};
  const title = config.name || (config.position === null || config.position === undefined
    ? "the active configuration" : `position ${config.position}`);
  $("spectrum-title").textContent = `of ${title}, scan ${scan.scan}, ${scan.points} points`;
  drawPlot();
}

// What the server kept: shown on load and after a reload.
async function loadSpectra() {
  const spectra = await api("GET", "/api/spectra");
  kept.dark = spectra.dark;
  kept.reference = spectra.reference;
  recent = spectra.recent || [];
  if (spectra.latest) showSpectrum(spectra.latest);
  else drawPlot();
}

// A dark spectrum or white reference from a file quillon wrote (CSV, JSON, JCAMP-DX).
async function loadReferenceFile(input, which) {
  const file = input.files[0];
  if (!file) return;
  const text = await file.text();
  const reply = await act(`${which === "dark" ? "Dark spectrum" : "White reference"} loaded from ${file.name}`,
                          "POST", `/api/${which}/file`, { name: file.name, text });
  input.value = "";
  if (reply) await loadSpectra().catch((error) => say(error.message));
}

// ---- module state ----------------------------------------------------------

function showState(next) {
  state = next;
  const versions = (state.versions || []).map((v) => "0x" + v.toString(16).toUpperCase()).join(" ");
  const active = state.active_name ? `"${state.active_name}"` : `position ${state.active_position}`;
  $("module").textContent = `Versions ${versions}; estimated scan ${state.estimated_scan_time_ms} ms; ` +
    `active ${active} (${state.points ?? "no"} points); ${state.stored} stored`;
  $("lamp-state").textContent = state.lamp ? "is on" : "is off";
  $("lamp-state").dataset.on = String(Boolean(state.lamp));
  $("references").textContent = `dark: ${state.dark ? "taken" : "none"}, white: ${state.reference ? "taken" : "none"}`;
  $("dark-csv").hidden = !state.dark;
  $("reference-csv").hidden = !state.reference;
  const series = state.series;
  $("series-start").disabled = series.running;
  $("series-stop").disabled = !series.running;
  $("scan").disabled = series.running || state.scanning;
  if (series.running) say(`Series: ${series.done} of ${series.count || "∞"} scans`, true);
  if (state.scanning) startProgress(state.estimated_scan_time_ms); else stopProgress();
}

function startProgress(estimateMs) {
  if (progressTimer) return;
  const begun = performance.now();
  const bar = $("progress");
  progressTimer = setInterval(() => {
    bar.value = Math.min(0.98, (performance.now() - begun) / Math.max(estimateMs, 1));
  }, 50);
}

function stopProgress() {
  clearInterval(progressTimer);
  progressTimer = null;
  $("progress").value = 0;
}

async function loadConfigurations() {
  const configs = await api("GET", "/api/configurations");
  const list = $("configs");
  list.replaceChildren();
  for (const config of configs) {
    const item = document.createElement("li");
    item.className = config.active ? "active" : "";
    const head = document.createElement("div");
    head.textContent = `${config.active ? "★ " : ""}${config.name}: ${config.points} points, position ${config.position}`;
    item.append(head);
    const sections = document.createElement("div");
    sections.className = "sections";
    sections.textContent = config.sections.map((s) =>
      `${s.type} ${s.start_nm}-${s.end_nm} nm, width ${s.width}, ${s.patterns} patterns, exposure ${s.exposure}`).join("; ");
    item.append(sections);
    item.append(button(`Activate ${config.name}`, "Activate", () =>
      act(`Activated ${config.name}`, "POST", "/api/activate", { position: config.position })));
    item.append(button(`Remove ${config.name}`, "Remove", async () => {
      if (confirm(`Remove "${config.name}" from the module?`))
        await act(`Removed ${config.name}`, "POST", "/api/configurations/remove", { name: config.name });
    }));
    list.append(item);
  }
}

function button(label, text, onClick) {
  const b = document.createElement("button");
  b.type = "button";
  b.textContent = text;
  b.setAttribute("aria-label", label);
  b.addEventListener("click", onClick);
  return b;
}

// ---- the form for a new configuration ----------------------------------------

function fillSelect(select, entries) {
  for (const [value, text] of entries) select.append(new Option(text, value));
}

function addSection() {
  const sections = $("sections");
  if (sections.children.length >= tables.max_sections) return say("A configuration has at most 5 sections");
  const section = $("section-template").content.firstElementChild.cloneNode(true);
  section.querySelector("legend").textContent = `Section ${sections.children.length + 1}`;
  fillSelect(section.querySelector(".type"), tables.types.map((t) => [t, t]));
  fillSelect(section.querySelector(".width"), tables.widths.map((w) => [w.width, `${w.width.toFixed(2)} (${w.pixels} px)`]));
  fillSelect(section.querySelector(".exposure"), tables.exposures.map((e) => [e, String(e)]));
  section.querySelector(".width").value = tables.widths[5].width;
  section.querySelector(".exposure").value = tables.exposures[0];
  section.querySelector(".remove-section").addEventListener("click", () => section.remove());
  for (const field of section.querySelectorAll(".type, .start, .end, .width"))
    field.addEventListener("change", () => updateMost(section));
  sections.append(section);
  updateMost(section);
}

// The largest pattern count for the section's range and width, from the module.
async function updateMost(section) {
  const get = (name) => section.querySelector(name).value;
  const query = new URLSearchParams({ start_nm: get(".start"), end_nm: get(".end"), width: get(".width"), type: get(".type") });
  const most = section.querySelector(".most");
  try {
    const reply = await api("GET", `/api/max-patterns?${query}`);
    most.textContent = `at most ${reply.max_patterns}`;
    section.querySelector(".patterns").max = reply.max_patterns;
  } catch (error) {
    most.textContent = error.message;
  }
}

async function submitConfiguration(event) {
  event.preventDefault();
  const sections = [...$("sections").children].map((s) => ({
    type: s.querySelector(".type").value,
    start_nm: Number(s.querySelector(".start").value),
    end_nm: Number(s.querySelector(".end").value),
    width: Number(s.querySelector(".width").value),
    patterns: Number(s.querySelector(".patterns").value),
    exposure: Number(s.querySelector(".exposure").value),
  }));
  const name = $("add-name").value;
  const reply = await act(`Stored ${name}`, "POST", "/api/configurations",
                          { name, repeats: Number($("add-repeats").value), sections });
  if (reply) say(reply.message, true);
}

// ---- wiring ------------------------------------------------------------------

function follow() {
  if (eventSource) eventSource.close();
  const events = new EventSource(withModule("/api/events"));
  eventSource = events;
  events.addEventListener("status", (e) => {
    const previous = state;
    showState(JSON.parse(e.data));
    if (!previous || previous.stored !== state.stored || previous.active_position !== state.active_position)
      loadConfigurations().catch((error) => say(error.message));
  });
  events.addEventListener("spectrum", (e) => {
    const doc = JSON.parse(e.data);
    if (doc.kind === "sample") addSpectrum(doc);
    else {
      kept[doc.kind] = doc;
      drawPlot();
      say(`${doc.kind === "dark" ? "Dark spectrum" : "White reference"} taken`, true);
    }
    if (doc.note) say(doc.note);
  });
  events.addEventListener("error", (e) => {
    if (e.data) say(JSON.parse(e.data).error);
  });
}

async function start() {
  $("scan").addEventListener("click", async () => {
    // As `quillon scan`: the lamp is on for the scan and goes back off after
    // it, unless it was switched on here before (then it stays on).
    const doc = await act("Scanned", "POST", "/api/scan", { lamp: "on", quantity: quantity() });
    if (doc) showSpectrum(doc);  // kept for the overlay when its event comes
  });
  $("series-start").addEventListener("click", () => act("Series started", "POST", "/api/series", {
    count: Number($("series-count").value), interval_s: Number($("series-interval").value), quantity: quantity(),
    lamp: "on",
  }));
  $("series-stop").addEventListener("click", () => act("Series stopping", "POST", "/api/series/stop"));
  $("take-dark").addEventListener("click", () => act("Dark spectrum taken", "POST", "/api/dark"));
  $("take-reference").addEventListener("click", () => act("White reference taken", "POST", "/api/reference"));
  $("lamp-on").addEventListener("click", () => act("Lamp on", "POST", "/api/lamp", { on: true }));
  $("lamp-off").addEventListener("click", () => act("Lamp off", "POST", "/api/lamp", { on: false }));
  $("activate-form").addEventListener("submit", (event) => {
    event.preventDefault();
    act("Activated", "POST", "/api/activate", { position: Number($("activate-position").value) });
  });
  $("add-section").addEventListener("click", addSection);
  $("overlay-count").addEventListener("change", drawPlot);
  $("dark-file").addEventListener("change", (e) => loadReferenceFile(e.target, "dark"));
  $("reference-file").addEventListener("change", (e) => loadReferenceFile(e.target, "reference"));
  $("add-form").addEventListener("submit", submitConfiguration);
  const plot = $("plot");
  plot.addEventListener("pointermove", (e) => latest && showCursor(nearestIndex(e.clientX)));
  plot.addEventListener("keydown", (e) => {
    if (!latest) return;
    const step = { ArrowLeft: -1, ArrowRight: 1, PageDown: -10, PageUp: 10 }[e.key];
    if (step === undefined) return;
    e.preventDefault();
    const next = cursorIndex < 0 ? 0 : cursorIndex + step;  // the first key press shows the first point
    showCursor(Math.max(0, Math.min(latest.nm.length - 1, next)));
  });
  $("module-chooser").addEventListener("change", (e) => showModule(Number(e.target.value)));
  try {
    const modules = await api("GET", "/api/modules");
    if (modules.length > 1) {
      fillSelect($("module-chooser"), modules.map((m) => [m.module, `${m.serial || m.path} (${m.module})`]));
      $("module-choice").hidden = false;
    }
    linkDownloads();
    tables = await api("GET", "/api/tables");
    showState(await api("GET", "/api/module"));
    await loadConfigurations();
    await loadSpectra();
    addSection();
    follow();
  } catch (error) {
    say(`${error.message}. Open the link that \`quillon serve\` printed.`);
  }
}

// The download links name the module too.
function linkDownloads() {
  for (const link of document.querySelectorAll("a[href^='/api/download']"))
    link.href = withModule(link.getAttribute("href").replace(/&module=\d+$/, ""));
}

// Another module chosen: everything shown is read again from it.
async function showModule(index) {
  moduleIndex = index;
  latest = null;
  recent = [];
  kept.dark = kept.reference = null;
  $("spectrum-title").textContent = "";
  linkDownloads();
  try {
    showState(await api("GET", "/api/module"));
    await loadConfigurations();
    await loadSpectra();
    follow();
  } catch (error) {
    say(error.message);
  }
}

start();
