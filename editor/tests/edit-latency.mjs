// How long one edit takes to show in the editor: from the key that commits a typed value to the new
// preview painted in chromium, its coarse picture and its full one, for every example scene; the
// medians per scene, of all edits, and of the edits of the scenes without the fractal (whose samples
// are slow by nature). A benchmark, not a test (it asserts no time, and CTest does not run it):
//   node editor/tests/edit-latency.mjs [EDITS]
// with VANTREL and VANTREL_EXAMPLES set as for the browser tests; EDITS per scene (default 7) go round
// the scene's number fields (the toolbar's domain corners for a scene whose graph has none). Run it on
// an idle machine: the server's previews take its cores.
import fs from 'node:fs';
import path from 'node:path';
import { exampleScenes, examples, scratchFolder, startBrowser, startServer } from './harness.mjs';

const edits = Number(process.argv[2] ?? 7);
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const half = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
};

// In the page: the time from an Enter to the first decoded and painted preview of the edited scene
// (`first`: the coarse picture, or the full one when it replaced the coarse one before that was
// painted) and to the full one. The edit's own image is the one marked current whose address differs
// from the one shown when the key went down.
function instrument() {
  const state = (window.__latency = { t0: null, from: null, first: null, full: null });
  document.addEventListener(
    'keydown',
    (event) => {
      if (event.key !== 'Enter') return;
      Object.assign(state, {
        t0: performance.now(),
        from: document.querySelector('.preview-image')?.src ?? null,
        first: null,
        full: null,
      });
    },
    true,
  );
  new MutationObserver(() => {
    const image = document.querySelector('.preview-image');
    if (!image || state.t0 === null || image.dataset.current !== 'yes' || image.src === state.from) return;
    const { t0 } = state;
    const full = image.dataset.state === 'full';
    const src = image.src;
    if (state.full !== null || (!full && state.first !== null)) return;
    image
      .decode()
      .then(() => new Promise((painted) => requestAnimationFrame(() => painted())))
      .then(() => {
        if (state.t0 !== t0 || image.src !== src) return;
        const ms = performance.now() - t0;
        if (state.first === null) state.first = ms;
        if (full && state.full === null) state.full = ms;
      })
      .catch(() => {});
  }).observe(document, {
    subtree: true,
    attributes: true,
    attributeFilter: ['src', 'data-state', 'data-current'],
  });
}

// A nearby value the loader takes: one more or less for a whole number of 2 or more (a count), else a
// hundredth more or less (0 becomes 0.01, never 1, which would close a domain's rectangle).
const nudged = (text, i) => {
  const v = Number(text);
  if (Number.isInteger(v) && Math.abs(v) >= 2 && !text.includes('.')) return String(v + (i % 2 ? -1 : 1));
  return String(Number((v + (i % 2 ? -1 : 1) * 0.01 * Math.max(1, Math.abs(v))).toPrecision(12)));
};

const line = (name, first, full, missed = 0) =>
  console.log(
    `${name.padEnd(27)} ${String(full.length).padStart(2)} edits  coarse ${String(Math.round(median(first))).padStart(4)} ms` +
      `  full ${String(Math.round(median(full))).padStart(4)} ms${missed ? `  (${missed} missed)` : ''}`,
  );

const browser = await startBrowser();
const all = { coarse: [], full: [] };
const plain = { coarse: [], full: [] }; // the scenes without the fractal, whose samples are slow
for (const file of exampleScenes()) {
  const folder = scratchFolder([file]);
  const server = await startServer(folder, file);
  const page = await browser.context.newPage();
  page.on('pageerror', (error) => console.error(`${file}: page error: ${error.message}`));
  await page.addInitScript(instrument);
  await page.goto(server.url);
  await page.waitForSelector('.preview-image[data-state="full"][data-current="yes"]', { timeout: 60000 });
  await page.waitForTimeout(1000); // the thumbnails, curves and gradients of the first load
  let fields = page.locator('.react-flow__node input.number');
  if ((await fields.count()) === 0) fields = page.locator('.toolbar .domain input.number');
  const count = await fields.count();
  const coarse = [];
  const full = [];
  let missed = 0;
  for (let i = 0; i < edits && count > 0; ++i) {
    const field = fields.nth(i % count);
    const value = nudged(await field.inputValue(), Math.floor(i / count));
    await field.click();
    await field.fill(value);
    await field.press('Enter');
    try {
      await page.waitForFunction(() => window.__latency.full !== null, null, { timeout: 20000 });
      const times = await page.evaluate(() => window.__latency);
      coarse.push(times.first);
      full.push(times.full);
    } catch {
      ++missed;
    }
    await page.waitForTimeout(600); // the thumbnails of the edit, so that the next starts from rest
  }
  const scene = JSON.parse(fs.readFileSync(path.join(examples, file), 'utf8'));
  const fractal = scene.nodes.some((n) => n.type === 'Leapfrog fractal');
  for (const sums of fractal ? [all] : [all, plain]) {
    sums.coarse.push(...coarse);
    sums.full.push(...full);
  }
  line(file, coarse, full, missed);
  await page.close();
  server.stop();
  fs.rmSync(folder, { recursive: true, force: true });
}
await browser.close();
line('all scenes', all.coarse, all.full);
line('all but the fractal scenes', plain.coarse, plain.full);
