// The WebAssembly module against the native binary: node compare.mjs SITE_DIR VORPEX VORPEX_GEN
// WORK_DIR. The shipped examples, sources from the benchmark's generator and a few hundred random
// sources full of faults, each converted by both under a rotation of options: the same output
// bytes, status, diagnostics (rendered as the command line writes them) and line map.
import { execFileSync, spawnSync } from "node:child_process";
import { mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const [site, native, generator, work] = process.argv.slice(2).map((path) => resolve(path));
const vorpex = createRequire(import.meta.url)(join(site, "vorpex.js"));
await vorpex.ready;
rmSync(work, { recursive: true, force: true });
mkdirSync(work, { recursive: true });

// A small PRNG whose output depends on its seed alone.
let seed = 0x2545f491;
const random = (n) => {
  seed = (Math.imul(seed ^ (seed >>> 15), 0x2c1b3c6d) + 0x6d2b79f5) >>> 0;
  return seed % n;
};
const pick = (items) => items[random(items.length)];
const pieces = [
  "PRINT", "print", "Goto", "FOR", "I", "=", "1", "TO", "10", "NEXT", "x1", "A$", ":", ";", ",",
  "(", ")", "+", "-", "*", "/", "<>", "3.25", ".5", "1E3", '"Led: "', '"open', '"a""b"', "' note",
  "REM remark", "rem", "LEDS", "pause", "DEFINE Z = 3", "A\"B", "9\"", "?", "`", "{", "~", "|", "\\", "@", "#", "&",
  "é", "\u00ff", "\u4e2d", "\t", " ", "  ", "\x00", "\x01", "\x7f", "\r", "\x1a",
];
const lineStarts = ["", "", "10", "20 ", "  30", "100", "DEFINE LEDS = 5", "define pause = 100",
  "DEFINE X", "DEFINE X =", "DEFINE X = \"s\"", "DEFINE LEDS = 7", "DEFINE Y = Z", "DEFINE 5 = 6"];
function randomSource() {
  const lines = [];
  const count = 1 + random(25);
  for (let i = 0; i < count; i++) {
    let line = pick(lineStarts);
    const tokens = random(8);
    for (let t = 0; t < tokens; t++) line += (random(3) ? " " : "") + pick(pieces);
    lines.push(line);
  }
  let text = lines.join(random(4) ? "\n" : "\r\n") + (random(3) ? "\n" : "");
  return Buffer.from(text, "utf8");
}
const optionSets = [
  { args: ["-k"], options: {} },
  { args: ["-k", "-w"], options: { warnings: false } },
  { args: [], options: { keepGoing: false } },
  { args: ["-k", "-D", "LEDS=9", "-D", "X=Y"], options: { defines: { LEDS: "9", X: "Y" } } },
  { args: ["-k", "-D", "5X=1"], options: { defines: { "5X": "1" } } },
];

const sources = [];
const examples = join(dirname(fileURLToPath(import.meta.url)), "..", "..", "examples");
for (const name of readdirSync(examples).filter((n) => n.endsWith(".bas")).sort()) {
  sources.push({ name, bytes: readFileSync(join(examples, name)) });
}
const mixes = ["realistic", "comments", "strings"];
for (let i = 0; i < 30; i++) {
  const size = `${1 + (i % 7) * 3}K`;
  const bytes = execFileSync(generator, ["-s", size, "-m", mixes[i % 3], "-d", String(i * 7 % 40), "-r", String(i + 1)]);
  sources.push({ name: `generated-${i}.bas`, bytes });
}
for (let i = 0; i < 300; i++) sources.push({ name: `random-${i}.bas`, bytes: randomSource() });

let passed = 0;
let failed = 0;
const inputPath = join(work, "source.bas");
const outputPath = join(work, "source.out");
const mapPath = join(work, "source.map");
for (const [index, { name, bytes }] of sources.entries()) {
  const set = optionSets[index % optionSets.length];
  writeFileSync(inputPath, bytes);
  rmSync(outputPath, { force: true });
  rmSync(mapPath, { force: true });
  const run = spawnSync(native, ["-q", ...set.args, "-i", inputPath, "-o", outputPath, "--map", mapPath]);
  const readOr = (path) => { try { return readFileSync(path); } catch { return Buffer.alloc(0); } };
  const expected = {
    output: readOr(outputPath).toString("latin1"),
    status: run.status,
    stderr: run.stderr.toString("utf8"),
    map: readOr(mapPath).toString("utf8").split("\n").filter(Boolean).map((row) => Number(row.split("\t")[1])),
  };
  const result = vorpex.convert(new Uint8Array(bytes), set.options);
  const lines = [];
  const render = (d) => lines.push(`${inputPath}:${d.line}:${d.column}: ${d.severity}: ${d.message} [${d.code}]`);
  for (const d of result.diagnostics) {
    render(d);
    d.notes.forEach(render);
  }
  if (result.error) lines.push(`vorpex: ${result.error}`);
  const actual = {
    output: Buffer.from(result.outputBytes).toString("latin1"),
    status: result.status,
    stderr: lines.map((l) => `${l}\n`).join(""),
    map: result.map,
  };
  const differs = Object.keys(expected).filter((key) => JSON.stringify(expected[key]) !== JSON.stringify(actual[key]));
  if (result.output !== Buffer.from(result.outputBytes).toString("utf8")) differs.push("output string");
  if (differs.length === 0) {
    passed++;
    continue;
  }
  failed++;
  const kept = join(work, `failed-${name}`);
  writeFileSync(kept, bytes);
  console.error(`${name} (vorpex -q ${set.args.join(" ")}): ${differs.join(", ")} differ; the source is ${kept}`);
  for (const key of differs.filter((k) => k in expected)) {
    console.error(`  native: ${JSON.stringify(expected[key]).slice(0, 600)}\n  wasm:   ${JSON.stringify(actual[key]).slice(0, 600)}`);
  }
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
