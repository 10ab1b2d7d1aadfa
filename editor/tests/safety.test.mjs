// A day's work in the editor loses nothing and never freezes: reloads, the leave-page prompt, edits
// kept in the browser through a killed server, a file changed on disk under the page, and previews
// that hang, stopped by the user or by the server's time limit while the page stays usable.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { scratchFolder, startBrowser, startServer } from './harness.mjs';

const TOKEN = 'editor-safety-test';
let browser;
const cleanups = [];

before(async () => {
  browser = await startBrowser();
});

after(async () => {
  for (const cleanup of cleanups.reverse()) await cleanup();
  await browser?.close();
});

// A folder of examples (or of scenes given whole), a server on it and a page opened at its address.
async function session(files, start, { scenes = {}, args = [] } = {}) {
  const folder = scratchFolder(files);
  for (const [name, scene] of Object.entries(scenes))
    fs.writeFileSync(path.join(folder, name), JSON.stringify(scene, null, 2));
  const s = { folder, server: await startServer(folder, start, { args: ['--token', TOKEN, ...args] }) };
  s.page = await browser.context.newPage();
  s.page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  // The leave-page prompt is answered by the test that expects it; any other is a fault.
  s.prompts = [];
  s.page.on('dialog', (dialog) => {
    s.prompts.push(dialog.type());
    if (!s.answerPrompt) throw new Error(`an unexpected ${dialog.type()} dialog`);
    s.answerPrompt(dialog);
  });
  cleanups.push(async () => {
    await s.page.close({ runBeforeUnload: false });
    s.server.stop();
    fs.rmSync(folder, { recursive: true, force: true });
  });
  await s.page.goto(s.server.url);
  await s.page.locator('.react-flow__node[data-id="@position"]').waitFor();
  s.read = (name) => JSON.parse(fs.readFileSync(path.join(folder, name), 'utf8'));
  s.write = (name, scene) => fs.writeFileSync(path.join(folder, name), JSON.stringify(scene, null, 2));
  s.field = (id, name) => s.page.locator(`.react-flow__node[data-id="${id}"] [data-param="${name}"] input`);
  s.dialog = s.page.locator('[role="dialog"]');
  // A choice of the page's dialog, by its button, or by a key (`{key: 'Escape'}`).
  s.choose = async (choice, text) => {
    await s.dialog.waitFor();
    if (text) assert.match(await s.dialog.innerText(), text);
    if (choice.key) await s.page.keyboard.press(choice.key);
    else await s.dialog.locator(`button[data-choice="${choice}"]`).click();
    await s.dialog.waitFor({ state: 'detached' });
  };
  s.type = async (field, text) => {
    await field.click();
    await field.fill(text);
    await field.press('Enter');
  };
  s.fileName = () => s.page.locator('.file-name').innerText();
  s.saved = () =>
    s.page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
  // An edit is kept in the browser a moment after it is taken: the file's entry, holding `text`.
  s.kept = (file, text) =>
    s.page.waitForFunction(
      ([name, held]) =>
        Object.keys(localStorage).some((key) => key.endsWith(` ${name}`) && localStorage[key].includes(held)),
      [file, text],
    );
  return s;
}

const distortion = (scene, id) => scene.nodes.find((n) => n.id === id).params.Distortion;
const withDistortion = (scene, id, value) => {
  const copy = structuredClone(scene);
  copy.nodes.find((n) => n.id === id).params.Distortion = value;
  return copy;
};

test('the secret stays with its server: out of the address, no cookie, nothing to another port', async () => {
  const s = await session(['w-distortion.json'], 'w-distortion.json');
  assert.ok(!s.page.url().includes(TOKEN), `the address still holds the secret: ${s.page.url()}`);
  assert.deepEqual(await s.page.context().cookies(), []);
  // Another server of the machine, as another account could run one, on another port.
  const seen = [];
  const other = http.createServer((request, response) => {
    seen.push(JSON.stringify(request.headers));
    response.end('<!doctype html><title>other</title>');
  });
  await new Promise((resolve) => other.listen(0, '127.0.0.1', resolve));
  try {
    const page = await s.page.context().newPage();
    await page.goto(`http://127.0.0.1:${other.address().port}/`);
    await page.close();
  } finally {
    other.close();
  }
  assert.ok(seen.length > 0);
  for (const headers of seen) assert.ok(!headers.includes(TOKEN), `sent to another port: ${headers}`);
});

test('a reload shows the file the page had open, as it is on disk now', async () => {
  const s = await session(['w-distortion.json', 'distorted-lattice.json'], 'w-distortion.json');
  await s.page.locator('.open-choice').selectOption('distorted-lattice.json');
  await s.page.locator('button', { hasText: 'Open' }).click();
  await s.page.locator('.file-name', { hasText: /^distorted-lattice\.json$/ }).waitFor();
  await s.type(s.field('tilt', 'Distortion'), '0.5');
  await s.page.locator('button', { hasText: /^Save$/ }).click();
  await s.saved();
  assert.equal(distortion(s.read('distorted-lattice.json'), 'tilt'), 0.5);

  await s.page.reload();
  await s.page.locator('.file-name', { hasText: /^distorted-lattice\.json$/ }).waitFor();
  assert.equal(await s.field('tilt', 'Distortion').inputValue(), '0.5');

  s.write('distorted-lattice.json', withDistortion(s.read('distorted-lattice.json'), 'tilt', 0.7));
  await s.page.reload();
  await s.page.locator('.file-name', { hasText: /^distorted-lattice\.json$/ }).waitFor();
  assert.equal(await s.field('tilt', 'Distortion').inputValue(), '0.7', 'the file changed on disk');
  assert.deepEqual(s.prompts, [], 'an unmodified page leaves without asking');
});

test('a modified page asks before it is reloaded, and keeps its edits when it is', async () => {
  const s = await session(['w-distortion.json'], 'w-distortion.json');
  const field = s.field('distortion', 'Distortion');
  await s.type(field, '0.25');
  await s.page.locator('.file-name', { hasText: '•' }).waitFor();
  // Stay: the page and its edit are as they were. Leave: the reloaded page offers the edit back.
  for (const leave of [false, true]) {
    const answered = new Promise((resolve) => {
      s.answerPrompt = (dialog) => resolve(leave ? dialog.accept() : dialog.dismiss());
    });
    await s.page.evaluate(() => setTimeout(() => window.location.reload(), 0));
    await answered;
    if (!leave) {
      assert.equal(await field.inputValue(), '0.25');
    } else {
      await s.choose('restore', /Unsaved changes from \d\d:\d\d/);
      assert.equal(await field.inputValue(), '0.25');
      assert.match(await s.fileName(), /w-distortion\.json •/);
    }
  }
  assert.deepEqual(s.prompts, ['beforeunload', 'beforeunload']);
});

test('unsaved edits come back after Open and after the server was killed', async () => {
  const s = await session(['w-distortion.json', 'curve3.json'], 'w-distortion.json');
  s.answerPrompt = (dialog) => dialog.accept();
  const field = s.field('distortion', 'Distortion');
  const ways = [
    {
      how: 'kept when another file was opened',
      async away() {
        await s.page.locator('.open-choice').selectOption('curve3.json');
        await s.page.locator('button', { hasText: 'Open' }).click();
        await s.choose('keep', /Unsaved changes to w-distortion\.json/);
        await s.page.locator('.file-name', { hasText: /^curve3\.json$/ }).waitFor();
        await s.page.locator('.open-choice').selectOption('w-distortion.json');
        await s.page.locator('button', { hasText: 'Open' }).click();
      },
    },
    {
      how: 'the server killed and started again on its port; Escape restores too',
      answer: { key: 'Escape' },
      async away() {
        await s.kept('w-distortion.json', '"Distortion":0.3');
        const port = s.server.port;
        await s.server.kill();
        s.server = await startServer(s.folder, 'w-distortion.json', {
          port,
          args: ['--token', TOKEN],
        });
        await s.page.reload();
      },
    },
  ];
  for (const [i, way] of ways.entries()) {
    const value = ['0.2', '0.3'][i];
    await s.type(field, value);
    await s.page.locator('.file-name', { hasText: '•' }).waitFor();
    await way.away();
    await s.choose(
      way.answer ?? 'restore',
      /changes to w-distortion\.json from \d\d:\d\d that were not saved/,
    );
    assert.equal(await field.inputValue(), value, way.how);
    assert.match(await s.fileName(), /^w-distortion\.json •$/, way.how);
  }
  await s.page.locator('button', { hasText: /^Save$/ }).click();
  await s.saved();
  assert.equal(distortion(s.read('w-distortion.json'), 'distortion'), 0.3);
  await s.page.reload();
  await s.page.locator('.preview-image[data-state="full"][data-current="yes"]').waitFor();
  assert.equal(await s.dialog.count(), 0, 'a saved edit is not offered again');
});

test('a save of a file changed on disk asks: overwrite it, load its version, or save as another', async () => {
  const s = await session(['w-distortion.json'], 'w-distortion.json');
  s.write('w-distortion-2.json', withDistortion(s.read('w-distortion.json'), 'distortion', 0.5));
  const field = s.field('distortion', 'Distortion');
  const name = s.page.locator('.save-name');
  // What each choice leaves on the disk (`files`: Distortion by file), shown and open; `undone`, what
  // one Undo then shows.
  const cases = [
    { choice: 'overwrite', ours: '0.11', theirs: 0.91, files: { 'w-distortion.json': 0.11 }, shown: '0.11' },
    {
      choice: 'load',
      ours: '0.12',
      theirs: 0.92,
      files: { 'w-distortion.json': 0.92 },
      shown: '0.92',
      undone: '0.12', // the page's version is one Undo away from the file's
    },
    {
      choice: 'rename',
      ours: '0.13',
      theirs: 0.93,
      // w-distortion-2.json is there already, and stays as it is.
      files: { 'w-distortion.json': 0.93, 'w-distortion-2.json': 0.5, 'w-distortion-3.json': 0.13 },
      shown: '0.13',
      open: 'w-distortion-3.json',
    },
  ];
  for (const c of cases) {
    await s.type(field, c.ours);
    await s.page.locator('.file-name', { hasText: '•' }).waitFor();
    s.write('w-distortion.json', withDistortion(s.read('w-distortion.json'), 'distortion', c.theirs));
    await s.page.locator('button', { hasText: /^Save$/ }).click();
    await s.choose(c.choice, /w-distortion\.json has changed on disk/);
    if (c.choice === 'rename') {
      // The name field proposes one, ready to be taken or typed over.
      await s.page.waitForFunction(
        (proposed) =>
          document.activeElement?.matches('.save-name') && document.activeElement.value === proposed,
        c.open,
      );
      await name.press('Enter');
    }
    await s.saved();
    for (const [file, value] of Object.entries(c.files))
      assert.equal(distortion(s.read(file), 'distortion'), value, `${c.choice}: ${file}`);
    assert.equal(await field.inputValue(), c.shown, c.choice);
    const open = c.open ?? 'w-distortion.json';
    assert.equal(await s.fileName(), open, c.choice);
    assert.equal(await s.page.locator('.open-choice').inputValue(), open, `${c.choice}: the file list`);
    if (c.undone) {
      await s.page.locator('button', { hasText: 'Undo' }).click();
      assert.equal(await field.inputValue(), c.undone, c.choice);
    }
  }
});

// A fractal that never finishes a sample (Radius 0: no mirror image falls below it) feeding five
// other nodes: seven renders that hang, the preview and six thumbnails.
function hangingScene(iterations) {
  const nodes = [
    {
      id: 'fractal',
      type: 'Leapfrog fractal',
      params: { A: { link: '@position' }, Radius: 0, Iterations: iterations },
    },
  ];
  for (let i = 1; i <= 5; ++i) {
    nodes.push({
      id: `w${i}`,
      type: 'W Distortion',
      params: { Position: { link: '@position' }, Distortion: { link: i === 1 ? 'fractal' : `w${i - 1}` } },
    });
  }
  return { format: 'vantrel-scene/1', nodes, output: 'w5', domain: { kind: 'sphere' } };
}

// The server's preview processes (any of its threads may start one).
const workers = (pid) =>
  fs
    .readdirSync('/proc')
    .filter((entry) => /^\d+$/.test(entry))
    .filter((entry) => {
      try {
        return fs.readFileSync(`/proc/${entry}/stat`, 'utf8').split(') ')[1].split(' ')[1] === String(pid);
      } catch {
        return false; // ended meanwhile
      }
    })
    .sort()
    .join(' ');

test('a hanging preview leaves Save answered, and Stop ends it in the server', async () => {
  const s = await session([], 'hang.json', {
    scenes: { 'hang.json': hangingScene(2000000000) },
    args: ['--time-limit', '120'],
  });
  const status = s.page.locator('.render-status');
  // A second of rendering: the thumbnails, a quarter of a second behind the preview, have started too.
  const aSecond = () =>
    s.page.waitForFunction(() =>
      /^[1-9]\d* s$/.test(document.querySelector('.render-status b')?.textContent),
    );
  await aSecond();
  // The graph takes edits while the renders hang, and the file is saved.
  await s.type(s.page.locator('[data-node="fractal"] [data-param="B"] input').first(), '0.5');
  await s.page.locator('.file-name', { hasText: '•' }).waitFor();
  await aSecond();
  await s.page.locator('button', { hasText: /^Save$/ }).click();
  await s.saved();
  assert.deepEqual(s.read('hang.json').nodes[0].params.B, [0.5, 1, 0]);
  assert.equal(await status.getAttribute('data-state'), 'rendering', 'saved while the preview renders');

  const running = workers(s.server.pid);
  await s.page.locator('.stop-render').click();
  await s.page.locator('.render-status[data-state="stopped"]').waitFor();
  for (let waited = 0; workers(s.server.pid) === running; waited += 100) {
    assert.ok(waited < 20000, 'the stopped preview ends its process in the server');
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
});

test('a preview past the time limit says so and names the edit that made it slow', async () => {
  const s = await session([], 'fractal.json', {
    scenes: { 'fractal.json': hangingScene(10) },
    // Long enough for the scene's full picture on a loaded machine, short beside a minute's sample.
    args: ['--time-limit', '3'],
  });
  await s.page.locator('.preview-image[data-state="full"][data-current="yes"]').waitFor();
  const iterations = s.field('fractal', 'Iterations');
  await s.type(iterations, '2000000000');
  // A further edit while it renders, once the slow one is a step of the history: the slow one is still
  // the one named.
  await s.page.waitForFunction(() => !document.querySelector('button[title^="Undo"]').disabled);
  await s.type(s.page.locator('[data-node="fractal"] [data-param="B"] input').first(), '0.5');
  const status = s.page.locator('.render-status[data-state="failed"]');
  await status.waitFor({ timeout: 20000 });
  assert.match(
    await status.innerText(),
    /took longer than 3 s and was stopped after the edit fractal › Iterations = 2000000000 *Render again$/,
  );
  // The page goes on: the slow edit undone, the preview is whole again.
  await s.type(iterations, '10');
  await s.page.locator('.preview-image[data-state="full"][data-current="yes"]').waitFor();
  assert.equal(await s.page.locator('.render-status').count(), 0);
});
