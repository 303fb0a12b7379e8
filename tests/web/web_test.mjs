// The web build in Debian's headless Chromium: node --test web_test.mjs
// Environment: QUILLON_SITE (the built site folder), CHROMIUM (default /usr/bin/chromium).
// What the page must show is what tests/data/golden/ keeps (the in-process suite writes it).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { launch, serve } from './browser.mjs';

const SITE = process.env.QUILLON_SITE;
const HERE = path.dirname(new URL(import.meta.url).pathname);
const GOLDEN = path.join(HERE, '../data/golden');
const W = 425, H = 300;
const SKY = [0, 128, 128], GROUND = [128, 0, 0], BLUE = [0, 0, 255];

let site, base, browser;

// Every picture in a file of binary PPMs: RGB, row by row.
function readPpms(file) {
  const data = fs.readFileSync(file), pictures = [];
  for (let pos = 0; pos < data.length;) {
    const fields = [];
    while (fields.length < 4) {
      const end = data.indexOf(10, pos);
      fields.push(...data.subarray(pos, end).toString().split(/\s+/).filter(Boolean));
      pos = end + 1;
    }
    const size = fields[1] * fields[2] * 3;
    pictures.push(data.subarray(pos, pos + size));
    pos += size;
  }
  return pictures;
}

// A frame's 64-bit FNV-1a over its pixels as the bytes blue, green, red, 0, in hex as the golden
// files have it; in 16-bit limbs, which a double multiplies exactly.
function fingerprint(rgb) {
  let h0 = 0x2325, h1 = 0x8422, h2 = 0x9ce4, h3 = 0xcbf2;
  const step = (byte) => {
    h0 ^= byte;
    const t0 = h0 * 0x1b3, t1 = h1 * 0x1b3 + (t0 >>> 16), t2 = h2 * 0x1b3 + h0 * 0x100 + (t1 >>> 16);
    const t3 = h3 * 0x1b3 + h1 * 0x100 + (t2 >>> 16);
    h0 = t0 & 0xffff; h1 = t1 & 0xffff; h2 = t2 & 0xffff; h3 = t3 & 0xffff;
  };
  for (let i = 0; i < rgb.length; i += 3) { step(rgb[i + 2]); step(rgb[i + 1]); step(rgb[i]); step(0); }
  return ((BigInt(h3) << 48n) | (BigInt(h2) << 32n) | (BigInt(h1) << 16n) | BigInt(h0)).toString(16);
}

// The title's frames for each stored best, and the banner with its mask.
const TITLES = new Map(fs.readFileSync(path.join(GOLDEN, 'titles.txt'), 'utf8').trim().split('\n')
  .map((line) => line.split(' ')).map(([best, ...prints]) => [best === 'unknown' ? best : Number(best), new Set(prints)]));
// The title while the stored best has not been read yet: no best shows.
const UNKNOWN = { titles: TITLES.get('unknown') };
const [, BANNER, BANNER_MASK] = readPpms(path.join(GOLDEN, 'pictures.ppm'));

function expected(ini) {
  const titles = TITLES.get(bestIn(ini));
  assert.ok(titles, `no stored title for ${ini}`);
  return { titles, banner: BANNER, mask: BANNER_MASK };
}

// Every frame the page puts on its canvas is counted, and the canvas is read back as RGB.
const PROBE = () => {
  const put = CanvasRenderingContext2D.prototype.putImageData;
  window.__quillon = { frames: 0, blackBefore: null };
  CanvasRenderingContext2D.prototype.putImageData = function (...args) {
    if (this.canvas.id === 'canvas') {
      const q = window.__quillon;
      if (q.frames === 0) {
        const d = this.getImageData(0, 0, this.canvas.width, this.canvas.height).data;
        q.blackBefore = d.every((v, i) => (i % 4 === 3 ? v === 255 : v === 0));
      }
      q.frames++;
      // Once asked, the car's highest row in each frame (300 for none).
      if (q.carTops) {
        const d = args[0].data;
        let top = 300;
        for (let y = 0; y < 241 && top === 300; y++) {
          for (let x = 75; x < 109; x++) {
            const i = (y * 425 + x) * 4;
            if (d[i] === 0 && d[i + 1] === 0 && d[i + 2] === 255) { top = y; break; }
          }
        }
        q.carTops.push(top);
      }
      // Once asked, a fingerprint of each frame of play.
      const d = args[0].data;
      if (q.playPrints && d[(100 * 425 + 300) * 4 + 1] === 128 && d[(270 * 425 + 300) * 4] === 128) {
        let h = 2166136261;
        for (let i = 0; i < d.length; i += 4) h = Math.imul(h ^ d[i] ^ (d[i + 1] << 8) ^ (d[i + 2] << 16), 16777619);
        q.playPrints.push(h >>> 0);
      }
    }
    return put.apply(this, args);
  };
};

// `where`: another browser or address than the suite's own.
async function openPage(before, argument, where = {}) {
  const page = await (where.browser || browser).newPage();
  if (before) await page.evaluateOnNewDocument(before, argument);
  page.problems = [];
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warn' || m.type() === 'warning') page.problems.push(m.text()); });
  page.on('pageerror', (e) => page.problems.push(String(e)));
  page.on('requestfailed', (r) => { if (!r.url().startsWith('data:')) page.problems.push('failed ' + r.url()); });
  await page.evaluateOnNewDocument(PROBE);
  await page.setViewport({ width: 900, height: 700 });
  await page.goto(where.url || base, { waitUntil: 'load' });
  return page;
}

async function canvasRgb(page) {
  return page.evaluate(() => {
    // Read through a copy meant for reading, so the game's own canvas stays as it is.
    const c = document.getElementById('canvas');
    const copy = window.__copy || (window.__copy = document.createElement('canvas'));
    copy.width = c.width;
    copy.height = c.height;
    const context = copy.getContext('2d', { willReadFrequently: true });
    context.drawImage(c, 0, 0);
    const d = context.getImageData(0, 0, c.width, c.height).data;
    let s = '';
    for (let i = 0; i < d.length; i += 4) s += String.fromCharCode(d[i], d[i + 1], d[i + 2]);
    return btoa(s);
  });
}

const pixel = (rgb, x, y) => [...rgb.subarray((y * W + x) * 3, (y * W + x) * 3 + 3)];
const same = (a, b) => a[0] === b[0] && a[1] === b[1] && a[2] === b[2];
const isPlay = (rgb) => same(pixel(rgb, 300, 100), SKY) && same(pixel(rgb, 300, 270), GROUND);
const carAt = (rgb, y0, y1) => {
  for (let y = y0; y < y1; y++) for (let x = 75; x < 109; x++) if (same(pixel(rgb, x, y), BLUE)) return true;
  return false;
};

async function waitFor(page, predicate, what, timeout = 15000) {
  const end = Date.now() + timeout;
  while (Date.now() < end) {
    const rgb = Buffer.from(await canvasRgb(page), 'base64');
    if (predicate(rgb)) return rgb;
    await new Promise((r) => setTimeout(r, 40));
  }
  assert.fail(`the page never showed ${what}`);
}

const showsTitle = (titles) => (rgb) => !isPlay(rgb) && titles.has(fingerprint(rgb));

function bannerShown(look) {
  return (rgb) => {
    if (!isPlay(rgb)) return false;
    let shown = 0, letters = 0;
    for (let y = 0; y < 30; y++) for (let x = 1; x < 189; x++) {
      const i = (y * 189 + x) * 3;
      if (look.mask[i] !== 0) continue;
      letters++;
      if (same(pixel(rgb, x - 1, 12 + y), [...look.banner.subarray(i, i + 3)])) shown++;
    }
    return shown > 0.8 * letters;
  };
}

// The stored file in the browser's storage, as the page keeps it (IDBFS's layout): read, or
// put there as another tab or an earlier build would have (null removes it).
function stored(page, text) {
  return page.evaluate((text) => new Promise((resolve, reject) => {
    const open = indexedDB.open('/quillon', 21);
    open.onupgradeneeded = () => open.result.createObjectStore('FILE_DATA').createIndex('timestamp', 'timestamp');
    open.onerror = () => reject(open.error);
    open.onsuccess = () => {
      const tx = open.result.transaction(['FILE_DATA'], 'readwrite');
      const files = tx.objectStore('FILE_DATA');
      let result = null;
      if (text === undefined) {
        const get = files.get('/quillon/Quillon.ini');
        get.onsuccess = () => { result = get.result ? new TextDecoder().decode(get.result.contents) : null; };
      } else if (text === null) {
        files.delete('/quillon/Quillon.ini');
        files.delete('/quillon/Quillon.run');
      } else {
        files.put({ timestamp: new Date(), mode: 33206, contents: new TextEncoder().encode(text) }, '/quillon/Quillon.ini');
      }
      tx.oncomplete = () => { open.result.close(); resolve(result); };
      tx.onerror = () => reject(tx.error);
    };
  }), text);
}

// Plays with Enter held to meet the bullets until `done` sees the canvas; the frame it saw.
async function playUntil(page, done) {
  await page.keyboard.press('Enter');
  await waitFor(page, isPlay, 'the play background');
  const end = Date.now() + 240000;
  for (;;) {
    assert.ok(Date.now() < end, 'the round never ended');
    const rgb = Buffer.from(await canvasRgb(page), 'base64');
    if (done(rgb)) return rgb;
    await page.keyboard.press('Enter');
    await new Promise((r) => setTimeout(r, 150));
  }
}

const playToTheBanner = (page, look) => playUntil(page, bannerShown(look));

const bestIn = (ini) => Number((/HighScore=(-?[0-9]+)/.exec(ini || '') || [0, 0])[1]);

before(async () => {
  assert.ok(SITE, 'QUILLON_SITE must be set');
  site = await serve(SITE);
  base = site.url;
  browser = await launch();
});

after(async () => {
  await browser?.close();
  site?.server.close();
  // Nothing was asked of anywhere but the page's own folder.
  assert.deepEqual(site.requests.filter((u) => !u.startsWith('/game/')), []);
});

test('black, then the title with no best score, then a stored best after a reload', async () => {
  const page = await openPage();
  const none = expected();
  await waitFor(page, showsTitle(none.titles), 'the title with High Score:0');
  assert.equal(await page.evaluate(() => window.__quillon.blackBefore), true);
  assert.equal(await page.title(), 'Quillon');
  assert.match(await page.evaluate(() => document.querySelector('link[rel=icon]').href), /^data:image\/png;base64,/);
  await stored(page, '; mine\n[QUILLON]\nHighScore=1250\n');
  await page.reload({ waitUntil: 'load' });
  await waitFor(page, showsTitle(expected('; mine\n[QUILLON]\nHighScore=1250\n').titles), 'the stored best of 1250');
  assert.deepEqual(page.problems, []);
  await stored(page, null);
  await page.close();
});

// The pace in frames a second is tools/report's to measure.
test('Enter starts play and Space lifts the car, with the wall clock stopped an hour back', async () => {
  // The game's pace is the page's monotonic clock, whatever the wall clock does.
  const page = await openPage(() => {
    const stopped = Date.now() - 3600000;
    Date.now = () => stopped;
  });
  await page.waitForFunction(() => window.__quillon.frames > 5);
  await page.keyboard.press('Enter');
  await waitFor(page, isPlay, 'the play background');
  // Space doesn't scroll the page, even one with room to scroll: the game takes it.
  await page.evaluate(() => { document.body.style.minHeight = '3000px'; });
  await page.keyboard.press('Space');
  await waitFor(page, (rgb) => isPlay(rgb) && !carAt(rgb, 225, 241) && carAt(rgb, 60, 225), 'the car in the air');
  assert.equal(await page.evaluate(() => window.scrollY), 0);
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('each visit deals its own round: the coins and bullets come in a new order', async () => {
  const rounds = [];
  for (let visit = 0; visit < 2; visit++) {
    const page = await openPage();
    await waitFor(page, showsTitle(expected().titles), 'the title');
    await page.evaluate(() => { window.__quillon.playPrints = []; });
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => window.__quillon.playPrints.length >= 120, { timeout: 30000 });
    rounds.push(await page.evaluate(() => window.__quillon.playPrints.slice(0, 120)));
    await page.close();
  }
  assert.notDeepEqual(rounds[0], rounds[1]);
});

test('the banner\'s best is stored at once and outlives a reload one second later', async () => {
  const page = await openPage();
  await stored(page, null);
  await page.reload({ waitUntil: 'load' });
  const look = expected();
  await waitFor(page, showsTitle(look.titles), 'the title');
  // What the page would keep, were it left while the write is on its way.
  await page.evaluate(() => {
    const transact = Module.quillonTransact;
    Module.quillonTransact = function (...args) {
      // The best's own write (the run's that follows it keeps no leftover).
      if (Module.quillonPending) window.__pending = new TextDecoder().decode(Module.quillonPending);
      return transact.apply(this, args);
    };
  });
  await playToTheBanner(page, look);
  await new Promise((r) => setTimeout(r, 1000));
  const ini = await stored(page);
  assert.match(ini || '', /^\[QUILLON\]\nHighScore=[1-9][0-9]*\n$/);
  assert.equal(await page.evaluate(() => window.__pending), ini);
  // The page shows what it finds stored: a best the stored titles know, in the file it wrote.
  const known = ini.replace(/HighScore=[0-9]+/, 'HighScore=4096');
  await stored(page, known);
  await page.reload({ waitUntil: 'load' });
  await waitFor(page, showsTitle(expected(known).titles), 'the stored best after the reload');
  assert.deepEqual(page.problems, []);
  await stored(page, null);
  await page.close();
});

test('a tab whose best is stale never replaces another tab\'s larger best, and a tab that hears of it hails no lesser round', async () => {
  // Told: the other tab's game says it stored, as its write does; not told: a browser with no
  // way for tabs to talk, or a write the tab missed.
  for (const told of [false, true]) {
    const first = await openPage();
    await stored(first, '[QUILLON]\nHighScore=100\n');
    await first.reload({ waitUntil: 'load' });
    const look = expected('[QUILLON]\nHighScore=100\n');
    await waitFor(first, showsTitle(look.titles), 'the title with the best of 100');
    // The second tab stores its larger best while the first one plays.
    const second = await openPage();
    await stored(second, '; theirs\n[QUILLON]\nHighScore=1000000\n');
    if (told) await second.evaluate(() => new BroadcastChannel('quillon').postMessage(1));
    await second.close();
    const larger = expected('; theirs\n[QUILLON]\nHighScore=1000000\n');
    const end = await playUntil(first, (rgb) => bannerShown(look)(rgb) || showsTitle(larger.titles)(rgb));
    if (told) assert.ok(!bannerShown(look)(end), 'the banner hailed a round below the best another tab stored');
    await waitFor(first, showsTitle(larger.titles), 'the larger best on the title after the round', 30000);
    assert.equal(await stored(first), '; theirs\n[QUILLON]\nHighScore=1000000\n');
    assert.deepEqual(first.problems, []);
    await stored(first, null);
    await first.close();
  }
});

// In the page: the browser's storage answers its first request `after` ms late, or (null) only
// when window.__answer() is called; the page gives up on it after `giveUp` ms instead of 30 s.
const LATE_STORAGE = ({ after, giveUp }) => {
  if (giveUp) {
    const wait = window.setTimeout;
    window.setTimeout = (f, ms, ...rest) => wait(f, ms === 30000 ? giveUp : ms, ...rest);
  }
  const open = IDBFactory.prototype.open;
  let first = true;
  IDBFactory.prototype.open = function (...args) {
    const request = open.apply(this, args);
    if (!first) return request;
    first = false;
    let handler = null, event = null;
    Object.defineProperty(request, 'onsuccess', { configurable: true, get: () => handler, set: (h) => { handler = h; } });
    window.__answer = () => handler && handler.call(request, event);
    request.addEventListener('success', (e) => {
      event = e;
      if (after !== null) setTimeout(window.__answer, after);
    });
    return request;
  };
};

test('storage that answers late or never holds play back about three seconds, never lowers the stored best, and loses no best', async () => {
  for (const delay of [Infinity, 4000]) {
    // Late: a best larger than any round's, which stays; never: one any round beats.
    const before = Number.isFinite(delay) ? '[QUILLON]\nHighScore=1000000\n' : '[QUILLON]\nHighScore=1\n';
    const setup = await openPage();
    await stored(setup, before);
    await setup.evaluate(() => localStorage.clear());
    await setup.close();
    // The browser's storage answers the page's first request only after `delay`, or never; the
    // page says so after five seconds instead of thirty.
    const page = await openPage(LATE_STORAGE, { after: Number.isFinite(delay) ? delay : null, giveUp: 5000 });
    const start = Date.now();
    await waitFor(page, showsTitle(UNKNOWN.titles), 'the title before the stored best, with no best on it', 6000);
    assert.ok(Date.now() - start > 2000, 'the title waited for the stored best a while');
    const notice = () => page.evaluate(() => document.getElementById('notice').textContent);
    if (Number.isFinite(delay)) {
      // It comes, and the title shows it.
      await waitFor(page, showsTitle(expected(before).titles), 'the stored best once it came');
      assert.equal(await notice(), '');
      assert.equal(await stored(page), before);
    } else {
      assert.match(await notice(), /still loading/);
      // Play goes on, with no banner while no best is known; the round's best is never written
      // over what was not read, and waits for the next visit.
      await playUntil(page, (rgb) => showsTitle(UNKNOWN.titles)(rgb));
      assert.match(await notice(), /has not answered yet/);
      assert.doesNotMatch(await notice(), /keeps no data/);
      assert.equal(await stored(page), before);
      const waiting = bestIn(await page.evaluate(() => localStorage.getItem('quillon-pending')));
      assert.ok(waiting > 1, `the round's best waits: ${waiting}`);
      assert.deepEqual(page.problems, []);
      await page.close();
      // The next visit, whose storage answers, stores it.
      const next = await openPage();
      await next.waitForFunction(() => Module.quillonPresented > 5);
      for (let i = 0; i < 50 && bestIn(await stored(next)) !== waiting; i++) await new Promise((r) => setTimeout(r, 200));
      assert.equal(await stored(next), `[QUILLON]\nHighScore=${waiting}\n`);
      assert.equal(await next.evaluate(() => localStorage.getItem('quillon-pending')), null);
      assert.deepEqual(next.problems, []);
      await stored(next, null);
      await next.close();
      continue;
    }
    assert.deepEqual(page.problems, []);
    await stored(page, null);
    await page.close();
  }
});

test('a round that ends before storage answers keeps its best and its run when it does, and only then offers them', async () => {
  const setup = await openPage();
  await stored(setup, null);
  await setup.close();
  // The browser's storage answers when the test says so, however long the round took (the page
  // gives up on it only after twenty minutes here).
  const page = await openPage(LATE_STORAGE, { after: null, giveUp: 1200000 });
  await waitFor(page, showsTitle(UNKNOWN.titles), 'the title with no best on it', 6000);
  await page.keyboard.press('Enter');
  await waitFor(page, isPlay, 'play');
  // A round with no jump lasts one to two minutes, longer on a busy machine.
  await waitFor(page, showsTitle(UNKNOWN.titles), 'the round played out and the title back', 900000);
  const offered = () => page.evaluate(() => !document.getElementById('runs').classList.contains('none'));
  assert.equal(await offered(), false);
  assert.equal(await stored(page), null);
  await page.evaluate(() => window.__answer());
  await page.waitForFunction(() => !document.getElementById('runs').classList.contains('none'), { timeout: 15000 });
  assert.match(await stored(page) || '', /^\[QUILLON\]\nHighScore=[1-9][0-9]*\n$/);
  assert.equal(await page.evaluate(() => document.getElementById('notice').textContent), '');
  assert.deepEqual(page.problems, []);
  await stored(page, null);
  await page.close();
});

test('a best on its way when the page went away is rolled forward at the next visit', async () => {
  const page = await openPage();
  await stored(page, null);
  await waitFor(page, showsTitle(expected().titles), 'the title');
  // A write that had not ended when the page was hidden.
  await page.evaluate(() => {
    Module.quillonPending = new TextEncoder().encode('[QUILLON]\nHighScore=777\n');
    document.dispatchEvent(new Event('visibilitychange'));
    window.dispatchEvent(new Event('pagehide'));
    Module.quillonPending = null;
  });
  assert.equal(await page.evaluate(() => localStorage.getItem('quillon-pending')), '[QUILLON]\nHighScore=777\n');
  await page.reload({ waitUntil: 'load' });
  await waitFor(page, showsTitle(expected('[QUILLON]\nHighScore=777\n').titles), 'the rolled-forward best');
  assert.equal(await stored(page), '[QUILLON]\nHighScore=777\n');
  assert.equal(await page.evaluate(() => localStorage.getItem('quillon-pending')), null);
  assert.deepEqual(page.problems, []);
  await stored(page, null);
  await page.close();
});

// An 8-bit RGB or RGBA PNG, as Chromium's screenshots are, decoded to rows of RGB.
function decodePng(png) {
  let pos = 8, width = 0, height = 0, channels = 0;
  const data = [];
  while (pos < png.length) {
    const length = png.readUInt32BE(pos), type = png.toString('ascii', pos + 4, pos + 8);
    const body = png.subarray(pos + 8, pos + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      data.push(body);
    }
    pos += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data)), stride = width * channels;
  const out = Buffer.alloc(width * height * 3);
  let prev = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)], line = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? line[i - channels] : 0, b = prev[i], c = i >= channels ? prev[i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const add = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      line[i] = (line[i] + add) & 255;
    }
    for (let x = 0; x < width; x++) line.copy(out, (y * width + x) * 3, x * channels, x * channels + 3);
    prev = line;
  }
  return { width, height, rgb: out };
}

async function canvasBox(page) {
  return page.evaluate(() => {
    const r = document.getElementById('canvas').getBoundingClientRect();
    return { left: r.left, top: r.top, width: r.width, height: r.height, ratio: devicePixelRatio,
      across: document.documentElement.clientWidth, down: document.documentElement.clientHeight };
  });
}

test('the picture takes the largest whole number of device pixels a game pixel, and stays crisp', async () => {
  const page = await openPage();
  const look = expected();
  await waitFor(page, showsTitle(look.titles), 'the title');
  // Layout keeps 1/64 of a CSS pixel; painting snaps that to the device pixel.
  const whole = (v) => Math.abs(v - Math.round(v)) < 0.05;
  // Tablets and phones (touch) too, where the jump buttons take their share of the room.
  for (const [width, height, ratio, scale, touch] of [[1366, 657, 1, 2], [1280, 609, 1, 2], [900, 700, 1.25, 2],
    [900, 700, 1.5, 3], [900, 700, 2, 4], [640, 480, 3, 4], [425, 300, 1, 1], [700, 480, 1, 1],
    [768, 1024, 2, 3, true], [1024, 768, 2, 3, true], [915, 412, 2.625, 3, true], [1280, 800, 2, 4, true]]) {
    await page.setViewport({ width, height, deviceScaleFactor: ratio, isMobile: !!touch, hasTouch: !!touch });
    await page.waitForFunction(() => window.Module && Module.quillonPresented > 1);
    await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
    await page.waitForFunction((s) => Number(document.getElementById('canvas').dataset.scale) === s, {}, scale);
    const box = await canvasBox(page);
    const at = `${width}x${height} at ${ratio}: ${JSON.stringify(box)}`;
    assert.ok(whole(box.width * ratio) && Math.round(box.width * ratio) === 425 * scale, at);
    assert.ok(whole(box.height * ratio) && Math.round(box.height * ratio) === 300 * scale, at);
    assert.ok(whole(box.left * ratio) && whole(box.top * ratio), at);
    // Centred, with the same bar on either side to a few CSS pixels (the corner goes where
    // layout and device pixels meet exactly).
    assert.ok(Math.abs((box.across - box.width) / 2 - box.left) <= 4, at);
    // Each game pixel a block of one colour: the page's own picture against the canvas's (with
    // what the page lays over its corner and its foot out of the way).
    await page.evaluate(() => { for (const id of ['full', 'lines']) document.getElementById(id).style.visibility = 'hidden'; });
    const shot = decodePng(await page.screenshot({ type: 'png' }));
    await page.evaluate(() => { for (const id of ['full', 'lines']) document.getElementById(id).style.visibility = ''; });
    assert.equal(shot.width, Math.round(width * ratio), at);
    const rgb = Buffer.from(await canvasRgb(page), 'base64');
    // Painting snaps the picture's corner to a device pixel next to where layout put it.
    let wrong = Infinity;
    for (const dy of [-1, 0, 1]) for (const dx of [-1, 0, 1]) {
      const x0 = Math.round(box.left * ratio) + dx, y0 = Math.round(box.top * ratio) + dy;
      let off = 0;
      for (let y = 0; y < 300 * scale; y++) for (let x = 0; x < 425 * scale; x++) {
        const gx = Math.floor(x / scale), gy = Math.floor(y / scale);
        // The prompt may turn between the two reads: its box is all that may differ.
        if (gx >= 130 && gx < 317 && gy >= 225 && gy < 280) continue;
        const i = ((y0 + y) * shot.width + x0 + x) * 3, j = (gy * W + gx) * 3;
        if (shot.rgb[i] !== rgb[j] || shot.rgb[i + 1] !== rgb[j + 1] || shot.rgb[i + 2] !== rgb[j + 2]) off++;
      }
      wrong = Math.min(wrong, off);
    }
    // Not one device pixel off: a game column one device pixel wider than the others is a fault.
    assert.equal(wrong, 0, `${at}: ${wrong} pixels off`);
  }
  // A change of device pixels a CSS pixel alone, with no resize, fits the picture anew.
  await page.setViewport({ width: 900, height: 700, deviceScaleFactor: 1 });
  await page.waitForFunction(() => document.getElementById('canvas').dataset.scale === '2');
  const client = await page.target().createCDPSession();
  await client.send('Emulation.setDeviceMetricsOverride', { width: 900, height: 700, deviceScaleFactor: 2, mobile: false });
  await page.waitForFunction(() => document.getElementById('canvas').dataset.scale === '4');
  await client.detach();
  // Smaller than one device pixel a game pixel: shrunk, and nothing out of reach.
  await page.setViewport({ width: 400, height: 280, deviceScaleFactor: 1 });
  await page.waitForFunction(() => Number(document.getElementById('canvas').dataset.scale) < 1);
  const small = await canvasBox(page);
  assert.ok(small.left >= 0 && small.top >= 0 && small.left + small.width <= 400 && small.top + small.height <= 280);
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('the help line never costs a scale step, and F11, a double-click or the button give full screen', async () => {
  const page = await openPage();
  await page.setViewport({ width: 1366, height: 657, deviceScaleFactor: 1 });
  await waitFor(page, showsTitle(expected().titles), 'the title');
  const help = await page.evaluate(() => {
    const r = document.getElementById('help').getBoundingClientRect();
    return { top: r.top, bottom: r.bottom, shown: r.height > 0 };
  });
  const box = await canvasBox(page);
  assert.equal(box.width, 850);
  assert.ok(help.shown && help.top >= box.top + box.height && help.bottom <= 657, JSON.stringify(help));
  const full = () => page.evaluate(() => document.fullscreenElement !== null);
  await page.keyboard.press('F11');
  await page.waitForFunction(() => document.fullscreenElement !== null);
  await page.keyboard.press('F11');
  await page.waitForFunction(() => document.fullscreenElement === null);
  await page.mouse.click(box.left + 100, box.top + 100, { clickCount: 2 });
  await page.waitForFunction(() => document.fullscreenElement !== null);
  await page.evaluate(() => document.exitFullscreen());
  await page.waitForFunction(() => document.fullscreenElement === null);
  await page.click('#full');
  assert.equal(await full(), true);
  // The keys still play.
  await page.keyboard.press('Enter');
  await waitFor(page, isPlay, 'the play background');
  assert.deepEqual(page.problems, []);
  await page.close();
});

// The car's highest row in the jump that `act` starts, from every frame the page presents, so
// that a busy machine, which reads the canvas seldom, sees the top of it as an idle one does;
// and the rows of the `stay` frames after it lands (a held key must not jump again).
async function jump(page, act, stay = 0) {
  // On the road for a few frames first: a key in the air is no jump.
  await page.evaluate(() => { window.__quillon.carTops = []; });
  await page.waitForFunction(() => {
    const t = window.__quillon.carTops;
    return t.length >= 4 && t.slice(-4).every((y) => y >= 225 && y < 300);
  }, { timeout: 60000 });
  await page.evaluate(() => { window.__quillon.carTops = []; });
  await act();
  const tops = await (await page.waitForFunction((stay) => {
    const t = window.__quillon.carTops, up = t.findIndex((y) => y < 220);
    const down = up < 0 ? -1 : t.findIndex((y, i) => i > up && y >= 225);
    return down >= 0 && t.length >= down + stay && t;
  }, { timeout: 60000 }, stay)).jsonValue();
  await page.evaluate(() => { window.__quillon.carTops = null; });
  const down = tops.findIndex((y, i) => i > tops.findIndex((v) => v < 220) && y >= 225);
  return { top: Math.min(...tops), after: tops.slice(down) };
}

async function centre(page, selector) {
  return page.evaluate((s) => {
    const r = document.querySelector(s).getBoundingClientRect();
    return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
  }, selector);
}

test('on a phone the picture fills the room, taps are jumps that never flip full screen, and each button gives its own jump', async () => {
  // Width, height, device pixels a CSS pixel, and the least width the picture may take (a
  // fractional scale where a whole one would leave most of the room empty), or the whole scale
  // kept where it fills the room well.
  // A 412 x 915 phone at 2.625 gets no less than a 360 x 640 one at 2.
  for (const [width, height, ratio, least, whole] of [[360, 640, 2, 340, 0], [390, 844, 3, 370, 0],
    [412, 915, 2.625, 360, 0], [844, 390, 3, 540, 0], [768, 1024, 2, 0, 3]]) {
    const at = `${width}x${height} at ${ratio}`;
    const page = await browser.newPage();
    await page.setViewport({ width, height, deviceScaleFactor: ratio, isMobile: true, hasTouch: true });
    page.problems = [];
    page.on('pageerror', (e) => page.problems.push(String(e)));
    await page.evaluateOnNewDocument(() => {
      window.__presses = [];
      document.addEventListener('DOMContentLoaded', () => {
        const press = window.press;
        window.press = (code) => { window.__presses.push(code); press(code); };
      });
    });
    await page.evaluateOnNewDocument(PROBE);
    await page.goto(base, { waitUntil: 'load' });
    await waitFor(page, showsTitle(expected().titles), 'the title');
    assert.equal(await page.evaluate(() => matchMedia('(pointer: coarse)').matches), true);
    assert.match(await page.evaluate(() => document.getElementById('help').textContent), /Tap/);
    const box = await canvasBox(page);
    const scale = Number(await page.$eval('#canvas', (c) => c.dataset.scale));
    if (whole) {
      assert.equal(scale, whole, at);
    } else {
      assert.ok(box.width >= least, `${at}: ${box.width} CSS px across`);
      assert.equal(await page.$eval('#canvas', (c) => getComputedStyle(c).imageRendering), 'pixelated');
    }
    const canvas = await centre(page, '#canvas'), low = await centre(page, '#low'), high = await centre(page, '#high');
    // Thumbs: low on the left, high on the right; below the picture, which sits at the top, when
    // upright; beside it when not: each whole pad, not only its middle, clear of the picture
    // and on the screen.
    const rect = (selector) => page.$eval(selector, (b) => b.getBoundingClientRect().toJSON());
    const [lowPad, highPad] = [await rect('#low'), await rect('#high')];
    const fmt = (r) => JSON.stringify([r.left, r.top, r.right, r.bottom]);
    assert.ok(lowPad.right <= highPad.left, `${at}: ${fmt(lowPad)} ${fmt(highPad)}`);
    for (const pad of [lowPad, highPad]) {
      assert.ok(pad.left >= 0 && pad.top >= 0 && pad.right <= width && pad.bottom <= height, `${at}: ${fmt(pad)}`);
    }
    if (height > width) {
      assert.ok(box.top === 0 && lowPad.top >= box.top + box.height && highPad.top >= box.top + box.height, at);
    } else {
      assert.ok(lowPad.right <= box.left && highPad.left >= box.left + box.width, `${at}: ${fmt(lowPad)} ${fmt(highPad)}`);
    }
    // The full-screen button: big enough for a thumb, on the screen, clear of the jump buttons.
    const full = await rect('#full');
    assert.ok(full.width >= 48 && full.height >= 48 && full.left >= 0 && full.right <= width && full.bottom <= height,
      `${at}: ${JSON.stringify(full)}`);
    for (const pad of [lowPad, highPad]) {
      const apart = full.right <= pad.left || pad.right <= full.left || full.bottom <= pad.top || pad.bottom <= full.top;
      assert.ok(apart, `${at}: the full-screen button ${JSON.stringify(full)} over a pad ${JSON.stringify(pad)}`);
    }
    await page.touchscreen.tap(canvas.x, canvas.y);
    await waitFor(page, isPlay, 'play after a tap');
    // Two quick taps on the picture: two presses for the game, and the page stays as it is.
    const { top } = await jump(page, async () => {
      await page.touchscreen.tap(canvas.x, canvas.y);
      await new Promise((r) => setTimeout(r, 120));
      await page.touchscreen.tap(canvas.x, canvas.y);
    });
    assert.deepEqual(await page.evaluate(() => window.__presses), [13, 13, 13]);
    assert.equal(await page.evaluate(() => document.fullscreenElement), null);
    const highTop = (await jump(page, () => page.touchscreen.tap(high.x, high.y))).top;
    const lowTop = (await jump(page, () => page.touchscreen.tap(low.x, low.y))).top;
    assert.ok(top < 40 && highTop < 40, `${at}: the high jumps reached ${top} and ${highTop}`);
    assert.ok(lowTop > 70 && lowTop < 110, `${at}: the low jump reached ${lowTop}`);
    assert.deepEqual(await page.evaluate(() => [scrollX, scrollY, visualViewport.scale]), [0, 0, 1]);
    assert.deepEqual(page.problems, []);
    // A round that ended while the taps went on (a slow machine) leaves a best: gone again, so
    // the tests after this one start from no best.
    await stored(page, null);
    await page.close();
  }
});

test('keys reach the game wherever the focus is, no key scrolls the page, and the others keep their work', async () => {
  const page = await openPage();
  await waitFor(page, showsTitle(expected().titles), 'the title');
  // A page that could scroll, were the keys let through.
  await page.evaluate(() => {
    document.documentElement.style.overflow = 'auto';
    document.body.style.overflow = 'visible';
    document.body.style.minHeight = '3000px';
  });
  const help = await centre(page, '#help');
  await page.mouse.click(help.x, help.y);
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('NumpadEnter');
  await waitFor(page, isPlay, 'play after Enter with the focus elsewhere');
  for (const key of ['Space', 'ArrowDown', 'PageDown', 'End']) await page.keyboard.press(key);
  assert.equal(await page.evaluate(() => [scrollY, document.fullscreenElement]).then((v) => v[0]), 0);
  assert.equal(await page.evaluate(() => document.fullscreenElement), null);
  // Keys the game has no use for keep their own work: Tab still moves the focus.
  await page.evaluate(() => {
    window.__taken = {};
    window.addEventListener('keydown', (event) => { window.__taken[event.code] = event.defaultPrevented; });
    document.getElementById('canvas').focus();
  });
  for (const key of ['Enter', 'KeyA', '!', 'Escape', 'Tab']) await page.keyboard.press(key);
  assert.deepEqual(await page.evaluate(() => window.__taken),
    { Enter: true, KeyA: false, Digit1: false, Escape: false, Tab: false });
  assert.notEqual(await page.evaluate(() => document.activeElement.id), 'canvas');
  // A remote or an on-screen keyboard may name only what its key types: each still gives its own jump.
  const typed = (key) => page.evaluate((k) => window.dispatchEvent(new KeyboardEvent('keydown', { key: k })), key);
  const high = (await jump(page, () => typed('Enter'))).top;
  const low = (await jump(page, () => typed(' '))).top;
  assert.ok(high < 40 && low > 70 && low < 110, `the typed Enter reached ${high}, the typed space ${low}`);
  assert.deepEqual(page.problems, []);
  await page.close();
});

// Every control the page shows, where it is.
const CONTROLS = () => [...document.querySelectorAll('button')].filter((b) => b.offsetParent !== null)
  .map((b) => { const r = b.getBoundingClientRect(); return { id: b.id, left: r.left, top: r.top, right: r.right, bottom: r.bottom }; });

test('the page\'s controls stay on the screen however often it is laid out, take a finger, and answer the keyboard', async () => {
  const [code, reaches] = fs.readFileSync(path.join(GOLDEN, 'jumper.txt'), 'utf8').trim().split('\n');
  const setup = await openPage();
  await keepRun(setup, code, reaches);
  await setup.close();
  for (const [width, height, ratio, touch] of [[425, 360, 1, false], [1366, 657, 1, false], [700, 480, 1, false],
    [640, 360, 2, true], [360, 640, 2, true], [844, 390, 3, true], [768, 1024, 2, true], [412, 915, 2.625, true]]) {
    const at = `${width}x${height} at ${ratio}`;
    const page = await browser.newPage();
    page.problems = [];
    page.on('pageerror', (e) => page.problems.push(String(e)));
    await page.setViewport({ width, height, deviceScaleFactor: ratio, isMobile: touch, hasTouch: touch });
    await page.goto(base, { waitUntil: 'load' });
    await page.waitForSelector('#runs:not(.none)', { timeout: 15000 });
    const onScreen = async (when) => {
      const controls = await page.evaluate(CONTROLS);
      assert.ok(controls.some((c) => c.id === 'share'), `${at} ${when}: no Share`);
      for (const c of controls) {
        assert.ok(c.left >= 0 && c.top >= 0 && c.right <= width && c.bottom <= height, `${at} ${when}: ${JSON.stringify(c)}`);
        if (touch) assert.ok(c.right - c.left >= 44 && c.bottom - c.top >= 44, `${at} ${when}: ${JSON.stringify(c)} is small for a finger`);
      }
      // Laid out again and again, it stays where it is.
      await page.evaluate(() => { for (let i = 0; i < 5; i++) fit(); });
      assert.deepEqual(await page.evaluate(CONTROLS), controls, `${at} ${when}: moved by another layout`);
    };
    await onScreen('with a run kept');
    await page.evaluate(() => document.getElementById('share').click());
    await page.waitForFunction(() => /link/i.test(document.getElementById('notice').textContent));
    await onScreen('after Share');
    assert.deepEqual(page.problems, []);
    await page.close();
  }
  // From the keyboard: Tab reaches each control, Enter or Space presses the focused one and not
  // the game, S shares, and the help line names W and S only while there is a run to watch.
  const page = await openPage();
  await page.setViewport({ width: 425, height: 360 });
  await page.waitForSelector('#runs:not(.none)', { timeout: 15000 });
  await page.waitForFunction(() => Module.quillonPresented > 5);
  assert.match(await page.$eval('#help', (h) => h.textContent), /W: watch the best run\. S: share it\./);
  const reached = [];
  for (let i = 0; i < 4; i++) {
    await page.keyboard.press('Tab');
    reached.push(await page.evaluate(() => document.activeElement.id));
  }
  for (const id of ['full', 'watch', 'share']) assert.ok(reached.includes(id), `Tab reached ${reached}`);
  await page.focus('#share');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => Module.quillonShareLink);
  await page.evaluate(() => { Module.quillonShareLink = ''; });
  await page.keyboard.press('KeyS');
  await page.waitForFunction(() => Module.quillonShareLink);
  assert.ok(!isPlay(Buffer.from(await canvasRgb(page), 'base64')), 'Enter on Share started a game');
  await page.focus('#watch');
  await page.keyboard.press('Space');
  await page.waitForFunction(() => document.title === 'Quillon - watching the best run');
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => document.title === 'Quillon');
  await page.focus('#full');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.fullscreenElement !== null);
  await page.evaluate(() => document.exitFullscreen());
  // Axe finds nothing to mend, and the page may be zoomed.
  await page.addScriptTag({ path: path.join(HERE, 'node_modules/axe-core/axe.min.js') });
  const violations = await page.evaluate(async () => (await axe.run()).violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`));
  assert.deepEqual(violations, []);
  await stored(page, null);
  await page.reload({ waitUntil: 'load' });
  await waitFor(page, showsTitle(expected().titles), 'the title with no best');
  assert.doesNotMatch(await page.$eval('#help', (h) => h.textContent), /W:|S:/);
  assert.deepEqual(page.problems, []);
  await page.close();
});

// Two standard gamepads, in the first and third places, whose buttons a test presses.
const PADS = () => {
  const pad = (index) => ({ index, connected: true, mapping: 'standard', id: 'test pad',
    buttons: Array.from({ length: 17 }, () => ({ pressed: false, value: 0 })) });
  window.__pads = [pad(0), null, pad(2), null];
  navigator.getGamepads = () => window.__pads;
  // As a browser says it once a pad is there.
  window.addEventListener('load', () => window.dispatchEvent(new Event('gamepadconnected')));
};
const push = (page, pad, button) => page.evaluate(async (p, b) => {
  window.__pads[p].buttons[b].pressed = true;
  await new Promise((r) => setTimeout(r, 120));
  window.__pads[p].buttons[b].pressed = false;
}, pad, button);

test('gamepads: the bottom button starts and jumps high, the right and left ones jump low, and a held one is one press, and Start plays the daily run', async () => {
  const page = await openPage(PADS);
  await waitFor(page, showsTitle(expected().titles), 'the title');
  await push(page, 0, 0);
  await waitFor(page, isPlay, 'play after button 0');
  // Each button gives its own jump, and held down it is one press: the car then stays on the
  // road for the next 15 frames. The bottom and right buttons pressed together are Enter and
  // Space in one frame: Enter's jump, as the keys give it.
  const tops = [];
  for (const [pad, buttons] of [[0, [0]], [0, [1]], [2, [2]], [2, [1, 0]]]) {
    // The first pad unplugged in the round: the second goes on alone.
    if (pad === 2) await page.evaluate(() => { window.__pads[0] = null; });
    const hold = (down) => page.evaluate((p, bs, d) => { for (const b of bs) window.__pads[p].buttons[b].pressed = d; }, pad, buttons, down);
    const { top, after } = await jump(page, () => hold(true), 15);
    tops.push(top);
    assert.ok(after.every((y) => y >= 225), `held, buttons ${buttons} jumped again: ${after}`);
    await hold(false);
    await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
  }
  assert.ok(tops[0] < 40, `button 0 reached ${tops}`);
  assert.ok(tops[1] > 70 && tops[1] < 110, `button 1 reached ${tops}`);
  assert.ok(tops[2] > 70 && tops[2] < 110, `the second pad's button 2 reached ${tops}`);
  assert.ok(tops[3] < 40, `buttons 0 and 1 together reached ${tops}`);
  assert.deepEqual(page.problems, []);
  await page.close();
  // Start (9) on the title plays the day's round. On a busy machine the round above can last
  // until the car is wrecked, and the banner's best is stored at once: the title would then show
  // that best, so it goes first.
  const daily = await openPage(PADS);
  await stored(daily, null);
  await daily.evaluate(() => localStorage.clear());
  await daily.reload({ waitUntil: 'load' });
  await waitFor(daily, showsTitle(expected().titles), 'the title');
  await push(daily, 0, 9);
  await daily.waitForFunction(() => document.title.startsWith('Quillon - daily run '), { timeout: 10000 });
  await waitFor(daily, isPlay, 'play after Start');
  await daily.close();
});

// A copy of the site to change, served on a server (and so an origin) of its own.
function copySite(change) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-site-'));
  for (const name of fs.readdirSync(SITE)) fs.copyFileSync(path.join(SITE, name), path.join(folder, name));
  change(folder);
  return folder;
}

async function siteCopy(change) {
  const folder = copySite(change);
  return { folder, ...(await serve(folder)) };
}

const built = (folder, ending) => path.join(folder, fs.readdirSync(folder).find((n) => /^quillon-.*/.test(n) && n.endsWith(ending)));

test('what goes wrong while loading is said in a sentence, not a black picture', async () => {
  const broken = await siteCopy((folder) => fs.rmSync(built(folder, '.wasm')));
  const page = await browser.newPage();
  await page.goto(broken.url, { waitUntil: 'load' });
  await page.waitForFunction(() => document.getElementById('problem')?.textContent.includes('quillon.wasm'));
  // A script that fails before the first frame, and a WebAssembly of another build (here an
  // empty one): said within three seconds, with nothing left saying "Loading".
  for (const [ending, bytes, words] of [['.js', () => 'throw new Error("a broken script");', 'a broken script'],
    ['.js', (js) => 'Promise.reject(new Error("a promise nobody caught"));\n' + js, 'a promise nobody caught'],
    ['.wasm', () => Buffer.from([0, 97, 115, 109, 1, 0, 0, 0]), 'could not start']]) {
    const bad = await siteCopy((folder) => fs.writeFileSync(built(folder, ending), bytes(fs.readFileSync(built(folder, ending)).toString())));
    await page.goto(bad.url, { waitUntil: 'load' });
    await page.waitForFunction((w) => document.getElementById('problem')?.textContent.includes(w), { timeout: 3000 }, words);
    assert.equal(await page.$eval('#status', (p) => p.textContent), '');
    bad.server.close();
    fs.rmSync(bad.folder, { recursive: true });
  }
  // The page of the folder opened from disk, where the browser lets no file be fetched.
  await page.goto('file://' + path.join(SITE, 'index.html'), { waitUntil: 'load' });
  await page.waitForFunction(() => document.getElementById('problem')?.textContent.includes('quillon.html'));
  await page.setJavaScriptEnabled(false);
  await page.goto(base, { waitUntil: 'load' });
  assert.match(await page.evaluate(() => document.querySelector('body noscript').textContent), /JavaScript/);
  assert.match(await page.$eval('body', (b) => b.innerText), /needs JavaScript/);
  assert.doesNotMatch(await page.$eval('body', (b) => b.innerText), /Loading/);
  await page.close();
  broken.server.close();
  fs.rmSync(broken.folder, { recursive: true });
});

test('the page installs as an app: manifest, icons, and a second visit with no network', async () => {
  // A fresh profile and origin: the worker's install alone must keep every file a visit needs.
  const fresh = await launch();
  // As most static hosts serve: Last-Modified, and nothing else about caching.
  const host = await serve(SITE, { lastModified: true });
  const page = await openPage(undefined, undefined, { browser: fresh, url: host.url });
  await waitFor(page, showsTitle(expected().titles), 'the title');
  // The first visit, with the worker's install, fetches each file once.
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 30000 });
  const asked = host.requests.map((u) => u.replace(/^\/game\//, '/').replace(/^\/index\.html$/, '/'));
  assert.deepEqual(asked.filter((u, i) => asked.indexOf(u) !== i), [], asked.join(' '));
  const kept = [...fs.readFileSync(path.join(SITE, 'sw.js'), 'utf8').matchAll(/'\.\/([^']+)': '[0-9a-f]{64}'/g)];
  assert.ok(kept.length >= 8, `the worker keeps ${kept.length} files`);
  for (const [, name] of kept) assert.ok(asked.includes(name === 'index.html' ? '/' : '/' + name), `${name}: ${asked.join(' ')}`);
  const manifest = JSON.parse(await page.evaluate(() => fetch('quillon.webmanifest').then((r) => r.text())));
  assert.equal(manifest.name, 'Quillon');
  assert.equal(manifest.background_color, '#000000');
  assert.match(manifest.display, /^(fullscreen|standalone)$/);
  assert.ok(manifest.id, 'the app has an id of its own');
  for (const icon of manifest.icons) {
    const png = decodePng(fs.readFileSync(path.join(SITE, icon.src)));
    assert.equal(`${png.width}x${png.height}`, icon.sizes);
    if (!/maskable/.test(icon.purpose || '')) continue;
    // A launcher may cut any shape inside the middle four fifths: the art stays within that
    // circle, the rest is the background.
    let art = 0;
    for (let y = 0; y < png.height; y++) for (let x = 0; x < png.width; x++) {
      const i = (y * png.width + x) * 3, dx = x + 0.5 - png.width / 2, dy = y + 0.5 - png.height / 2;
      const black = png.rgb[i] === 0 && png.rgb[i + 1] === 0 && png.rgb[i + 2] === 0;
      if (!black) art++;
      assert.ok(black || Math.hypot(dx, dy) <= 0.4 * png.width, `${icon.src}: art at ${x},${y}`);
    }
    assert.ok(art > 0.2 * png.width * png.height, `${icon.src}: the art is there`);
  }
  assert.ok(manifest.icons.some((icon) => /maskable/.test(icon.purpose || '')), 'a maskable icon');
  assert.equal(await page.$eval('main h1', (h) => h.textContent), 'Quillon');
  assert.equal(decodePng(fs.readFileSync(path.join(SITE, 'favicon.png'))).width, 32);
  assert.match(await page.$eval('meta[name=description]', (m) => m.content), /Quillon/);
  assert.equal(await page.$eval('#canvas', (c) => c.getAttribute('aria-label')), 'Quillon');
  // Once the worker keeps the files, a reload with no network still shows the title.
  await page.setOfflineMode(true);
  await page.reload({ waitUntil: 'load' });
  await waitFor(page, showsTitle(expected().titles), 'the title with no network');
  await page.setOfflineMode(false);
  assert.deepEqual(page.problems.filter((p) => !p.startsWith('failed ')), []);
  await fresh.close();
  host.server.close();
});

// Which build's script and which build's WebAssembly the page runs: a release's mark, or 'A'.
const MARKS = () => {
  const instantiate = WebAssembly.instantiate;
  WebAssembly.instantiate = function (...args) {
    return instantiate.apply(this, args).then((result) => {
      const sections = WebAssembly.Module.customSections(result.module, 'quillon-mark');
      window.__wasmMark = sections.length ? new TextDecoder().decode(sections[0]) : 'A';
      return result;
    });
  };
};

// Makes the site in `folder` another release, as a real one differs: its script and its
// WebAssembly each carry the mark (a line of script; a custom section), under names of their
// own that its page names, with the worker a build makes for them. The old files go.
function release(folder, mark) {
  const js = built(folder, '.js'), wasm = built(folder, '.wasm');
  const name = Buffer.from('quillon-mark'), payload = Buffer.from(mark);
  const section = Buffer.concat([Buffer.from([0, 1 + name.length + payload.length, name.length]), name, payload]);
  const renamed = { [path.basename(js)]: `quillon-${mark}.js`, [path.basename(wasm)]: `quillon-${mark}.wasm` };
  fs.writeFileSync(path.join(folder, renamed[path.basename(js)]),
    fs.readFileSync(js).toString() + `\nwindow.__scriptMark = '${mark}';\n`);
  fs.writeFileSync(path.join(folder, renamed[path.basename(wasm)]), Buffer.concat([fs.readFileSync(wasm), section]));
  fs.rmSync(js);
  fs.rmSync(wasm);
  let page = fs.readFileSync(path.join(folder, 'index.html')).toString();
  for (const [from, to] of Object.entries(renamed)) page = page.split(from).join(to);
  fs.writeFileSync(path.join(folder, 'index.html'), page);
  execFileSync('cmake', [`-DSITE=${folder}`, `-DWORKER=${path.join(HERE, '../../platform/web/sw.js')}`,
    '-P', path.join(HERE, '../../platform/web/worker.cmake')]);
}

// A worker that keeps the last build's page under the new name leaves the page waiting for files
// that are gone: that fails here in minutes, not at the suite's end.
test('a release is one unit: a returning player gets the new one whole, whatever fails to arrive, and offline the last', { timeout: 180000 }, async () => {
  // A fresh profile: nothing cached from the other tests' visits.
  const fresh = await launch();
  const folder = copySite(() => {});
  // Released ten days ago, on a host that says only when each file last changed.
  const old = new Date(Date.now() - 10 * 86400000);
  for (const n of fs.readdirSync(folder)) fs.utimesSync(path.join(folder, n), old, old);
  let dropWasm = false;
  const host = await serve(folder, { lastModified: true, drop: (name) => {
    if (!dropWasm || !name.endsWith('.wasm')) return false;
    dropWasm = false;
    return true;
  } });
  const page = await fresh.newPage();
  await page.evaluateOnNewDocument(MARKS);
  const visit = async () => {
    await page.reload({ waitUntil: 'load' });
    await page.waitForFunction(() => (window.Module?.quillonPresented || 0) > 0, { timeout: 15000 });
    return page.evaluate(() => [window.__scriptMark || 'A', window.__wasmMark]);
  };
  await page.goto(host.url, { waitUntil: 'load' });
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 30000 });
  const first = await page.evaluate(() => caches.keys());
  assert.deepEqual(await visit(), ['A', 'A']);
  // Release B; its WebAssembly fails to arrive once while the worker fetches it.
  release(folder, 'B');
  dropWasm = true;
  const during = await visit();
  assert.ok(during[0] === during[1], `one build whole, not ${during}`);
  await page.waitForFunction((old) => caches.keys().then((k) => k.length === 1 && k[0] !== old[0]),
    { timeout: 30000 }, first);
  assert.equal(dropWasm, false, 'the drop happened');
  assert.deepEqual(await visit(), ['B', 'B'], 'the second visit runs the new release');
  await page.setOfflineMode(true);
  assert.deepEqual(await visit(), ['B', 'B'], 'and so does one with no network');
  await fresh.close();
  host.server.close();
  fs.rmSync(folder, { recursive: true });
});

test('quillon.html, saved and opened from disk, shows the title and plays', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-saved-'));
  fs.copyFileSync(path.join(SITE, 'quillon.html'), path.join(folder, 'quillon.html'));
  const page = await browser.newPage();
  page.problems = [];
  page.on('pageerror', (e) => page.problems.push(String(e)));
  await page.evaluateOnNewDocument(PROBE);
  await page.goto('file://' + path.join(folder, 'quillon.html'), { waitUntil: 'load' });
  await waitFor(page, showsTitle(expected().titles), 'the title from a file');
  await page.keyboard.press('Enter');
  await waitFor(page, isPlay, 'play');
  // Kept where the browser keeps data for a local file; said to last for the visit otherwise.
  const storage = await page.evaluate(() => [Module.quillonStorage, document.getElementById('notice').textContent]);
  assert.ok(storage[0] === 'browser' || /only for this visit/.test(storage[1]), JSON.stringify(storage));
  assert.deepEqual(page.problems, []);
  await page.close();
  fs.rmSync(folder, { recursive: true });
});

// Every frame's fingerprint, from the very first: the page's own Module is caught as it is made.
const FINGERPRINTS = () => {
  let made;
  Object.defineProperty(window, 'Module', {
    configurable: true,
    get: () => made,
    set: (v) => { made = v; if (v) v.quillonFingerprints = []; },
  });
};

// A kept run in the browser's storage, with the best it reaches beside it.
function keepRun(page, code, reaches) {
  return page.evaluate((code, reaches) => new Promise((resolve) => {
    const open = indexedDB.open('/quillon', 21);
    open.onupgradeneeded = () => open.result.createObjectStore('FILE_DATA').createIndex('timestamp', 'timestamp');
    open.onsuccess = () => {
      const tx = open.result.transaction(['FILE_DATA'], 'readwrite');
      const put = (name, text) => tx.objectStore('FILE_DATA').put(
        { timestamp: new Date(), mode: 33206, contents: new TextEncoder().encode(text) }, '/quillon/' + name);
      put('Quillon.run', code + '\n');
      put('Quillon.ini', '[QUILLON]\nHighScore=' + reaches + '\n');
      tx.oncomplete = () => { open.result.close(); resolve(); };
    };
  }), code, reaches);
}

test('a shared link plays its run frame for frame as every platform does, and the best run is watched and shared', async () => {
  const [code, reaches, ...golden] = fs.readFileSync(path.join(HERE, '../data/golden/jumper.txt'), 'utf8').trim().split('\n');
  // A link's run: after the title, each frame of the run as the in-process suite has it, in order.
  let page = await browser.newPage();
  await page.evaluateOnNewDocument(FINGERPRINTS);
  await page.setViewport({ width: 900, height: 700 });
  // A viewer with no best yet, so that a run's score stored as one would show.
  await page.goto(base, { waitUntil: 'load' });
  await stored(page, null);
  await page.goto('about:blank');
  await page.goto(base + '#run=' + code, { waitUntil: 'load' });
  await page.waitForFunction(() => document.title === 'Quillon - watching a run', { timeout: 20000 });
  // And on the canvas itself, read back as the player sees it: each frame of play is one of the
  // run's, in the run's order.
  let seen = 0, last = -1;
  while (await page.evaluate(() => document.title) !== 'Quillon') {
    const rgb = Buffer.from(await canvasRgb(page), 'base64');
    if (!isPlay(rgb)) continue;
    const print = fingerprint(rgb), i = golden.findIndex((p, k) => k >= last && p === print);
    assert.ok(i >= 0, `the canvas showed a frame the run never had after frame ${last}`);
    if (i > last) seen++;
    last = i;
  }
  assert.ok(seen >= 5, `only ${seen} of the run's frames read off the canvas`);
  // Watching someone's run never makes its score the viewer's best, as on the command line.
  assert.ok(Number(reaches) > 0);
  assert.equal(await stored(page), null);
  assert.equal(await page.evaluate(() => localStorage.getItem('quillon-pending')), null);
  const shown = await page.evaluate(() => Module.quillonFingerprints);
  const at = shown.indexOf(golden[0]);
  assert.ok(at > 0, 'the run never began');
  assert.deepEqual(shown.slice(at, at + golden.length), golden);
  // Played once: the address no longer holds it, so a reload shows the title; a new #run= in the
  // open tab plays that run.
  assert.equal(await page.evaluate(() => location.hash), '');
  await page.evaluate((code) => { location.hash = '#run=' + code; }, code);
  await page.waitForFunction(() => document.title === 'Quillon - watching a run', { timeout: 20000 });
  await page.keyboard.press('Escape');
  await page.close();
  // A code that names no round, or a link whose escapes are broken: one line in the bar, and the
  // title as usual, which Enter still starts.
  for (const bad of ['Q1-zz', 'Q9-AAAA', 'x'.repeat(70000), '%', '%E0%A4%A', 'Q1-Af___________wEAAA']) {
    page = await browser.newPage();
    await page.setViewport({ width: 900, height: 700 });
    await page.goto(base + '#run=' + bad, { waitUntil: 'load' });
    await page.waitForFunction(() => /can\u2019t be played/.test(document.getElementById('notice').textContent), { timeout: 15000 });
    assert.ok(!isPlay(Buffer.from(await canvasRgb(page), 'base64')));
    await page.waitForFunction(() => Module.quillonPresented > 0, { timeout: 15000 });
    await page.keyboard.press('Enter');
    await waitFor(page, isPlay, 'play after the bad link ' + bad.slice(0, 20));
    await page.close();
  }
  // A kept run, with the best it reaches beside it: its two buttons; Share's link carries its
  // code, Watch plays it, Escape stops it; a gamepad's top button plays it too.
  page = await openPage(PADS);
  await keepRun(page, code, reaches);
  await page.reload({ waitUntil: 'load' });
  await page.waitForSelector('#runs:not(.none)', { timeout: 15000 });
  await page.click('#share');
  assert.equal(await page.evaluate(() => Module.quillonShareLink), base.split('#')[0] + '#run=' + code);
  await page.click('#watch');
  await waitFor(page, isPlay, 'the watched run');
  assert.equal(await page.evaluate(() => document.title), 'Quillon - watching the best run');
  await page.keyboard.press('Escape');
  await waitFor(page, (rgb) => !isPlay(rgb), 'the title after Escape');
  await push(page, 2, 3);
  await waitFor(page, isPlay, 'the run watched by the top button');
  await page.keyboard.press('Escape');
  await page.close();
});

test('the page, its script and its WebAssembly come to under 70 KB compressed, the one-file page under 90 KB', () => {
  const gz = (name) => zlib.gzipSync(fs.readFileSync(path.join(SITE, name)), { level: 9 }).length;
  const page = fs.readdirSync(SITE).filter((n) => n === 'index.html' || /^quillon-.*\.(js|wasm)$/.test(n));
  assert.equal(page.length, 3, page.join(' '));
  const transfer = page.reduce((sum, n) => sum + gz(n), 0);
  assert.ok(transfer < 70 * 1024, `the page's transfer: ${transfer} bytes`);
  assert.ok(gz('quillon.html') < 90 * 1024, `quillon.html: ${gz('quillon.html')} bytes`);
});

test('a browser that refuses storage still plays, with no error shown', async () => {
  // What a private window or blocked site data looks like to the page.
  const page = await openPage(() => {
    Object.defineProperty(window, 'indexedDB', { get() { throw new DOMException('refused', 'SecurityError'); } });
  });
  await waitFor(page, showsTitle(expected().titles), 'the title with High Score:0');
  assert.equal(await page.evaluate(() => Module.quillonStorage), 'memory');
  assert.match(await page.evaluate(() => document.getElementById('notice').textContent), /only for this visit/);
  // The round's best is kept for the visit, with nothing said against it.
  await playToTheBanner(page, expected());
  await new Promise((r) => setTimeout(r, 1000));
  assert.match(await page.evaluate(() => document.getElementById('notice').textContent), /only for this visit/);
  assert.doesNotMatch(await page.evaluate(() => document.getElementById('notice').textContent), /cannot keep/);
  assert.deepEqual(page.problems, []);
  await page.close();
});

// A quillon-board at a moment of its own (libfaketime in it), serving the site; its address.
async function startBoard(at) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-board-'));
  const preload = execFileSync('sh', ['-c', 'ls /usr/lib/*/faketime/libfaketimeMT.so.1']).toString().trim();
  const board = spawn(process.env.QUILLON_BOARD, ['--listen', '127.0.0.1:0', '--database', path.join(folder, 'board.db'),
    '--site', SITE, '--posts-per-minute', '0'], { env: { ...process.env, LD_PRELOAD: preload, FAKETIME: '@' + at,
    FAKETIME_DONT_FAKE_MONOTONIC: '1', TZ: 'UTC', ASAN_OPTIONS: 'verify_asan_link_order=0' }, stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    board.stdout.once('data', (line) => resolve(/(http:\S+)/.exec(line.toString())[1]));
    board.once('exit', () => reject(new Error('the board did not start')));
  });
  return { url, stop: () => { board.kill(); fs.rmSync(folder, { recursive: true, force: true }); } };
}

test('served by a board: the day\'s round by keys, posted under a name, ranked as text and watched from the board; elsewhere no board at all', { timeout: 300000 }, async () => {
  if (!process.env.QUILLON_BOARD) return;
  const [, , ...golden] = fs.readFileSync(path.join(GOLDEN, 'daily.txt'), 'utf8').trim().split('\n');
  const board = await startBoard('2026-12-09 12:00:00');
  try {
    // The page's clock on the stored daily run's day, as the board's is.
    const page = await browser.newPage();
    await page.evaluateOnNewDocument(FINGERPRINTS);
    await page.evaluateOnNewDocument(() => {
      const offset = Date.UTC(2026, 11, 9, 12, 0, 0) - Date.now(), now = Date.now;
      Date.now = () => now() + offset;
      const Real = Date;
      window.Date = class extends Real { constructor(...a) { super(...(a.length ? a : [now() + offset])); } };
      window.Date.now = Date.now;
      window.Date.UTC = Real.UTC;
    });
    page.problems = [];
    page.on('pageerror', (e) => page.problems.push(String(e)));
    await page.setViewport({ width: 900, height: 900 });
    await page.goto(board.url, { waitUntil: 'load' });
    await waitFor(page, showsTitle(expected().titles), 'the title');
    await page.waitForSelector('#board', { timeout: 20000 });
    assert.equal(await page.$eval('#board li', (li) => li.textContent), 'No daily run posted yet for 2026-12-09.');
    // D: the day's round, the same first frames as the stored run of that day on every platform.
    await page.keyboard.press('d');
    await page.waitForFunction(() => document.title === 'Quillon - daily run 2026-12-09', { timeout: 20000 });
    await page.waitForFunction(() => document.title === 'Quillon', { timeout: 200000, polling: 500 });
    const played = await page.evaluate(() => Module.quillonFingerprints.slice());
    const at = played.indexOf(golden[0]);
    assert.ok(at > 0, 'the daily round did not begin as the stored one of its day');
    assert.deepEqual(played.slice(at, at + 10), golden.slice(0, 10));
    // Offered to post; a name typed in the field is the field's (its D, W and spaces start nothing).
    await page.waitForSelector('#board-post:not([hidden])', { timeout: 10000 });
    await page.type('#board-post input', 'Dan <b>W</b>');
    await new Promise((r) => setTimeout(r, 500));
    assert.equal(await page.evaluate(() => document.title), 'Quillon');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => /^Posted: \d+ points, place 1 on 2026-12-09\.$/.test(document.getElementById('board-said').textContent),
      { timeout: 20000 });
    const score = Number(/Posted: (\d+)/.exec(await page.$eval('#board-said', (p) => p.textContent))[1]);
    await page.waitForFunction(() => document.querySelector('#board li button'), { timeout: 10000 });
    assert.equal(await page.$eval('#board li', (li) => li.firstChild.textContent), `1. Dan <b>W</b> \u2013 ${score}`);
    assert.equal(await page.$$eval('#board b', (b) => b.length), 0, 'a name is shown as text');
    assert.equal(await page.$eval('#board-post', (p) => p.hidden), true, 'posted: no longer offered');
    // Watched from the board: the very frames played.
    const before = await page.evaluate(() => Module.quillonFingerprints.length);
    await page.click('#board li button');
    await page.waitForFunction(() => document.title === 'Quillon - watching a run', { timeout: 20000 });
    await page.waitForFunction(() => document.title === 'Quillon', { timeout: 200000, polling: 500 });
    const watched = await page.evaluate((n) => Module.quillonFingerprints.slice(n), before);
    const from = watched.indexOf(golden[0]);
    assert.ok(from >= 0, 'the watched run never began');
    assert.deepEqual(watched.slice(from, from + 200), played.slice(at, at + 200));
    assert.deepEqual(page.problems, []);
    await page.close();
  } finally {
    board.stop();
  }
  // Anywhere else the page is as it always was: no board, and nothing asked of one.
  const page = await openPage();
  // Whatever best an earlier test left on this origin: the title is up once frames are shown.
  await page.waitForFunction(() => window.Module && Module.quillonPresented > 10, { timeout: 20000 });
  await new Promise((r) => setTimeout(r, 1500));
  assert.equal(await page.$('#board'), null);
  assert.ok(!site.requests.some((u) => /board|api/.test(u)), site.requests.join(' '));
  assert.deepEqual(page.problems, []);
  await page.close();
});

