// What the browser tests stand on: `vantrel serve` started as a user starts it, on a copy of an example
// in a folder of its own, and Debian's chromium driven by playwright-core (never a downloaded browser).
import { spawn } from 'node:child_process';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { PNG } from 'pngjs';
import { chromium } from 'playwright-core';

if (!process.env.VANTREL || !process.env.VANTREL_EXAMPLES) {
  throw new Error('VANTREL (the executable) and VANTREL_EXAMPLES (the folder) must be set');
}
// Absolute, as vantrel runs in the scene's folder.
export const vantrel = path.resolve(process.env.VANTREL);
export const examples = path.resolve(process.env.VANTREL_EXAMPLES);

// The example scenes' file names, in order.
export const exampleScenes = () =>
  fs
    .readdirSync(examples)
    .filter((name) => name.endsWith('.json'))
    .sort();

export function scratchFolder(files) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-editor-'));
  for (const file of files) fs.copyFileSync(path.join(examples, file), path.join(folder, file));
  return folder;
}

// Starts the server (on a free port, unless `port` names one) and answers its address, read from the
// line it prints first. `args` are further options (`--token`, `--time-limit`).
export async function startServer(folder, scene, { port = 0, args = [] } = {}) {
  const server = spawn(vantrel, ['serve', scene, '--port', String(port), ...args], {
    cwd: folder,
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stderr = '';
  server.stderr.on('data', (chunk) => (stderr += chunk));
  const lines = readline.createInterface({ input: server.stdout });
  const first = await new Promise((resolve, reject) => {
    lines.once('line', resolve);
    server.once('exit', (code) => reject(new Error(`vantrel serve ended with ${code}: ${stderr}`)));
    server.once('error', reject);
  });
  const match = /open (http:\/\/127\.0\.0\.1:(\d+)\/)\?token=([-0-9a-zA-Z._~]+) in a browser/.exec(first);
  if (!match) throw new Error(`vantrel serve printed "${first}"`);
  // `url` opens the page as a user does, with the secret; `origin` is the server's own address.
  const ended = new Promise((resolve) => server.once('exit', resolve));
  return {
    url: `${match[1]}?token=${match[3]}`,
    origin: match[1],
    port: Number(match[2]),
    token: match[3],
    pid: server.pid,
    stop: () => server.kill('SIGTERM'),
    // Ends it at once, as a crash would, and waits until it has.
    kill: () => {
      server.kill('SIGKILL');
      return ended;
    },
    stderr: () => stderr,
  };
}

export async function startBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1680, height: 960 },
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      // Screenshots in sRGB, whatever the machine's display: the colour tests read their pixels.
      '--force-color-profile=srgb',
    ],
  });
  return {
    context,
    close: async () => {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A server on copies of the examples `files`, started on `start`, and its page opened in chromium,
// whose errors go to the test's output.
export async function openPage(files, start) {
  const folder = scratchFolder(files);
  const server = await startServer(folder, start);
  const browser = await startBrowser();
  const page = await browser.context.newPage();
  page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  await page.goto(server.url);
  return { folder, server, browser, page };
}

export const decodePng = (bytes) => PNG.sync.read(bytes);

// Runs vantrel to its end, with `input` on its standard input; answers its status, output and error.
export function run(args, { input = '', cwd } = {}) {
  return new Promise((resolve) => {
    const child = spawn(vantrel, args, { cwd, stdio: ['pipe', 'pipe', 'pipe'] });
    child.stdin.end(input);
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (chunk) => (stdout += chunk));
    child.stderr.on('data', (chunk) => (stderr += chunk));
    child.on('exit', (status) => resolve({ status, stdout, stderr }));
  });
}

// The address of the preview's image on `page`, or null.
export const currentPreview = (page) =>
  page.evaluate(() => document.querySelector('.preview-image')?.src ?? null);

// Waits for the preview to show the finished image of the scene as it is now, other than `old`, and
// answers its PNG's bytes.
export async function waitForPreview(page, old) {
  await page
    .waitForFunction(
      (previous) => {
        const image = document.querySelector('.preview-image');
        return (
          image && image.src !== previous && image.dataset.state === 'full' && image.dataset.current === 'yes'
        );
      },
      old,
      { timeout: 30000 },
    )
    .catch(async (error) => {
      // Why not, as the page says it.
      const status = await page.evaluate(
        () => document.querySelector('.render-status')?.innerText ?? 'no status',
      );
      const image = await page.evaluate(() =>
        JSON.stringify(document.querySelector('.preview-image')?.dataset),
      );
      throw new Error(`${error.message}; the preview: ${status}; its image: ${image}`);
    });
  return shownPreview(page);
}

// The PNG bytes of the image the preview shows.
export async function shownPreview(page) {
  const base64 = await page.evaluate(async () => {
    const image = document.querySelector('.preview-image');
    const bytes = new Uint8Array(await (await fetch(image.src)).arrayBuffer());
    let text = '';
    for (const b of bytes) text += String.fromCharCode(b);
    return btoa(text);
  });
  return Buffer.from(base64, 'base64');
}

// Ends what a test file started: its browser, its server and its folder.
export async function endSession({ browser, server, folder }) {
  await browser?.close();
  server?.stop();
  if (folder) fs.rmSync(folder, { recursive: true, force: true });
}

// What the page tests do as a user and check after, for the page and scene folder `session()` answers
// (read when called, as a test file's `before` sets them): a node's box, the scene file read back,
// Save, Open, a value typed, and the preview against `vantrel render` of the saved file.
export function userSteps(session) {
  const at = () => session();
  const node = (id) => at().page.locator(`.react-flow__node[data-id="${id}"]`);
  const readScene = (name) => JSON.parse(fs.readFileSync(path.join(at().folder, name), 'utf8'));
  const saved = () =>
    at().page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
  return {
    node,
    readScene,
    saved,
    // Save, and the server's answer to it: the file is written when this returns.
    async save() {
      const { page } = at();
      const answered = page.waitForResponse((response) => new URL(response.url()).pathname === '/api/save');
      await page.locator('button', { hasText: /^Save$/ }).click();
      await answered;
      await saved();
    },
    async open(file) {
      const { page } = at();
      await page.locator('.open-choice').selectOption(file);
      await page.locator('button', { hasText: /^Open$/ }).click();
      await page.locator('.file-name', { hasText: file }).waitFor();
    },
    async typeInto(field, text) {
      await field.click();
      await field.fill(text);
      await field.press('Enter');
    },
    // The preview's pixels are those of `vantrel render` of the saved `file` at its size, with `args`.
    async assertPreviewIsRender(file, args = []) {
      const { page, folder } = at();
      const image = page.locator('.preview-image');
      const size = `${await image.getAttribute('data-width')}x${await image.getAttribute('data-height')}`;
      const out = `${path.basename(file, '.json')}-${Date.now()}.png`;
      const result = await run(['render', file, '-o', out, '--size', size, ...args], { cwd: folder });
      assert.equal(result.status, 0, result.stderr);
      const theirs = decodePng(fs.readFileSync(path.join(folder, out)));
      const ours = decodePng(await shownPreview(page));
      assert.deepEqual([ours.width, ours.height], [theirs.width, theirs.height]);
      assert.ok(ours.data.equals(theirs.data), `the pixels of vantrel render ${[file, ...args].join(' ')}`);
    },
  };
}
