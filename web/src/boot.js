// The first script of the page, before its styles and its own script: the engine's WebAssembly
// module is compiled while the rest loads, for this page's thread and then for the worker.
window.vorpexWasm = (typeof WebAssembly === "object" && typeof WebAssembly.compileStreaming === "function"
  ? WebAssembly.compileStreaming(fetch("vorpex_wasm.wasm")) : Promise.reject()).catch(() => null);
// window.vorpex, the engine on this page's thread, from the same module.
window.vorpexModuleOptions = {
  instantiateWasm(imports, done) {
    window.vorpexWasm.then((module) => (module ? WebAssembly.instantiate(module, imports).then((instance) => done(instance))
      : WebAssembly.instantiateStreaming(fetch("vorpex_wasm.wasm"), imports).then((r) => done(r.instance, r.module))));
    return {};
  },
};
