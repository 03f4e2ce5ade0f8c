// @ts-check
'use strict';
// The commands that renumber and move lines, as the language server takes them, kept apart from
// the editor's API so that they can be tested under node alone. The server's commands
// `vorpex.renumber` and `vorpex.moveLines` take one argument:
//   { uri, range?: { start, end }, start?, step?, after?, pastComputed? }
// `range` (lines and characters from 0) names the lines: those that begin in it; without it, the
// whole program. `after` is the line a move puts the lines after. The largest line number is a
// setting of the server's (largestLineNumber), as the defines are.

const RENUMBER = 'vorpex.renumber';
const MOVE_LINES = 'vorpex.moveLines';

/**
 * Why `text` is not a number that the box takes (digits only, at least `least`), or undefined
 * when it is one. An empty box takes its default when it has one.
 * @param {string} text
 * @param {number} least
 * @param {boolean} [optional]
 * @returns {string | undefined}
 */
function numberProblem(text, least, optional = false) {
  const value = text.trim();
  if (value === '' && optional) return undefined;
  if (!/^[0-9]+$/.test(value)) return 'Type a line number: digits only.';
  if (!Number.isSafeInteger(Number(value))) return 'The number is too large.';
  if (Number(value) < least) return `The number must be at least ${least}.`;
  return undefined;
}

/**
 * The range of whole lines that a selection touches, as the server takes it; undefined for an
 * empty selection, which stands for the whole program. A selection that ends at the start of a
 * line below the one it starts on does not take that line.
 * @param {{ start: { line: number, character: number }, end: { line: number, character: number } } | undefined} selection
 * @param {(line: number) => number} lineLength the length of a line (from 0), in UTF-16 units
 * @returns {{ start: { line: number, character: number }, end: { line: number, character: number } } | undefined}
 */
function linesOfSelection(selection, lineLength) {
  if (!selection) return undefined;
  const { start, end } = selection;
  if (start.line === end.line && start.character === end.character) return undefined;
  const last = end.line > start.line && end.character === 0 ? end.line - 1 : end.line;
  return { start: { line: start.line, character: 0 }, end: { line: last, character: lineLength(last) } };
}

/**
 * The argument of `command` for the document `uri`, the lines of `range` (none: the whole
 * program) and what the user typed: `start` and `step` for a renumbering, `target` (and `step`)
 * for a move. Boxes left empty are left out, so that the server's defaults hold; `pastComputed`
 * (the setting vorpex.renumber.leaveComputedJumps) goes on past jumps with computed targets.
 * @param {string} command
 * @param {string} uri
 * @param {ReturnType<typeof linesOfSelection>} range
 * @param {{ start?: string, step?: string, target?: string }} typed
 * @param {unknown} pastComputed
 */
function commandArgument(command, uri, range, typed, pastComputed) {
  /** @type {Record<string, unknown>} */
  const argument = { uri };
  if (range) argument.range = range;
  const put = (/** @type {string} */ name, /** @type {string | undefined} */ text) => {
    if (text !== undefined && text.trim() !== '') argument[name] = Number(text.trim());
  };
  if (command === MOVE_LINES) put('after', typed.target);
  else put('start', typed.start);
  put('step', typed.step);
  if (pastComputed === true) argument.pastComputed = true;
  return argument;
}

/**
 * Whether the command's argument already says what to do (run from a script or a key binding),
 * so that no box is shown: a renumbering with a start, a move with the line to move after. The
 * server's code action names only the document and the lines.
 * @param {string} command
 * @param {unknown[]} args
 */
function complete(command, args) {
  const argument = /** @type {Record<string, unknown> | undefined} */ (args[0]);
  if (argument === null || typeof argument !== 'object') return false;
  return command === MOVE_LINES ? typeof argument.after === 'number' : typeof argument.start === 'number';
}

/**
 * The jumps the server left as they were, from its answer's `warnings`, as one line: each with
 * its line (from 1); empty when there are none.
 * @param {unknown} warnings
 * @returns {string}
 */
function warningsText(warnings) {
  if (!Array.isArray(warnings)) return '';
  return warnings
    .filter((w) => w && typeof w.message === 'string')
    .map((w) => {
      const line = w.range?.start?.line;
      return typeof line === 'number' ? `line ${line + 1}: ${w.message}` : w.message;
    })
    .join('; ');
}

module.exports = { RENUMBER, MOVE_LINES, numberProblem, linesOfSelection, commandArgument, complete, warningsText };
