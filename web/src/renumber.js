// The toolbar's Renumber action: a small dialog asks how (renumber from a start by a step, or move
// the selected lines after a given line; the selected lines or all of them), the engine on this
// thread (window.vorpex.renumber) renumbers and proves it, and its edits go into the source editor
// as one transaction, which one undo takes back. A refusal is shown in the page's message bar,
// with a way to the line it is about.

const $ = (id) => document.getElementById(id);

function dialog() {
  const box = document.createElement("dialog");
  box.id = "renumber-dialog";
  box.setAttribute("aria-labelledby", "renumber-title");
  box.innerHTML = `<form method="dialog">
  <h2 id="renumber-title">Renumber lines</h2>
  <fieldset><legend>Do</legend>
    <label class="toggle"><input type="radio" name="renumber-kind" id="renumber-kind-renumber" value="renumber" checked> Renumber</label>
    <label class="toggle"><input type="radio" name="renumber-kind" id="renumber-kind-move" value="move"> Move the selected lines</label>
  </fieldset>
  <fieldset><legend>Lines</legend>
    <label class="toggle"><input type="radio" name="renumber-lines" id="renumber-selected" value="selected"> <span id="renumber-selected-text">The selected lines</span></label>
    <label class="toggle"><input type="radio" name="renumber-lines" id="renumber-all" value="all" checked> All lines</label>
  </fieldset>
  <p class="renumber-numbers">
    <label class="field" id="renumber-start-field">Start <input id="renumber-start" type="text" inputmode="numeric" value="10" size="7" autocomplete="off"></label>
    <label class="field" id="renumber-after-field" hidden>After line <input id="renumber-after" type="text" inputmode="numeric" value="" size="7" autocomplete="off" placeholder="0: first"></label>
    <label class="field">Step <input id="renumber-step" type="text" inputmode="numeric" value="10" size="5" autocomplete="off"></label>
    <label class="field">Largest <input id="renumber-largest" type="text" inputmode="numeric" value="" size="7" autocomplete="off" placeholder="none" title="The largest line number the interpreter takes (9999, 32767, 65529); empty for none"></label>
  </p>
  <p><label class="toggle"><input id="renumber-computed" type="checkbox"> Go on past computed jumps (GOTO X), leaving them as they are</label></p>
  <p id="renumber-error" class="error" aria-live="polite"></p>
  <p class="renumber-buttons">
    <button id="renumber-cancel" type="button">Cancel</button>
    <button id="renumber-apply" type="submit" class="primary" value="apply">Renumber</button>
  </p>
</form>`;
  document.body.append(box);
  return box;
}

// A whole number from `least`, or null; an empty box is `empty`.
function wholeNumber(text, least, empty = null) {
  const value = text.trim();
  if (value === "") return empty;
  if (!/^[0-9]+$/.test(value) || !Number.isSafeInteger(Number(value)) || Number(value) < least) return null;
  return Number(value);
}

// The lines (from 1) of the editor's main selection, null when nothing is selected. A selection
// that ends at the start of a line below the one it starts on does not take that line.
export function selectedLines(state) {
  const { from, to, empty } = state.selection.main;
  if (empty) return null;
  const first = state.doc.lineAt(from);
  let last = state.doc.lineAt(to);
  if (last.number > first.number && to === last.from) last = state.doc.line(last.number - 1);
  return [first.number, last.number];
}

// `view()` is the source's editor (null while the page shows its text boxes), `settings()` the
// conversion's options ({ defines, warnings }) and `refused()` the indexes of the defines left out,
// `notify(message, actions)` and `clearNotice()` the message bar, `status(text)` the status line
// (for a refusal: a change is followed by its conversion, which says its own result there).
export function renumberAction({ button, view, settings, refused, notify, clearNotice, status }) {
  let box = null;
  const kind = () => ($("renumber-kind-move").checked ? "move" : "renumber");
  const update = () => {
    const move = kind() === "move";
    $("renumber-start-field").hidden = move;
    $("renumber-after-field").hidden = !move;
    if (move) $("renumber-selected").checked = true;
    $("renumber-all").disabled = move;
    $("renumber-apply").textContent = move ? "Move" : "Renumber";
    $("renumber-title").textContent = move ? "Move lines" : "Renumber lines";
    $("renumber-error").textContent = "";
  };
  const open = () => {
    const editor = view();
    if (!editor) {
      notify("The editor is still loading: try Renumber again in a moment.");
      return;
    }
    if (!box) {
      box = dialog();
      for (const id of ["renumber-kind-renumber", "renumber-kind-move"]) $(id).addEventListener("change", update);
      $("renumber-cancel").addEventListener("click", () => box.close());
      box.querySelector("form").addEventListener("submit", (event) => {
        event.preventDefault();
        if (apply()) box.close();
      });
    }
    const lines = selectedLines(editor.state);
    $("renumber-selected").disabled = lines === null;
    $("renumber-selected-text").textContent = lines === null ? "The selected lines (none selected)"
      : lines[0] === lines[1] ? `The selected line (${lines[0]})` : `The selected lines (${lines[0]}–${lines[1]})`;
    $("renumber-kind-move").disabled = lines === null;
    if (lines === null) $("renumber-kind-renumber").checked = true;
    (lines === null ? $("renumber-all") : $("renumber-selected")).checked = true;
    update();
    box.showModal();
    $(kind() === "move" ? "renumber-after" : "renumber-start").focus();
  };

  // Renumbers as the dialog says: false (the dialog stays open) when a box holds no number.
  const apply = () => {
    const editor = view();
    const move = kind() === "move";
    const start = wholeNumber($("renumber-start").value, 0);
    const after = wholeNumber($("renumber-after").value, 0);
    const step = wholeNumber($("renumber-step").value, 1);
    const largest = wholeNumber($("renumber-largest").value, 1, 0);
    const problem = move && after === null ? "After line: type the number of a line (0: before the first line)."
      : !move && start === null ? "Start: type a whole number."
      : step === null ? "Step: type a whole number from 1."
      : largest === null ? "Largest: type a whole number from 1, or leave it empty."
      : "";
    $("renumber-error").textContent = problem;
    if (problem || !editor || !window.vorpex) return !problem;
    const lines = $("renumber-selected").checked ? selectedLines(editor.state) : null;
    const source = editor.state.doc.toString();
    const { defines, warnings } = settings();
    const left = new Set(refused());
    const options = { defines: defines.filter((_, i) => !left.has(i)), warnings, start, step, largest,
      pastComputed: $("renumber-computed").checked };
    if (lines) options.lines = lines;
    if (move) options.moveAfter = after;
    const run = (given) => window.vorpex.ready.then(() => {
      // The source may have changed since the dialog was opened: the edits are for the text read.
      if (editor.state.doc.toString() !== source) return;
      show(editor, window.vorpex.renumber(source, given), move,
        given.pastComputed ? null : () => run({ ...given, pastComputed: true }));
    });
    run(options);
    return true;
  };

  const show = (editor, answer, move, retry) => {
    if (answer.refusal) {
      const line = answer.refusalLine;
      const actions = line > 0 && line <= editor.state.doc.lines ? [{ label: `Show line ${line}`, run: () => {
        const at = editor.state.doc.line(line);
        editor.dispatch({ selection: { anchor: at.from, head: at.to }, scrollIntoView: true });
        editor.focus();
      } }] : [];
      // A computed jump: the same renumbering again, leaving such jumps as they are.
      if (answer.computed && retry) actions.push({ label: "Go on past computed jumps", run: retry });
      notify(answer.refusal, actions);
      status(move ? "The lines were not moved." : "The lines were not renumbered.");
      return;
    }
    clearNotice();
    if (answer.edits.length) {
      editor.dispatch({ changes: answer.edits.map(({ from, to, text }) => ({ from, to, insert: text })),
        userEvent: move ? "input.move" : "input.renumber", scrollIntoView: true });
    }
    // The change shows in the editor, and the conversion that follows it says its result on the
    // status line: only the jumps left as they were need saying.
    if (answer.warnings.length) {
      const done = move ? `Moved ${answer.count} line${answer.count === 1 ? "" : "s"}` : `Renumbered ${answer.count} line${answer.count === 1 ? "" : "s"}`;
      notify(`${done}; left as they were: ${answer.warnings.map((w) => `line ${w.line}: ${w.message}`).join("; ")}.`);
    }
    editor.focus();
  };

  button.addEventListener("click", open);
}
