// A page that explains itself, in a real browser against the real `vantrel serve`: labels and notes of
// what changes nothing, pictures in their node's own type, a node found by typing and added beside the
// selected one, copies, the warning of a costly save, the plane fitted to whole lattice periods, and the
// layout at 1024 x 768. Saved files are checked against vantrel render and eval.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { currentPreview, endSession, openPage, run, userSteps, waitForPreview } from './harness.mjs';

const MODE = '(2=plane, 3=sphere)(how to make list box]';
let folder;
let server;
let browser;
let page;

before(async () => {
  ({ folder, server, browser, page } = await openPage(
    ['hex-lattice-plane.json', 'leapfrog-fractal.json'],
    'hex-lattice-plane.json',
  ));
  await waitForPreview(page, null);
});

after(() => endSession({ browser, server, folder }));

const { node, readScene, save, open, typeInto, assertPreviewIsRender } = userSteps(() => ({ page, folder }));
const member = (id, kind, name) => node(id).locator(`[data-${kind}="${name}"]`);
// The graph's zoom, from the transform of its viewport.
const zoom = () =>
  page.evaluate(
    () => new DOMMatrix(getComputedStyle(document.querySelector('.react-flow__viewport')).transform).a,
  );

test('labels and hints from the data; what changes nothing says why, as the scene stands', async () => {
  const rows = [
    // The plane lattice seen as its weight sum.
    { kind: 'param', name: 'Subdivision', label: 'Subdivision', idle: /spacing 1/ },
    { kind: 'param', name: 'Rescale result?', label: 'Average the corners', idle: /weight sum/ },
    { kind: 'param', name: MODE, label: 'plane / sphere', idle: null },
    { kind: 'curve', name: 'W1', label: 'W1 · nearest corner', idle: null, range: 'input 0 .. 0.577' },
    { kind: 'curve', name: 'W3', label: 'W3 · farthest corner', idle: null, range: 'input 0.577 .. 1' },
  ];
  const check = async (row, idle) => {
    const element = member('lattice', row.kind, row.name);
    const label = row.kind === 'param' ? '.param-name' : '.member-label';
    assert.equal(await element.locator(label).first().innerText(), row.label);
    const note = element.locator('.member-note.idle');
    if (idle) assert.match(await note.innerText(), idle, row.name);
    else assert.equal(await note.count(), 0, row.name);
    if (row.range) assert.equal(await element.locator('.range-note').innerText(), row.range);
  };
  for (const row of rows) await check(row, row.idle);
  assert.match(
    await member('lattice', 'param', 'Subdivision').locator('.param-name').getAttribute('title'),
    /Sphere only/,
  );
  // On the sphere Subdivision counts; the weight sum still does not depend on Rescale.
  await member('lattice', 'param', MODE).locator('select').selectOption({ label: 'sphere' });
  await member('lattice', 'param', 'Subdivision').locator('.member-note').waitFor({ state: 'detached' });
  await check(rows[1], rows[1].idle);
  await page.locator('button', { hasText: 'Undo' }).click();
  await member('lattice', 'param', 'Subdivision').locator('.member-note').waitFor();
});

test('a node found by typing goes beside the selected one, wired from it, in its own type', async () => {
  const before = await zoom();
  await node('lattice').locator('.node-id').click();
  const source = await currentPreview(page);
  await typeInto(page.locator('.find-node'), 'palette');
  await node('vector-to-color').waitFor();
  // Wired from the lattice, the output now, seen in its own type (colour), the zoom as it was.
  assert.match(await member('vector-to-color', 'param', 'In').innerText(), /lattice/);
  await page.locator('.preview-bar b', { hasText: 'vector-to-color' }).waitFor();
  await waitForPreview(page, source);
  assert.equal(await page.locator('select.output-type').getAttribute('data-type'), 'color');
  assert.equal(await zoom(), before);
  const [lattice, added] = [await node('lattice').boundingBox(), await node('vector-to-color').boundingBox()];
  assert.ok(added.x > lattice.x + lattice.width, 'to the right of the lattice');
  // Each picture in its node's own type: the lattice's is its weight sum.
  const thumbs = { lattice: 'double', 'vector-to-color': 'color' };
  for (const [id, type] of Object.entries(thumbs))
    assert.equal(await node(id).locator('img.thumb').getAttribute('data-type'), type);
  // The wire says it carries the lattice's blended corner, not the weight sum its picture shows.
  const hint = page.locator('.wire-hint[data-wire="lattice->vector-to-color:In"]');
  assert.match(await hint.innerText(), /blended corner position/);
  assert.match(await hint.getAttribute('title'), /Its picture shows the weight sum/);

  // A palette reversed with one click.
  const gradient = member('vector-to-color', 'gradient', 'X color');
  await gradient.locator('select.palette-preset').selectOption({ label: 'Magma' });
  await gradient.locator('button.reverse').click();
  // Duplicated with Ctrl+D, copied and pasted: the copies read the lattice too,
  // and are brought into view.
  await node('vector-to-color').locator('.node-id').click();
  await page.keyboard.press('Control+d');
  await node('vector-to-color-2').waitFor();
  await page.keyboard.press('Control+c');
  await page.keyboard.press('Control+v');
  await node('vector-to-color-3').waitFor();
  for (const id of ['vector-to-color-2', 'vector-to-color-3'])
    assert.match(await member(id, 'param', 'In').innerText(), /lattice/);

  await save();
  assert.match(await page.locator('.save-notice').innerText(), /^saved at \d\d:\d\d$/);
  const scene = readScene('hex-lattice-plane.json');
  const stops = scene.nodes.find((n) => n.id === 'vector-to-color').gradients['X color'];
  assert.deepEqual(stops[0][1], [0.9708, 0.980633, 0.521749], "Magma's last colour first");
  assert.deepEqual([scene.output, scene.output_type], ['vector-to-color', 'color']);
  await waitForPreview(page, null);
  await assertPreviewIsRender('hex-lattice-plane.json');
});

test('a save of a costly value warns of the render it makes, and of a preview stopped', async () => {
  await open('leapfrog-fractal.json');
  const field = member('fractal', 'param', 'Iterations').locator('input');
  const rows = [
    { value: '100', warning: null },
    {
      value: '2000000000',
      warning: /fractal › Iterations is 2000000000: .* about 1\.5 minutes, .* up to \d+(\.\d+)? days/,
    },
  ];
  for (const row of rows) {
    await typeInto(field, row.value);
    await page.locator('.file-name', { hasText: '•' }).waitFor();
    await save();
    const box = page.locator('.save-warnings');
    if (!row.warning) {
      assert.equal(await box.count(), 0);
      continue;
    }
    assert.match(await box.innerText(), row.warning);
    assert.match(
      await member('fractal', 'param', 'Iterations').locator('.member-note.costly').innerText(),
      /1\.5 minutes/,
    );
  }
  // The preview that never ends is stopped by the server; saved again, the note says so too.
  await page.locator('.render-status[data-state="failed"]').waitFor({ timeout: 30000 });
  await typeInto(member('fractal', 'param', 'Radius').locator('input'), '0.6');
  await save();
  assert.match(await page.locator('.save-warnings').innerText(), /stopped by the server's time limit/);
  await typeInto(field, '60');
  await save();
});

test('the tiled plane fitted to whole lattice periods repeats without a seam', async () => {
  await open('hex-lattice-plane.json');
  await page.locator('.tiles-view').check();
  // The output is vector to color of the blended corner: no period; the lattice's own picture has one.
  assert.match(await page.locator('.period-fit').innerText(), /cannot repeat/);
  let source = await currentPreview(page);
  await node('lattice').locator('.make-output').click();
  await page.locator('.preview-bar b', { hasText: /^lattice$/ }).waitFor();
  await waitForPreview(page, source);
  source = await currentPreview(page);
  await page.locator('button.fit-periods').click();
  await page.locator('.period-fit[data-state="fitted"]').waitFor();
  await waitForPreview(page, source);
  await save();
  const { domain } = readScene('hex-lattice-plane.json');
  const [w, h] = [domain.max[0] - domain.min[0], domain.max[1] - domain.min[1]];
  assert.ok(Number.isInteger(Math.round(w)) && Math.abs(w - Math.round(w)) < 1e-12, `width ${w}`);
  assert.ok(Math.abs(h / Math.sqrt(3) - Math.round(h / Math.sqrt(3))) < 1e-12, `height ${h}`);
  // A point and the point a domain's width or height away give the same weight sum.
  const points = [
    [0.13, 0.41],
    [-2.71, 1.05],
    [4.4, -0.77],
  ];
  const input = points.flatMap(([x, y]) => [`${x} ${y} 0`, `${x + w} ${y} 0`, `${x} ${y + h} 0`]).join('\n');
  const evaluated = await run(['eval', 'hex-lattice-plane.json'], { cwd: folder, input });
  assert.equal(evaluated.status, 0, evaluated.stderr);
  const values = evaluated.stdout.trim().split('\n').map(Number);
  for (let i = 0; i < values.length; i += 3) {
    assert.ok(
      Math.abs(values[i] - values[i + 1]) < 1e-9 && Math.abs(values[i] - values[i + 2]) < 1e-9,
      `${values.slice(i, i + 3)}`,
    );
  }
  await assertPreviewIsRender('hex-lattice-plane.json');
});

test('at 1024 x 768, whatever the preview and the file name, every node can be reached', async () => {
  await page.setViewportSize({ width: 1024, height: 768 });
  const toolbar = async () => (await page.locator('.toolbar').boundingBox()).height;
  const short = await toolbar();
  await page.locator('.save-name').fill('a-scene-file-with-a-name-much-longer-than-the-field.json');
  await page.locator('button', { hasText: 'Save as' }).click();
  await page.locator('.file-name', { hasText: 'a-scene-file' }).waitFor();
  assert.equal(await toolbar(), short, 'the toolbar keeps its rows');
  for (const width of ['512', '1024']) {
    await page.locator('select.preview-width').selectOption(width);
    await page.locator('.react-flow__controls-fitview').click();
    await page.waitForTimeout(300);
    const graph = await page.locator('.graph').boundingBox();
    assert.ok(graph.width >= 420, `the graph is ${graph.width} wide beside a ${width} preview`);
    for (const box of await page.locator('.react-flow__node').all()) {
      const b = await box.boundingBox();
      assert.ok(
        b.x >= graph.x && b.x + b.width <= graph.x + graph.width + 1,
        `${await box.getAttribute('data-id')}`,
      );
    }
  }
});
