// vorpex for JavaScript: the engine compiled to WebAssembly (vorpex_wasm.js and .wasm, in the
// same folder), with the API of the playground.
//
//   await vorpex.ready;
//   const result = vorpex.convert(source, { defines: ["NAME=VALUE"], warnings: true,
//                                           keepGoing: true });
//
// `source` is a string (converted as its UTF-8 bytes, every CR kept) or a Uint8Array. `defines`
// is a list of NAME=VALUE texts, checked as `-D` checks them (a name may come once); an object
// { NAME: "VALUE" } is taken too. `result` holds:
//   output       the bytes that vorpex writes for the source, as a string (decoded as UTF-8)
//   outputBytes  the same bytes, as a Uint8Array
//   status       the status vorpex would exit with: 0 when the whole source was converted, 1 when
//                a character that begins no token stopped it, or a constant could not be defined
//   diagnostics  what `vorpex -k` reports: [{ line, column, endColumn, from, to, severity, code,
//                message, notes }], severity "error" or "warning", each note (severity "note") in
//                the notes of the diagnostic before it; line and columns as the command line's
//                messages give them (bytes of the line from 1, CR bytes not counted), and from
//                and to as a JavaScript string counts: UTF-16 units from the source's start
//   map          the input line of each output line (the line during which its first byte was
//                written), as `vorpex --map` gives it
//   mapEnd       the input line of each output line's end: lines map[i] to mapEnd[i] made line i+1
//   error        only when a constant of `defines` could not be defined: why (no output then)
//   refused      with `leaveOutRefused`: the constants left out, [{ index, text, message }]
//                (index in `defines`, message as -D words the refusal); [] when none was
// `warnings` (default true) leaves out the warnings and their notes when false, as `-w` does;
// `keepGoing` (default true) reads the whole source for its problems, as `-k` does, where false
// stops at the first character that begins no token. The output and status are the same for both.
// `leaveOutRefused` (default false) converts with the constants that can be defined and names the
// others in `refused`, where without it one refused constant stops the whole conversion, as -D.
//
//
//   const answer = vorpex.renumber(source, { start: 100, step: 10, lines: [3, 8] });
//   const moved = vorpex.renumber(source, { moveAfter: 200, lines: [3, 8] });
//
// renumbers the program's lines (those whose numbers begin source lines `lines[0]` to `lines[1]`,
// from 1, each with the lines without a number under it; the whole program without `lines`) from `start` by
// `step` (10 and 10 unless given), or with `moveAfter` moves them to stand after that line (0:
// before the first), numbered by `step` or less. `largest` refuses a number above it;
// `pastComputed` goes on past a jump whose target is computed, leaving it as it is; `defines` and
// `warnings` are those of convert(). The renumbered text is converted and held to the source's
// before the edits are given. `answer` holds either `refusal` (why not, "cannot renumber: ..." or
// "cannot move lines: ..."), `refusalLine` (the source line it is about, 0 for none) and, for a
// computed jump that `pastComputed` would leave as it is, `computed: true`, or
// `edits` ([{ from, to, text }], in the order of the source, none overlapping: the characters
// from..to replaced by text), `warnings` ([{ code, message, line, column, from, to }]: each jump
// left as it is) and `count` (how many lines were renumbered). Places count UTF-16 units from
// the source's start, as from and to of the diagnostics do.
//
// In a browser, load vorpex_wasm.js and then this file (script tags or importScripts); they set
// `vorpex`. Under node, require() this file.
(function (root, factory) {
  if (typeof module === "object" && module.exports) {
    const fs = require("fs");
    const path = require("path");
    const wasmBinary = fs.readFileSync(path.join(__dirname, "vorpex_wasm.wasm"));
    module.exports = factory(require("./vorpex_wasm.js"), { wasmBinary });
  } else {
    root.vorpex = factory(root.createVorpexWasm, root.vorpexModuleOptions || {});
  }
})(typeof self !== "undefined" ? self : this, function (createVorpexWasm, moduleOptions) {
  "use strict";
  const encoder = new TextEncoder();
  const decoder = new TextDecoder("utf-8");
  let wasm = null;

  const vorpex = {
    ready: null,
    convert(source, options = {}) {
      if (wasm === null) throw new Error("vorpex is not ready yet: await vorpex.ready first");
      const bytes = typeof source === "string" ? encoder.encode(source) : source;
      if (!(bytes instanceof Uint8Array)) throw new TypeError("the source must be a string or a Uint8Array");
      const given = options.defines || [];
      const texts = Array.isArray(given)
        ? given.map(String)
        : Object.entries(given).map(([name, value]) => `${name}=${value}`);
      const leaveOut = options.leaveOutRefused === true;
      let defines = "";
      const passed = []; // the index in texts of each constant handed to the engine
      const refused = [];
      for (const [index, text] of texts.entries()) {
        if (text.includes("\0")) {
          const message = `cannot define '${text}': the name must be one word`;
          if (!leaveOut) return failed(message);
          refused.push({ index, text, message });
          continue;
        }
        passed.push(index);
        defines += `${text}\0`;
      }
      const defineBytes = encoder.encode(defines);
      const flags = (options.warnings === false ? 0 : 1) | (options.keepGoing === false ? 0 : 2) | (leaveOut ? 4 : 0);
      const sourcePointer = wasm._malloc(bytes.length + 1);
      const definePointer = wasm._malloc(defineBytes.length + 1);
      let status;
      try {
        wasm.HEAPU8.set(bytes, sourcePointer);
        wasm.HEAPU8.set(defineBytes, definePointer);
        status = wasm._vorpex_convert(sourcePointer, bytes.length, definePointer, defineBytes.length, flags);
      } finally {
        wasm._free(sourcePointer);
        wasm._free(definePointer);
      }
      // The memory may have grown during the conversion: the views are taken afresh.
      const view = (pointer, size) => wasm.HEAPU8.subarray(pointer, pointer + size);
      const outputBytes = view(wasm._vorpex_output(), wasm._vorpex_output_size()).slice();
      const lines = (pointer, size) => Array.from(new Int32Array(wasm.HEAPU8.buffer, pointer, size));
      const map = lines(wasm._vorpex_map(), wasm._vorpex_map_size());
      const mapEnd = lines(wasm._vorpex_map_ends(), wasm._vorpex_map_ends_size());
      const diagnostics = JSON.parse(decoder.decode(view(wasm._vorpex_diagnostics(), wasm._vorpex_diagnostics_size())));
      const result = { output: decoder.decode(outputBytes), outputBytes, status, diagnostics, map, mapEnd };
      const errorSize = wasm._vorpex_error_size();
      if (errorSize > 0) result.error = decoder.decode(view(wasm._vorpex_error(), errorSize));
      if (leaveOut) {
        for (const { index, message } of JSON.parse(decoder.decode(view(wasm._vorpex_refused(), wasm._vorpex_refused_size())))) {
          refused.push({ index: passed[index], text: texts[passed[index]], message });
        }
        result.refused = refused.sort((a, b) => a.index - b.index);
      }
      return result;
    },
  };

  // The constants of `defines` (a list of NAME=VALUE texts or an object) as the engine takes them:
  // each ended by a NUL, or a refusal for one that holds a NUL.
  function defineTexts(given = []) {
    const texts = Array.isArray(given) ? given.map(String) : Object.entries(given).map(([name, value]) => `${name}=${value}`);
    const bad = texts.find((text) => text.includes("\0"));
    return bad === undefined ? { defines: texts.map((text) => `${text}\0`).join("") } : { bad };
  }

  vorpex.renumber = function (source, options = {}) {
    if (wasm === null) throw new Error("vorpex is not ready yet: await vorpex.ready first");
    if (typeof source !== "string") throw new TypeError("the source must be a string");
    const move = options.moveAfter !== undefined && options.moveAfter !== null;
    const verb = move ? "cannot move lines: " : "cannot renumber: ";
    const { defines, bad } = defineTexts(options.defines);
    if (bad !== undefined) return { refusal: `${verb}cannot define '${bad}': the name must be one word`, refusalLine: 0 };
    const number = (value, fallback) => (value === undefined || value === null ? fallback : Number(value));
    const lines = Array.isArray(options.lines) ? options.lines.map(Number) : [0, 0];
    const bytes = encoder.encode(source);
    const defineBytes = encoder.encode(defines);
    const flags = (options.warnings === false ? 0 : 1) | (options.pastComputed === true ? 8 : 0);
    const sourcePointer = wasm._malloc(bytes.length + 1);
    const definePointer = wasm._malloc(defineBytes.length + 1);
    try {
      wasm.HEAPU8.set(bytes, sourcePointer);
      wasm.HEAPU8.set(defineBytes, definePointer);
      wasm._vorpex_renumber(sourcePointer, bytes.length, definePointer, defineBytes.length, flags, move ? 1 : 0,
        lines[0] || 0, lines[1] || lines[0] || 0, number(options.start, 10), number(options.step, 10),
        move ? Number(options.moveAfter) : 0, number(options.largest, 0));
    } finally {
      wasm._free(sourcePointer);
      wasm._free(definePointer);
    }
    const pointer = wasm._vorpex_renumbered();
    return JSON.parse(decoder.decode(wasm.HEAPU8.subarray(pointer, pointer + wasm._vorpex_renumbered_size())));
  };

  function failed(error) {
    return { output: "", outputBytes: new Uint8Array(0), status: 1, diagnostics: [], map: [], mapEnd: [], error };
  }

  vorpex.ready = createVorpexWasm(moduleOptions).then((instance) => {
    wasm = instance;
    return vorpex;
  });
  return vorpex;
});
