// What the page shows of colours, types, places, presets, recipes and the views of the picture, in a
// real browser against the real `vantrel serve`, checked against the PNG writer's transfer and against
// what vantrel renders of the saved scene.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  currentPreview,
  decodePng,
  endSession,
  examples,
  scratchFolder,
  shownPreview,
  startBrowser,
  startServer,
  userSteps,
  waitForPreview,
} from './harness.mjs';

let folder;
let server;
let browser;
let page;
const errors = [];

// A gradient of one grey: whatever colour its two stops are given, the picture is that colour, flat.
const flat = {
  format: 'vantrel-scene/1',
  nodes: [
    {
      id: 'paint',
      type: 'Vector to color',
      params: { In: { link: '@position' }, Weights: [1, 0, 0, 0] },
      gradients: {
        'X color': [
          [0, [0.2, 0.2, 0.2]],
          [1, [0.2, 0.2, 0.2]],
        ],
      },
    },
  ],
  output: 'paint',
  domain: { kind: 'plane', min: [0, 0], max: [1, 1] },
};

before(async () => {
  folder = scratchFolder(['hex-lattice-plane.json']);
  fs.writeFileSync(path.join(folder, 'flat.json'), JSON.stringify(flat, null, 1));
  // A lattice that names its type: the editor opens it in that type.
  const lattice = JSON.parse(fs.readFileSync(path.join(folder, 'hex-lattice-plane.json'), 'utf8'));
  fs.writeFileSync(path.join(folder, 'lattice.json'), JSON.stringify({ ...lattice, output_type: 'double' }));
  // Pictures of 3 x 3 samples a pixel on a machine shared with others: no time limit to hit here (the
  // safety tests test it).
  server = await startServer(folder, 'flat.json', { args: ['--time-limit', '120'] });
  browser = await startBrowser();
  page = await browser.context.newPage();
  page.on('pageerror', (error) => errors.push(`page error: ${error.message}`));
  // A render given up for a newer one answers 409, which the browser logs as a failed load: the page
  // expects it; anything else logged as an error is one.
  page.on('console', (message) => {
    const text = message.text();
    if (message.type() === 'error' && !/^Failed to load resource: .* 409 /.test(text)) errors.push(text);
  });
  await page.goto(server.url);
});

after(() => endSession({ browser, server, folder }));

const { node, readScene, save, open, assertPreviewIsRender } = userSteps(() => ({ page, folder }));

// The colour the screen shows at the middle of an element (or at a fraction of it), as [r, g, b].
async function screenColour(locator, fx = 0.5, fy = 0.5) {
  const box = await locator.boundingBox();
  const x = Math.floor(box.x + box.width * fx);
  const y = Math.floor(box.y + box.height * fy);
  const shot = decodePng(await page.screenshot({ clip: { x, y, width: 1, height: 1 } }));
  return [...shot.data.subarray(0, 3)];
}

const near = (got, want, what) =>
  assert.ok(
    got.every((v, i) => Math.abs(v - want[i]) <= 1),
    `${what}: (${got}) on the screen, (${want}) wanted`,
  );

// The sRGB transfer inverted, as an independent reading of what a display byte stands for.
const linear = (byte) => {
  const e = byte / 255;
  return e <= 0.04045 ? e / 12.92 : ((e + 0.055) / 1.055) ** 2.4;
};

test('a stop picked or typed in display hex shows as that colour on the bar and in the preview', async () => {
  await waitForPreview(page, null);
  const want = [0xff, 0x8c, 0x1a];
  const gradient = node('paint').locator('[data-gradient="X color"]');
  const ways = [
    { stop: 0, how: 'the picker', set: () => gradient.locator('input[type="color"]').fill('#ff8c1a') },
    {
      stop: 1,
      how: 'the hex field',
      set: async () => {
        await gradient.locator('input.hex').fill('#ff8c1a');
        await gradient.locator('input.hex').press('Enter');
      },
    },
  ];
  for (const way of ways) {
    const source = await currentPreview(page);
    await gradient.locator(`.stop[data-index="${way.stop}"]`).click();
    await way.set();
    await waitForPreview(page, source);
    near(await screenColour(gradient.locator(`.stop[data-index="${way.stop}"]`), 0.5, 0.7), want, way.how);
    assert.equal(await gradient.locator('input.hex').inputValue(), '#ff8c1a', way.how);
  }
  // Both stops the same: the gradient and the picture are flat.
  near(await screenColour(gradient.locator('canvas.bar')), want, 'the bar');
  near(await screenColour(page.locator('.preview-image')), want, 'the preview');
  near(await screenColour(page.locator('.preview-image'), 0.1, 0.9), want, "the preview's corner");
  await save();
  // Stored linear: each channel reads back to the byte it was picked as.
  for (const [, rgb] of readScene('flat.json').nodes[0].gradients['X color']) {
    rgb.forEach((v, c) => assert.ok(Math.abs(v - linear(want[c])) < 1e-5, `${v} for ${want[c]}`));
  }
});

test("the scene's output type is the preview's, rendered as vantrel renders the saved scene", async () => {
  await open('lattice.json');
  const type = page.locator('select.output-type');
  await waitForPreview(page, null);
  assert.equal(await type.inputValue(), '', "following the lattice's own type");
  // Followed (the lattice's own: its weight sum), then pinned.
  const rows = [
    { choose: '', type: 'double', seen: 'grey', grey: true },
    { choose: 'vec3', type: 'vec3', seen: 'x y z as red green blue', grey: false },
    { choose: 'color', type: 'color', seen: 'colour', grey: false },
  ];
  for (const row of rows) {
    const source = await currentPreview(page);
    if ((await type.inputValue()) !== row.choose) {
      await type.selectOption(row.choose);
      await waitForPreview(page, source);
    }
    assert.equal(await page.locator('.seen-as').innerText(), row.seen);
    const png = decodePng(await shownPreview(page));
    let grey = true;
    for (let i = 0; i < png.data.length; i += 4) {
      grey &&= png.data[i] === png.data[i + 1] && png.data[i + 1] === png.data[i + 2];
    }
    assert.equal(grey, row.grey, `${row.type} as grey`);
    await save();
    assert.equal(readScene('lattice.json').output_type, row.type);
    // No --type: the scene's own.
    await assertPreviewIsRender('lattice.json', []);
  }
  await type.selectOption('');
  await save();
});

test('the places of the boxes are saved as the layout and restored on opening', async () => {
  const id = await page
    .locator('.react-flow__node[data-id]:not([data-id="@position"])')
    .first()
    .getAttribute('data-id');
  const header = node(id).locator('.node-header .node-id');
  const box = await header.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 90, box.y + box.height / 2 + 60, { steps: 8 });
  await page.mouse.up();
  await page.locator('.file-name', { hasText: '•' }).waitFor();
  await save();
  const layout = readScene('lattice.json').layout;
  const place = async () =>
    node(id).evaluate((element) => {
      const m = new DOMMatrix(getComputedStyle(element).transform);
      return [Math.round(m.e), Math.round(m.f)];
    });
  assert.deepEqual(layout[id], await place(), 'the place on screen, in whole pixels of the graph');
  assert.ok(Array.isArray(layout['@position']), 'every box, the sample position too');
  await open('flat.json');
  await open('lattice.json');
  assert.deepEqual(await place(), layout[id], 'the box where the file says');

  // The description, typed.
  const description = page.locator('.scene-description');
  await description.fill('a lattice seen as a number');
  await description.press('Enter');
  await save();
  assert.equal(readScene('lattice.json').description, 'a lattice seen as a number');
});

test('presets fitted to the curve and gradient they are put in', async () => {
  const types = await (
    await fetch(new URL('/api/types', server.origin), { headers: { 'X-Vantrel-Token': server.token } })
  ).json();
  const lattice = types.types.find((t) => t.name === 'Hexagonal lattice 3D(1)');
  const curves = JSON.parse(fs.readFileSync(path.join(examples, 'presets/curves.json'), 'utf8')).curves;
  const palettes = JSON.parse(fs.readFileSync(path.join(examples, 'presets/palettes.json'), 'utf8')).palettes;
  const id = (await readScene('lattice.json')).nodes.find((n) => n.type === lattice.name).id;
  const rows = [
    ...['W1', 'W3'].map((name) => ({ kind: 'curves', name, preset: 'Soft dot' })),
    { kind: 'curves', name: 'W2', preset: 'Hard step' },
  ];
  for (const row of rows) {
    const {
      inputRange: [low, high],
    } = lattice.curves.find((c) => c.name === row.name);
    await node(id)
      .locator(`[data-curve="${row.name}"] select.curve-preset`)
      .selectOption({ label: row.preset });
    await page.locator('.file-name', { hasText: '•' }).waitFor();
    await save();
    const points = curves.find((c) => c.name === row.preset).points;
    assert.deepEqual(
      readScene('lattice.json').nodes.find((n) => n.id === id).curves[row.name],
      points.map(([x, y]) => [low + x * (high - low), y]),
      `${row.preset} over ${low} .. ${high}`,
    );
  }

  // A palette, over the span of the gradient's stops: the flat scene's 0 .. 1.
  await open('flat.json');
  const gradient = node('paint').locator('[data-gradient="X color"]');
  await gradient.locator('select.palette-preset').selectOption({ label: 'Magma' });
  await page.locator('.file-name', { hasText: '•' }).waitFor();
  await save();
  assert.deepEqual(
    readScene('flat.json').nodes[0].gradients['X color'],
    palettes.find((p) => p.name === 'Magma').stops,
  );
});

test("a recipe added to the open graph, its ids made unique, renders as its own scene's nodes", async () => {
  const list = JSON.parse(fs.readFileSync(path.join(examples, 'presets/recipes.json'), 'utf8')).recipes;
  const recipe = list.find((r) => r.name === 'Soft dots');
  const own = JSON.parse(fs.readFileSync(path.join(examples, 'presets', recipe.scene), 'utf8'));
  // Twice: the second time every id is taken.
  for (const round of [1, 2]) {
    const before = readScene('flat.json').nodes.length;
    const source = await currentPreview(page);
    await page.locator('.open-recipes').click();
    await page.locator(`[data-recipe="${recipe.name}"]`).click();
    await page.locator('.file-name', { hasText: '•' }).waitFor();
    await waitForPreview(page, source);
    await save();
    const scene = readScene('flat.json');
    const added = scene.nodes.slice(before);
    assert.equal(added.length, own.nodes.length);
    assert.equal(
      new Set(scene.nodes.map((n) => n.id)).size,
      scene.nodes.length,
      `round ${round}: ids unique`,
    );
    const renamed = new Map(own.nodes.map((n, i) => [n.id, added[i].id]));
    if (round === 2)
      assert.ok(
        own.nodes.every((n) => renamed.get(n.id) !== n.id),
        'all renamed',
      );
    own.nodes.forEach((n, i) => {
      const relinked = (v) => (v?.link && v.link !== '@position' ? { link: renamed.get(v.link) } : v);
      const params =
        n.params && Object.fromEntries(Object.entries(n.params).map(([k, v]) => [k, relinked(v)]));
      assert.deepEqual(added[i], { ...n, id: renamed.get(n.id), ...(params && { params }) });
    });
    // The recipe's output is the scene's, shown as vantrel renders the saved scene.
    const output = renamed.get(own.output);
    assert.equal(scene.output, output);
    assert.equal(await page.locator('.preview-bar b').first().innerText(), output);
    await assertPreviewIsRender('flat.json', []);
  }
  // A node's picture, clicked, shows that node in the type pinned.
  let source = await currentPreview(page);
  await page.locator('select.output-type').selectOption('vec3');
  await waitForPreview(page, source);
  source = await currentPreview(page);
  // The recipes went beside the output, panned into view: the whole graph again, as a user does.
  await page.locator('.react-flow__controls-fitview').click();
  await node('paint').locator('img.thumb').click();
  await page.locator('.preview-bar b', { hasText: 'paint' }).waitFor();
  await waitForPreview(page, source);
  await save();
  await assertPreviewIsRender('flat.json', ['--node', 'paint']);
});

test("the full preview's samples are the scene's, and vantrel render of the saved file takes them", async () => {
  const rows = [
    { samples: 2, width: 512 },
    { samples: 3, width: 1024 },
    { samples: 1, width: 512 },
  ];
  for (const row of rows) {
    const source = await currentPreview(page);
    await page.locator('select.samples').selectOption(String(row.samples));
    await page.locator('select.preview-width').selectOption(String(row.width));
    await waitForPreview(page, source);
    assert.equal(await page.locator('.preview-image').getAttribute('data-width'), String(row.width));
    await save();
    assert.equal(readScene('flat.json').samples, row.samples === 1 ? undefined : row.samples);
    // No --samples: the scene's own.
    await assertPreviewIsRender('flat.json', ['--node', 'paint']);
  }
  // Its left edge dragged 192 pixels out: rendered 704 wide once let go.
  const edge = await page.locator('.preview-resize').boundingBox();
  const source = await currentPreview(page);
  await page.mouse.move(edge.x + edge.width / 2, edge.y + 100);
  await page.mouse.down();
  await page.mouse.move(edge.x + edge.width / 2 - 192, edge.y + 100, { steps: 8 });
  await page.mouse.up();
  await waitForPreview(page, source);
  assert.equal(await page.locator('.preview-image').getAttribute('data-width'), '704');
  await assertPreviewIsRender('flat.json', ['--node', 'paint']);
  await page.locator('select.preview-width').selectOption('512');
});

test('the plane as 3 x 3 tiles, the sphere as a lit globe that draws', async () => {
  await page.locator('.tiles-view').check();
  const tiles = page.locator('[data-testid="tiles"]');
  assert.match(await tiles.evaluate((t) => t.style.backgroundImage), /blob:/);
  // The tile at the middle is the picture a third of the size: its corner is the picture's.
  near(
    await screenColour(tiles, 1 / 3 + 0.01, 1 / 3 + 0.01),
    await screenColour(tiles, 0.01, 0.01),
    'the same corner of two tiles',
  );

  let source = await currentPreview(page);
  await page.locator('select.domain-kind').selectOption('sphere');
  await waitForPreview(page, source);
  // The recipe's lattice, made a lattice of the sphere, on the globe.
  source = await currentPreview(page);
  await node('lattice').locator('[data-param^="(2=plane"] select').selectOption({ label: 'sphere' });
  await node('lattice').locator('img.thumb').click();
  await page.locator('.preview-bar b', { hasText: /^lattice$/ }).waitFor();
  await waitForPreview(page, source);
  await page.locator('.globe-view').check();
  const globe = page.locator('canvas.globe');
  await page.waitForFunction(() => Number(document.querySelector('canvas.globe')?.dataset.drawn) >= 1, null, {
    timeout: 30000,
  });
  // The globe's middle is lit picture, its corner the background.
  const middle = await screenColour(globe);
  const corner = await screenColour(globe, 0.02, 0.02);
  near(corner, [0x11, 0x11, 0x11], 'the background');
  assert.ok(
    middle.some((v, i) => Math.abs(v - corner[i]) > 8),
    `the globe drawn: ${middle}`,
  );
  // Turned by a drag, it shows another side.
  const box = await globe.boundingBox();
  const before = await globe.screenshot();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 120, box.y + box.height / 2, { steps: 6 });
  await page.mouse.up();
  assert.ok(!decodePng(await globe.screenshot()).data.equals(decodePng(before).data), 'turned');
  assert.deepEqual(errors, [], 'the page logged no error');
  await page.screenshot({ path: process.env.EDITOR_GLOBE_SCREENSHOT ?? path.join(folder, 'globe.png') });
});

// The 3-D view drawn with the pane's model and its full texture of the current scene and model (and
// its full relief, when `relief`): the pane names what it has, the canvas what it is drawn with.
async function modelDrawn(relief = false) {
  await page.waitForFunction(
    (relief) => {
      const pane = document.querySelector('.model-pane');
      const canvas = document.querySelector('canvas.model-3d');
      if (!pane || !canvas || pane.dataset.state !== 'full' || pane.dataset.current !== 'yes') return false;
      if (canvas.dataset.texture !== pane.dataset.texture || canvas.dataset.model !== pane.dataset.model)
        return false;
      return !relief || (pane.dataset.relief !== '' && canvas.dataset.relief === pane.dataset.relief);
    },
    relief,
    { timeout: 60000 },
  );
}

// The colours of the middle half of an element's screenshot, each channel in steps of 8.
async function middleColours(locator) {
  const shot = decodePng(await locator.screenshot());
  const colours = new Set();
  for (let y = Math.floor(shot.height / 4); y < (shot.height * 3) / 4; ++y) {
    for (let x = Math.floor(shot.width / 4); x < (shot.width * 3) / 4; ++x) {
      const at = (y * shot.width + x) * 4;
      colours.add([0, 1, 2].map((c) => shot.data[at + c] >> 3).join(','));
    }
  }
  return { shot, colours };
}

test('the 3-D view: the lattice over a lit, textured cube, then as relief, then on the torus', async () => {
  // The scene is the sphere's lattice, shown, from the test before.
  await page.locator('.model-view').check();
  const view = page.locator('canvas.model-3d');
  await modelDrawn();
  // The cube fills the middle: no background there, and the lattice's cells and grout in many colours
  // where a lit cube of one colour shows a shade a face.
  const textured = await middleColours(view);
  assert.ok(!textured.colours.has('2,2,2'), 'the background in the middle');
  assert.ok(textured.colours.size > 12, `the cube textured: ${textured.colours.size} colours`);
  await page.screenshot({ path: process.env.EDITOR_MODEL_SCREENSHOT ?? path.join(folder, 'model.png') });

  // The lattice's weight sum as relief: the light falls otherwise on the grooves.
  await page.locator('select.relief-choice').selectOption('lattice');
  await modelDrawn(true);
  assert.ok(!(await middleColours(view)).shot.data.equals(textured.shot.data), 'the relief drawn');

  // Another model: the torus, its hole the background.
  await page.locator('select.model-choice').selectOption('shape:torus');
  await modelDrawn(true);
  const torus = decodePng(await view.screenshot());
  const middle = (torus.height / 2) * torus.width * 4 + (torus.width / 2) * 4;
  near([...torus.data.subarray(middle, middle + 3)], [0x11, 0x11, 0x11], "the torus's hole");
  assert.deepEqual(errors, [], 'the page logged no error');
});
