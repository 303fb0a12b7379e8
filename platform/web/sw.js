// Keeps the page's own files, so that a second visit and a reload work with no network and
// start at once on a weak one. The cache is named after this build and is made whole before it
// is used: a new build brings a new cache, and the old ones go once it is there.
const CACHE = 'quillon-@VERSION@';
// Each file of the build with its SHA-256; './' is index.html.
const FILES = { @FILES@ };

const hex = (buffer) => Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, '0')).join('');
async function isThisBuilds(response, file) {
  if (!response || !response.ok || !self.crypto || !crypto.subtle) return false;
  return hex(await crypto.subtle.digest('SHA-256', await response.clone().arrayBuffer())) === FILES[file];
}

// A file the page has just fetched comes from the browser's cache, so a first visit fetches
// each file once; but only if it is this build's: on a host that sends only Last-Modified the
// cache may hand back the last build's files for hours. Otherwise, and for a file that fails
// to arrive, the network is asked again.
async function fetchFresh(file) {
  // The page as the player opened it: the folder.
  const url = file === './index.html' ? './' : file;
  try {
    const cached = await fetch(new Request(url, { cache: 'force-cache' }));
    if (await isThisBuilds(cached, file)) return cached;
  } catch (error) {
    // asked of the network below
  }
  for (let attempt = 1; ; attempt++) {
    try {
      const response = await fetch(new Request(url, { cache: 'reload' }));
      if (response.ok) return response;
      if (attempt >= 3) throw new Error(`${file}: ${response.status}`);
    } catch (error) {
      if (attempt >= 3) throw error;
    }
  }
}

// Every file of the build, or no new cache at all: the last whole build stays in use. The page
// is fetched once, kept as './' and as index.html.
self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    try {
      const names = Object.keys(FILES);
      const responses = await Promise.all(names.map(fetchFresh));
      const cache = await caches.open(CACHE);
      await Promise.all(names.map((file, i) => cache.put(file, responses[i].clone())));
      await cache.put('./', responses[names.indexOf('./index.html')]);
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
