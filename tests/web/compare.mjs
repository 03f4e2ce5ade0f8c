// The three front ends against each other: node compare.mjs SITE_DIR VORPEX VORPEX_GEN
// SESSION_FRONT WORK_DIR. The shipped examples, sources from the benchmark's generator and a few
// hundred random sources full of faults (UTF-8, bytes that are not UTF-8, every form of line end),
// each converted by the native binary (`-k --map`), by the session as the language server uses it
// (vorpex_session_front) and by the WebAssembly module, under a rotation of options: the same
// output bytes, status, diagnostics (rendered as the command line writes them) and line map, and
// every diagnostic's range valid in UTF-8 and UTF-16 (never ending before it starts, running past
// its line, or splitting a character). Then the module's renumbering against --renumber-source.
import { execFileSync, spawnSync } from "node:child_process";
import { mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const [site, native, generator, sessionFront, work] = process.argv.slice(2).map((path) => resolve(path));
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
  "é", "\u00ff", "\u4e2d", "\u20ac", "\u{1f600}", "\t", " ", "  ", "\x00", "\x01", "\x7f", "\r",
  "\r\n", "\x1a",
];
// Bytes that are not UTF-8: a lone continuation byte, a cut sequence, an overlong form, a
// surrogate, a byte that begins none.
const notUtf8 = [[0x80], [0xc3], [0xe2, 0x82], [0xe0, 0x80], [0xed, 0xa0, 0x80], [0xff], [0xf4, 0x90]];
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
  const end = pick(["\n", "\n", "\r\n", "\r"]);
  const text = lines.join(end) + (random(3) ? end : "");
  const bytes = [...Buffer.from(text, "utf8")];
  for (let n = random(4) ? 0 : 1 + random(3); n > 0; n--) bytes.splice(random(bytes.length + 1), 0, ...pick(notUtf8));
  return Buffer.from(bytes);
}
const optionSets = [
  { args: ["-k"], options: {} },
  { args: ["-k", "-w"], options: { warnings: false } },
  { args: [], options: { keepGoing: false } },
  { args: ["-k", "-D", "LEDS=9", "-D", "X=Y"], options: { defines: ["LEDS=9", "X=Y"] } },
  { args: ["-k", "-D", "5X=1"], options: { defines: ["5X=1"] } },
  { args: ["-k", "-w", "-D", "leds=9", "-D", "LEDS=1"], options: { warnings: false, defines: ["leds=9", "LEDS=1"] } },
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
  const sessionOutput = join(work, "session.out");
  const front = JSON.parse(execFileSync(sessionFront, [...set.args, inputPath, sessionOutput]).toString("utf8"));
  const session = {
    output: readFileSync(sessionOutput).toString("latin1"),
    status: front.status,
    stderr: front.stderr,
    map: front.map,
  };
  const differs = Object.keys(expected).filter((key) => JSON.stringify(expected[key]) !== JSON.stringify(actual[key]));
  differs.push(...Object.keys(expected).filter((key) => JSON.stringify(expected[key]) !== JSON.stringify(session[key])).map((key) => `session ${key}`));
  if (result.output !== Buffer.from(result.outputBytes).toString("utf8")) differs.push("output string");
  if (front.bad.length > 0) differs.push(`ranges ${JSON.stringify(front.bad)}`);
  // The page's places: UTF-16 offsets in the source as a JavaScript string decodes it, never
  // inside a character.
  const text = new TextDecoder().decode(bytes);
  const inside = (at) => at > 0 && at < text.length && text.charCodeAt(at) >= 0xdc00 && text.charCodeAt(at) <= 0xdfff;
  for (const d of result.diagnostics.flatMap((d) => [d, ...d.notes])) {
    if (!(d.from <= d.to && d.to <= text.length) || inside(d.from) || inside(d.to)) differs.push(`page range ${d.from}-${d.to}`);
  }
  if (differs.length === 0) {
    passed++;
    continue;
  }
  failed++;
  const kept = join(work, `failed-${name}`);
  writeFileSync(kept, bytes);
  console.error(`${name} (vorpex -q ${set.args.join(" ")}): ${differs.join(", ")} differ; the source is ${kept}`);
  for (const key of Object.keys(expected).filter((k) => differs.includes(k) || differs.includes(`session ${k}`))) {
    console.error(`  native:  ${JSON.stringify(expected[key]).slice(0, 600)}\n  wasm:    ${JSON.stringify(actual[key]).slice(0, 600)}\n  session: ${JSON.stringify(session[key]).slice(0, 600)}`);
  }
}
// Constants left out one by one (the page's -D box): the refused ones are named with -D's words,
// and the output is that of the command line given only the others.
const leaveOutSource = join(work, "left-out.bas");
writeFileSync(leaveOutSource, "DEFINE LEDS = 5\n10 PRINT LEDS; X; Y\n");
for (const [defines, kept] of [
  [["5X=1", "X=2"], ["X=2"]],
  [["X=2", "x=3", "Y=4"], ["X=2", "Y=4"]],
  [["X", "Y=1", "LEDS=8", "leds=9", "=3"], ["Y=1", "LEDS=8"]],
  [["X=2"], ["X=2"]],
  [["a\0b=1", "X=2"], ["X=2"]],
]) {
  const result = vorpex.convert(readFileSync(leaveOutSource), { defines, leaveOutRefused: true });
  const run = spawnSync(native, ["-q", "-k", ...kept.flatMap((d) => ["-D", d]), "-i", leaveOutSource, "-o", outputPath]);
  const expected = defines.flatMap((d, index) => {
    if (kept.includes(d)) return [];
    // Each refusal in the words of -D given the constants up to it, less those left out before.
    const before = defines.slice(0, index).filter((b) => kept.includes(b));
    const alone = vorpex.convert("", { defines: [...before, d] });
    return [{ index, text: d, message: alone.error }];
  });
  const same = run.status === 0 && Buffer.from(result.outputBytes).equals(readFileSync(outputPath)) &&
    JSON.stringify(result.refused) === JSON.stringify(expected) && result.error === undefined;
  if (same) passed++;
  else {
    failed++;
    console.error(`-D ${defines.join(" ")} with the refused left out: got ${JSON.stringify(result.refused)} and ${JSON.stringify(result.output)}, want ${JSON.stringify(expected)} and the output of -D ${kept.join(" ")}`);
  }
}
// The renumbering: vorpex.renumber's edits, applied, give what --renumber-source writes, and it
// refuses what the command line refuses, in the same words; for every source that is UTF-8 (the
// page renumbers a string), from 100 by 10, going on past computed jumps or not.
const renumbered = join(work, "renumbered.bas");
for (const [index, { name, bytes }] of sources.entries()) {
  const text = bytes.toString("utf8");
  if (!Buffer.from(text, "utf8").equals(bytes)) continue;
  const past = index % 2 === 1;
  writeFileSync(inputPath, bytes);
  rmSync(renumbered, { force: true });
  const run = spawnSync(native, ["-q", "--renumber-source", "100,10", ...(past ? ["--leave-computed-jumps"] : []), "-i", inputPath, "-o", renumbered]);
  const answer = vorpex.renumber(text, { start: 100, step: 10, pastComputed: past });
  let same;
  if (answer.refusal) {
    same = run.status !== 0 && run.stderr.toString("utf8").includes(answer.refusal);
  } else {
    let result = text;
    for (const edit of [...answer.edits].reverse()) result = result.slice(0, edit.from) + edit.text + result.slice(edit.to);
    same = run.status === 0 && Buffer.from(result, "utf8").equals(readFileSync(renumbered));
  }
  if (same) passed++;
  else {
    failed++;
    console.error(`${name}: renumbered from 100 by 10${past ? " past computed jumps" : ""}: the page gives ${JSON.stringify(answer).slice(0, 400)}; --renumber-source ended with ${run.status}: ${run.stderr.toString("utf8").slice(0, 400)}`);
  }
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
