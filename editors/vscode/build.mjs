// Bundles the client and every module it needs, but the editor's own `vscode`, into one file,
// dist/extension.js (the manifest's `main`), and writes beside it the licenses of the packages
// whose code the bundle holds, dist/THIRD-PARTY-NOTICES.txt. `vsce package` runs this first
// (the script vscode:prepublish).
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import * as esbuild from 'esbuild';

const extension = path.dirname(fileURLToPath(import.meta.url));
const dist = path.join(extension, 'dist');
const OUTFILE = path.join(dist, 'extension.js');

/** The folder of the package that `file` (relative to the extension) belongs to, or null. */
function packageOf(file) {
  const parts = file.split(/[\\/]/);
  const at = parts.lastIndexOf('node_modules');
  if (at < 0) return null;
  const length = parts[at + 1]?.startsWith('@') ? 3 : 2;
  return parts.slice(0, at + length).join('/');
}

/** The license text of a package folder: its LICENSE, LICENCE or COPYING file. */
function licenseText(folder) {
  const name = fs.readdirSync(folder).find((f) => /^(licen[cs]e|copying)(\.(md|txt))?$/i.test(f));
  return name ? fs.readFileSync(path.join(folder, name), 'utf8').trim() : null;
}

async function main() {
  fs.rmSync(dist, { recursive: true, force: true });
  const result = await esbuild.build({
    absWorkingDir: extension,
    entryPoints: ['extension.js'],
    bundle: true,
    platform: 'node',
    format: 'cjs',
    // The Node.js of the oldest editor that the manifest's engines.vscode admits.
    target: 'node18',
    external: ['vscode'],
    outfile: OUTFILE,
    minify: true,
    legalComments: 'none',
    metafile: true,
    logLevel: 'warning',
  });
  const folders = [...new Set(Object.keys(result.metafile.inputs).map(packageOf).filter(Boolean))].sort();
  const notices = [
    'The vorpex extension bundles code of these packages, under these licenses.',
  ];
  for (const folder of folders) {
    const manifest = JSON.parse(fs.readFileSync(path.join(extension, folder, 'package.json'), 'utf8'));
    const text = licenseText(path.join(extension, folder));
    if (!text) throw new Error(`${folder}: no license file to ship with the bundle`);
    notices.push(`${'-'.repeat(78)}\n${manifest.name} ${manifest.version} (${manifest.license})\n\n${text}`);
  }
  fs.writeFileSync(path.join(dist, 'THIRD-PARTY-NOTICES.txt'), `${notices.join('\n\n')}\n`);
  console.log(`${path.relative(extension, OUTFILE)}: ${folders.length} packages bundled`);
}

await main();
