// Both colourings without the server, the VS Code grammar (tokenized by the libraries that VS Code
// colours with) and Neovim's syntax file (in a headless Neovim), held to the language server's
// semantic tokens on every number: a line's own number, a number that a jump names, or a plain
// number. Sources: the examples, the guide's programs and a generated mix of jumps (GOTO, GO TO,
// GO SUB, ON ... GOSUB lists, a number run into `:GOSUB`, numbers after a list).
// Usage: node grammars.mjs SOURCE_DIR WORK_DIR VORPEX_LSP
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

const [sourceDir, work, server] = process.argv.slice(2).map((p) => path.resolve(p));
const extension = path.join(sourceDir, 'editors', 'vscode');
const require = createRequire(path.join(extension, 'package.json'));
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

// The sources, each as the editor holds it: its lines without their ends.
function sources() {
  const found = [];
  const examples = path.join(sourceDir, 'examples');
  for (const file of fs.readdirSync(examples).filter((f) => f.endsWith('.bas')).sort())
    found.push({ name: file, text: fs.readFileSync(path.join(examples, file), 'utf8') });
  const guide = fs.readFileSync(path.join(sourceDir, 'docs', 'guide.md'), 'utf8');
  let n = 0;
  for (const match of guide.matchAll(/^( *)```basic\n([\s\S]*?)^\1```\n/gm))
    found.push({ name: `guide-${++n}.bas`, text: match[2].replace(new RegExp(`^${match[1]}`, 'gm'), '') });
  found.push({ name: 'mix.bas', text: mix() });
  return found;
}

// Lines made of the pieces where a colouring can lose its place, from a fixed seed.
function mix() {
  let seed = 33;
  const pick = (list) => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return list[seed % list.length];
  };
  const pieces = [
    'GOTO 100', 'GO TO 200', 'go  sub 300', 'GOSUB 640:GOSUB 690', 'ON X GOSUB 10, 20,30', 'ON X GOTO 10 20',
    'IF A THEN 50 ELSE 60', 'THEN 70:PRINT 5', 'GO X', 'GO 10', 'RESTORE 500', 'RUN', 'GOTO A, 30',
    'GOSUB 10, , 20', 'GOTO 10,', 'PRINT 1, 2', 'X = 3 + 4', 'PRINT "GOTO 10"', "' GOTO 20", 'REM GOTO 30',
    'GOTO10', 'GOTO 1E3', 'FOR I = 1 TO 9', 'GO TO', 'GOSUB(10)', 'PRINT 12:34',
  ];
  const lines = [];
  for (let i = 1; i <= 300; i++) {
    const parts = [];
    const count = 1 + (i % 3);
    for (let j = 0; j < count; j++) parts.push(pick(pieces));
    lines.push(`${i * 10} ${parts.join(pick([' : ', ':', ' ', '; ']))}`);
  }
  return `${lines.join('\n')}\n`;
}

const splitLines = (text) => text.split(/\r\n|\n|\r/);

// The server's tokens of each source: [line, start, length, kind] with kind line, target or number.
async function serverTokens(all) {
  const child = spawn(server, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  let buffer = Buffer.alloc(0);
  const waiting = new Map();
  child.stdout.on('data', (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (;;) {
      const head = buffer.indexOf('\r\n\r\n');
      if (head < 0) return;
      const length = Number(/Content-Length: (\d+)/i.exec(buffer.subarray(0, head).toString())[1]);
      if (buffer.length < head + 4 + length) return;
      const message = JSON.parse(buffer.subarray(head + 4, head + 4 + length).toString());
      buffer = buffer.subarray(head + 4 + length);
      if (message.id !== undefined && waiting.has(message.id)) {
        waiting.get(message.id)(message);
        waiting.delete(message.id);
      }
    }
  });
  let id = 0;
  const send = (method, params, request) => {
    const message = { jsonrpc: '2.0', method, params };
    if (request) message.id = ++id;
    const body = Buffer.from(JSON.stringify(message));
    child.stdin.write(`Content-Length: ${body.length}\r\n\r\n`);
    child.stdin.write(body);
    return request ? new Promise((resolve) => waiting.set(id, resolve)) : null;
  };
  const init = await send('initialize', { processId: null, rootUri: null, capabilities: {} }, true);
  const legend = init.result.capabilities.semanticTokensProvider.legend;
  send('initialized', {});
  const result = new Map();
  for (const { name, text } of all) {
    const uri = `file:///grammars/${name}`;
    send('textDocument/didOpen', { textDocument: { uri, languageId: 'vorpex-basic', version: 1, text } });
    const answer = await send('textDocument/semanticTokens/full', { textDocument: { uri } }, true);
    const data = answer.result.data;
    const tokens = [];
    let line = 0;
    let start = 0;
    for (let i = 0; i < data.length; i += 5) {
      line += data[i];
      start = data[i] === 0 ? start + data[i + 1] : data[i + 1];
      const type = legend.tokenTypes[data[i + 3]];
      const declaration = (data[i + 4] & 1) !== 0;
      const kind = type === 'number' ? 'number' : type === 'label' ? (declaration ? 'line' : 'target') : type;
      tokens.push([line, start, data[i + 2], kind]);
    }
    result.set(name, tokens);
  }
  await send('shutdown', null, true);
  send('exit', null);
  return result;
}

// The VS Code grammar's numbers: [line, start, length, kind], a token of each run of one kind.
async function grammarTokens(all) {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const grammarPath = path.join(extension, 'syntaxes', 'vorpex.tmLanguage.json');
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (s) => new oniguruma.OnigScanner(s),
      createOnigString: (s) => new oniguruma.OnigString(s),
    }),
    loadGrammar: async () => vsctm.parseRawGrammar(fs.readFileSync(grammarPath, 'utf8'), grammarPath),
  });
  const grammar = await registry.loadGrammar('source.vorpex');
  const kindOf = (scope) =>
    scope.startsWith('entity.name.label.line-number')
      ? 'line'
      : scope.startsWith('constant.numeric.jump-target')
        ? 'target'
        : scope.startsWith('constant.numeric')
          ? 'number'
          : null;
  const result = new Map();
  for (const { name, text } of all) {
    const tokens = [];
    let state = vsctm.INITIAL;
    splitLines(text).forEach((line, number) => {
      const r = grammar.tokenizeLine(line, state);
      state = r.ruleStack;
      for (const t of r.tokens) {
        const kind = kindOf(t.scopes[t.scopes.length - 1]);
        if (kind) tokens.push([number, t.startIndex, t.endIndex - t.startIndex, kind]);
      }
    });
    result.set(name, tokens);
  }
  return result;
}

// Neovim's numbers, from the syntax group under each character.
function vimTokens(all) {
  const dir = path.join(work, 'vim');
  fs.mkdirSync(dir, { recursive: true });
  for (const { name, text } of all) fs.writeFileSync(path.join(dir, name), text);
  const script = path.join(work, 'groups.lua');
  fs.writeFileSync(
    script,
    `local out = {}
vim.opt.runtimepath:prepend(${JSON.stringify(path.join(sourceDir, 'editors', 'nvim'))})
for _, name in ipairs(vim.fn.readdir(${JSON.stringify(dir)})) do
  vim.cmd('edit ' .. vim.fn.fnameescape(${JSON.stringify(dir)} .. '/' .. name))
  vim.cmd('setfiletype vorpex')
  local lines = {}
  for l = 1, vim.fn.line('$') do
    local row = {}
    for c = 1, #vim.fn.getline(l) do
      row[c] = vim.fn.synIDattr(vim.fn.synID(l, c, 1), 'name')
    end
    lines[l] = row
  end
  out[name] = lines
  vim.cmd('bwipeout!')
end
vim.fn.writefile({ vim.json.encode(out) }, ${JSON.stringify(path.join(work, 'groups.json'))})
vim.cmd('qall!')
`,
  );
  const run = spawnSync('nvim', ['--headless', '--clean', '-c', `luafile ${script}`], {
    stdio: ['ignore', 'inherit', 'inherit'],
    timeout: 120000,
  });
  if (run.status !== 0) throw new Error(`nvim exited with ${run.status}`);
  const groups = JSON.parse(fs.readFileSync(path.join(work, 'groups.json'), 'utf8'));
  const kindOf = (group) =>
    group === 'vorpexLineNumber'
      ? 'line'
      : group === 'vorpexJumpTarget'
        ? 'target'
        : group === 'vorpexNumber'
          ? 'number'
          : null;
  const result = new Map();
  for (const { name, text } of all) {
    const tokens = [];
    const lines = groups[name] ?? [];
    const textLines = splitLines(text);
    lines.forEach((row, number) => {
      const line = textLines[number] ?? '';
      // A run of one kind, its columns in UTF-16 units as the server counts them.
      let run = null;
      const flush = () => {
        if (run) tokens.push([number, run.start, run.end - run.start, run.kind]);
        run = null;
      };
      const bytes = Buffer.from(line);
      let previous = { group: '', kind: null };
      (Array.isArray(row) ? row : Object.values(row)).forEach((group, c) => {
        const column = bytes.subarray(0, c).toString().length;
        // A DEFINE's value is a number when it begins with a digit.
        const kind =
          group === 'vorpexDefineValue'
            ? previous.group === group
              ? previous.kind
              : /[0-9]/.test(line[column])
                ? 'number'
                : null
            : kindOf(group);
        previous = { group, kind };
        const isStart = kind === 'line' || kind === 'target' || kind === 'number' ? startsToken(line, column) : false;
        if (!kind || (run && (run.kind !== kind || isStart))) flush();
        if (!kind) return;
        if (!run) run = { start: column, end: column + 1, kind };
        else run.end = column + 1;
      });
      flush();
    });
    result.set(name, tokens);
  }
  return result;
}

// Whether a number starts at this column (after a character that ends a token): two numbers side
// by side in one group, 10,20 or 10 20, are two.
const startsToken = (line, column) => column === 0 || /[ \t;,&|+\-<>/*%=()']/.test(line[column - 1]);

const all = sources();
const expected = await serverTokens(all);
const colourings = [
  ['the VS Code grammar', await grammarTokens(all)],
  ['the Neovim syntax', vimTokens(all)],
];
const wrong = [];
let compared = 0;
const key = ([l, s, n]) => `${l}:${s}:${n}`;
const numeric = new Set(['line', 'target', 'number']);
for (const { name, text } of all) {
  // Every token of the server; where it has none, the colour is left to the grammar.
  const served = expected.get(name);
  const want = new Map(served.map((t) => [key(t), t[3]]));
  const numbers = served.filter((t) => numeric.has(t[3]));
  compared += numbers.length;
  const lines = splitLines(text);
  const show = ([l, s, n]) => `${name}:${l + 1}: '${lines[l].slice(s, s + n)}' in '${lines[l]}'`;
  const overlaps = (a, b) => a[0] === b[0] && a[1] < b[1] + b[2] && b[1] < a[1] + a[2];
  for (const [colouring, found] of colourings) {
    const got = new Map(found.get(name).map((t) => [key(t), t[3]]));
    for (const t of numbers)
      if (got.get(key(t)) !== t[3]) wrong.push(`${colouring}, ${show(t)}: ${got.get(key(t)) ?? 'no number'}, the server: ${t[3]}`);
    for (const t of found.get(name)) {
      if (want.has(key(t)) && numeric.has(want.get(key(t)))) continue;
      const other = served.find((u) => overlaps(t, u));
      if (other) wrong.push(`${colouring}, ${show(t)}: ${t[3]}, the server: ${other[3]} '${lines[other[0]].slice(other[1], other[1] + other[2])}'`);
    }
  }
}
if (wrong.length > 0) {
  console.error(`${wrong.length} numbers coloured unlike the server's tokens:\n${wrong.slice(0, 60).join('\n')}`);
  process.exit(1);
}
console.log(`${all.length} sources: ${compared} numbers coloured as the server's tokens in both grammars`);
