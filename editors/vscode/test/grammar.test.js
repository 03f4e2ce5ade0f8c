// @ts-check
'use strict';
// The grammar, tokenized by the libraries that VS Code colours with, on the fixtures beside this
// file and on every source of the guide and the examples.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const extension = path.join(__dirname, '..');
const repository = path.join(extension, '..', '..');
const grammarPath = path.join(extension, 'syntaxes', 'vorpex.tmLanguage.json');

/** @returns {Promise<vsctm.IGrammar>} */
async function loadGrammar() {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (sources) => new oniguruma.OnigScanner(sources),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async (scopeName) =>
      scopeName === 'source.vorpex'
        ? vsctm.parseRawGrammar(fs.readFileSync(grammarPath, 'utf8'), grammarPath)
        : null,
  });
  const grammar = await registry.loadGrammar('source.vorpex');
  assert.ok(grammar, 'the grammar loads');
  return grammar;
}
const grammarLoaded = loadGrammar();

/**
 * Each line's tokens: their text and their scopes, innermost last.
 * @param {string} text
 * @returns {Promise<{ text: string, scopes: string[] }[][]>}
 */
async function tokenize(text) {
  const grammar = await grammarLoaded;
  let state = vsctm.INITIAL;
  return text.split('\n').map((line) => {
    const result = grammar.tokenizeLine(line, state);
    state = result.ruleStack;
    return result.tokens.map((t) => ({ text: line.slice(t.startIndex, t.endIndex), scopes: t.scopes }));
  });
}

test('tokens of the fixture have the expected scopes', async () => {
  const lines = await tokenize(fs.readFileSync(path.join(__dirname, 'fixtures', 'tokens.vbas'), 'utf8'));
  // line (from 1), the whole text of one token on it, its innermost scope
  const rows = [
    [1, 'REM', 'punctuation.definition.comment.vorpex'],
    [1, ' a whole-line comment', 'comment.line.rem.vorpex'],
    [2, 'remark', 'variable.other.vorpex'],
    [3, 'PRINT', 'keyword.other.statement.vorpex'],
    [3, ' note', 'comment.line.rem.vorpex'],
    [4, 'REM"A"', 'variable.other.quote-in-word.vorpex'],
    [4, 'REMX', 'variable.other.vorpex'],
    [5, ' apostrophe comment', 'comment.line.apostrophe.vorpex'],
    [6, "it's fine", 'string.quoted.double.vorpex'],
    [6, ' note', 'comment.line.apostrophe.vorpex'],
    [7, 'DON', 'variable.other.vorpex'],
    [7, 'T', 'comment.line.apostrophe.vorpex'],
    [8, 'print"Hi', 'variable.other.quote-in-word.vorpex'],
    [8, 'there"', 'variable.other.quote-in-word.vorpex'],
    [9, 'Hi there', 'string.quoted.double.vorpex'],
    [9, '"', 'punctuation.definition.string.begin.vorpex'],
    [10, 'abc', 'string.quoted.double.unclosed.vorpex'],
    [11, 'DEFINE', 'keyword.control.directive.define.vorpex'],
    [11, 'MaxSpeed', 'entity.name.constant.vorpex'],
    [11, '=', 'keyword.operator.assignment.vorpex'],
    [11, '100', 'constant.numeric.vorpex'],
    [11, ' ignored after the value', 'comment.line.ignored.vorpex'],
    [12, 'out', 'entity.name.constant.vorpex'],
    [12, 'print', 'constant.other.value.vorpex'],
    [13, 'DEFINE', 'keyword.control.directive.define.vorpex'],
    [13, 'X', 'variable.other.vorpex'],
    [13, '5', 'constant.numeric.vorpex'],
    [14, '10', 'entity.name.label.line-number.vorpex'],
    [15, '20', 'entity.name.label.line-number.vorpex'],
    [16, 'GOTO', 'keyword.control.jump.vorpex'],
    [16, '10', 'constant.numeric.jump-target.vorpex'],
    [17, 'ON', 'keyword.control.vorpex'],
    [17, 'GOSUB', 'keyword.control.jump.vorpex'],
    [17, '100', 'constant.numeric.jump-target.vorpex'],
    [17, '200', 'constant.numeric.jump-target.vorpex'],
    [17, '300', 'constant.numeric.jump-target.vorpex'],
    [18, '>', 'keyword.operator.vorpex'],
    [18, '10', 'constant.numeric.vorpex'],
    [18, '100', 'constant.numeric.jump-target.vorpex'],
    [18, 'ELSE', 'keyword.control.jump.vorpex'],
    [18, '200', 'constant.numeric.jump-target.vorpex'],
    [19, '500', 'constant.numeric.jump-target.vorpex'],
    [20, '0x1F', 'constant.numeric.vorpex'],
    [20, '1.5', 'constant.numeric.vorpex'],
    [21, 'A$', 'variable.other.vorpex'],
    [21, 'B.C:', 'variable.other.vorpex'],
    [22, 'X', 'variable.other.vorpex'],
    [22, ':', 'invalid.illegal.character.vorpex'],
    [23, '(', 'punctuation.parenthesis.begin.vorpex'],
    [23, '*', 'keyword.operator.vorpex'],
    [23, ';', 'punctuation.separator.vorpex'],
    [24, 'CHR$', 'support.function.vorpex'],
    [24, 'LEFT$', 'support.function.vorpex'],
    [24, 'A$', 'variable.other.vorpex'],
    [25, 'POKE', 'keyword.other.statement.vorpex'],
    [25, 'PEEKS', 'variable.other.vorpex'],
    [25, 'INT', 'support.function.vorpex'],
    [25, 'MOD', 'keyword.operator.word.vorpex'],
    [26, 'randomize', 'keyword.other.statement.vorpex'],
    [26, 'Delay', 'keyword.other.statement.vorpex'],
    [26, 'STR$X', 'variable.other.vorpex'],
    [27, 'SUB', 'keyword.control.jump.vorpex'],
    [27, '640:GOSUB', 'constant.numeric.jump-target.vorpex'],
    [27, '690', 'constant.numeric.vorpex'],
    [27, '700', 'constant.numeric.vorpex'],
  ];
  const wrong = [];
  for (const [line, text, scope] of rows) {
    const token = lines[Number(line) - 1].find((t) => t.text === text);
    const got = token ? token.scopes[token.scopes.length - 1] : 'no such token';
    if (got !== scope) wrong.push(`line ${line}, '${text}': ${got}, expected ${scope}`);
  }
  assert.deepEqual(wrong, []);
});

// The sources of the guide and the examples, with whether vorpex converts them to the end.
function sources() {
  const found = [];
  const guide = fs.readFileSync(path.join(repository, 'docs', 'guide.md'), 'utf8');
  const block = /^( *)```basic\n([\s\S]*?)^\1```\n\n\1```output( status=(\d+))?/gm;
  for (const match of guide.matchAll(block)) {
    const text = match[2].replace(new RegExp(`^${match[1]}`, 'gm'), '');
    found.push({ name: `the guide's '${text.split('\n')[0]}'`, text, stops: match[4] === '1' });
  }
  const examples = path.join(repository, 'examples');
  for (const file of fs.readdirSync(examples).filter((f) => f.endsWith('.bas'))) {
    const text = fs.readFileSync(path.join(examples, file), 'utf8');
    const expected = fs.readFileSync(path.join(examples, file.replace(/\.bas$/, '.expected')), 'latin1');
    found.push({ name: file, text, stops: expected.includes('UNKNOWN ERROR!') });
  }
  return found;
}

test('a character that begins no token is marked where, and only where, vorpex stops', async () => {
  const all = sources();
  assert.ok(all.length > 20, `found only ${all.length} sources`);
  const wrong = [];
  for (const { name, text, stops } of all) {
    const marked = (await tokenize(text)).flat().filter((t) => t.scopes.some((s) => s.startsWith('invalid.')));
    if (marked.length > 0 !== stops) {
      wrong.push(`${name}: ${marked.length} marked, but vorpex ${stops ? 'stops' : 'converts it all'}`);
    }
  }
  assert.deepEqual(wrong, []);
});
