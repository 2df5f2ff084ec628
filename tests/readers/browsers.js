// Decodes icon files in Chromium or Firefox (headless, through puppeteer-core)
// as a page shows them: an <img> from a data: URL, drawn on a canvas of its
// natural size. onload alone proves nothing (both browsers fire it from the
// directory), so an input counts as decoded only when decode() and
// createImageBitmap() both resolve and the canvas can be read back.
// Usage: node browsers.js chromium|firefox EXECUTABLE JOBS.json
//   JOBS.json: [{"id": ..., "b64": ...}, ...]
// Prints one JSON line per job: {"id", "ok", "w", "h", "rgba" (base64)} or
// {"id", "ok": false, "why"}.
'use strict';
const fs = require('fs');
const puppeteer = require('puppeteer-core');

const BATCH = 16;
const TIMEOUT_MS = 20000;

function decodeAll(inputs) {
  const one = (b64) => new Promise((resolve) => {
    const img = new Image();
    const done = (r) => resolve(r);
    img.onerror = () => done({ok: false, why: 'onerror'});
    img.onload = async () => {
      try {
        await img.decode();
      } catch (e) {
        return done({ok: false, why: 'decode'});
      }
      try {
        (await createImageBitmap(img)).close();
      } catch (e) {
        return done({ok: false, why: 'createImageBitmap'});
      }
      const w = img.naturalWidth, h = img.naturalHeight;
      if (!w || !h) return done({ok: false, why: 'no size'});
      const c = document.createElement('canvas');
      c.width = w;
      c.height = h;
      const g = c.getContext('2d');
      g.drawImage(img, 0, 0);
      const px = g.getImageData(0, 0, w, h).data;
      let s = '';
      for (let i = 0; i < px.length; i += 8192) s += String.fromCharCode.apply(null, px.subarray(i, i + 8192));
      done({ok: true, w, h, rgba: btoa(s)});
    };
    img.src = 'data:image/x-icon;base64,' + b64;
  });
  return Promise.all(inputs.map(one));
}

async function run(page, jobs) {
  const work = page.evaluate(decodeAll, jobs.map((j) => j.b64));
  const timer = new Promise((_, reject) => setTimeout(() => reject(new Error('timeout')), TIMEOUT_MS));
  return Promise.race([work, timer]);
}

async function main() {
  const [which, exe, jobFile] = process.argv.slice(2);
  const jobs = JSON.parse(fs.readFileSync(jobFile, 'utf8'));
  const opts = {headless: true, executablePath: exe};
  if (which === 'firefox') opts.browser = 'firefox';
  else opts.args = ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run'];
  let browser = await puppeteer.launch(opts);
  let page = await browser.newPage();
  await page.setContent('<!doctype html><title>icons</title>');
  const put = (job, r) => process.stdout.write(JSON.stringify({id: job.id, ...r}) + '\n');
  for (let i = 0; i < jobs.length; i += BATCH) {
    const batch = jobs.slice(i, i + BATCH);
    try {
      const rs = await run(page, batch);
      batch.forEach((job, k) => put(job, rs[k]));
      continue;
    } catch (e) {
      // one input hung or crashed the page: take the batch one at a time
    }
    for (const job of batch) {
      try {
        put(job, (await run(page, [job]))[0]);
      } catch (e) {
        put(job, {ok: false, why: String(e.message || e)});
        await browser.close().catch(() => {});
        browser = await puppeteer.launch(opts);
        page = await browser.newPage();
        await page.setContent('<!doctype html><title>icons</title>');
      }
    }
  }
  await browser.close();
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
