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
  let total = 0;
  for (const pid of pids) {
    try {
      const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(')').pop().trim().split(' ');
      total += (Number(fields[11]) + Number(fields[12])) / tick;
    } catch { /* gone */ }
  }
  return total;
}

async function share(pids, s, page) {
  const count = () => (page ? page.evaluate(() => Module.quillonPresented) : 0);
  const f0 = await count(), c0 = cpuSeconds(pids), t0 = performance.now();
  await new Promise((r) => setTimeout(r, s * 1000));
  const elapsed = (performance.now() - t0) / 1000;
  const cpu = (cpuSeconds(pids) - c0) / elapsed;
  return page ? [cpu, ((await count()) - f0) / elapsed] : cpu;
}

// The yardstick: a bare page that changes a block of a 425 x 300 canvas, as large as the title's
// prompt, 50 times a second, and does nothing else.
const BARE = `<!doctype html><canvas id=c width=425 height=300></canvas><script>
  const context = document.getElementById('c').getContext('2d', { alpha: false });
  const block = context.createImageData(167, 35);
  let n = 0;
  setInterval(() => { block.data.fill(++n % 256); context.putImageData(block, 140, 235); }, 20);
</script>`;

const { server, url } = await serve(site);
const browser = await launch();
try {
  const bare = await browser.newPage();
  await bare.setContent(BARE);
  await new Promise((r) => setTimeout(r, 1000));
  const bareTitle = await share(renderers(browser.process().pid), seconds);
  await bare.close();
  const page = await browser.newPage();
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForFunction(() => (window.Module?.quillonPresented || 0) > 10);
  const firstFrameMs = await page.evaluate(() => Module.quillonFirstFrameMs);
  const pids = renderers(browser.process().pid);
  await new Promise((r) => setTimeout(r, 1000));
  const [title, titleFps] = await share(pids, seconds, page);
  await page.keyboard.press('Enter');
  await new Promise((r) => setTimeout(r, 500));
  const [play, playFps] = await share(pids, seconds, page);
  console.log(JSON.stringify({ firstFrameMs, title, play, bare: bareTitle, renderers: pids.length, titleFps, playFps }));
} finally {
  await browser.close();
  server.close();
}
