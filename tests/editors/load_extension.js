// Loads the client of an unpacked .vsix (its manifest's main) under node, with a stand-in for the editor's `vscode`
// module: every other module it needs must come from inside the package.
'use strict';
const Module = require('node:module');
const path = require('node:path');

const stub = new Proxy(function vscode() {}, {
  get: (_target, key) => (key === 'prototype' ? {} : stub),
  apply: () => stub,
  construct: () => ({}),
});
const resolve = Module._resolveFilename;
Module._resolveFilename = function (request, ...rest) {
  return request === 'vscode' ? 'vscode' : resolve.call(this, request, ...rest);
};
require.cache.vscode = /** @type {any} */ ({ id: 'vscode', filename: 'vscode', loaded: true, exports: stub });

const root = path.resolve(process.argv[2], 'extension');
const { main } = require(path.join(root, 'package.json'));
const extension = require(path.join(root, main));
for (const name of ['activate', 'deactivate']) {
  if (typeof extension[name] !== 'function') throw new Error(`the extension exports no ${name}()`);
}
console.log('the client loads from the package with everything it needs');
