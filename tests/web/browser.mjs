// What the browser tests and the performance report share: the page's own little server
// and Debian's Chromium, headless.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };

// Serves SITE under /game/, so that a request that leaves the page's folder shows in `requests`.
// Options: lastModified, to send Last-Modified and answer If-Modified-Since as most plain static
// hosts do (and nothing else about caching); drop(name), true to cut that request's connection.
export function serve(site, { lastModified = false, drop = () => false } = {}) {
  // Absolute and without "..": the check below compares against it.
  const root = path.resolve(site);
  const requests = [];
  return new Promise((resolve) => {
    const server = http.createServer((req, res) => {
      requests.push(req.url);
      const url = new URL(req.url, 'http://x');
      const name = url.pathname.startsWith('/game/') ? url.pathname.slice('/game/'.length) || 'index.html' : null;
      const file = name === null ? null : path.join(root, path.normalize(name));
      if (file === null || !file.startsWith(root + path.sep) || !fs.existsSync(file)) {
        res.writeHead(404);
        res.end();
        return;
      }
      if (drop(name)) {
        res.socket.destroy();
        return;
      }
      const headers = { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' };
      if (lastModified) {
        const modified = new Date(Math.floor(fs.statSync(file).mtimeMs / 1000) * 1000);
        headers['Last-Modified'] = modified.toUTCString();
        const since = Date.parse(req.headers['if-modified-since'] || '');
        if (since >= modified.getTime()) {
          res.writeHead(304, headers);
          res.end();
          return;
        }
      }
      res.writeHead(200, headers);
      res.end(fs.readFileSync(file));
    });
    server.listen(0, '127.0.0.1', () =>
      resolve({ server, requests, url: `http://127.0.0.1:${server.address().port}/game/` }));
  });
}

export function launch() {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Without the background-networking switches Chromium keeps calling out, which this
    // closed network refuses.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
  });
}
