// The views: MS chromatograms, spectrum and map; DAD max plot, absorbance spectrum and map;
// traces. Every time axis follows the others' zoom; several runs are overlaid where a view can be.
"use strict";

const { ask, guarded } = ozraApi;
const state = ozraState;
const VIEWS = { ms: "MS chromatogram", spectrum: "MS spectrum", msmap: "MS map", dad: "DAD max plot",
                uv: "UV spectrum", dadmap: "DAD map", traces: "traces" };
const TIME_PLOTS = ["chrom", "msmap", "dadplot", "dadmap", "traces"];
const MARGIN = { l: 64, r: 16, t: 58, b: 40 };

let runs = [];
let ticTraces = [];
let xicTraces = [];
// What the tests and the benchmark read: when each plot was last drawn, and how often.
window.ozraView = { marks: {}, drawn: {} };

function mark(name) { window.ozraView.marks[name] = performance.now(); }

function config(name) {
  return { displaylogo: false, responsive: true, modeBarButtonsToAdd: ozraExport.buttons(name),
           toImageButtonOptions: { filename: name } };
}

async function draw(id, traces, layout) {
  const range = timeRange();
  const base = { margin: MARGIN, hovermode: "closest", showlegend: traces.length > 1,
                 legend: { orientation: "h", x: 0, y: 1, yanchor: "bottom", font: { size: 10 } } };
  if (TIME_PLOTS.includes(id)) {
    base.xaxis = { title: { text: "retention time (min)" }, ...(range ? { range, autorange: false } : {}) };
  }
  const merged = { ...base, ...layout, xaxis: { ...base.xaxis, ...(layout.xaxis || {}) } };
  await Plotly.react(id, traces, merged, config(id));
  window.ozraView.drawn[id] = (window.ozraView.drawn[id] || 0) + 1;
  mark(id);
}

function message(id, text) {
  return draw(id, [], { title: { text, font: { size: 13 } }, xaxis: { visible: false }, yaxis: { visible: false } });
}

// ---- selection -------------------------------------------------------------------------------

function selectedRuns() {
  const chosen = state.list("runs").map(Number).filter((r) => Number.isInteger(r) && r >= 0 && r < runs.length);
  return chosen.length ? chosen : [0];
}

function runName(r) { return runs[r].name; }

function msAnalysis(r) { return runs[r].ms[state.number("a") ?? 0]; }

function firstMsRun() { return selectedRuns().find((r) => msAnalysis(r)); }

// The condition chosen in the first run; the other runs use theirs with the same description, or
// else the first of the same MS level and polarity.
function referenceCondition() {
  const r = firstMsRun();
  if (r === undefined) return null;
  const conditions = msAnalysis(r).conditions;
  const c = state.number("c");
  if (c !== null && c < conditions.length) return conditions[c];
  const lowest = Math.min(...conditions.map((k) => k.ms_level));
  return conditions.find((k) => k.ms_level === lowest) || null;
}

function conditionIndex(r) {
  const reference = referenceCondition();
  const analysis = msAnalysis(r);
  if (!reference || !analysis) return -1;
  const conditions = analysis.conditions;
  const same = conditions.findIndex((k) => k.label === reference.label);
  if (same >= 0) return same;
  return conditions.findIndex((k) => k.ms_level === reference.ms_level && k.polarity === reference.polarity);
}

function msRuns() { return selectedRuns().filter((r) => msAnalysis(r) && conditionIndex(r) >= 0); }

function dadRuns() { return selectedRuns().filter((r) => runs[r].dad.length > 0); }

function timeRange() {
  const t0 = state.number("t0");
  const t1 = state.number("t1");
  return t0 !== null && t1 !== null ? [t0, t1] : null;
}

function shortened(text, length = 70) {
  return text.length > length ? `${text.slice(0, length - 3)}…` : text;
}

function shortLabel(condition) { return shortened(condition.label); }

// ---- MS --------------------------------------------------------------------------------------

function chromatogramTrace(r, answer, name, extra) {
  return { type: "scatter", mode: "lines", name, x: answer.time, y: answer.intensity,
           customdata: answer.index.map((index) => [r, index]), ...extra };
}

// The TIC or BPC of every shown run, kept for the plot that also holds the XICs.
async function fetchChromatograms() {
  const kind = state.get("k");
  const shown = msRuns();
  const answers = await Promise.all(shown.map((r) => ask("chromatogram",
    { run: r, analysis: state.get("a"), condition: conditionIndex(r), kind })));
  ticTraces = answers.map((answer, k) => chromatogramTrace(shown[k], answer,
    `${kind.toUpperCase()} ${runName(shown[k])}`, { meta: "chromatogram" }));
}

async function drawChromatogram() {
  if (!msRuns().length) return message("chrom", "no MS analysis with this condition in the chosen runs");
  await fetchChromatograms();
  await drawChromatogramPlot();
}

function drawChromatogramPlot() {
  const condition = referenceCondition();
  return draw("chrom", [...ticTraces, ...xicTraces], {
    margin: { ...MARGIN, r: 64 },  // room for the XIC's own axis
    // A click anywhere picks the spectrum nearest its time, not only a click on the line.
    hovermode: "x", hoverdistance: -1,
    title: { text: `${state.get("k").toUpperCase()} ${condition ? shortLabel(condition) : ""}`, font: { size: 12 } },
    yaxis: { title: { text: "intensity" }, exponentformat: "e" },
    yaxis2: { overlaying: "y", side: "right", showgrid: false, exponentformat: "e", visible: xicTraces.length > 0 },
    showlegend: true,
  });
}

async function drawXic() {
  const mz = state.number("mz");
  if (mz === null) {
    xicTraces = [];
  } else {
    const shown = msRuns();
    const answers = await Promise.all(shown.map((r) => ask("xic", { run: r, analysis: state.get("a"),
      condition: conditionIndex(r), mz, tol: state.get("tol"), unit: state.get("unit") })));
    xicTraces = answers.map((answer, k) => chromatogramTrace(shown[k], answer,
      `XIC ${mz} ± ${state.get("tol")} ${state.get("unit")} ${runName(shown[k])}`,
      { meta: "xic", yaxis: "y2", line: { dash: "dot" } }));
  }
  await drawChromatogramPlot();
  mark("xic");
}

function sticks(points) {
  const x = [];
  const y = [];
  for (let k = 0; k < points.x.length; k++) x.push(points.x[k], points.x[k], null);
  for (let k = 0; k < points.intensity.length; k++) y.push(0, points.intensity[k], null);
  return { x, y };
}

async function drawSpectrum() {
  const r = state.number("sr");
  const index = state.number("s");
  if (r === null || index === null || r >= runs.length) return message("spectrum", "click the chromatogram for a spectrum");
  const answer = await ask("spectrum", { run: r, analysis: state.get("a"), index });
  const traces = [];
  if (answer.profile) {
    traces.push({ type: "scatter", mode: "lines", name: "profile", x: answer.profile.x, y: answer.profile.intensity,
                  line: { color: "#9ca3af" } });
  }
  const drawn = sticks(answer.centroid);
  traces.push({ type: "scatter", mode: "lines", name: "centroid", x: drawn.x, y: drawn.y, line: { color: "#1f77b4" },
                csv_x: answer.centroid.x, csv_y: answer.centroid.intensity });
  await draw("spectrum", traces, {
    title: { text: `${runName(r)} spectrum ${answer.index} at ${answer.retention_time?.toFixed(4)} min: `
                   + shortLabel(answer.condition), font: { size: 12 } },
    xaxis: { title: { text: "m/z" } }, yaxis: { title: { text: "intensity" }, exponentformat: "e" },
    showlegend: Boolean(answer.profile),
  });
  document.getElementById("properties").textContent =
    [`condition: ${answer.condition.label}`, ...Object.entries(answer.properties).map(([k, v]) => `${k}: ${v}`)].join("\n");
  window.ozraView.spectrum = { run: r, index: answer.index };
  mark("spectrum");
}

// A map as the plotting library draws it: rows of time bins, drawn transposed.
function mapTrace(answer, logarithmic, name) {
  const binary = atob(answer.values);
  const bytes = new Uint8Array(binary.length);
  for (let k = 0; k < binary.length; k++) bytes[k] = binary.charCodeAt(k);
  const values = new Float32Array(bytes.buffer);
  const [rows, columns] = answer.shape;
  const raw = [];
  const z = [];
  for (let i = 0; i < rows; i++) {
    const row = values.subarray(i * columns, (i + 1) * columns);
    raw.push(row);
    if (logarithmic) z.push(Array.from(row, (v) => (v > 0 ? Math.log10(v) : NaN)));
    else z.push(row);
  }
  // Four decades below the largest intensity on a logarithmic scale: the noise floor stays dark.
  let top = -Infinity;
  for (const row of z) for (const v of row) if (v > top) top = v;
  const floor = logarithmic && Number.isFinite(top) ? { zmin: top - 4, zmax: top } : {};
  return { type: "heatmap", name, x: answer.time_edges, y: answer.x_edges, z, transpose: true, ...floor,
           customdata_values: raw, colorscale: "Viridis", hoverongaps: false,
           colorbar: { title: { text: logarithmic ? "log10" : "" }, thickness: 10 } };
}

function binsOf(id) {
  const element = document.getElementById(id);
  const width = Math.round((element.clientWidth || 600) - MARGIN.l - MARGIN.r);
  const height = Math.round((element.clientHeight || 300) - MARGIN.t - MARGIN.b);
  return { time_bins: Math.max(50, Math.min(1000, width)), x_bins: Math.max(50, Math.min(600, height)) };
}

function timeWindow() {
  const range = timeRange();
  return range ? { t0: range[0], t1: range[1] } : {};
}

async function drawMsMap() {
  const r = msRuns()[0];
  if (r === undefined) return message("msmap", "no MS analysis with this condition in the chosen runs");
  const answer = await ask("ms_map", { run: r, analysis: state.get("a"), condition: conditionIndex(r),
    ...binsOf("msmap"), ...timeWindow(), x0: state.get("m0"), x1: state.get("m1") });
  await draw("msmap", [mapTrace(answer, true, runName(r))], {
    title: { text: `${runName(r)}: retention time x m/z, largest intensity per bin`, font: { size: 12 } },
    yaxis: { title: { text: "m/z" }, range: [answer.x_edges[0], answer.x_edges[answer.x_edges.length - 1]] },
    xaxis: { range: [answer.time_edges[0], answer.time_edges[answer.time_edges.length - 1]] },
  });
  mark("msmap");
}

// ---- DAD -------------------------------------------------------------------------------------

function dadWindow() {
  const w0 = state.get("w0");
  const w1 = state.get("w1");
  return w0 !== "" && w1 !== "" ? { w0, w1 } : {};
}

async function drawDadPlot() {
  const shown = dadRuns();
  if (!shown.length) return message("dadplot", "no DAD analysis in the chosen runs");
  const window_ = dadWindow();
  const answers = await Promise.all(shown.map((r) => ask("dad_chromatogram",
    { run: r, analysis: 0, tol: state.get("dtol"), ...window_ })));
  const traces = [];
  answers.forEach((answer, k) => {
    const name = runName(shown[k]);
    traces.push(chromatogramTrace(shown[k], answer.max_plot, `max plot ${name}`, { meta: "max_plot" }));
    if (answer.window) {
      traces.push(chromatogramTrace(shown[k], answer.window, `${window_.w0}–${window_.w1} nm ${name}`,
                                    { meta: "window", line: { dash: "dot" } }));
    }
  });
  await draw("dadplot", traces, {
    title: { text: "DAD max plot" + (window_.w0 ? ` and ${window_.w0}–${window_.w1} nm` : ""), font: { size: 12 } },
    yaxis: { title: { text: runs[shown[0]].dad[0].unit || "absorbance" } }, showlegend: true,
  });
  mark("dadplot");
}

async function drawUv() {
  const time = state.number("t");
  const shown = dadRuns();
  if (time === null || !shown.length) return message("uv", shown.length ? "click a time for its absorbance spectrum" : "no DAD analysis");
  const answers = await Promise.all(shown.map((r) => ask("dad_spectrum", { run: r, analysis: 0, time })));
  await draw("uv", answers.map((answer, k) => ({ type: "scatter", mode: "lines", x: answer.x, y: answer.intensity,
    name: `${runName(shown[k])} ${answer.retention_time?.toFixed(4)} min` })), {
    title: { text: `absorbance spectrum nearest ${time.toFixed(4)} min`, font: { size: 12 } },
    xaxis: { title: { text: "wavelength (nm)" } }, yaxis: { title: { text: runs[shown[0]].dad[0].unit || "absorbance" } },
  });
  mark("uv");
}

async function drawDadMap() {
  const r = dadRuns()[0];
  if (r === undefined) return message("dadmap", "no DAD analysis in the chosen runs");
  const answer = await ask("dad_map", { run: r, analysis: 0, ...binsOf("dadmap"), ...timeWindow(),
    x0: state.get("l0"), x1: state.get("l1") });
  await draw("dadmap", [mapTrace(answer, false, runName(r))], {
    title: { text: `${runName(r)}: retention time x wavelength, largest absorbance per bin`, font: { size: 12 } },
    yaxis: { title: { text: "wavelength (nm)" }, range: [answer.x_edges[0], answer.x_edges[answer.x_edges.length - 1]] },
    xaxis: { range: [answer.time_edges[0], answer.time_edges[answer.time_edges.length - 1]] },
  });
  mark("dadmap");
}

// ---- traces ----------------------------------------------------------------------------------

function traceKey(trace) { return `${trace.kind}:${trace.analysis}:${trace.index}`; }

async function drawTraces() {
  const chosen = state.get("tr") ? state.get("tr").split(";") : [];
  if (!chosen.length) return message("traces", "choose traces above");
  const requests = [];
  for (const r of selectedRuns()) {
    for (const trace of runs[r].traces) if (chosen.includes(traceKey(trace))) requests.push([r, trace]);
  }
  const answers = await Promise.all(requests.map(([r, trace]) => ask("trace",
    { run: r, kind: trace.kind, analysis: trace.analysis, index: trace.index })));
  await draw("traces", answers.map((answer, k) => ({ type: "scatter", mode: "lines", x: answer.time,
    y: answer.intensity, name: `${shortened(answer.label, 50)}${answer.unit ? ` (${answer.unit})` : ""} ${runName(requests[k][0])}` })),
    { title: { text: "traces", font: { size: 12 } }, showlegend: true });
  mark("traces");
}

// ---- controls --------------------------------------------------------------------------------

function fillSelect(id, options, chosen) {
  const select = document.getElementById(id);
  select.replaceChildren(...options.map(([value, text]) => new Option(text, value, false, String(value) === String(chosen))));
}

function fillConditionControls() {
  const r = firstMsRun();
  const analyses = r === undefined ? [] : runs[r].ms;
  fillSelect("analysis", analyses.map((a, k) => [k, `${k} (${a.spectra} spectra)`]), state.get("a"));
  const reference = referenceCondition();
  if (!reference) {
    for (const id of ["level", "polarity", "condition"]) fillSelect(id, [], "");
    return;
  }
  const conditions = msAnalysis(r).conditions;
  const levels = [...new Set(conditions.map((k) => k.ms_level))].sort();
  fillSelect("level", levels.map((level) => [level, `MS${level}`]), reference.ms_level);
  const polarities = [...new Set(conditions.filter((k) => k.ms_level === reference.ms_level).map((k) => String(k.polarity)))];
  fillSelect("polarity", polarities.map((p) => [p, p === "null" ? "unknown" : p.toLowerCase()]), String(reference.polarity));
  const matching = conditions.map((k, index) => [index, k])
    .filter(([, k]) => k.ms_level === reference.ms_level && String(k.polarity) === String(reference.polarity));
  fillSelect("condition", matching.map(([index, k]) => [index, shortLabel(k)]), conditions.indexOf(reference));
}

// The first condition of the chosen MS level and polarity.
function chooseCondition(level, polarity) {
  const conditions = msAnalysis(firstMsRun()).conditions;
  const found = conditions.findIndex((k) => k.ms_level === level && (polarity === undefined || String(k.polarity) === polarity));
  const fallback = conditions.findIndex((k) => k.ms_level === level);
  state.set({ c: found >= 0 ? found : fallback });
}

function checkboxes(containerId, items, chosen, onChange) {
  const container = document.getElementById(containerId);
  container.replaceChildren(...items.map(([value, text]) => {
    const label = document.createElement("label");
    const box = document.createElement("input");
    box.type = "checkbox";
    box.value = value;
    box.checked = chosen.includes(String(value));
    box.onchange = () => onChange([...container.querySelectorAll("input:checked")].map((b) => b.value));
    label.append(box, ` ${text} `);
    return label;
  }));
}

function showViews() {
  const shown = state.list("views");
  for (const section of document.querySelectorAll("section[data-view]")) section.hidden = !shown.includes(section.dataset.view);
}

function fillControls() {
  checkboxes("runs", runs.map((run, r) => [r, run.name]), selectedRuns().map(String), (chosen) => {
    state.set({ runs: chosen.join(",") || "0" });
    fillControls();
    redrawAll();
  });
  checkboxes("views", Object.entries(VIEWS), state.list("views"), (chosen) => {
    state.set({ views: chosen.join(",") });
    showViews();
    redrawAll();
  });
  const traces = [];
  const seen = new Set();
  for (const r of selectedRuns()) {
    for (const trace of runs[r].traces) {
      if (!seen.has(traceKey(trace))) { seen.add(traceKey(trace)); traces.push([traceKey(trace), shortened(trace.label, 50)]); }
    }
  }
  checkboxes("trace-choice", traces, state.get("tr").split(";"), (chosen) => {
    state.set({ tr: chosen.join(";") });
    guarded("traces", drawTraces);
  });
  fillConditionControls();
  for (const id of ["kind", "mz", "tol", "unit", "w0", "w1", "dtol"]) {
    const key = { kind: "k" }[id] || id;
    if (state.get(key) !== "") document.getElementById(id).value = state.get(key);
  }
  showViews();
}

function shown(view) { return state.list("views").includes(view); }

// Every shown view drawn again; the chromatogram itself only when `chromatogram` is true.
function redrawAll(chromatogram = true) {
  const jobs = [];
  if (shown("ms")) {
    jobs.push(guarded("MS chromatogram", async () => {
      if (chromatogram) await drawChromatogram();
      await drawXic();
    }));
  }
  if (shown("spectrum")) jobs.push(guarded("MS spectrum", drawSpectrum));
  if (shown("dad")) jobs.push(guarded("DAD max plot", drawDadPlot));
  if (shown("uv")) jobs.push(guarded("UV spectrum", drawUv));
  if (shown("msmap")) jobs.push(guarded("MS map", drawMsMap));
  if (shown("dadmap")) jobs.push(guarded("DAD map", drawDadMap));
  if (shown("traces")) jobs.push(guarded("traces", drawTraces));
  return Promise.all(jobs);
}

function onChange(id, handler) { document.getElementById(id).addEventListener("change", handler); }

function bindControls() {
  const msChanged = () => {
    fillConditionControls();
    if (shown("ms")) guarded("MS chromatogram", async () => { await drawChromatogram(); await drawXic(); });
    if (shown("msmap")) guarded("MS map", drawMsMap);
  };
  onChange("analysis", (e) => { state.set({ a: e.target.value, c: "", m0: "", m1: "" }); msChanged(); });
  onChange("level", (e) => { chooseCondition(Number(e.target.value)); state.set({ m0: "", m1: "" }); msChanged(); });
  onChange("polarity", (e) => {
    chooseCondition(Number(document.getElementById("level").value), e.target.value);
    state.set({ m0: "", m1: "" });
    msChanged();
  });
  onChange("condition", (e) => { state.set({ c: e.target.value, m0: "", m1: "" }); msChanged(); });
  onChange("kind", (e) => { state.set({ k: e.target.value }); guarded("MS chromatogram", drawChromatogram); });
  for (const id of ["mz", "tol", "unit"]) {
    onChange(id, (e) => { state.set({ [id]: e.target.value }); guarded("XIC", drawXic); });
  }
  for (const id of ["w0", "w1", "dtol"]) {
    onChange(id, (e) => { state.set({ [id]: e.target.value }); guarded("DAD max plot", drawDadPlot); });
  }
}

// ---- clicks and zoom -------------------------------------------------------------------------

function bindPlots() {
  document.getElementById("chrom").on("plotly_click", (event) => {
    const point = event.points.find((p) => p.data.meta === "chromatogram") || event.points[0];
    if (!point || !point.customdata) return;
    const [r, index] = point.customdata;
    state.set({ sr: r, s: index, t: point.x });
    guarded("MS spectrum", drawSpectrum);
    if (shown("uv")) guarded("UV spectrum", drawUv);
  });
  document.getElementById("spectrum").on("plotly_click", (event) => {
    const point = event.points[0];
    if (!point || point.x === null) return;
    const mz = Number(point.x.toFixed(5));
    document.getElementById("mz").value = mz;
    state.set({ mz });
    guarded("XIC", drawXic);
  });
  document.getElementById("dadplot").on("plotly_click", (event) => {
    const point = event.points[0];
    if (!point) return;
    state.set({ t: point.x });
    guarded("UV spectrum", drawUv);
  });
  for (const id of TIME_PLOTS) document.getElementById(id).on("plotly_relayout", (event) => zoomed(id, event));
}

let following = false;

// A zoom of one plot: its time range for every time axis, its y range for a map's bins.
// The [from, to] an axis was zoomed to ("autorange" when reset, null when untouched): a drag
// reports its ends one by one, a call of relayout as one array.
function zoomOf(event, axis) {
  if (event[`${axis}.autorange`]) return "autorange";
  if (event[`${axis}.range`]) return event[`${axis}.range`];
  if (event[`${axis}.range[0]`] !== undefined) return [event[`${axis}.range[0]`], event[`${axis}.range[1]`]];
  return null;
}

function zoomed(id, event) {
  if (following) return;
  const changes = {};
  const time = zoomOf(event, "xaxis");
  if (time) Object.assign(changes, time === "autorange" ? { t0: "", t1: "" } : { t0: time[0], t1: time[1] });
  const mapKeys = { msmap: ["m0", "m1"], dadmap: ["l0", "l1"] }[id];
  const other = mapKeys ? zoomOf(event, "yaxis") : null;
  if (other) {
    Object.assign(changes, other === "autorange" ? { [mapKeys[0]]: "", [mapKeys[1]]: "" }
                                                 : { [mapKeys[0]]: other[0], [mapKeys[1]]: other[1] });
  }
  if (!Object.keys(changes).length) return;
  state.set(changes);
  const range = timeRange();
  following = true;
  const others = TIME_PLOTS.filter((other) => other !== id && !["msmap", "dadmap"].includes(other)
                                              && document.getElementById(other).data);
  Promise.all(others.map((other) => Plotly.relayout(other, range ? { "xaxis.range": range } : { "xaxis.autorange": true })))
    .finally(() => { following = false; });
  if (shown("msmap")) guarded("MS map", drawMsMap);
  if (shown("dadmap")) guarded("DAD map", drawDadMap);
}

// ---- start -----------------------------------------------------------------------------------

function loadPlotly() {
  return new Promise((resolve, reject) => {
    const script = document.createElement("script");
    script.src = "/static/plotly.min.js?v=4.1.1";
    script.onload = resolve;
    script.onerror = () => reject(new Error("the plotting library did not load"));
    document.head.appendChild(script);
  });
}

function painted() { return new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))); }

guarded("starting", async () => {
  runs = (await ozraApi.overview).runs;
  fillControls();
  bindControls();
  // The chromatogram first, on a canvas, then the plotting library that makes it interactive.
  if (shown("ms") && msRuns().length) {
    await guarded("MS chromatogram", async () => {
      await fetchChromatograms();
      ozraQuickLook(document.getElementById("chrom"), ticTraces, `${state.get("k").toUpperCase()} (loading the interactive plot…)`);
      await painted();
      mark("first-tic");
    });
  }
  await loadPlotly();
  for (const id of ["chrom", "spectrum", "msmap", "dadplot", "uv", "dadmap", "traces"]) {
    document.getElementById(id).replaceChildren();
    await message(id, "");
  }
  if (ticTraces.length) await drawChromatogramPlot();
  bindPlots();
  await redrawAll(!ticTraces.length);
  window.ozraView.ready = true;
  mark("ready");
});
