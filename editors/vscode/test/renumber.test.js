// @ts-check
'use strict';
// Renumber lines and Move lines: what the boxes take, the lines a selection stands for, and the
// argument the server's command gets; then the client's handling of the commands, driven with a
// stand-in for the editor's API: the boxes asked, the command sent, a refusal shown.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const Module = require('node:module');
const fs = require('node:fs');
const path = require('node:path');
const { numberProblem, linesOfSelection, commandArgument, complete, warningsText } = require('../renumber');

test('the boxes take digits only, from their least number', () => {
  // text, least, optional, the problem (undefined: taken)
  const rows = [
    ['10', 0, false, undefined],
    [' 100 ', 0, false, undefined],
    ['0', 0, false, undefined],
    ['0', 1, false, 'The number must be at least 1.'],
    ['', 1, false, 'Type a line number: digits only.'],
    ['', 1, true, undefined],
    ['1,5', 0, false, 'Type a line number: digits only.'],
    ['-10', 0, false, 'Type a line number: digits only.'],
    ['1e3', 0, false, 'Type a line number: digits only.'],
    ['99999999999999999999', 0, false, 'The number is too large.'],
  ];
  for (const [text, least, optional, problem] of rows) {
    assert.equal(numberProblem(String(text), Number(least), Boolean(optional)), problem, `'${text}'`);
  }
});

test('a selection stands for the whole lines it touches', () => {
  const length = (/** @type {number} */ line) => 10 + line;
  const at = (/** @type {number} */ line, /** @type {number} */ character) => ({ line, character });
  const lines = (/** @type {number} */ first, /** @type {number} */ last) => ({ start: at(first, 0), end: at(last, length(last)) });
  // selection, the range sent (undefined: the whole program)
  const rows = [
    [undefined, undefined],
    [{ start: at(3, 4), end: at(3, 4) }, undefined],
    [{ start: at(3, 4), end: at(3, 6) }, lines(3, 3)],
    [{ start: at(1, 2), end: at(4, 1) }, lines(1, 4)],
    [{ start: at(1, 0), end: at(4, 0) }, lines(1, 3)],
    [{ start: at(2, 5), end: at(3, 0) }, lines(2, 2)],
  ];
  for (const [selection, range] of rows) {
    assert.deepEqual(linesOfSelection(selection, length), range, JSON.stringify(selection));
  }
});

test('the argument holds what was typed, and leaves the server its defaults for the rest', () => {
  const uri = 'file:///work/menu.bas';
  const range = { start: { line: 2, character: 0 }, end: { line: 5, character: 12 } };
  // command, range, typed, going on past computed jumps, argument
  const rows = [
    ['vorpex.renumber', undefined, { start: '100', step: '10' }, false, { uri, start: 100, step: 10 }],
    ['vorpex.renumber', range, { start: ' 1 ', step: '1' }, true, { uri, range, start: 1, step: 1, pastComputed: true }],
    ['vorpex.renumber', undefined, { start: '10', step: '10' }, 'yes', { uri, start: 10, step: 10 }],
    ['vorpex.moveLines', range, { target: '0', step: '' }, undefined, { uri, range, after: 0 }],
    ['vorpex.moveLines', range, { target: '200', step: '5', start: '7' }, false, { uri, range, after: 200, step: 5 }],
  ];
  for (const [command, lines, typed, pastComputed, argument] of rows) {
    assert.deepEqual(commandArgument(String(command), uri, /** @type {any} */ (lines), /** @type {any} */ (typed), pastComputed), argument);
  }
  assert.equal(complete('vorpex.renumber', [{ uri, start: 10 }]), true);
  assert.equal(complete('vorpex.renumber', [{ uri, range }]), false);
  assert.equal(complete('vorpex.renumber', [uri]), false);
  assert.equal(complete('vorpex.moveLines', [{ uri, start: 10 }]), false);
  assert.equal(complete('vorpex.moveLines', [{ uri, after: 0 }]), true);
  assert.equal(complete('vorpex.renumber', []), false);

  const computed = { range: { start: { line: 4, character: 8 } }, code: 'computed-line-target', message: 'the target of GOTO at source line 5 is computed: left as it is' };
  assert.equal(warningsText([computed, { message: 'no line begins with the number 15' }, { code: 'x' }]),
    'line 5: the target of GOTO at source line 5 is computed: left as it is; no line begins with the number 15');
  assert.equal(warningsText([]), '');
  assert.equal(warningsText(undefined), '');
});

// The extension loaded with stand-ins for `vscode` and the language client: the middleware it
// gives the client is run as the client would run it.
function loadExtension() {
  const calls = { boxes: /** @type {any[]} */ ([]), errors: /** @type {string[]} */ ([]), infos: /** @type {string[]} */ ([]), warnings: /** @type {string[]} */ ([]) };
  /** @type {string[]} */
  const answers = [];
  const document = {
    uri: { toString: () => 'file:///work/menu.bas', path: '/work/menu.bas' },
    languageId: 'vorpex-basic',
    lineAt: (/** @type {number} */ line) => ({ text: 'x'.repeat(10 + line) }),
  };
  const editor = { document, selection: { start: { line: 1, character: 3 }, end: { line: 2, character: 4 } } };
  const settings = { 'renumber.largestLine': 0, 'renumber.leaveComputedJumps': false };
  const disposable = { dispose() {} };
  const vscode = {
    window: {
      activeTextEditor: /** @type {any} */ (editor),
      showInputBox: async (/** @type {any} */ options) => {
        calls.boxes.push(options);
        const answer = answers.shift();
        if (answer !== undefined) assert.equal(options.validateInput(answer), undefined, `'${answer}' is taken`);
        return answer;
      },
      showErrorMessage: async (/** @type {string} */ message) => { calls.errors.push(message); },
      showWarningMessage: async (/** @type {string} */ message) => { calls.warnings.push(message); },
      showInformationMessage: async (/** @type {string} */ message) => { calls.infos.push(message); },
      createOutputChannel: () => disposable,
    },
    workspace: {
      getConfiguration: () => ({ get: (/** @type {string} */ key) => /** @type {any} */ (settings)[key] }),
      registerTextDocumentContentProvider: () => disposable,
      onDidChangeConfiguration: () => disposable,
      workspaceFolders: undefined,
    },
    commands: { registerCommand: () => disposable },
    EventEmitter: class { constructor() { this.event = () => disposable; } fire() {} },
    languages: {},
    ViewColumn: {},
  };
  /** @type {any} */
  let middleware;
  const client = {
    LanguageClient: class {
      constructor(/** @type {any[]} */ ...args) { middleware = args[3].middleware; }
      async start() {}
      async stop() {}
    },
    DidChangeConfigurationNotification: { type: {} },
  };
  const resolve = /** @type {any} */ (Module)._resolveFilename;
  /** @type {any} */ (Module)._resolveFilename = function (/** @type {string} */ request, /** @type {any[]} */ ...rest) {
    if (request === 'vscode' || request === 'vscode-languageclient/node') return request;
    return resolve.call(this, request, ...rest);
  };
  for (const [id, exports] of [['vscode', vscode], ['vscode-languageclient/node', client]]) {
    require.cache[String(id)] = /** @type {any} */ ({ id, filename: id, loaded: true, exports });
  }
  const file = path.join(__dirname, '..', 'extension.js');
  delete require.cache[file];
  const extension = require(file);
  /** @type {any} */ (Module)._resolveFilename = resolve;
  return { extension, vscode, editor, settings, calls, answers, middleware: () => middleware.executeCommand };
}

test('the commands ask for their numbers and send the selected lines to the server', async () => {
  const loaded = loadExtension();
  await loaded.extension.activate({ subscriptions: [] });
  const run = loaded.middleware();
  /** @type {any[]} */
  const sent = [];
  const next = async (/** @type {string} */ command, /** @type {unknown[]} */ args) => {
    sent.push([command, args]);
    return null;
  };
  const uri = 'file:///work/menu.bas';
  const lines = { start: { line: 1, character: 0 }, end: { line: 2, character: 12 } };

  loaded.answers.push('100', '5');
  await run('vorpex.renumber', [], next);
  assert.deepEqual(sent.pop(), ['vorpex.renumber', [{ uri, range: lines, start: 100, step: 5 }]]);
  assert.deepEqual(loaded.calls.boxes.map((b) => [b.prompt, b.value]),
    [['Renumber the selected lines from', '10'], ['Step between line numbers', '10']]);

  // Nothing selected: the whole program, going on past computed jumps as the settings say.
  loaded.editor.selection = { start: { line: 4, character: 1 }, end: { line: 4, character: 1 } };
  loaded.settings['renumber.leaveComputedJumps'] = true;
  loaded.answers.push('10', '10');
  await run('vorpex.renumber', [], next);
  assert.deepEqual(sent.pop(), ['vorpex.renumber', [{ uri, start: 10, step: 10, pastComputed: true }]]);
  loaded.settings['renumber.leaveComputedJumps'] = false;

  // A box dismissed sends nothing; a move needs a selection.
  loaded.answers.push('10');
  await run('vorpex.renumber', [], next);
  await run('vorpex.moveLines', [], next);
  assert.deepEqual(sent, []);
  assert.deepEqual(loaded.calls.infos, ['vorpex: select the lines to move first.']);

  // The server's code action names the document and the lines: the boxes ask the rest.
  loaded.answers.push('500', '1');
  await run('vorpex.renumber', [{ uri: 'file:///other.bas', range: lines }], next);
  assert.deepEqual(sent.pop(), ['vorpex.renumber', [{ uri: 'file:///other.bas', range: lines, start: 500, step: 1 }]]);
  // A move after line 0 (before the first line), the step left to the server.
  loaded.editor.selection = { start: { line: 1, character: 0 }, end: { line: 3, character: 0 } };
  loaded.answers.push('0', '');
  await run('vorpex.moveLines', [], next);
  assert.deepEqual(sent.pop(), ['vorpex.moveLines', [{ uri, range: lines, after: 0 }]]);

  // An argument that says it all goes as it is; the jumps left as they were are said, and a
  // refusal is shown.
  const whole = [{ uri, start: 1, step: 1 }];
  await run('vorpex.renumber', whole, async () => ({ edits: 2, warnings: [{ range: { start: { line: 2 } }, message: 'no line begins with the number 15' }] }));
  assert.deepEqual(loaded.calls.warnings, ['vorpex: left as they were: line 3: no line begins with the number 15']);
  const boxes = loaded.calls.boxes.length;
  await run('vorpex.renumber', whole, async () => {
    throw new Error('cannot renumber: line 20 repeats at source line 3 (first at source line 2)');
  });
  assert.equal(loaded.calls.boxes.length, boxes);
  assert.deepEqual(loaded.calls.errors, ['vorpex: cannot renumber: line 20 repeats at source line 3 (first at source line 2)']);

  // Another document than a vorpex one: nothing is asked.
  loaded.vscode.window.activeTextEditor = undefined;
  await run('vorpex.renumber', [], next);
  assert.equal(loaded.calls.infos.at(-1), 'vorpex: open a vorpex BASIC document to renumber its lines.');
  assert.deepEqual(sent, []);
});

test('the manifest offers the commands for vorpex documents', () => {
  const manifest = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'package.json'), 'utf8'));
  const titles = Object.fromEntries(manifest.contributes.commands.map((/** @type {any} */ c) => [c.command, c.title]));
  assert.equal(titles['vorpex.renumber'], 'Renumber lines');
  assert.equal(titles['vorpex.moveLines'], 'Move lines');
  const palette = manifest.contributes.menus.commandPalette.map((/** @type {any} */ m) => m.command);
  assert.ok(palette.includes('vorpex.renumber') && palette.includes('vorpex.moveLines'));
  const { properties } = manifest.contributes.configuration;
  assert.equal(properties['vorpex.renumber.largestLine'].default, 0);
  assert.equal(properties['vorpex.renumber.leaveComputedJumps'].default, false);
});
