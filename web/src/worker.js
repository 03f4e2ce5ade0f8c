// Converts off the page's main thread, so that a large or strange source never stalls the page.
// The site's build puts worker_start.js, vorpex_wasm.js and vorpex.js before this, in the same file, so that the
// engine loads with one request less each.

self.onmessage = async ({ data }) => {
  if ("module" in data) return vorpexModuleArrived(data.module);
  try {
    await vorpex.ready;
    const start = performance.now();
    const result = vorpex.convert(data.source, data.options);
    result.time = performance.now() - start;
    // The page decodes the output from its bytes and takes the map as typed arrays: moved, not
    // copied, they cost it next to nothing to receive, where the same as a string and as arrays
    // of numbers took it a tenth of a second for a few MB.
    delete result.output;
    result.map = Int32Array.from(result.map);
    result.mapEnd = Int32Array.from(result.mapEnd);
    self.postMessage({ id: data.id, result }, [result.outputBytes.buffer, result.map.buffer, result.mapEnd.buffer]);
  } catch (error) {
    self.postMessage({ id: data.id, error: String((error && error.message) || error) });
  }
};
