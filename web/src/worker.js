// Converts off the page's main thread, so that a large or strange source never stalls the page.
importScripts("vorpex_wasm.js", "vorpex.js");

self.onmessage = async ({ data }) => {
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
