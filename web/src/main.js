// The playground page: the source in an editor, its compacted output beside it, the problems
// underlined and listed. The conversion runs in a worker (worker.js), so the page stays
// responsive whatever the source; window.vorpex is the same engine on this thread, for scripts.
import { EditorState, StateEffect, StateField } from "@codemirror/state";
import {
  Decoration, EditorView, drawSelection, highlightActiveLine, highlightActiveLineGutter,
  highlightSpecialChars, keymap, lineNumbers,
} from "@codemirror/view";
import { defaultKeymap, history, historyKeymap } from "@codemirror/commands";
import { HighlightStyle, StreamLanguage, syntaxHighlighting } from "@codemirror/language";
import { lintGutter, setDiagnostics } from "@codemirror/lint";
import { tags } from "@lezer/highlight";

/* global VORPEX_EXAMPLES */
const examples = VORPEX_EXAMPLES;
const $ = (id) => document.getElementById(id);
const shownProblems = 500; // the list and the underlines stop there; the count says how many
const tooLong = 20000; // ms before a conversion is given up and the worker started afresh

// Words, strings, comments and numbers, coloured as the converter sees them.
const basic = StreamLanguage.define({
  token(stream) {
    if (stream.eatSpace()) return null;
    if (stream.match("'") || stream.match(/^rem\b/i)) {
      stream.skipToEnd();
      return "comment";
    }
    if (stream.eat('"')) {
      stream.skipTo('"') ? stream.next() : stream.skipToEnd();
      return "string";
    }
    if (stream.match(/^[0-9]+(\.[0-9]*)?/)) return "number";
    if (stream.match(/^define\b/i)) return "keyword";
    if (stream.match(/^[A-Za-z_][A-Za-z0-9_$%!#]*/)) return "variableName";
    stream.next();
    return null;
  },
});
const colours = HighlightStyle.define([
  { tag: tags.comment, color: "var(--comment)", fontStyle: "italic" },
  { tag: tags.string, color: "var(--string)" },
  { tag: tags.number, color: "var(--number)" },
  { tag: tags.keyword, color: "var(--keyword)", fontWeight: "600" },
]);
const theme = EditorView.theme({
  "&": { backgroundColor: "var(--bg)", color: "var(--fg)" },
  ".cm-gutters": { backgroundColor: "var(--panel)", color: "var(--muted)", borderRight: "1px solid var(--border)" },
  ".cm-activeLine, .cm-activeLineGutter": { backgroundColor: "var(--active)" },
  ".cm-cursor": { borderLeftColor: "var(--fg)" },
  "&.cm-focused .cm-selectionBackground, .cm-selectionBackground": { backgroundColor: "var(--mapped)" },
  ".cm-tooltip": { backgroundColor: "var(--panel)", color: "var(--fg)", border: "1px solid var(--border)" },
});

// The input lines of the output line under the pointer, marked in the source.
const setMapped = StateEffect.define();
const mapped = StateField.define({
  create: () => Decoration.none,
  update(marks, tr) {
    marks = marks.map(tr.changes);
    for (const effect of tr.effects) {
      if (!effect.is(setMapped)) continue;
      const ranges = [];
      if (effect.value) {
        const [first, last] = effect.value;
        for (let n = first; n <= Math.min(last, tr.state.doc.lines); n++) {
          ranges.push(Decoration.line({ class: "cm-mapped" }).range(tr.state.doc.line(n).from));
        }
      }
      marks = Decoration.set(ranges);
    }
    return marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

const common = [lineNumbers(), highlightSpecialChars(), drawSelection(), highlightActiveLine(),
  highlightActiveLineGutter(), theme, EditorView.lineWrapping];
const source = new EditorView({
  parent: $("source"),
  state: EditorState.create({
    extensions: [...common, history(), keymap.of([...defaultKeymap, ...historyKeymap]), basic,
      syntaxHighlighting(colours), lintGutter(), mapped,
      EditorView.contentAttributes.of({ "aria-label": "BASIC source" }),
      EditorView.updateListener.of((update) => {
        if (!update.docChanged) return;
        // An edited example is no longer the example.
        if (update.transactions.some((tr) => tr.isUserEvent("input") || tr.isUserEvent("delete"))) $("example").value = "";
        schedule();
      })],
  }),
});
const output = new EditorView({
  parent: $("output"),
  state: EditorState.create({
    extensions: [...common, EditorState.readOnly.of(true),
      EditorView.contentAttributes.of({ "aria-label": "Compacted output", "aria-readonly": "true" }),
      EditorView.updateListener.of((update) => {
        if (update.selectionSet && update.view.hasFocus) showMap(update.state.doc.lineAt(update.state.selection.main.head).number);
      })],
  }),
});

// --- the conversion, in a worker ---
let worker = null;
let requests = 0;
let sent = 0; // the id of the request in flight, 0 for none
let wanted = false; // the source changed while a conversion ran
let watchdog = 0;
let last = null; // the latest result shown
let firstShown = false;

function startWorker() {
  worker = window.vorpexWorker || new Worker("worker.js");
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
  if (settings.defines === null) return;
  sent = ++requests;
  worker.postMessage({ id: sent, source: source.state.doc.toString(), options: settings });
  watchdog = setTimeout(() => restart("The conversion took too long and was stopped."), tooLong);
  $("output-state").textContent = "(converting…)";
}

function schedule() {
  if (sent) wanted = true;
  else convert();
}

// "NAME=VALUE" pairs, apart by blanks or commas, as -D takes them; null when one is not a pair.
function parseDefines() {
  const defines = {};
  for (const item of $("defines").value.split(/[\s,]+/).filter(Boolean)) {
    const equals = item.indexOf("=");
    if (equals <= 0) {
      $("defines-error").textContent = `cannot define '${item}': expected NAME=VALUE`;
      return null;
    }
    defines[item.slice(0, equals)] = item.slice(equals + 1);
  }
  $("defines-error").textContent = "";
  return defines;
}

// The UTF-16 offset in `text` of the 1-based UTF-8 byte column `column`.
function offsetOf(text, column) {
  let bytes = 1;
  let i = 0;
  while (i < text.length && bytes < column) {
    const code = text.codePointAt(i);
    bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    i += code >= 0x10000 ? 2 : 1;
  }
  return i;
}

function rangeOf(diagnostic) {
  const doc = source.state.doc;
  const line = doc.line(Math.min(Math.max(diagnostic.line, 1), doc.lines));
  const from = line.from + offsetOf(line.text, diagnostic.column);
  const to = line.from + offsetOf(line.text, Math.max(diagnostic.endColumn, diagnostic.column));
  return { from, to };
}

function show(result) {
  last = result;
  if (result.error) $("defines-error").textContent = result.error;
  output.dispatch({ changes: { from: 0, to: output.state.doc.length, insert: result.output } });
  const problems = result.diagnostics;
  const marks = [];
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
  source.dispatch(setDiagnostics(source.state, marks));
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
    loadMainThreadEngine();
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
    source.dispatch({ selection: { anchor: from, head: to }, scrollIntoView: true });
    source.focus();
  });
  return button;
}

function failed(message) {
  last = null;
  output.dispatch({ changes: { from: 0, to: output.state.doc.length, insert: "" } });
  source.dispatch(setDiagnostics(source.state, []));
  $("problems").replaceChildren();
  $("problem-count").textContent = "";
  $("status").textContent = message;
}

// --- the map: the source lines of an output line ---
function showMap(outputLine) {
  if (!last || outputLine < 1 || outputLine > last.map.length) {
    source.dispatch({ effects: setMapped.of(null) });
    $("map-info").textContent = "Point at an output line to see the source lines it came from.";
    return;
  }
  const doc = source.state.doc;
  const first = last.map[outputLine - 1];
  const end = Math.max(first, last.mapEnd[outputLine - 1] ?? first);
  source.dispatch({ effects: [setMapped.of([first, end]), EditorView.scrollIntoView(doc.line(Math.min(first, doc.lines)).from, { y: "nearest" })] });
  $("map-info").textContent = `Output line ${outputLine} comes from source ${first === end ? `line ${first}` : `lines ${first}–${end}`}.`;
}
output.dom.addEventListener("mousemove", (event) => {
  const pos = output.posAtCoords({ x: event.clientX, y: event.clientY });
  showMap(pos === null ? 0 : output.state.doc.lineAt(pos).number);
});
output.dom.addEventListener("mouseleave", () => showMap(0));

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
  const bytes = new TextEncoder().encode(source.state.doc.toString());
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
  source.dispatch({ changes: { from: 0, to: source.state.doc.length, insert: text } });
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

// window.vorpex: the module on this thread, loaded once the first result is shown.
function loadMainThreadEngine() {
  const script = (src) => new Promise((resolve, reject) => {
    document.head.append(Object.assign(document.createElement("script"), { src, onload: resolve, onerror: reject }));
  });
  script("vorpex_wasm.js").then(() => script("vorpex.js")).catch(() => {});
}

// For scripts and tests: the two editors, and a way to put a source in.
window.playground = { source, output, setSource, get result() { return last; } };

startWorker();
loadLink().then((linked) => {
  if (linked) return;
  $("example").value = "0";
  setSource(examples[0].source);
});
if ("serviceWorker" in navigator && location.protocol.startsWith("http")) {
  window.addEventListener("load", () => navigator.serviceWorker.register("sw.js").catch(() => {}));
}
