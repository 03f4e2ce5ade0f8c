// Keeps the playground's files so that the page loads without a network once it has loaded once.
// Every request goes to the network first, so that a new build shows at once; the kept copy
// answers when the network does not.
// The origin's caches are shared with whatever else its host serves: this worker touches only its
// own, named after its scope, and answers only for the playground's own files: another app under
// the same scope (the playground served at the root, the app in a folder) is neither kept nor
// answered.
const prefix = `vorpex-playground ${self.registration.scope} `;
const cache = `${prefix}VORPEX_BUILD`;
const files = VORPEX_FILES;
const own = new Set(files.map((f) => new URL(f, self.registration.scope).href));
// The playground's file that a request asks for, its query left out (the page's address may
// carry one); null for anything else.
function ownFile(request) {
  const url = new URL(request.url);
  url.search = "";
  url.hash = "";
  return request.method === "GET" && own.has(url.href) ? url.href : null;
}

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
  const file = ownFile(event.request);
  if (!file) return;
  event.respondWith(
    fetch(event.request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          caches.open(cache).then((c) => c.put(file, copy));
        }
        return response;
      })
      .catch(() => caches.match(file, { cacheName: cache }).then((r) => r || Response.error())),
  );
});
