// The playground in headless Chromium: node browser.mjs SITE_DIR ARTIFACT_DIR. The site is served
// by python3 -m http.server on a free port of 127.0.0.1; puppeteer-core drives Debian's chromium.
// A program is typed and its output, problems, underlines, map highlight, -D box and shared link
// are checked; then large and strange sources must leave the page responsive. A screenshot and
// the measured budget figures (budget.json) go to ARTIFACT_DIR.
import { spawn } from "node:child_process";
import { existsSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { gzipSync } from "node:zlib";

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(here, "..", "..", "web", "package.json"));
const puppeteer = require("puppeteer-core");
const [site, artifacts] = process.argv.slice(2).map((path) => resolve(path));
mkdirSync(artifacts, { recursive: true });

let passed = 0;
let failed = 0;
function check(what, ok, detail = "") {
  if (ok) passed++;
  else {
    failed++;
    console.error(`FAILED: ${what}${detail ? `: ${detail}` : ""}`);
  }
}
const equal = (what, actual, expected) =>
  check(what, JSON.stringify(actual) === JSON.stringify(expected), `got ${JSON.stringify(actual)}, want ${JSON.stringify(expected)}`);

const server = spawn("python3", ["-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "-d", site], { stdio: ["ignore", "pipe", "ignore"] });
const port = await new Promise((done, fail) => {
  let seen = "";
  server.stdout.on("data", (chunk) => {
    seen += chunk;
    const match = /port (\d+)/.exec(seen);
    if (match) done(Number(match[1]));
  });
  server.on("exit", () => fail(new Error("the static server did not start")));
  setTimeout(() => fail(new Error("the static server did not say its port")), 10000);
});
const url = `http://127.0.0.1:${port}/`;
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
});
const budget = {};
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 860 });
  const pageErrors = [];
  page.on("pageerror", (error) => pageErrors.push(String(error)));
  const result = () => page.evaluate(() => window.playground.result && {
    output: window.playground.result.output, status: window.playground.result.status,
    diagnostics: window.playground.result.diagnostics, map: window.playground.result.map });
  const settled = async () => {
    await page.waitForFunction(() => !document.getElementById("output-state").textContent, { timeout: 30000 });
    return result();
  };

  // The first example, converted as soon as the page is there.
  await page.goto(url, { waitUntil: "load" });
  await page.waitForFunction(() => window.vorpexTimes, { timeout: 10000 });
  budget.firstLoadOfTheBrowserMs = Math.round(await page.evaluate(() => window.vorpexTimes.firstShown));
  const blink = readFileSync(join(here, "..", "..", "examples", "blink.expected"), "latin1");
  equal("the first example's output", (await settled()).output, blink);
  // The editors take the place of the text boxes the page starts with, keeping the source.
  await page.waitForSelector("#source .cm-content");
  equal("the editor's source", await page.evaluate(() => window.playground.source.state.doc.toString()),
    readFileSync(join(here, "..", "..", "examples", "blink.bas"), "utf8"));

  // A program typed into the editor.
  await page.click("#source .cm-content");
  await page.keyboard.down("Control");
  await page.keyboard.press("a");
  await page.keyboard.up("Control");
  await page.keyboard.press("Backspace");
  await page.keyboard.type('10 print "hi\nDEFINE N = 5\n20 x = N ? 1\nREM x\n30\n  goto 10\n');
  let typed = await settled();
  equal("the typed program's output", typed.output, '10 PRINT "hi"\r\n20 X=5\r\nUNKNOWN ERROR! LINE: 3\r\n');
  equal("the typed program's status", typed.status, 1);
  equal("its problems", typed.diagnostics.map((d) => [d.line, d.column, d.endColumn, d.severity, d.code]),
    [[1, 10, 13, "warning", "unclosed-string"], [3, 10, 11, "error", "unknown-character"]]);
  const listed = await page.$$eval("#problems button", (buttons) => buttons.map((b) => b.textContent));
  equal("the problems list", listed, ["1:10 warning string not closed before the end of the line [unclosed-string]",
    "3:10 error the character '?' begins no token; the conversion stops here [unknown-character]"]);
  await page.waitForSelector("#source .cm-lintRange-error");
  equal("the error's underline", await page.$eval("#source .cm-lintRange-error", (e) => e.textContent), "?");
  equal("the warning's underline", await page.$eval("#source .cm-lintRange-warning", (e) => e.textContent), '"hi');
  // Choosing a problem puts the cursor on it.
  await page.click("#problems li:nth-child(2) button");
  equal("a chosen problem's place", await page.evaluate(() => {
    const { state } = window.playground.source;
    const line = state.doc.lineAt(state.selection.main.head);
    return [line.number, state.selection.main.from - line.from + 1];
  }), [3, 10]);

  // The map: pointing at an output line marks the source lines it came from.
  const mappedWhenPointing = async (outputLine) => {
    const box = await page.$eval(`#output .cm-line:nth-child(${outputLine})`, (e) => {
      const r = e.getBoundingClientRect();
      return { x: r.left + 5, y: r.top + r.height / 2 };
    });
    await page.mouse.move(box.x, box.y);
    await page.waitForFunction(() => document.querySelector("#source .cm-mapped"));
    return page.$$eval("#source .cm-mapped", (lines) => lines.map((l) => l.textContent));
  };
  equal("output line 1 maps to source line 1", await mappedWhenPointing(1), ['10 print "hi']);
  equal("output line 2 maps to source line 3", await mappedWhenPointing(2), ["20 x = N ? 1"]);
  await page.mouse.move(1, 1);
  equal("the highlight goes with the pointer", await page.$$eval("#source .cm-mapped", (l) => l.length), 0);

  // The -D box.
  await page.evaluate(() => window.playground.setSource("REM x\n10\n  print N\n20 a=2\n"));
  await settled();
  await page.type("#defines", "N=7");
  typed = await settled();
  equal("-D N=7", typed.output, "10 PRINT 7\r\n20 A=2\r\n");
  equal("the map of a joined label", typed.map, [2, 4]);
  equal("a label's output line maps to the label and its line", await mappedWhenPointing(1), ["10", "  print N"]);
  await page.type("#defines", " bad");
  await page.waitForFunction(() => document.getElementById("defines-error").textContent);
  equal("a -D item without =", await page.$eval("#defines-error", (e) => e.textContent), "cannot define 'bad': expected NAME=VALUE");
  await page.$eval("#defines", (e) => { e.value = "N=7 1X=2"; e.dispatchEvent(new Event("input")); });
  await page.waitForFunction(() => document.getElementById("defines-error").textContent.includes("1X"));
  equal("a -D name that is no word", await page.$eval("#defines-error", (e) => e.textContent), "cannot define '1X=2': the name must be one word");
  // Each item is checked as -D checks it: a name comes once, and only a word is a name.
  for (const [items, refusal] of [["N=7 n=8", "cannot define 'n=8': the name is already defined"],
    ["__proto__=3", "cannot define '__proto__=3': the name must be one word"]]) {
    await page.$eval("#defines", (e, v) => { e.value = v; e.dispatchEvent(new Event("input")); }, items);
    await page.waitForFunction((r) => document.getElementById("defines-error").textContent === r, {}, refusal);
  }
  await page.$eval("#defines", (e) => { e.value = "N=7"; e.dispatchEvent(new Event("input")); });
  await settled();
  // A lone CR is dropped as the command line drops it: the two lines are one.
  await page.evaluate(() => window.playground.setSource("10 A = 1\r20 B = 2\r"));
  equal("a lone CR", (await settled()).output, "10 A=120 B=2\r\n");
  await page.evaluate(() => window.playground.setSource("REM x\n10\n  print N\n20 a=2\n"));
  await settled();

  // Copy and download give the output's bytes, CR LF and all.
  await browser.defaultBrowserContext().overridePermissions(url, ["clipboard-read", "clipboard-write", "clipboard-sanitized-write"]);
  await page.click("#copy");
  await page.waitForFunction(() => document.getElementById("status").textContent.includes("copied"));
  equal("the copied output", await page.evaluate(() => navigator.clipboard.readText()), "10 PRINT 7\r\n20 A=2\r\n");
  const downloads = join(artifacts, "downloads");
  rmSync(downloads, { recursive: true, force: true });
  const cdp = await browser.target().createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads, eventsEnabled: true });
  // The file appears before its bytes are written: wait for the browser to say it is complete.
  const finished = new Promise((done) => {
    cdp.on("Browser.downloadProgress", (e) => { if (e.state !== "inProgress") done(e.state); });
    setTimeout(() => done("timed out"), 20000);
  });
  await page.click("#download");
  const downloaded = join(downloads, "program.out");
  check("the download completes", (await finished) === "completed", "");
  equal("the downloaded output", existsSync(downloaded) && readFileSync(downloaded, "latin1"), "10 PRINT 7\r\n20 A=2\r\n");

  // The shared link brings back the program and the -D box in a new page.
  await page.click("#share");
  await page.waitForFunction(() => document.getElementById("share-link").value);
  const link = await page.$eval("#share-link", (e) => e.value);
  check("the link holds the program in its fragment", link.startsWith(url) && link.includes("#"), link);
  const shared = await browser.newPage();
  await shared.goto(link, { waitUntil: "load" });
  await shared.waitForFunction(() => window.playground.source && window.playground.result && !document.getElementById("output-state").textContent);
  equal("the shared program", await shared.evaluate(() => window.playground.source.state.doc.toString()), "REM x\n10\n  print N\n20 a=2\n");
  equal("the shared -D box", await shared.$eval("#defines", (e) => e.value), "N=7");
  equal("the shared output", await shared.evaluate(() => window.playground.result.output), "10 PRINT 7\r\n20 A=2\r\n");
  await shared.close();

  // Once loaded, the page works without a network.
  await page.evaluate(() => navigator.serviceWorker.ready);
  await page.setOfflineMode(true);
  await page.reload({ waitUntil: "load" });
  await page.waitForFunction(() => window.playground && window.playground.source && window.playground.result, { timeout: 10000 });
  equal("the page offline, from the link", await page.evaluate(() => window.playground.result.output), "10 PRINT 7\r\n20 A=2\r\n");
  await page.setOfflineMode(false);

  // Labels for every control, and the editors for screen readers.
  equal("unlabelled controls", await page.$$eval("input, select, button", (controls) => controls
    .filter((c) => !(c.labels && c.labels.length) && !c.getAttribute("aria-label") && !c.textContent.trim())
    .map((c) => c.id)), []);
  // Tab leaves the source editor for the output, where the arrow keys move through the lines
  // and the map follows.
  await page.focus("#source .cm-content");
  await page.keyboard.press("Tab");
  check("Tab leaves the source editor", await page.evaluate(() => Boolean(document.activeElement.closest("#output"))));
  await page.keyboard.press("ArrowDown");
  await page.waitForFunction(() => document.getElementById("map-info").textContent.startsWith("Output line 2"));
  equal("the map by keyboard", await page.$$eval("#source .cm-mapped", (l) => l.map((e) => e.textContent)), ["20 a=2"]);
  equal("the editors' labels", await page.$$eval(".cm-content", (e) => e.map((c) => c.getAttribute("aria-label"))), ["BASIC source", "Compacted output"]);
  // Dark and light.
  const background = () => page.$eval("body", (b) => getComputedStyle(b).backgroundColor);
  await page.select("#theme", "dark");
  const dark = await background();
  await page.select("#theme", "light");
  check("the dark theme differs from the light one", dark !== (await background()), dark);

  // The screenshot: the first example with a string left open, and the map of its first line.
  await page.$eval("#defines", (e) => { e.value = ""; e.dispatchEvent(new Event("input")); });
  await page.$eval("#share-line", (e) => { e.hidden = true; });
  await page.select("#example", "0");
  await settled();
  await page.evaluate(() => window.playground.setSource(window.playground.source.state.doc.toString().replace('"Led: "', '"Led: ')));
  await settled();
  await page.setViewport({ width: 1000, height: 640 });
  await mappedWhenPointing(1);
  await page.screenshot({ path: join(artifacts, "web-playground.png") });

  // A 1,000-line program, converted on the page's own thread by window.vorpex.
  await page.waitForFunction(() => window.vorpex, { timeout: 10000 });
  await page.evaluate(() => window.vorpex.ready);
  budget.thousandLinesMs = await page.evaluate(() => {
    const body = [(i) => `DEFINE C${i} = ${i}`, (i) => `${i * 10} FOR I = 1 TO C${i - i % 10}   ' count up`,
      (i) => `  PRINT "Line "; I; " of "; ${i}`, (i) => `  x = x + C${i - i % 10} * 2`, (i) => `${i * 10}`,
      (i) => `  IF x > ${i} THEN GOTO ${i * 10}`, (i) => `REM step ${i}`, () => "", () => "  NEXT I",
      (i) => `  y$ = "text ${i}"`];
    const lines = [];
    for (let i = 1; i <= 1000; i++) lines.push(body[i % 10](i));
    const source = lines.join("\n");
    window.vorpex.convert(source);
    const times = [];
    for (let run = 0; run < 20; run++) {
      const start = performance.now();
      window.vorpex.convert(source);
      times.push(performance.now() - start);
    }
    return Number(times.sort((a, b) => a - b)[10].toFixed(2));
  });

  // Before the editors come (here: never), the page works with its text boxes, by keyboard.
  const plainContext = await browser.createBrowserContext();
  const plain = await plainContext.newPage();
  await plain.evaluateOnNewDocument(() => Object.defineProperty(window, "vorpexEditor", {
    get: () => () => { throw new Error("no editors"); }, set(attach) { window.heldEditors = attach; } }));
  await plain.goto(url, { waitUntil: "load" });
  await plain.waitForFunction(() => window.playground.result);
  equal("the text boxes' labels", await plain.$$eval("textarea", (boxes) => boxes.map((b) => b.getAttribute("aria-label"))), ["BASIC source", "Compacted output"]);
  await plain.focus("#source-plain");
  await plain.$eval("#source-plain", (e) => { e.value = ""; });
  await plain.keyboard.type("10 a = 1\n20 ?\n");
  await plain.waitForFunction(() => window.playground.result.diagnostics.length && !document.getElementById("output-state").textContent);
  equal("the text box's output", await plain.$eval("#output-plain", (e) => e.value), "10 A=1\n20\nUNKNOWN ERROR! LINE: 2\n");
  await plain.click("#problems li:nth-child(1) button");
  equal("a chosen problem's place in the text box", await plain.$eval("#source-plain", (e) => [e.selectionStart, e.selectionEnd, document.activeElement === e]), [12, 13, true]);
  await plain.keyboard.press("Tab");
  equal("Tab leaves the source box for the output", await plain.evaluate(() => document.activeElement.id), "output-plain");
  // The editors, put in place of the boxes, keep the text, the selection and the focus.
  equal("the editors in place of the boxes", await plain.evaluate(() => {
    const box = document.getElementById("source-plain");
    box.focus();
    box.setSelectionRange(3, 6);
    const { source } = window.heldEditors({ plainSource: box, plainOutput: document.getElementById("output-plain"), onEdit() {}, onOutputLine() {} });
    return [source.state.doc.toString(), source.state.selection.main.from, source.state.selection.main.to, source.hasFocus];
  }), ["10 a = 1\n20 ?\n", 3, 6, true]);
  await plainContext.close();

  // Large and strange sources: the conversion runs in the worker, the page keeps answering.
  const responsive = async (what, make) => {
    await page.evaluate(make);
    const start = Date.now();
    await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => done())));
    const frame = Date.now() - start;
    check(`${what}: the page answers while it converts`, frame < 1500, `${frame} ms`);
    const shown = await settled();
    const status = await page.$eval("#status", (e) => e.textContent);
    check(`${what}: a result or an error is shown`, shown !== null && /status [01]/.test(status), status);
    return shown;
  };
  await responsive("6 MiB of source", () => {
    const line = '100 PRINT "a string"; x: y = y + 1 \' a comment\n';
    window.playground.setSource(line.repeat(Math.ceil((6 << 20) / line.length)));
  });
  const garbage = await responsive("binary garbage", () => {
    let seed = 1;
    const bytes = [];
    for (let i = 0; i < 200000; i++) {
      seed = (seed * 1103515245 + 12345) & 0x7fffffff;
      bytes.push(String.fromCharCode(seed >> 16 & 255));
    }
    window.playground.setSource(bytes.join(""));
  });
  check("binary garbage is reported", garbage.diagnostics.length > 0 && garbage.status === 1);
  check("the problems list stays bounded", (await page.$$eval("#problems > li", (l) => l.length)) <= 500);
  await responsive("a line of 2 MiB", () => window.playground.setSource(`10 PRINT ${"x".repeat(2 << 20)}\n`));
  equal("no page errors", pageErrors, []);

  // The first conversion after load, as on a first visit (a new context: no cache, no service
  // worker) to the browser that is running already: the median of five loads.
  const loads = [];
  for (let i = 0; i < 5; i++) {
    const context = await browser.createBrowserContext();
    const fresh = await context.newPage();
    await fresh.goto(url, { waitUntil: "load" });
    await fresh.waitForFunction(() => window.vorpexTimes, { timeout: 10000 });
    loads.push(await fresh.evaluate(() => window.vorpexTimes.firstShown));
    await context.close();
  }
  budget.firstConversionShownMs = Math.round(loads.sort((a, b) => a - b)[2]);
} finally {
  await browser.close();
  server.kill();
}

// The page's files, gzipped one by one as a server would send them.
budget.gzipBytes = readdirSync(site).reduce((sum, name) => sum + gzipSync(readFileSync(join(site, name)), { level: 9 }).length, 0);
writeFileSync(join(artifacts, "budget.json"), `${JSON.stringify(budget, null, 2)}\n`);
console.log(`budget: ${budget.gzipBytes} bytes gzip in all (at most 409600), first conversion shown at ${budget.firstConversionShownMs} ms (200; ${budget.firstLoadOfTheBrowserMs} ms as the browser's first page), 1,000 lines in ${budget.thousandLinesMs} ms (5)`);
check("the page's files fit in 400 KB gzip", budget.gzipBytes <= 400 * 1024);
// The times are reported, not checked: a shared machine's timings prove nothing either way.
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
