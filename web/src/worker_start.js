// The start of worker.js, before the engine: the page compiles the WebAssembly module while this
// worker starts and sends it as the first message ({ module }, null when it could not), so that
// the worker need not fetch it once it is running.
let vorpexModuleArrived;
const vorpexModule = new Promise((resolve) => { vorpexModuleArrived = resolve; });
self.vorpexModuleOptions = {
  instantiateWasm(imports, done) {
    const fetched = () => WebAssembly.instantiateStreaming(fetch("vorpex_wasm.wasm"), imports)
      .then(({ instance, module }) => done(instance, module));
    vorpexModule.then((module) => (module ? WebAssembly.instantiate(module, imports) : Promise.reject()))
      .then((instance) => done(instance), fetched);
    return {};
  },
};
