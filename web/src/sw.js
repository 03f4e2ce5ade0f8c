// Keeps the playground's files so that the page loads without a network once it has loaded once.
// Every request goes to the network first, so that a new build shows at once; the kept copy
// answers when the network does not.
// The origin's caches are shared with whatever else its host serves: this worker touches only its
// own, named after its scope, and answers only for the files under its scope.
const prefix = `vorpex-playground ${self.registration.scope} `;
const cache = `${prefix}VORPEX_BUILD`;
const files = VORPEX_FILES;

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(cache).then((c) => c.addAll(files)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(
    caches.keys().then((keys) => Promise.all(keys.filter((k) => k !== cache && k.startsWith(prefix)).map((k) => caches.delete(k))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  if (event.request.method !== "GET" || !event.request.url.startsWith(self.registration.scope)) return;
  event.respondWith(
    fetch(event.request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          caches.open(cache).then((c) => c.put(event.request, copy));
        }
        return response;
      })
      .catch(() => caches.match(event.request, { cacheName: cache, ignoreSearch: true }).then((r) => r || Response.error())),
  );
});
