// Puts the site together: node build.mjs WASM_DIR SITE_DIR. WASM_DIR holds vorpex_wasm.js and
// vorpex_wasm.wasm from the emscripten build; the page and its worker are bundled with esbuild,
// the shipped examples are built into the page.
import { build } from "esbuild";
import { createHash } from "node:crypto";
import { execFileSync } from "node:child_process";
import { copyFileSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const [wasmDir, site] = process.argv.slice(2);
if (!wasmDir || !site) {
  console.error("usage: node build.mjs WASM_DIR SITE_DIR");
  process.exit(2);
}
const web = dirname(fileURLToPath(import.meta.url));
const examplesDir = join(web, "..", "examples");
const examples = readdirSync(examplesDir)
  .filter((name) => name.endsWith(".bas"))
  .sort()
  .map((name) => ({ name, source: readFileSync(join(examplesDir, name), "utf8") }));

rmSync(site, { recursive: true, force: true });
mkdirSync(site, { recursive: true });
// app.js is the page without the editors, small so that the first conversion shows at once;
// editor.js, CodeMirror, follows it.
for (const [entry, out] of [["main.js", "app.js"], ["editor.js", "editor.js"]]) {
  await build({
    entryPoints: [join(web, "src", entry)],
    outfile: join(site, out),
    bundle: true,
    minify: true,
    format: "iife",
    target: ["es2020"],
    define: { VORPEX_EXAMPLES: JSON.stringify(examples) },
    logLevel: "warning",
  });
}
for (const [from, to] of [
  [join(wasmDir, "vorpex_wasm.js"), "vorpex_wasm.js"],
  [join(wasmDir, "vorpex_wasm.wasm"), "vorpex_wasm.wasm"],
  [join(web, "vorpex.js"), "vorpex.js"],
  [join(web, "src", "index.html"), "index.html"],
  [join(web, "src", "boot.js"), "boot.js"],
  [join(web, "src", "style.css"), "style.css"],
]) {
  copyFileSync(from, join(site, to));
}
// The documents the page's header links to, as plain text that any browser shows: the guide, the
// manual page (formatted by groff where it is installed) and how to get the releases.
const root = join(web, "..");
writeFileSync(join(site, "guide.txt"), readFileSync(join(root, "docs", "guide.md"), "utf8"));
writeFileSync(join(site, "manual.txt"), manual(join(root, "man", "vorpex.1")));
const readme = readFileSync(join(root, "README.md"), "utf8");
const installing = /^## Installing\n[\s\S]*?(?=^## )/m.exec(readme);
writeFileSync(join(site, "releases.txt"), installing ? installing[0] : readme);
function manual(page) {
  try {
    return execFileSync("groff", ["-man", "-Tutf8", "-P-cbou", page], { encoding: "utf8", stdio: ["ignore", "pipe", "ignore"] });
  } catch {
    // Without groff: the page's text without its requests and font changes.
    return readFileSync(page, "utf8").split("\n").filter((line) => !line.startsWith(".\\\"") && !/^\.(TH|PP|P|LP|br|sp|RS|RE|IP|TP|nf|fi|ad|hy|nh)\b/.test(line))
      .map((line) => line.replace(/^\.(SH|SS) /, "\n").replace(/^\.[BI]R? /, "").replace(/\\f[BIRP]/g, "").replace(/\\-/g, "-").replace(/\\(.)/g, "$1"))
      .join("\n");
  }
}
writeFileSync(join(site, "worker.js"), [join(web, "src", "worker_start.js"), join(site, "vorpex_wasm.js"),
  join(site, "vorpex.js"), join(web, "src", "worker.js")]
  .map((path) => readFileSync(path, "utf8"))
  .join("\n"));
// The offline copy: the service worker keeps every file of this build under the build's hash.
const files = readdirSync(site).sort();
const hash = createHash("sha256");
for (const name of files) hash.update(name).update(readFileSync(join(site, name)));
const serviceWorker = readFileSync(join(web, "src", "sw.js"), "utf8")
  .replace("VORPEX_BUILD", hash.digest("hex").slice(0, 16))
  .replace("VORPEX_FILES", JSON.stringify(["./", ...files]));
writeFileSync(join(site, "sw.js"), serviceWorker);
