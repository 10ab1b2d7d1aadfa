// What one edit in the editor costs the server: the requests the page sends for it, and the CPU time
// of the server and its preview workers, from the edit until the page is idle again, for every
// example scene. A measurement, not a test: `node editor/tests/edit-cost.mjs` with VANTREL and
// VANTREL_EXAMPLES set as for the browser tests.
import fs from 'node:fs';
import path from 'node:path';
import { exampleScenes, scratchFolder, startBrowser, startServer } from './harness.mjs';

const edits = 5; // per scene; the medians are printed
const ticks = 100; // clock ticks a second, as /proc counts CPU time

// The CPU time of the server and of the processes it started (its preview workers), which are not
// waited for and so not counted in its own children's times.
const cpuSeconds = (pid) => {
  let ticksUsed = 0;
  for (const entry of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    let fields;
    try {
      fields = fs.readFileSync(`/proc/${entry}/stat`, 'utf8').split(') ')[1].split(' ');
    } catch {
      continue; // ended meanwhile
    }
    if (Number(entry) === pid || Number(fields[1]) === pid)
      ticksUsed += Number(fields[11]) + Number(fields[12]); // utime and stime
  }
  return ticksUsed / ticks;
};
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function idle(page, requests, quiet = 400) {
  for (let last = requests.length, since = Date.now(); ;) {
    await page.waitForTimeout(50);
    if (requests.length !== last) [last, since] = [requests.length, Date.now()];
    else if (
      Date.now() - since > quiet &&
      !(await page.evaluate(() => document.querySelector('.preview-image')?.dataset.state === 'coarse'))
    )
      return;
  }
}

const browser = await startBrowser();
const rows = [];
for (const file of exampleScenes()) {
  const folder = scratchFolder([file]);
  const server = await startServer(folder, file);
  const page = await browser.context.newPage();
  const requests = [];
  page.on(
    'request',
    (request) => request.url().includes('/api/') && requests.push(new URL(request.url()).pathname),
  );
  await page.goto(server.url);
  await page.waitForSelector('.preview-image[data-state="full"]', { timeout: 60000 });
  await idle(page, requests);
  // The first number field of the graph: each edit types a slightly different value into it.
  const field = page.locator('.react-flow__node input.number').first();
  if ((await field.count()) === 0) {
    rows.push({ scene: file, requests: '-', cpuMs: '-', last: 'no number field to edit' });
    await page.close();
    server.stop();
    continue;
  }
  const start = Number(await field.inputValue());
  const counts = [];
  const seconds = [];
  for (let i = 1; i <= edits; ++i) {
    requests.length = 0;
    const before = cpuSeconds(server.pid);
    await field.fill(String(Number.isInteger(start) ? start + i : start + i * 0.01));
    await field.press('Enter');
    await idle(page, requests);
    counts.push(requests.length);
    seconds.push(cpuSeconds(server.pid) - before);
  }
  const kinds = {};
  for (const r of requests) kinds[r] = (kinds[r] ?? 0) + 1;
  rows.push({
    scene: file,
    requests: median(counts),
    cpuMs: Math.round(median(seconds) * 1000),
    last: kinds,
  });
  await page.close();
  server.stop();
  fs.rmSync(folder, { recursive: true, force: true });
}
await browser.close();
for (const row of rows)
  console.log(
    `${row.scene.padEnd(26)} ${String(row.requests).padStart(3)} requests ${String(row.cpuMs).padStart(5)} ms CPU  ${JSON.stringify(row.last)}`,
  );
