// @ts-check
'use strict';
// What the extension's manifest promises: the problem matcher reads vorpex's diagnostics, the
// settings reach the server as it reads them, the version is the project's, and its main is the
// bundle that build.mjs writes.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { serverCommand, serverSettings } = require('../settings');

const extension = path.join(__dirname, '..');
const manifest = JSON.parse(fs.readFileSync(path.join(extension, 'package.json'), 'utf8'));

test('the problem matcher reads what vorpex writes on standard error', () => {
  const [matcher] = manifest.contributes.problemMatchers;
  const { regexp, file, line, column, severity, message, code } = matcher.pattern;
  const pattern = new RegExp(regexp);
  const rows = [
    ["prog.bas:2:9: error: the character ':' begins no token; the conversion stops here",
      ['prog.bas', '2', '9', 'error', "the character ':' begins no token; the conversion stops here", undefined]],
    [`prog.bas:2:10: warning: double quote inside the word 'PRINT"Hi': the quoted text becomes part of it [quote-in-word]`,
      ['prog.bas', '2', '10', 'warning', `double quote inside the word 'PRINT"Hi': the quoted text becomes part of it`, 'quote-in-word']],
    ['C:\\work\\src\\prog.bas:12:1: note: the first definition is here',
      ['C:\\work\\src\\prog.bas', '12', '1', 'note', 'the first definition is here', undefined]],
    ['<stdin>:1:7: warning: string not closed before the end of the line [unclosed-string]',
      ['<stdin>', '1', '7', 'warning', 'string not closed before the end of the line', 'unclosed-string']],
    ["vorpex: cannot open 'missing.bas': No such file or directory", null],
    ['Convert success!', null],
  ];
  for (const [input, expected] of rows) {
    const match = pattern.exec(String(input));
    const got = match && [file, line, column, severity, message, code].map((group) => match[group]);
    assert.deepEqual(got, expected, String(input));
  }
});

test('the settings become the server command and the server settings', () => {
  const folder = path.resolve('/work/project');
  const commands = [
    [undefined, 'vorpex-lsp'],
    ['  ', 'vorpex-lsp'],
    ['vorpex-lsp-dev', 'vorpex-lsp-dev'],
    ['/opt/vorpex/bin/vorpex-lsp', '/opt/vorpex/bin/vorpex-lsp'],
    ['build/vorpex-lsp', path.join(folder, 'build', 'vorpex-lsp')],
    ['~/bin/vorpex-lsp', path.join(os.homedir(), 'bin', 'vorpex-lsp')],
    ['~', os.homedir()],
    ['${workspaceFolder}/build/vorpex-lsp', path.join(folder, 'build', 'vorpex-lsp')],
    ['${userHome}/bin/vorpex-lsp', path.join(os.homedir(), 'bin', 'vorpex-lsp')],
    ['${workspaceFolderBasename}/vorpex-lsp', path.join(folder, '${workspaceFolderBasename}', 'vorpex-lsp')],
    ['bin~/vorpex-lsp', path.join(folder, 'bin~', 'vorpex-lsp')],
  ];
  for (const [setting, expected] of commands) {
    assert.equal(path.normalize(serverCommand(setting, folder)), expected, String(setting));
  }
  // Without a workspace folder, the current folder stands for it.
  assert.equal(serverCommand('${workspaceFolder}/vorpex-lsp', undefined), path.join(process.cwd(), 'vorpex-lsp'));
  assert.equal(serverCommand('build/vorpex-lsp', undefined), path.join(process.cwd(), 'build', 'vorpex-lsp'));

  assert.deepEqual(serverSettings({ LEDS: '8', PAUSE: 250, BAD: { x: 1 } }, undefined), {
    defines: { LEDS: '8', PAUSE: '250' },
    warnings: true,
    largestLineNumber: null,
  });
  assert.deepEqual(serverSettings(['A=1'], false, 0), { defines: {}, warnings: false, largestLineNumber: null });
  for (const [largest, sent] of [[9999, 9999], [65529, 65529], [-1, null], [1.5, null], ['32767', null]]) {
    assert.equal(serverSettings({}, true, largest).largestLineNumber, sent, String(largest));
  }
});

test('the manifest names files that exist and the project version', () => {
  const [language] = manifest.contributes.languages;
  const [grammar] = manifest.contributes.grammars;
  assert.equal(grammar.language, language.id);
  const syntax = JSON.parse(fs.readFileSync(path.join(extension, grammar.path), 'utf8'));
  assert.equal(syntax.scopeName, grammar.scopeName);
  JSON.parse(fs.readFileSync(path.join(extension, language.configuration), 'utf8'));

  const cmake = fs.readFileSync(path.join(extension, '..', '..', 'CMakeLists.txt'), 'utf8');
  assert.equal(manifest.version, /project\(vorpex VERSION ([0-9.]+)/.exec(cmake)?.[1]);
});

test('the bundle is written where the manifest points, with the licenses of the code it holds', () => {
  fs.rmSync(path.join(extension, 'dist'), { recursive: true, force: true });
  execFileSync(process.execPath, [path.join(extension, 'build.mjs')], { stdio: 'pipe' });
  assert.ok(fs.existsSync(path.join(extension, manifest.main)), manifest.main);
  const notices = fs.readFileSync(path.join(extension, 'dist', 'THIRD-PARTY-NOTICES.txt'), 'utf8');
  for (const name of ['vscode-languageclient', 'vscode-jsonrpc', 'vscode-languageserver-protocol']) {
    assert.match(notices, new RegExp(`^${name} [0-9.]+ \\(MIT\\)$`, 'm'), name);
  }
  // Everything it needs at run time is inside it: the package has no dependencies to ship.
  assert.deepEqual(manifest.dependencies ?? {}, {});
});

test('the icon is a square PNG in the package, of the size the gallery shows', () => {
  const icon = fs.readFileSync(path.join(extension, manifest.icon));
  assert.equal(icon.subarray(0, 8).toString('latin1'), '\x89PNG\r\n\x1a\n');
  const [width, height] = [icon.readUInt32BE(16), icon.readUInt32BE(20)];
  assert.deepEqual([width, height], [128, 128]);
  const ignore = fs.readFileSync(path.join(extension, '.vscodeignore'), 'utf8').split('\n');
  assert.ok(ignore.includes(`!${manifest.icon}`), 'the icon is packaged');
});
