// How long one edit takes to show in the editor: from the key that commits a typed value to the new
// preview on screen, first the coarse picture and then the full one, in chromium, for every example
// scene. A measurement, not a test:
//   node editor/tests/edit-latency.mjs [EDITS]
// with VANTREL and VANTREL_EXAMPLES set as for the browser tests; EDITS per scene (default 7) go round
// the scene's number fields (the toolbar's domain corners for a scene whose graph has none).
import fs from 'node:fs';
import { examples, scratchFolder, startBrowser, startServer } from './harness.mjs';

const edits = Number(process.argv[2] ?? 7);
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const half = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
};

// In the page: the time from an Enter to the first decoded and painted preview of the edited scene, for
// its coarse and its full state. The edit's own image is the one marked current whose address differs
// from the one shown when the key went down.
function instrument() {
  const state = (window.__latency = { t0: null, from: null, coarse: null, full: null });
  document.addEventListener(
    'keydown',
    (event) => {
      if (event.key !== 'Enter') return;
      Object.assign(state, {
        t0: performance.now(),
        from: document.querySelector('.preview-image')?.src ?? null,
        coarse: null,
        full: null,
      });
    },
    true,
  );
  new MutationObserver(() => {
    const image = document.querySelector('.preview-image');
    if (!image || state.t0 === null || image.dataset.current !== 'yes' || image.src === state.from) return;
    const { t0 } = state;
    const which = image.dataset.state;
    const src = image.src;
    if (state[which] !== null) return;
    image
      .decode()
      .then(() => new Promise((painted) => requestAnimationFrame(() => painted())))
      .then(() => {
        if (state.t0 === t0 && state[which] === null && image.src === src)
          state[which] = performance.now() - t0;
      })
      .catch(() => {});
  }).observe(document, {
    subtree: true,
    attributes: true,
    attributeFilter: ['src', 'data-state', 'data-current'],
  });
}

// A nearby value the loader takes: one more for a whole number, a percent more for a real.
const nudged = (text, i) => {
  const v = Number(text);
  if (Number.isInteger(v) && !text.includes('.')) return String(v + (i % 2 ? -1 : 1));
  return String(Number((v + (i % 2 ? -1 : 1) * 0.01 * Math.max(1, Math.abs(v))).toPrecision(12)));
};

const browser = await startBrowser();
const all = { coarse: [], full: [] };
for (const file of fs
  .readdirSync(examples)
  .filter((name) => name.endsWith('.json'))
  .sort()) {
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
      if (times.coarse !== null) coarse.push(times.coarse);
      full.push(times.full);
    } catch {
      ++missed;
    }
    await page.waitForTimeout(600); // the thumbnails of the edit, so that the next starts from rest
  }
  all.coarse.push(...coarse);
  all.full.push(...full);
  console.log(
    `${file.padEnd(26)} ${String(full.length).padStart(2)} edits  coarse ${Math.round(median(coarse))
      .toString()
      .padStart(
        4,
      )} ms  full ${Math.round(median(full)).toString().padStart(4)} ms${missed ? `  (${missed} missed)` : ''}`,
  );
  await page.close();
  server.stop();
  fs.rmSync(folder, { recursive: true, force: true });
}
await browser.close();
console.log(
  `all scenes ${all.full.length} edits  coarse ${Math.round(median(all.coarse))} ms  full ${Math.round(median(all.full))} ms`,
);
