// The service worker: keeps the page's own files so that the page opens and
// converts without a network once it has been loaded. The network comes
// first, so a new build is taken as soon as it is there.
'use strict';

const kCache = 'morvane-page';
const kFiles = ['./', 'index.html', 'style.css', 'app.js', 'worker.js', 'reader.js', 'morvane.js', 'morvane.wasm',
  'morvane.svg', 'manifest.webmanifest'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(kCache).then((cache) => cache.addAll(kFiles)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(kCache);
    try {
      const response = await fetch(request);
      if (response.ok) await cache.put(request, response.clone());
      return response;
    } catch (offline) {
      const kept = await cache.match(request, {ignoreSearch: true});
      if (kept) return kept;
      if (request.mode === 'navigate') return (await cache.match('index.html')) || Response.error();
      return Response.error();
    }
  })());
});
