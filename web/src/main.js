// The playground page: the source in an editor, its compacted output beside it, the problems
// underlined and listed. The conversion runs in a worker (worker.js), so the page stays
// responsive whatever the source; window.vorpex is the same engine on this thread, for scripts.
// The page starts with plain text boxes, so that the first conversion shows at once; the
// CodeMirror editors (editor.js) take their place once it is shown.
// The work (the source, its name, the -D box, the warnings) is kept in the browser as it changes
// and comes back on the next visit; a link opened explicitly shows its program instead.

/* global VORPEX_EXAMPLES */
import { renumberAction } from "./renumber.js";

const examples = VORPEX_EXAMPLES;
const $ = (id) => document.getElementById(id);
const shownProblems = 500; // the list and the underlines stop there; the count says how many
const smallSource = 65536; // characters: at most this much, the first conversion runs on this thread
const tooLong = 20000; // ms before a conversion is given up and the worker started afresh
// The most the page takes from a paste, a file or a link: a link's program stops inflating here.
const maxSourceBytes = 8 << 20;
// The longest link that Share makes: browsers and the places links are pasted refuse longer ones.
const maxLinkChars = 64 << 10;
const savedKey = "vorpex-work";
const decoder = new TextDecoder();
// Files and links are taken as UTF-8, byte for byte (a BOM too): bytes that are not UTF-8 are
// refused rather than changed.
const strictDecoder = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });
const defaultName = "program.bas";

const kib = (n) => `${Math.round(n / 1024).toLocaleString("en")} KiB`;
const mib = (n) => `${(n / (1 << 20)).toFixed(n % (1 << 20) ? 1 : 0)} MiB`;

// --- messages the user acts on: a bar under the toolbar ---
let noticeKind = ""; // "refusal": a paste, file or link refused, which a later success clears
function notify(message, actions = [], kind = "") {
  noticeKind = kind;
  $("notice-text").textContent = message;
  $("notice-actions").replaceChildren(...actions.map(({ label, run }) => {
    const button = Object.assign(document.createElement("button"), { type: "button", textContent: label });
    button.addEventListener("click", () => {
      clearNotice();
      run();
    });
    return button;
  }));
  $("notice").hidden = false;
}
function clearNotice() {
  $("notice").hidden = true;
  noticeKind = "";
}
// A refusal no longer holds once a later paste, file or edit went in.
function clearRefusal() {
  if (noticeKind === "refusal") clearNotice();
}
$("notice-close").addEventListener("click", clearNotice);

// Whether a text or a file of `size` bytes (`text`: its characters) fits; says so where it does not.
function fits(what, size) {
  if (size <= maxSourceBytes) return true;
  notify(`${what} is ${mib(size)}, over the ${mib(maxSourceBytes)} that the page takes; it was not opened.`, [], "refusal");
  return false;
}
const utf8Size = (text) => (text.length * 3 <= maxSourceBytes ? text.length : new TextEncoder().encode(text).length);

let sourceName = defaultName;
// The program of a link opened over saved work is never saved over it unless the user chooses:
// "shown" while it is unedited, "edited" once edited (its edits are kept apart, under
// linkWorkKey, with the link they came from), "" when the page shows the work.
let linkState = "";
const linkWorkKey = "vorpex-link-work";
// typed: by the user; whole: a paste (or a drop) that replaced the whole text.
function onEdit(typed, whole = false) {
  // An edited example is no longer the example; a program pasted over everything has no name.
  if (typed) {
    $("example").value = "";
    if (whole) setName(defaultName);
    clearRefusal();
    changedByUser();
  }
  schedule();
}
function changedByUser() {
  if (linkState === "shown") {
    linkState = "edited";
    askAboutLink();
  }
  // The work edited after a link was made of it: a reload brings the work back, not the link.
  if (!linkState && location.hash) window.history.replaceState(null, "", location.pathname + location.search);
  saveSoon();
}
function askAboutLink() {
  notify("You are editing the program of a link. Your saved work is kept until you choose: your edits are kept apart meanwhile.",
    [{ label: "Keep this as my work", run: adoptLink }, { label: "Back to my saved work", run: restoreSaved }], "link");
}
// The link's program, edited, becomes the work: a reload brings it back, not the link.
function adoptLink() {
  linkState = "";
  forgetLinkWork();
  if (location.hash) window.history.replaceState(null, "", location.pathname + location.search);
  save();
  $("status").textContent = "The link's program is now your work.";
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
  let unchanged = null; // given, as the box shows it
  let heldOutput = null; // an output too large for the box, kept for the editors
  const text = () => (given !== null && area.value === unchanged ? given : area.value);
  let pasteOverAll = false;
  area.addEventListener("input", () => {
    onEdit(true, pasteOverAll);
    pasteOverAll = false;
  });
  area.addEventListener("paste", (event) => {
    const pasted = event.clipboardData.getData("text/plain");
    if (!fits("The pasted text", utf8Size(pasted))) event.preventDefault();
    else pasteOverAll = area.selectionStart === 0 && area.selectionEnd === area.value.length;
  });
  const outputLine = () => out.value.slice(0, out.selectionStart).split("\n").length;
  for (const event of ["keyup", "click"]) out.addEventListener(event, () => showMap(outputLine()));
  return {
    getText: text,
    length: () => text().length,
    setText(value) {
      given = value;
      // A text box lays out all its text at once: a large one would hold the page for seconds, so
      // it waits for the editors, which show only what is in view.
      const large = value.length > smallSource;
      area.value = large ? "" : value;
      area.readOnly = large;
      area.placeholder = large ? "Opening the editor…" : "";
      unchanged = area.value;
      if (large) loadEditors();
      onEdit(false);
    },
    setOutput(value) {
      heldOutput = value.length > smallSource ? value : null;
      out.value = heldOutput === null ? value : "";
      out.placeholder = heldOutput === null ? "" : "Opening the editor…";
    },
    outputText: () => heldOutput ?? out.value,
    lines: () => lineStarts().length,
    line(n) {
      const all = lineStarts();
      const from = all[n - 1];
      const end = n < all.length ? all[n] - 1 : area.value.length;
      return { from, text: area.value.slice(from, end) };
    },
    setMarks() {},
    marksAre: () => true,
    select(from, to) {
      area.focus();
      area.setSelectionRange(from, to);
    },
    setMapped() {},
  };
}
let editors = plainEditors();
let marks = []; // the underlines of the latest result
let problemsKey = ""; // what the list and the underlines show, but for the offsets
let mappedLines = null; // the source lines marked for the output line pointed at

// --- the conversion, in a worker ---
let worker = null;
let requests = 0;
let sent = 0; // the id of the request in flight, 0 for none
let wanted = false; // the source changed while a conversion ran
let watchdog = 0;
let pause = 0; // the timer that gathers quick changes into one conversion
let last = null; // the latest result shown
let firstShown = false;

// The worker starts once the first result is shown (or when the first conversion needs it): the
// first conversion of a small source, on this thread, does not share the machine with its start.
function startWorker() {
  worker = new Worker("worker.js");
  const started = worker;
  (window.vorpexWasm || Promise.resolve(null)).then((module) => started.postMessage({ module }));
  worker.onmessage = ({ data }) => {
    if (data.id !== sent) return;
    // An engine that failed (out of memory) is not used again.
    if (data.error) return restart(`The conversion failed: ${data.error}`);
    finish();
    data.result.output = decoder.decode(data.result.outputBytes);
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
  return { defines: defineItems(), warnings: $("warnings").checked, keepGoing: true, leaveOutRefused: true };
}

function convert() {
  wanted = false;
  clearTimeout(pause);
  pause = 0;
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
      if (!worker) startWorker();
      worker.postMessage({ id, source: text, options: settings });
      watchdog = setTimeout(() => restart("The conversion took too long and was stopped."), tooLong);
    }, 2000);
    return;
  }
  if (!worker) startWorker();
  worker.postMessage({ id: sent, source: text, options: settings });
  watchdog = setTimeout(() => restart("The conversion took too long and was stopped."), tooLong);
}

// A change converts at once in a small source; in a large one, changes that come quickly (typing)
// are gathered, so that the worker converts the text the user stopped at rather than each key.
function schedule() {
  $("output-state").textContent = "(converting…)";
  if (sent) {
    wanted = true;
    return;
  }
  clearTimeout(pause);
  const size = editors.length();
  if (!firstShown || size < 20000) convert();
  else pause = setTimeout(convert, Math.min(60, 10 + size / 20000));
}

// The NAME=VALUE items of the box, apart by blanks or commas, as -D takes them; the engine checks
// them as the command line does (a name may come once) and leaves out those it refuses.
function defineItems() {
  return $("defines").value.split(/[\s,]+/).filter(Boolean);
}

function show(result) {
  last = result;
  window.vorpexTimes && (window.vorpexTimes.lastShown = performance.now());
  const refused = result.refused ?? [];
  const refusals = result.error ? [result.error] : refused.map((r) => r.message);
  $("defines-error").textContent = refused.length ? `Left out: ${refusals.join("; ")}` : refusals.join("; ");
  if (refusals.length) $("defines").setAttribute("aria-invalid", "true");
  else $("defines").removeAttribute("aria-invalid");
  editors.setOutput(result.output);
  const problems = result.diagnostics;
  // While typing, the problems are mostly those of the result before, moved with the text (the
  // editor moves the underlines itself): the list and the underlines are made again only when
  // one differs in more than its offsets.
  const shown = problems.slice(0, shownProblems);
  const key = JSON.stringify(shown.map((d) => [d.line, d.column, d.endColumn, d.code, d.message, d.notes.length]));
  const ranges = key === problemsKey ? shown.map((d) => rangeOf(d, editors.length())) : null;
  if (ranges && !editors.marksAre(ranges)) {
    // The same problems, but their underlines went with the text they were on (a paste over it).
    marks = marks.map((m, i) => ({ ...m, ...ranges[i] }));
    editors.setMarks(marks);
  }
  if (key !== problemsKey) {
    problemsKey = key;
    marks = [];
    const list = document.createDocumentFragment();
    for (const [i, d] of shown.entries()) {
      const { from, to } = rangeOf(d, editors.length());
      const notes = d.notes.map((n) => ` Note: ${n.message}`).join("");
      marks.push({ from, to, severity: d.severity, message: `${d.message} [${d.code}]${notes}` });
      const item = document.createElement("li");
      item.append(problemButton(d, i, -1));
      if (d.notes.length) {
        const sub = document.createElement("ul");
        for (const [j, n] of d.notes.entries()) {
          const note = document.createElement("li");
          note.append(problemButton(n, i, j));
          sub.append(note);
        }
        item.append(sub);
      }
      list.append(item);
    }
    editors.setMarks(marks);
    if (!shown.length) list.append(Object.assign(document.createElement("li"), { className: "empty", textContent: "No problems: nothing to fix." }));
    $("problems").replaceChildren(list);
  }
  const errors = problems.filter((d) => d.severity === "error").length;
  const warnings = problems.length - errors;
  const plural = (n, word) => `${n} ${word}${n === 1 ? "" : "s"}`;
  let count = `${plural(errors, "error")}, ${plural(warnings, "warning")}`;
  if (problems.length > shownProblems) count += ` (the first ${shownProblems} shown)`;
  $("problem-count").textContent = `(${count})`;
  $("error-badge").textContent = plural(errors, "error");
  $("warning-badge").textContent = plural(warnings, "warning");
  $("error-badge").classList.toggle("none", errors === 0);
  $("warning-badge").classList.toggle("none", warnings === 0);
  $("tab-count").textContent = problems.length ? `(${problems.length})` : "";
  let state = result.error ? "Not converted" : result.status === 0 ? "Converted" : "Stopped on a character that begins no token";
  if (refused.length) state += ` without ${refused.map((r) => `'${r.text}'`).join(", ")} (left out: see the -D box)`;
  $("status").textContent = `${state}: ${result.map.length} output lines, ${count}, ${result.time.toFixed(1)} ms, status ${result.status}.`;
  if (!firstShown) {
    firstShown = true;
    window.vorpexTimes = { firstShown: performance.now() };
    if (!worker) startWorker();
    loadEditors();
  }
}

// The engine gives each place as UTF-16 offsets from the source's start, as the editor counts.
function rangeOf(d, length) {
  const from = Math.min(d.from, length);
  return { from, to: Math.min(Math.max(d.to, from), length) };
}

// The button of problem `index` of the latest result (of its note `note`, -1 for the problem).
function problemButton(d, index, note) {
  const button = document.createElement("button");
  button.type = "button";
  button.className = "problem";
  const part = (className, text) => Object.assign(document.createElement("span"), { className, textContent: text });
  button.append(part("place", `${d.line}:${d.column}`), " ", part(`sev-${d.severity}`, d.severity), " ", part("text", `${d.message} [${d.code}]`));
  button.setAttribute("aria-label", `${button.textContent} (line ${d.line}, column ${d.column})`);
  button.addEventListener("click", () => {
    const problem = last.diagnostics[index];
    const { from, to } = rangeOf(note < 0 ? problem : problem.notes[note], editors.length());
    showTab("source");
    editors.select(from, to);
  });
  return button;
}

function failed(message) {
  last = null;
  marks = [];
  problemsKey = "";
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

// --- the source and its name ---
function setName(name) {
  sourceName = name || defaultName;
  $("source-name").textContent = sourceName;
}
// Puts a source in, named `name` (a file's or an example's; program.bas when none).
function setSource(text, name = defaultName) {
  setName(name);
  const example = examples.findIndex((e) => e.name === sourceName && e.source === text);
  $("example").value = example < 0 ? "" : String(example);
  problemsKey = "";
  editors.setText(text);
}
const baseName = () => sourceName.replace(/\.[^.]*$/, "") || "program";

// --- the toolbar ---
for (const [i, example] of examples.entries()) {
  $("example").append(new Option(example.name, String(i)));
}
function startFromExample(i = 0) {
  setSource(examples[i].source, examples[i].name);
  changedByUser();
}
$("example").addEventListener("change", () => {
  if ($("example").value !== "") startFromExample(Number($("example").value));
});
$("defines").addEventListener("input", () => {
  changedByUser();
  schedule();
});
$("warnings").addEventListener("change", () => {
  changedByUser();
  schedule();
});

function download(bytes, name) {
  const url = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
  Object.assign(document.createElement("a"), { href: url, download: name }).click();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}
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
$("download").addEventListener("click", () => download(last ? last.outputBytes : "", `${baseName()}.out`));
function downloadSource() {
  download(new TextEncoder().encode(editors.getText()), /\.[^.]+$/.test(sourceName) ? sourceName : `${sourceName}.bas`);
}

// --- files: opened from disk or dropped on the page ---
async function openFile(file) {
  if (!file || !fits(`The file ${file.name}`, file.size)) return;
  const bytes = new Uint8Array(await file.arrayBuffer());
  let text;
  try {
    text = strictDecoder.decode(bytes);
  } catch {
    const at = firstNotUtf8(bytes);
    const why = `The file ${file.name} is not UTF-8 text (byte 0x${bytes[at].toString(16).toUpperCase().padStart(2, "0")} at offset ${at}); it was not opened. The page converts UTF-8 only; the command line converts any bytes as they are: vorpex -i ${file.name} -o ${file.name.replace(/\.[^.]*$/, "")}.out`;
    notify(why, [], "refusal");
    $("status").textContent = `${file.name} was not opened: it is not UTF-8 text.`;
    return;
  }
  clearNotice();
  setSource(text, file.name);
  changedByUser();
  $("status").textContent = `Opened ${file.name}.`;
}
// The offset of the first byte where no UTF-8 character begins or goes on.
function firstNotUtf8(bytes) {
  for (let at = 0; at < bytes.length;) {
    const c = bytes[at];
    const more = c < 0x80 ? 0 : c >= 0xc2 && c <= 0xdf ? 1 : c >= 0xe0 && c <= 0xef ? 2 : c >= 0xf0 && c <= 0xf4 ? 3 : -1;
    if (more < 0) return at;
    for (let k = 1; k <= more; k++) {
      const next = bytes[at + k];
      // The second byte's range depends on the first: no overlong form, no surrogate, nothing past U+10FFFF.
      const low = k === 1 ? (c === 0xe0 ? 0xa0 : c === 0xf0 ? 0x90 : 0x80) : 0x80;
      const high = k === 1 ? (c === 0xed ? 0x9f : c === 0xf4 ? 0x8f : 0xbf) : 0xbf;
      if (next === undefined || next < low || next > high) return at;
    }
    at += more + 1;
  }
  return 0;
}
$("open").addEventListener("click", () => $("file").click());
$("file").addEventListener("change", () => {
  openFile($("file").files[0]);
  $("file").value = "";
});
const carriesFiles = (event) => event.dataTransfer && Array.from(event.dataTransfer.types).includes("Files");
document.addEventListener("dragover", (event) => {
  if (!carriesFiles(event)) return;
  event.preventDefault();
  event.dataTransfer.dropEffect = "copy";
  document.body.classList.add("dropping");
});
document.addEventListener("dragleave", (event) => {
  if (!event.relatedTarget) document.body.classList.remove("dropping");
});
document.addEventListener("drop", (event) => {
  document.body.classList.remove("dropping");
  if (!carriesFiles(event)) return;
  event.preventDefault();
  event.stopPropagation();
  openFile(event.dataTransfer.files[0]);
}, true);

// --- the shared link: the program (deflated where the browser can), its name, the -D box and the
// warnings in the fragment. Links made before the name was carried open as they did.
const base64url = (bytes) => {
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
};
function unbase64url(text) {
  const binary = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}
async function through(bytes, stream) {
  return new Uint8Array(await new Response(new Blob([bytes]).stream().pipeThrough(stream)).arrayBuffer());
}
class TooLarge extends Error {}
// Inflates a link's program, stopping once it is past what the page takes.
async function inflate(bytes) {
  const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw")).getReader();
  const parts = [];
  let size = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    size += value.length;
    if (size > maxSourceBytes) {
      reader.cancel().catch(() => {});
      throw new TooLarge();
    }
    parts.push(value);
  }
  const whole = new Uint8Array(size);
  let at = 0;
  for (const part of parts) {
    whole.set(part, at);
    at += part.length;
  }
  return whole;
}
async function shareLink() {
  const params = new URLSearchParams();
  const bytes = new TextEncoder().encode(editors.getText());
  const packed = typeof CompressionStream === "function" ? await through(bytes, new CompressionStream("deflate-raw")) : bytes;
  // The link's length is known before it is made: a program too large for one is not encoded.
  if (Math.ceil(packed.length * 4 / 3) > maxLinkChars) return { tooLong: Math.ceil(packed.length * 4 / 3) };
  params.set(packed === bytes ? "s" : "z", base64url(packed));
  if (sourceName !== defaultName) params.set("n", sourceName);
  if ($("defines").value.trim()) params.set("d", $("defines").value.trim());
  if (!$("warnings").checked) params.set("w", "0");
  const link = `${location.origin}${location.pathname}#${params}`;
  return link.length > maxLinkChars ? { tooLong: link.length } : { link };
}
async function readLink(params) {
  if (params.has("z")) {
    const packed = params.get("z");
    // Deflate packs at most about 1:1032: a longer text cannot be a program the page would take.
    if (packed.length * 3 / 4 > maxSourceBytes) throw new TooLarge();
    return inflate(unbase64url(packed));
  }
  const plain = params.get("s");
  if (plain.length * 3 / 4 > maxSourceBytes) throw new TooLarge();
  return unbase64url(plain);
}
function linkFailed(why) {
  const saved = restoreSaved();
  if (!saved) startFromExample(0);
  notify(saved ? `${why} Your saved work is shown.` : `${why} The first example is shown.`,
    saved ? [{ label: "Start from an example", run: () => startFromExample(0) }] : [], "refusal");
  $("status").textContent = why;
  // The address no longer names what is shown: a reload brings the work back, not the failure.
  window.history.replaceState(null, "", location.pathname + location.search);
  return true;
}
// Opens the program of the page's link, where it has one: false when it has none.
async function loadLink() {
  const params = new URLSearchParams(location.hash.slice(1));
  if (!params.has("z") && !params.has("s")) return false;
  let bytes;
  try {
    bytes = await readLink(params);
  } catch (error) {
    return linkFailed(error instanceof TooLarge
      ? `The link's program is over the ${mib(maxSourceBytes)} that the page takes; it was not opened.`
      : "The link's program could not be read.");
  }
  let text;
  try {
    text = strictDecoder.decode(bytes);
  } catch {
    return linkFailed("The link's program is not UTF-8 text.");
  }
  const saved = readSaved();
  const edits = readLinkWork();
  const same = (work) => work && work.source === text && (work.defines ?? "") === (params.get("d") ?? "") &&
    (work.warnings !== false) === (params.get("w") !== "0") && (work.name ?? defaultName) === (params.get("n") ?? defaultName);
  if (!saved || same(saved)) {
    // Nothing to keep apart: the link's program is the work.
    linkState = "";
    forgetLinkWork();
    $("defines").value = params.get("d") ?? "";
    $("warnings").checked = params.get("w") !== "0";
    setSource(text, params.get("n") ?? defaultName);
    clearNotice();
    return true;
  }
  if (edits && edits.link === location.hash) {
    // This link, edited before: its edits come back, still kept apart from the saved work.
    linkState = "edited";
    $("defines").value = edits.defines ?? "";
    $("warnings").checked = edits.warnings !== false;
    setSource(edits.source, edits.name);
    askAboutLink();
    return true;
  }
  // The edits of another link, if any, stay kept apart until this one is edited.
  linkState = "shown";
  $("defines").value = params.get("d") ?? "";
  $("warnings").checked = params.get("w") !== "0";
  setSource(text, params.get("n") ?? defaultName);
  notify("This is the program of the link you opened. Your saved work is kept: editing this one asks what to keep.",
    [{ label: "Back to my saved work", run: restoreSaved }], "link");
  return true;
}
$("share").addEventListener("click", async () => {
  const { link, tooLong } = await shareLink();
  if (!link) {
    $("share-line").hidden = true;
    notify(`The link would be ${kib(tooLong)} long, over the ${kib(maxLinkChars)} that a link can safely hold. Download the source and share the file instead.`,
      [{ label: "Download the source", run: downloadSource }]);
    $("status").textContent = "No link was made: the program is too large for one.";
    return;
  }
  window.history.replaceState(null, "", link);
  // A link's program, edited and shared again, stays apart from the saved work, now under the
  // new link.
  if (linkState === "edited") save();
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

// --- the work, kept in the browser ---
function readSaved() {
  try {
    const saved = JSON.parse(localStorage.getItem(savedKey));
    return saved && typeof saved.source === "string" ? saved : null;
  } catch {
    return null;
  }
}
let saveTimer = 0;
let tooLargeToKeep = false;
function saveSoon() {
  clearTimeout(saveTimer);
  // Storing is done at once, on this thread: a large source is stored once typing has paused.
  saveTimer = setTimeout(save, editors.length() > 262144 ? 2000 : 300);
}
function readLinkWork() {
  try {
    const edits = JSON.parse(localStorage.getItem(linkWorkKey));
    return edits && typeof edits.source === "string" && typeof edits.link === "string" ? edits : null;
  } catch {
    return null;
  }
}
function forgetLinkWork() {
  try { localStorage.removeItem(linkWorkKey); } catch { /* storage may be off */ }
}
function save() {
  clearTimeout(saveTimer);
  saveTimer = 0;
  if (linkState === "shown") return;
  const work = { source: editors.getText(), name: sourceName, defines: $("defines").value, warnings: $("warnings").checked };
  try {
    // An edited link's program is kept apart from the saved work, with the link it came from.
    if (linkState === "edited") localStorage.setItem(linkWorkKey, JSON.stringify({ ...work, link: location.hash }));
    else localStorage.setItem(savedKey, JSON.stringify(work));
  } catch {
    if (tooLargeToKeep) return;
    tooLargeToKeep = true; // said once
    notify("This source is too large to keep in this browser: download it to keep it.",
      [{ label: "Download the source", run: downloadSource }]);
  }
}
window.addEventListener("pagehide", () => { if (saveTimer) save(); });
// Puts the saved work back: false when there is none.
function restoreSaved() {
  const saved = readSaved();
  if (!saved) return false;
  // The edits of a link's program (if any) are given up by this choice.
  clearTimeout(saveTimer);
  saveTimer = 0;
  if (linkState) forgetLinkWork();
  linkState = "";
  if (noticeKind === "link") clearNotice();
  if (location.hash) window.history.replaceState(null, "", location.pathname + location.search);
  $("defines").value = saved.defines ?? "";
  $("warnings").checked = saved.warnings !== false;
  setSource(saved.source, saved.name);
  return true;
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

// --- the panes: a splitter between source and output; tabs on a narrow screen ---
const workspace = $("workspace");
function setSplit(percent) {
  const value = Math.min(85, Math.max(15, Math.round(percent)));
  workspace.style.setProperty("--split", `${value}%`);
  $("splitter").setAttribute("aria-valuenow", String(value));
  return value;
}
try { setSplit(Number(localStorage.getItem("vorpex-split")) || 50); } catch { /* storage may be off */ }
const keepSplit = (value) => { try { localStorage.setItem("vorpex-split", String(value)); } catch { /* storage may be off */ } };
$("splitter").addEventListener("pointerdown", (event) => {
  const splitter = event.currentTarget;
  splitter.setPointerCapture(event.pointerId);
  const box = workspace.getBoundingClientRect();
  const move = (e) => setSplit(((e.clientX - box.left) / box.width) * 100);
  const up = () => {
    splitter.removeEventListener("pointermove", move);
    keepSplit(Number(splitter.getAttribute("aria-valuenow")));
  };
  splitter.addEventListener("pointermove", move);
  splitter.addEventListener("pointerup", up, { once: true });
});
$("splitter").addEventListener("keydown", (event) => {
  const step = { ArrowLeft: -5, ArrowRight: 5 }[event.key];
  if (step === undefined) return;
  event.preventDefault();
  keepSplit(setSplit(Number($("splitter").getAttribute("aria-valuenow")) + step));
});
// The problems pane's height, a share of the workspace's: dragged, or the arrow keys.
function setProblemsHeight(percent) {
  const value = Math.min(70, Math.max(10, Math.round(percent)));
  workspace.style.setProperty("--problems", `${value}%`);
  $("problems-splitter").setAttribute("aria-valuenow", String(value));
  return value;
}
try { setProblemsHeight(Number(localStorage.getItem("vorpex-problems")) || 24); } catch { /* storage may be off */ }
const keepProblemsHeight = (value) => { try { localStorage.setItem("vorpex-problems", String(value)); } catch { /* storage may be off */ } };
$("problems-splitter").addEventListener("pointerdown", (event) => {
  const splitter = event.currentTarget;
  splitter.setPointerCapture(event.pointerId);
  const box = workspace.getBoundingClientRect();
  const move = (e) => setProblemsHeight(((box.bottom - e.clientY) / box.height) * 100);
  const up = () => {
    splitter.removeEventListener("pointermove", move);
    keepProblemsHeight(Number(splitter.getAttribute("aria-valuenow")));
  };
  splitter.addEventListener("pointermove", move);
  splitter.addEventListener("pointerup", up, { once: true });
});
$("problems-splitter").addEventListener("keydown", (event) => {
  const step = { ArrowUp: 5, ArrowDown: -5 }[event.key];
  if (step === undefined) return;
  event.preventDefault();
  keepProblemsHeight(setProblemsHeight(Number($("problems-splitter").getAttribute("aria-valuenow")) + step));
});
const tabs = ["source", "output", "problems"];
function showTab(name) {
  workspace.dataset.tab = name;
  for (const tab of tabs) {
    const button = $(`tab-${tab}`);
    button.setAttribute("aria-selected", String(tab === name));
    button.tabIndex = tab === name ? 0 : -1;
  }
}
for (const [i, tab] of tabs.entries()) {
  $(`tab-${tab}`).addEventListener("click", () => showTab(tab));
  $(`tab-${tab}`).addEventListener("keydown", (event) => {
    const step = { ArrowLeft: -1, ArrowRight: 1 }[event.key];
    if (step === undefined) return;
    const next = tabs[(i + step + tabs.length) % tabs.length];
    showTab(next);
    $(`tab-${next}`).focus();
  });
}

// Once the first result is shown: the editors. Without the editors' script (offline on a first visit) the text boxes stay.
let editorsAsked = false;
function loadEditors() {
  if (editorsAsked) return;
  editorsAsked = true;
  const script = (src) => new Promise((resolve, reject) => {
    document.head.append(Object.assign(document.createElement("script"), { src, onload: resolve, onerror: reject }));
  });
  script("editor.js").then(() => {
    editors = window.vorpexEditor({ plainSource: $("source-plain"), plainOutput: $("output-plain"), text: editors.getText(), output: editors.outputText(), onEdit, onOutputLine: showMap,
      acceptPaste: (text) => fits("The pasted text", utf8Size(text)) });
    editors.setMarks(marks);
    if (mappedLines) editors.setMapped(mappedLines);
  }).catch(() => {});
}

// For scripts and tests: the two editors (null until they are loaded), and a way to put a source in.
window.playground = {
  get source() { return editors.source ?? null; },
  get output() { return editors.output ?? null; },
  setSource,
  // The map as arrays of numbers, as vorpex.convert gives it (the page keeps typed arrays).
  get result() {
    if (!last) return null;
    const result = last;
    return { ...result, get map() { return Array.from(result.map); }, get mapEnd() { return Array.from(result.mapEnd); } };
  },
  get name() { return sourceName; },
  maxSourceBytes,
  maxLinkChars,
};

// The toolbar's Renumber action (renumber.js), on the source's editor.
renumberAction({
  button: $("renumber"),
  view: () => editors.source ?? null,
  settings: () => options(),
  refused: () => (last?.refused ?? []).map((r) => r.index),
  notify,
  clearNotice,
  status: (text) => { $("status").textContent = text; },
});

loadLink().then((linked) => {
  if (linked || restoreSaved()) return;
  setSource(examples[0].source, examples[0].name);
});
if ("serviceWorker" in navigator && location.protocol.startsWith("http")) {
  window.addEventListener("load", () => navigator.serviceWorker.register("sw.js").catch(() => {}));
}
