// The editors: CodeMirror for the source and the output, loaded after the first conversion is
// shown (the page starts with plain text boxes). The page calls window.vorpexEditor(options),
// which puts the editors in place of the text boxes, keeping the text, the selection and the focus.
import { EditorState, StateEffect, StateField } from "@codemirror/state";
import {
  Decoration, EditorView, drawSelection, highlightActiveLine, highlightActiveLineGutter,
  highlightSpecialChars, keymap, lineNumbers,
} from "@codemirror/view";
import { defaultKeymap, history, historyKeymap } from "@codemirror/commands";
import { HighlightStyle, StreamLanguage, syntaxHighlighting } from "@codemirror/language";
import { forEachDiagnostic, lintGutter, setDiagnostics } from "@codemirror/lint";
import { tags } from "@lezer/highlight";

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

// Special characters as CodeMirror shows them, but a CR (of a CR LF or on its own) as a quiet
// mark: a source with CR LF line ends is common, not a fault.
function specialChar(code, description, placeholder) {
  const mark = document.createElement("span");
  mark.className = code === 13 ? "cm-cr" : "cm-specialChar";
  mark.textContent = code === 13 ? "\u21b5" : placeholder;
  mark.title = code === 13 ? "CR (carriage return)" : (description ?? "");
  mark.setAttribute("aria-label", mark.title);
  return mark;
}

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

const replacesAll = (tr) => {
  let all = false;
  tr.changes.iterChangedRanges((fromA, toA) => {
    if (fromA === 0 && toA === tr.startState.doc.length) all = true;
  });
  return all;
};

// plainSource and plainOutput are the text boxes to replace; onEdit(typed) is called when the
// source changes (typed: by the user; whole: a paste that replaced all the text), onOutputLine(n) when the output line pointed at or holding
// the cursor is n (0 for none); acceptPaste(text) is asked before a paste goes in.
// `text` is the source as given, which the text box may have changed (a CR becomes a line break)
// or not shown (a large one); `output` likewise the output.
window.vorpexEditor = ({ plainSource, plainOutput, text: given, output: shown, onEdit, onOutputLine, acceptPaste = () => true }) => {
  const common = [lineNumbers(), highlightSpecialChars({ render: specialChar }), drawSelection(), highlightActiveLine(),
    highlightActiveLineGutter(), theme, EditorView.lineWrapping];
  const text = given ?? plainSource.value;
  const clamp = (n) => Math.min(Math.max(n, 0), text.length);
  const focused = document.activeElement;
  const source = new EditorView({
    state: EditorState.create({
      doc: text,
      selection: plainSource.selectionDirection === "backward"
        ? { anchor: clamp(plainSource.selectionEnd), head: clamp(plainSource.selectionStart) }
        : { anchor: clamp(plainSource.selectionStart), head: clamp(plainSource.selectionEnd) },
      // Only LF ends a line, as in the converter: a CR stays in the text, shown as a special
      // character, so that the bytes converted are the ones given.
      extensions: [...common, EditorState.lineSeparator.of("\n"), history(),
        keymap.of([...defaultKeymap, ...historyKeymap]), basic,
        syntaxHighlighting(colours), lintGutter(), mapped,
        // tabindex: the scrolled region holds an element that the keyboard reaches, as audits ask.
        EditorView.contentAttributes.of({ "aria-label": "BASIC source", tabindex: "0" }),
        EditorView.domEventHandlers({
          paste: (event) => (acceptPaste(event.clipboardData.getData("text/plain")) ? false : (event.preventDefault(), true)),
        }),
        EditorView.updateListener.of((update) => {
          if (!update.docChanged) return;
          const typed = update.transactions.some((tr) => tr.isUserEvent("input") || tr.isUserEvent("delete"));
          // A paste or a drop that replaced the whole text.
          const whole = update.transactions.some((tr) => (tr.isUserEvent("input.paste") || tr.isUserEvent("input.drop")) && replacesAll(tr));
          onEdit(typed, whole);
        })],
    }),
  });
  const output = new EditorView({
    state: EditorState.create({
      doc: shown ?? plainOutput.value,
      extensions: [...common, EditorState.readOnly.of(true),
        EditorView.contentAttributes.of({ "aria-label": "Compacted output", "aria-readonly": "true", tabindex: "0" }),
        EditorView.updateListener.of((update) => {
          if (update.selectionSet && update.view.hasFocus) onOutputLine(update.state.doc.lineAt(update.state.selection.main.head).number);
        })],
    }),
  });
  // The output as given (CR LF and all), which the document holds with each line break as one
  // character: the offset in the document of offset `at` of `text`.
  let shownOutput = shown ?? plainOutput.value;
  const inDocument = (text, at) => {
    let pairs = 0;
    for (let i = text.indexOf("\r\n"); i >= 0 && i + 1 < at; i = text.indexOf("\r\n", i + 2)) pairs++;
    return at - pairs;
  };
  output.dom.addEventListener("mousemove", (event) => {
    const pos = output.posAtCoords({ x: event.clientX, y: event.clientY });
    onOutputLine(pos === null ? 0 : output.state.doc.lineAt(pos).number);
  });
  output.dom.addEventListener("mouseleave", () => onOutputLine(0));
  plainSource.replaceWith(source.dom);
  plainOutput.replaceWith(output.dom);
  if (focused === plainSource) source.focus();
  else if (focused === plainOutput) output.focus();

  return {
    source,
    output,
    getText: () => source.state.doc.toString(),
    setText: (value) => source.dispatch({ changes: { from: 0, to: source.state.doc.length, insert: value } }),
    length: () => source.state.doc.length,
    // Only the part that differs is replaced, so that a small change of a large output is quick
    // to show and leaves the view where it was.
    setOutput(value) {
      const old = shownOutput;
      shownOutput = value;
      const end = Math.min(old.length, value.length);
      // The common start and end, compared a block at a time, then a character at a time.
      let start = 0;
      for (let block = 65536; block >= 1; block >>= 4) {
        while (start + block <= end && old.slice(start, start + block) === value.slice(start, start + block)) start += block;
      }
      let tail = 0;
      for (let block = 65536; block >= 1; block >>= 4) {
        while (tail + block <= end - start && old.slice(old.length - tail - block, old.length - tail) === value.slice(value.length - tail - block, value.length - tail)) tail += block;
      }
      if (start === old.length && start === value.length) return;
      // Not inside a CR LF, which the document holds as one line break.
      if (start > 0 && old[start - 1] === "\r") start--;
      if (tail > 0 && old[old.length - tail] === "\n") tail--;
      output.dispatch({ changes: { from: inDocument(old, start), to: inDocument(old, old.length - tail), insert: value.slice(start, value.length - tail) } });
    },
    lines: () => source.state.doc.lines,
    line: (n) => source.state.doc.line(n),
    setMarks: (marks) => source.dispatch(setDiagnostics(source.state, marks)),
    // Whether the underlines are still these ranges: an edit that replaced marked text takes
    // its underlines away, though the problems that come back may be the same.
    marksAre(ranges) {
      let i = 0;
      let same = true;
      forEachDiagnostic(source.state, (d, from, to) => {
        const r = ranges[i++];
        if (!r || r.from !== from || r.to !== to) same = false;
      });
      return same && i === ranges.length;
    },
    select(from, to) {
      source.dispatch({ selection: { anchor: from, head: to }, scrollIntoView: true });
      source.focus();
    },
    setMapped(range) {
      const effects = [setMapped.of(range)];
      if (range) effects.push(EditorView.scrollIntoView(source.state.doc.line(Math.min(range[0], source.state.doc.lines)).from, { y: "nearest" }));
      source.dispatch({ effects });
    },
  };
};
