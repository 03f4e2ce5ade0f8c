// The first script of the page, before its styles and its own script: the engine's worker starts,
// and its WebAssembly module is compiled for it, while the rest loads.
window.vorpexWasm = (typeof WebAssembly === "object" && typeof WebAssembly.compileStreaming === "function"
  ? WebAssembly.compileStreaming(fetch("vorpex_wasm.wasm")) : Promise.reject()).catch(() => null);
try {
  const worker = window.vorpexWorker = new Worker("worker.js");
  window.vorpexWasm.then((module) => worker.postMessage({ module }));
} catch (error) { /* app.js tries again */ }
// window.vorpex, the engine on this page's thread, from the same module.
window.vorpexModuleOptions = {
  instantiateWasm(imports, done) {
    window.vorpexWasm.then((module) => (module ? WebAssembly.instantiate(module, imports).then((instance) => done(instance))
      : WebAssembly.instantiateStreaming(fetch("vorpex_wasm.wasm"), imports).then((r) => done(r.instance, r.module))));
    return {};
  },
};
