// The web build in headless Chromium: the first title frame after navigation and the CPU
// share of the browser's renderer on the title and in play. Prints one JSON line.
// Usage: node bench/web_report.mjs SITE SECONDS
import fs from 'node:fs';
import { launch, serve } from '../tests/web/browser.mjs';

const [site, seconds] = [process.argv[2], Number(process.argv[3] || 10)];
const tick = 100;  // USER_HZ on Linux

function children(pid) {
  const out = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) out.push(Number(entry));
    } catch { /* gone */ }
  }
  return out;
}

function descendants(pid) {
  return children(pid).flatMap((child) => [child, ...descendants(child)]);
}

// Every renderer of the browser (they hang from its zygote): the page's own and any spare one, which idles.
function renderers(browserPid) {
  return descendants(browserPid).filter((pid) => {
    try { return fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer'); } catch { return false; }
  });
}

function cpuSeconds(pids) {
  const seconds = new Map();
  for (const pid of pids) {
    try {
      const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(')').pop().trim().split(' ');
      seconds.set(pid, (Number(fields[11]) + Number(fields[12])) / tick);
    } catch { /* gone */ }
  }
  return seconds;
}

// The renderers' CPU share over `s` seconds (a renderer that ends meanwhile is left out), and
// the page's frames a second.
async function share(pids, s, page) {
  const count = () => (page ? page.evaluate(() => Module.quillonPresented) : 0);
  const f0 = await count(), c0 = cpuSeconds(pids), t0 = performance.now();
  await new Promise((r) => setTimeout(r, s * 1000));
  const elapsed = (performance.now() - t0) / 1000, c1 = cpuSeconds(pids);
  let cpu = 0;
  for (const [pid, seconds] of c1) if (c0.has(pid)) cpu += (seconds - c0.get(pid)) / elapsed;
  return page ? [cpu, ((await count()) - f0) / elapsed] : cpu;
}

// The yardstick: a bare page that puts the same rectangles on a 425 x 300 canvas, laid out as the
// game's is, as often as the game does, and does nothing else.
const BARE = `<!doctype html><style>body{margin:0;background:#000}canvas{position:absolute;image-rendering:pixelated;
  transform-origin:0 0}</style><canvas id=c width=425 height=300></canvas><script>
  const context = document.getElementById('c').getContext('2d', { alpha: false, desynchronized: true });
  let timer = 0;
  window.bare = (style, width, height, fps) => {
    document.getElementById('c').style.cssText = style;
    const block = context.createImageData(width, height);
    let n = 0;
    clearInterval(timer);
    timer = setInterval(() => { block.data.fill(++n % 256); context.putImageData(block, 0, 0); }, 1000 / fps);
  };
</script>`;

// The game's page: the size of what each frame puts on the canvas, on average.
const DIRTY = () => {
  const put = CanvasRenderingContext2D.prototype.putImageData;
  window.__dirty = { area: 0, frames: 0 };
  CanvasRenderingContext2D.prototype.putImageData = function (...args) {
    if (args.length === 7) { window.__dirty.area += args[5] * args[6]; window.__dirty.frames++; }
    return put.apply(this, args);
  };
};
const dirty = async (page) => page.evaluate(() => {
  const d = window.__dirty, side = Math.sqrt(d.area / Math.max(1, d.frames));
  window.__dirty = { area: 0, frames: 0 };
  return [Math.min(425, Math.ceil(side * 425 / 300)), Math.min(300, Math.ceil(side * 300 / 425))];
});

const { server, url } = await serve(site);
const browser = await launch();
const result = {};
try {
  for (const ratio of [1, 2]) {
    const viewport = { width: 900, height: 700, deviceScaleFactor: ratio };
    const page = await browser.newPage();
    await page.setViewport(viewport);
    await page.evaluateOnNewDocument(DIRTY);
    await page.goto(url, { waitUntil: 'load' });
    await page.waitForFunction(() => (window.Module?.quillonPresented || 0) > 10);
    const style = await page.$eval('#canvas', (c) => c.style.cssText);
    const pids = renderers(browser.process().pid);
    await new Promise((r) => setTimeout(r, 1000));
    await dirty(page);
    const [title, titleFps] = await share(pids, seconds, page);
    const titleRect = await dirty(page);
    await page.keyboard.press('Enter');
    await new Promise((r) => setTimeout(r, 500));
    await dirty(page);
    const [play, playFps] = await share(pids, seconds, page);
    const playRect = await dirty(page);
    if (ratio === 1) result.firstFrameMs = await page.evaluate(() => Module.quillonFirstFrameMs);
    await page.close();
    const bare = await browser.newPage();
    await bare.setViewport(viewport);
    await bare.setContent(BARE);
    await bare.evaluate((s, w, h, f) => window.bare(s, w, h, f), style, ...titleRect, titleFps);
    await new Promise((r) => setTimeout(r, 1000));
    const bareTitle = await share(renderers(browser.process().pid), seconds);
    await bare.evaluate((s, w, h, f) => window.bare(s, w, h, f), style, ...playRect, playFps);
    await new Promise((r) => setTimeout(r, 1000));
    const barePlay = await share(renderers(browser.process().pid), seconds);
    await bare.close();
    result[ratio] = { title, play, bareTitle, barePlay, titleFps, playFps, titleRect, playRect };
    if (ratio === 1) Object.assign(result, { title, play, bare: bareTitle, renderers: pids.length, titleFps, playFps });
  }
  console.log(JSON.stringify(result));
} finally {
  await browser.close();
  server.close();
}
