// Keeps the page's own files, so that a second visit and a reload work with no network and
// start at once on a weak one. The cache is named after this build and is made whole before it
// is used: a new build brings a new cache, and the old ones go once it is there.
const CACHE = 'quillon-@VERSION@';
const FILES = ['./', @FILES@];

// Around the browser's HTTP cache, which on a host that sends only Last-Modified would hand back
// the last build's files for hours; a file that fails to arrive is asked for again.
async function fetchFresh(file) {
  for (let attempt = 1; ; attempt++) {
    try {
      const response = await fetch(new Request(file, { cache: 'reload' }));
      if (response.ok) return response;
      if (attempt >= 3) throw new Error(`${file}: ${response.status}`);
    } catch (error) {
      if (attempt >= 3) throw error;
    }
  }
}

// Every file of the build, or no new cache at all: the last whole build stays in use.
self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    try {
      const responses = await Promise.all(FILES.map(fetchFresh));
      const cache = await caches.open(CACHE);
      await Promise.all(FILES.map((file, i) => cache.put(file, responses[i])));
    } catch (error) {
      await caches.delete(CACHE);
      throw error;
    }
    await self.skipWaiting();
  })());
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((n) => n.startsWith('quillon-') && n !== CACHE).map((n) => caches.delete(n))))
    .then(() => self.clients.claim()));
});

// The build this worker keeps, with no wait for the network; the browser looks for a new worker
// on every visit, and a new build shows from the visit after it arrived.
self.addEventListener('fetch', (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== 'GET' || url.origin !== location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(CACHE);
    const hit = await cache.match(event.request, { ignoreSearch: true });
    if (hit) return hit;
    try {
      return await fetch(event.request);
    } catch (error) {
      const start = event.request.mode === 'navigate' ? await cache.match('./') : undefined;
      if (start) return start;
      throw error;
    }
  })());
});
