// Keeps the playground's files so that the page loads without a network once it has loaded once.
// Every request goes to the network first, so that a new build shows at once; the kept copy
// answers when the network does not.
const cache = "VORPEX_CACHE";
const files = VORPEX_FILES;

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(cache).then((c) => c.addAll(files)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(
    caches.keys().then((keys) => Promise.all(keys.filter((k) => k !== cache).map((k) => caches.delete(k))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  if (event.request.method !== "GET") return;
  event.respondWith(
    fetch(event.request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          caches.open(cache).then((c) => c.put(event.request, copy));
        }
        return response;
      })
      .catch(() => caches.match(event.request, { ignoreSearch: true }).then((r) => r || Response.error())),
  );
});
