// The playground page: the source in an editor, its compacted output beside it, the problems
// underlined and listed. The conversion runs in a worker (worker.js), so the page stays
// responsive whatever the source; window.vorpex is the same engine on this thread, for scripts.
// The page starts with plain text boxes, so that the first conversion shows at once; the
// CodeMirror editors (editor.js) take their place once it is shown.

/* global VORPEX_EXAMPLES */
const examples = VORPEX_EXAMPLES;
const $ = (id) => document.getElementById(id);
const shownProblems = 500; // the list and the underlines stop there; the count says how many
const smallSource = 65536; // characters: at most this much, the first conversion runs on this thread
const tooLong = 20000; // ms before a conversion is given up and the worker started afresh

function onEdit(typed) {
  // An edited example is no longer the example.
  if (typed) $("example").value = "";
  schedule();
}

// The text boxes the page starts with: the same calls as the editors of editor.js.
function plainEditors() {
  const area = $("source-plain");
  const out = $("output-plain");
  let starts = null; // the offset of each line of area.value, while it is unchanged
  let startsOf = null;
  const lineStarts = () => {
    if (startsOf !== area.value) {
      startsOf = area.value;
      starts = [0];
      for (let i = startsOf.indexOf("\n"); i >= 0; i = startsOf.indexOf("\n", i + 1)) starts.push(i + 1);
    }
    return starts;
  };
  // A text box turns every CR into a line break; the text as it was given is kept while the box
  // holds it unchanged, so that the bytes converted are the ones given.
  let given = null;
  const text = () => (given !== null && area.value === given.replace(/\r\n?/g, "\n") ? given : area.value);
  area.addEventListener("input", () => onEdit(true));
  const outputLine = () => out.value.slice(0, out.selectionStart).split("\n").length;
  for (const event of ["keyup", "click"]) out.addEventListener(event, () => showMap(outputLine()));
  return {
    getText: text,
    setText(value) {
      given = value;
      area.value = value;
      onEdit(false);
    },
    setOutput(value) {
      out.value = value;
    },
    lines: () => lineStarts().length,
    line(n) {
      const all = lineStarts();
      const from = all[n - 1];
      const end = n < all.length ? all[n] - 1 : area.value.length;
      return { from, text: area.value.slice(from, end) };
    },
    setMarks() {},
    select(from, to) {
      area.focus();
      area.setSelectionRange(from, to);
    },
    setMapped() {},
  };
}
let editors = plainEditors();
let marks = []; // the underlines of the latest result
let mappedLines = null; // the source lines marked for the output line pointed at

// --- the conversion, in a worker ---
let worker = null;
let requests = 0;
let sent = 0; // the id of the request in flight, 0 for none
let wanted = false; // the source changed while a conversion ran
let watchdog = 0;
let last = null; // the latest result shown
let firstShown = false;

function startWorker() {
  if (window.vorpexWorker) worker = window.vorpexWorker;
  else {
    worker = new Worker("worker.js");
    const started = worker;
    (window.vorpexWasm || Promise.resolve(null)).then((module) => started.postMessage({ module }));
  }
  window.vorpexWorker = null;
  worker.onmessage = ({ data }) => {
    if (data.id !== sent) return;
    // An engine that failed (out of memory) is not used again.
    if (data.error) return restart(`The conversion failed: ${data.error}`);
    finish();
    show(data.result);
    if (wanted) convert();
  };
  worker.onerror = (event) => {
    event.preventDefault();
    restart(`The conversion failed: ${event.message || "the engine stopped"}`);
  };
}

function restart(message) {
  worker.terminate();
  finish();
  failed(message);
  startWorker();
  wanted = false;
}

function finish() {
  clearTimeout(watchdog);
  sent = 0;
  $("output-state").textContent = "";
}

function options() {
  return { defines: parseDefines(), warnings: $("warnings").checked, keepGoing: true };
}

function convert() {
  wanted = false;
  const settings = options();
  sent = ++requests;
  const text = editors.getText();
  $("output-state").textContent = "(converting…)";
  // The first conversion of a small source runs here, where the engine is ready before the
  // worker has started; the worker does all others.
  if (!firstShown && window.vorpex && text.length <= smallSource) {
    const id = sent;
    window.vorpex.ready.then(() => {
      if (id !== sent) return;
      const start = performance.now();
      const result = window.vorpex.convert(text, settings);
      result.time = performance.now() - start;
      finish();
      show(result);
      if (wanted) convert();
    });
    // Should the engine here not be ready soon, the worker converts.
    watchdog = setTimeout(() => {
      worker.postMessage({ id, source: text, options: settings });
      watchdog = setTimeout(() => restart("The conversion took too long and was stopped."), tooLong);
    }, 2000);
    return;
  }
  worker.postMessage({ id: sent, source: text, options: settings });
  watchdog = setTimeout(() => restart("The conversion took too long and was stopped."), tooLong);
}

function schedule() {
  if (sent) wanted = true;
  else convert();
}

// The NAME=VALUE items of the box, apart by blanks or commas, as -D takes them; the engine checks
// them as the command line does (a name may come once).
function parseDefines() {
  $("defines-error").textContent = "";
  return $("defines").value.split(/[\s,]+/).filter(Boolean);
}

// The engine gives each place as UTF-16 offsets from the source's start, as the editor counts.
function rangeOf(diagnostic) {
  const length = editors.getText().length;
  const from = Math.min(diagnostic.from, length);
  return { from, to: Math.min(Math.max(diagnostic.to, from), length) };
}

function show(result) {
  last = result;
  if (result.error) $("defines-error").textContent = result.error;
  editors.setOutput(result.output);
  const problems = result.diagnostics;
  marks = [];
  const list = document.createDocumentFragment();
  for (const d of problems.slice(0, shownProblems)) {
    const { from, to } = rangeOf(d);
    const notes = d.notes.map((n) => ` Note: ${n.message}`).join("");
    marks.push({ from, to, severity: d.severity, message: `${d.message} [${d.code}]${notes}` });
    const item = document.createElement("li");
    item.append(problemButton(d));
    if (d.notes.length) {
      const sub = document.createElement("ul");
      for (const n of d.notes) {
        const note = document.createElement("li");
        note.append(problemButton(n));
        sub.append(note);
      }
      item.append(sub);
    }
    list.append(item);
  }
  editors.setMarks(marks);
  $("problems").replaceChildren(list);
  const errors = problems.filter((d) => d.severity === "error").length;
  let count = `${errors} ${errors === 1 ? "error" : "errors"}, ${problems.length - errors} ${problems.length - errors === 1 ? "warning" : "warnings"}`;
  if (problems.length > shownProblems) count += ` (the first ${shownProblems} shown)`;
  $("problem-count").textContent = `(${count})`;
  const state = result.error ? "Not converted" : result.status === 0 ? "Converted" : "Stopped on a character that begins no token";
  $("status").textContent = `${state}: ${result.map.length} output lines, ${count}, ${result.time.toFixed(1)} ms, status ${result.status}.`;
  if (!firstShown) {
    firstShown = true;
    window.vorpexTimes = { firstShown: performance.now() };
    loadEditors();
  }
}

function problemButton(d) {
  const button = document.createElement("button");
  button.type = "button";
  button.className = "problem";
  button.innerHTML = `<span class="place"></span> <span class="sev-${d.severity}"></span> <span class="text"></span>`;
  button.children[0].textContent = `${d.line}:${d.column}`;
  button.children[1].textContent = d.severity;
  button.children[2].textContent = `${d.message} [${d.code}]`;
  button.setAttribute("aria-label", `Line ${d.line}, column ${d.column}: ${d.severity}: ${d.message}`);
  button.addEventListener("click", () => {
    const { from, to } = rangeOf(d);
    editors.select(from, to);
  });
  return button;
}

function failed(message) {
  last = null;
  marks = [];
  editors.setOutput("");
  editors.setMarks(marks);
  $("problems").replaceChildren();
  $("problem-count").textContent = "";
  $("status").textContent = message;
}

// --- the map: the source lines of an output line ---
function showMap(outputLine) {
  if (!last || outputLine < 1 || outputLine > last.map.length) {
    mappedLines = null;
    editors.setMapped(null);
    $("map-info").textContent = "Point at an output line to see the source lines it came from.";
    return;
  }
  const first = last.map[outputLine - 1];
  const end = Math.max(first, last.mapEnd[outputLine - 1] ?? first);
  mappedLines = [first, end];
  editors.setMapped(mappedLines);
  $("map-info").textContent = `Output line ${outputLine} comes from source ${first === end ? `line ${first}` : `lines ${first}–${end}`}.`;
}

// --- the toolbar ---
for (const [i, example] of examples.entries()) {
  $("example").append(new Option(example.name, String(i)));
}
// The example chosen in the menu, while it is unedited.
const chosenExample = () => ($("example").value === "" ? undefined : examples[Number($("example").value)]);
$("example").addEventListener("change", () => {
  const example = chosenExample();
  if (example) setSource(example.source);
});
$("defines").addEventListener("input", schedule);
$("warnings").addEventListener("change", schedule);

$("copy").addEventListener("click", async () => {
  const text = last ? last.output : "";
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    const area = Object.assign(document.createElement("textarea"), { value: text });
    document.body.append(area);
    area.select();
    document.execCommand("copy");
    area.remove();
  }
  $("status").textContent = "The output was copied.";
});
$("download").addEventListener("click", () => {
  const name = (chosenExample()?.name ?? "program.bas").replace(/\.bas$/, "") + ".out";
  const url = URL.createObjectURL(new Blob([last ? last.outputBytes : ""], { type: "application/octet-stream" }));
  Object.assign(document.createElement("a"), { href: url, download: name }).click();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
});

// The shared link: the program, deflated where the browser can, and the -D box in the fragment.
const base64url = (bytes) => btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join("")).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
const unbase64url = (text) => Uint8Array.from(atob(text.replace(/-/g, "+").replace(/_/g, "/")), (c) => c.charCodeAt(0));
async function through(bytes, stream) {
  return new Uint8Array(await new Response(new Blob([bytes]).stream().pipeThrough(stream)).arrayBuffer());
}
async function shareLink() {
  const params = new URLSearchParams();
  const bytes = new TextEncoder().encode(editors.getText());
  if (typeof CompressionStream === "function") params.set("z", base64url(await through(bytes, new CompressionStream("deflate-raw"))));
  else params.set("s", base64url(bytes));
  if ($("defines").value.trim()) params.set("d", $("defines").value.trim());
  if (!$("warnings").checked) params.set("w", "0");
  return `${location.origin}${location.pathname}#${params}`;
}
async function loadLink() {
  const params = new URLSearchParams(location.hash.slice(1));
  if (!params.has("z") && !params.has("s")) return false;
  try {
    const bytes = params.has("z") ? await through(unbase64url(params.get("z")), new DecompressionStream("deflate-raw")) : unbase64url(params.get("s"));
    $("defines").value = params.get("d") ?? "";
    $("warnings").checked = params.get("w") !== "0";
    setSource(new TextDecoder().decode(bytes));
  } catch {
    $("status").textContent = "The link's program could not be read.";
    setSource("");
  }
  return true;
}
$("share").addEventListener("click", async () => {
  const link = await shareLink();
  window.history.replaceState(null, "", link);
  $("share-line").hidden = false;
  $("share-link").value = link;
  $("share-link").select();
  try {
    await navigator.clipboard.writeText(link);
    $("status").textContent = "The link was copied.";
  } catch {
    $("status").textContent = "The link is in the box above.";
  }
});
window.addEventListener("hashchange", loadLink);

function setSource(text) {
  editors.setText(text);
}

// --- the theme: the system's, or the one chosen here ---
function applyTheme(choice) {
  if (choice) document.documentElement.dataset.theme = choice;
  else delete document.documentElement.dataset.theme;
}
try {
  $("theme").value = localStorage.getItem("vorpex-theme") ?? "";
} catch { /* storage may be off */ }
applyTheme($("theme").value);
$("theme").addEventListener("change", () => {
  applyTheme($("theme").value);
  try { localStorage.setItem("vorpex-theme", $("theme").value); } catch { /* storage may be off */ }
});

// Once the first result is shown: the editors. Without the editors' script (offline on a first visit) the text boxes stay.
function loadEditors() {
  const script = (src) => new Promise((resolve, reject) => {
    document.head.append(Object.assign(document.createElement("script"), { src, onload: resolve, onerror: reject }));
  });
  script("editor.js").then(() => {
    editors = window.vorpexEditor({ plainSource: $("source-plain"), plainOutput: $("output-plain"), text: editors.getText(), onEdit, onOutputLine: showMap });
    editors.setMarks(marks);
    if (mappedLines) editors.setMapped(mappedLines);
  }).catch(() => {});
}

// For scripts and tests: the two editors (null until they are loaded), and a way to put a source in.
window.playground = {
  get source() { return editors.source ?? null; },
  get output() { return editors.output ?? null; },
  setSource,
  get result() { return last; },
};

startWorker();
loadLink().then((linked) => {
  if (linked) return;
  $("example").value = "0";
  setSource(examples[0].source);
});
if ("serviceWorker" in navigator && location.protocol.startsWith("http")) {
  window.addEventListener("load", () => navigator.serviceWorker.register("sw.js").catch(() => {}));
}
