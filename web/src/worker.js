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
    self.postMessage({ id: data.id, result }, [result.outputBytes.buffer]);
  } catch (error) {
    self.postMessage({ id: data.id, error: String((error && error.message) || error) });
  }
};
