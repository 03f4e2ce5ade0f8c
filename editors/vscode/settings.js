// @ts-check
'use strict';
// What the extension's settings mean to the language server, kept apart from the editor's API so
// that it can be tested under node alone.
const os = require('node:os');
const path = require('node:path');

const DEFAULT_SERVER = 'vorpex-lsp';

/**
 * The program to start for the `vorpex.server.path` setting: a command name is looked up on PATH
 * by the system. `${workspaceFolder}` is the first workspace folder and `${userHome}` the home
 * folder, wherever they stand; a leading `~` is the home folder too; a relative path with a
 * folder in it is taken from the first workspace folder. Without a workspace folder, the current
 * folder stands for it.
 * @param {unknown} setting
 * @param {string | undefined} workspaceFolder
 * @returns {string}
 */
function serverCommand(setting, workspaceFolder) {
  let value = typeof setting === 'string' ? setting.trim() : '';
  if (value === '') return DEFAULT_SERVER;
  const folder = workspaceFolder ?? process.cwd();
  value = value.replace(/\$\{(workspaceFolder|userHome)\}/g, (_, name) => (name === 'userHome' ? os.homedir() : folder));
  if (value === '~' || value.startsWith('~/') || value.startsWith('~\\')) {
    return path.join(os.homedir(), value.slice(1));
  }
  if (path.isAbsolute(value) || !/[\\/]/.test(value)) return value;
  return path.resolve(folder, value);
}

/**
 * The server's settings, `{ defines: { NAME: "VALUE" }, warnings: true, largestLineNumber: null }`,
 * from the editor's `vorpex.defines`, `vorpex.warnings` and `vorpex.renumber.largestLine`. Values
 * that are numbers are written as vorpex reads them on its command line; anything that is not a
 * plain value is left out. A largest line number of 0 (or none) is no limit.
 * @param {unknown} defines
 * @param {unknown} warnings
 * @param {unknown} [largest]
 * @returns {{ defines: Record<string, string>, warnings: boolean, largestLineNumber: number | null }}
 */
function serverSettings(defines, warnings, largest) {
  /** @type {Record<string, string>} */
  const names = {};
  if (defines !== null && typeof defines === 'object' && !Array.isArray(defines)) {
    for (const [name, value] of Object.entries(defines)) {
      if (typeof value === 'string' || typeof value === 'number') names[name] = String(value);
    }
  }
  const limit = typeof largest === 'number' && Number.isSafeInteger(largest) && largest > 0 ? largest : null;
  return { defines: names, warnings: warnings !== false, largestLineNumber: limit };
}

module.exports = { DEFAULT_SERVER, serverCommand, serverSettings };
