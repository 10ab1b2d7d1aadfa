// The editor page in a real browser against the real `vantrel serve`: what a user does with the mouse
// and the keyboard, checked against what vantrel itself makes of the same scene.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  currentPreview,
  decodePng,
  endSession,
  openPage,
  run,
  shownPreview,
  waitForPreview,
} from './harness.mjs';

const MODE = '(2=plane, 3=sphere)(how to make list box]';
let folder;
let server;
let browser;
let page;

before(async () => {
  ({ folder, server, browser, page } = await openPage(
    ['hex-lattice-sphere.json', 'distorted-lattice.json'],
    'hex-lattice-sphere.json',
  ));
});

after(() => endSession({ browser, server, folder }));

const node = (id) => page.locator(`.react-flow__node[data-id="${id}"]`);
const param = (id, name) => node(id).locator(`[data-param="${name}"]`);
const readScene = (name) => JSON.parse(fs.readFileSync(path.join(folder, name), 'utf8'));

const previewSource = () => currentPreview(page);
const nextPreview = (old) => waitForPreview(page, old);
const previewBytes = () => shownPreview(page);

const differ = (a, b) => !decodePng(a).data.equals(decodePng(b).data);

async function dragBetween(from, to) {
  const a = await from.boundingBox();
  const b = await to.boundingBox();
  await page.mouse.move(a.x + a.width / 2, a.y + a.height / 2);
  await page.mouse.down();
  await page.mouse.move(b.x + b.width / 2, b.y + b.height / 2, { steps: 12 });
  await page.mouse.up();
}

async function typeInto(field, text) {
  await field.click();
  await field.fill(text);
  await field.press('Enter');
}

// The loader's own answer for a scene, with the node and member its pointer names.
async function loaderRefusal(scene) {
  const response = await fetch(new URL('/api/check', server.origin), {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-Vantrel-Token': server.token },
    body: JSON.stringify({ scene }),
  });
  assert.equal(response.status, 400);
  const answer = await response.json();
  const match = /^\/nodes\/(\d+)\/params\/([^/]+)(\/link)?$/.exec(answer.pointer);
  assert.ok(match, `a parameter's pointer: ${answer.pointer}`);
  const param = match[2].replaceAll('~1', '/').replaceAll('~0', '~');
  return { message: answer.error, pointer: answer.pointer, node: scene.nodes[Number(match[1])].id, param };
}

// The note of a refused parameter: the loader's words after its pointer, under the parameter's name; the
// pointer and the whole message in its tooltip.
async function assertNote(note, refusal) {
  const [, words] = refusal.message.split(`${refusal.pointer}: `);
  assert.equal(await note.innerText(), `${refusal.param}: ${words}`);
  assert.equal(await note.getAttribute('title'), `${refusal.pointer}\n${refusal.message}`);
}

let preview;

test('the example scene opens as its graph', async () => {
  await node('lattice').waitFor();
  await node('@position').waitFor();
  assert.match(await param('lattice', 'Position').innerText(), /@position/);
  assert.equal(await page.locator('.react-flow__edge').count(), 1);
  assert.equal(await param('lattice', MODE).locator('select').inputValue(), '3', 'the default: sphere');
  assert.equal(await node('lattice').locator('[data-curve] .point').count(), 4 + 3 + 2);
  preview = await nextPreview(null);
  const image = page.locator('.preview-image');
  assert.equal(await image.getAttribute('data-width'), '512');
  assert.equal(await image.getAttribute('data-height'), '256');
});

test('typing and dragging "Subdivision" renders the preview again', async () => {
  const field = param('lattice', 'Subdivision').locator('input');
  let source = await previewSource();
  await typeInto(field, '6');
  let next = await nextPreview(source);
  assert.ok(differ(preview, next), 'the preview changed with Subdivision 6');
  preview = next;

  source = await previewSource();
  const box = await field.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 13, box.y + box.height / 2, { steps: 5 });
  await page.mouse.up();
  next = await nextPreview(source);
  assert.equal(await field.inputValue(), '8', 'two steps of six pixels each');
  assert.ok(differ(preview, next), 'the preview changed with Subdivision 8');
  preview = next;
});

test('dragging a curve point changes the plotted curve and the preview', async () => {
  const curve = node('lattice').locator('[data-curve="W1"]');
  const line = curve.locator('polyline');
  const before = await line.getAttribute('points');
  const source = await previewSource();
  const point = curve.locator('circle.point[data-index="1"]');
  const box = await point.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 4, box.y + box.height / 2 + 30, { steps: 6 });
  await page.mouse.up();
  await page.waitForFunction(
    ([selector, old]) => document.querySelector(selector)?.getAttribute('points') !== old,
    ['.react-flow__node[data-id="lattice"] [data-curve="W1"] polyline', before],
  );
  const next = await nextPreview(source);
  assert.ok(differ(preview, next), 'the preview changed with the curve');
  preview = next;
});

test('a Curve3 node added after the lattice and linked to it', async () => {
  await page.locator('.find-node').fill('Curve3');
  await page.locator('.find-node').press('Enter');
  await node('curve3').waitFor();
  await page.waitForFunction(() => {
    // The view moves to show the new box.
    const box = document.querySelector('.react-flow__node[data-id="curve3"]').getBoundingClientRect();
    const view = document.querySelector('.graph').getBoundingClientRect();
    return (
      box.left >= view.left && box.right <= view.right && box.top >= view.top && box.bottom <= view.bottom
    );
  });
  await dragBetween(
    node('lattice').locator('.react-flow__handle.source'),
    param('curve3', 'In').locator('.react-flow__handle'),
  );
  await param('curve3', 'In').locator('.linked').waitFor();
  assert.match(await param('curve3', 'In').innerText(), /lattice/);
  // The wire is drawn once the new box's handles are measured, a moment after the link shows.
  await page.waitForFunction(() => document.querySelectorAll('.react-flow__edge').length === 2);

  const source = await previewSource();
  await node('curve3').locator('.make-output').click();
  await page.locator('.preview-bar b', { hasText: 'curve3' }).waitFor();
  preview = await nextPreview(source);
});

test("the saved scene renders in vantrel to the preview's pixels", async () => {
  await page.locator('.save-name').fill('edited.json');
  await page.locator('button', { hasText: 'Save as' }).click();
  await page.locator('.file-name', { hasText: 'edited.json' }).waitFor();
  await page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
  assert.equal(await page.locator('.open-choice').inputValue(), 'edited.json', 'the list shows the file');

  const saved = readScene('edited.json');
  const lattice = saved.nodes.find((n) => n.id === 'lattice');
  assert.equal(lattice.params.Subdivision, 8);
  assert.notDeepEqual(lattice.curves.W1[1], [0.12, 0.9]);
  assert.deepEqual(
    saved.nodes.find((n) => n.id === 'curve3'),
    {
      id: 'curve3',
      type: 'Curve3',
      params: { In: { link: 'lattice' } },
    },
  );
  assert.equal(saved.output, 'curve3');

  const image = page.locator('.preview-image');
  const size = `${await image.getAttribute('data-width')}x${await image.getAttribute('data-height')}`;
  // The preview shows the type the scene names, as render takes it when given none.
  const rendered = await run(['render', 'edited.json', '-o', 'edited.png', '--size', size], {
    cwd: folder,
  });
  assert.equal(rendered.status, 0, rendered.stderr);
  const theirs = decodePng(fs.readFileSync(path.join(folder, 'edited.png')));
  const ours = decodePng(await previewBytes());
  assert.deepEqual([ours.width, ours.height], [theirs.width, theirs.height]);
  assert.ok(ours.data.equals(theirs.data), 'the same pixels');
});

test('an undo clicked while the edit is being checked undoes that edit', async () => {
  const mode = param('lattice', MODE).locator('select');
  const redo = page.locator('button', { hasText: 'Redo' });
  // The loader's answer held back until Undo is clicked, as a slow check on a loaded machine is.
  let release;
  const held = new Promise((resolve) => (release = resolve));
  await page.route('**/api/check', async (route) => {
    await held;
    await route.continue();
  });
  await mode.selectOption({ label: 'plane' });
  const answered = page.waitForResponse((response) => new URL(response.url()).pathname === '/api/check');
  await page.locator('button', { hasText: 'Undo' }).click();
  release();
  await answered;
  await page.unroute('**/api/check');
  // The plane undone, and there to redo; the steps before it kept.
  await page.waitForFunction(
    (selector) => !document.querySelector(selector).disabled,
    '.toolbar button[title^="Redo"]',
  );
  assert.equal(await mode.inputValue(), '3');
  await redo.click();
  assert.equal(await mode.inputValue(), '2');
  await page.locator('button', { hasText: 'Undo' }).click();
  assert.equal(await mode.inputValue(), '3');
  assert.equal(await param('lattice', 'Subdivision').locator('input').inputValue(), '8');
  assert.ok(!differ(preview, await nextPreview(null)), 'the picture before the plane');
});

test('the lattice mode as a choice, undone and redone', async () => {
  const mode = param('lattice', MODE).locator('select');
  const before = preview;
  let source = await previewSource();
  await mode.selectOption({ label: 'plane' });
  const plane = await nextPreview(source);
  assert.ok(differ(before, plane), 'the plane lattice over the sphere looks different');

  source = await previewSource();
  // Clicked while the plane is still being checked, the undo waits for it.
  await page.locator('button', { hasText: 'Undo' }).click();
  await page.waitForFunction(
    (selector) => document.querySelector(selector).value === '3',
    `.react-flow__node[data-id="lattice"] [data-param="${MODE}"] select`,
  );
  assert.ok(!differ(before, await nextPreview(source)), 'the image before the change');

  source = await previewSource();
  await page.keyboard.press('Control+Shift+Z');
  assert.equal(await mode.inputValue(), '2');
  assert.ok(!differ(plane, await nextPreview(source)), 'the plane image again');

  await page.locator('.save-name').fill('plane.json');
  await page.locator('button', { hasText: 'Save as' }).click();
  await page.locator('.file-name', { hasText: 'plane.json' }).waitFor();
  const saved = readScene('plane.json').nodes.find((n) => n.id === 'lattice');
  assert.equal(saved.params[MODE], 2, 'stored under its exact name');

  source = await previewSource();
  await page.keyboard.press('Control+Z');
  assert.equal(await mode.inputValue(), '3');
  assert.match(await page.locator('.file-name').innerText(), /•/, 'no longer what the file holds');
  await nextPreview(source);
});

test('"Rescale result?" as a checkbox, stored as 1 or 0', async () => {
  const box = param('lattice', 'Rescale result?').locator('input[type="checkbox"]');
  assert.equal(await box.isChecked(), true, 'the default: 1, a weighted average');
  const before = await previewBytes();
  let source = await previewSource();
  // The box follows the scene, which takes the edit once the loader has it: click, not uncheck.
  await box.click();
  const sum = await nextPreview(source);
  assert.equal(await box.isChecked(), false);
  assert.ok(differ(before, sum), 'the weighted sum looks different');

  await page.locator('.save-name').fill('sum.json');
  await page.locator('button', { hasText: 'Save as' }).click();
  await page.locator('.file-name', { hasText: 'sum.json' }).waitFor();
  assert.equal(readScene('sum.json').nodes.find((n) => n.id === 'lattice').params['Rescale result?'], 0);

  source = await previewSource();
  await box.click();
  assert.ok(!differ(before, await nextPreview(source)), 'the average again');
  assert.equal(await box.isChecked(), true);
});

test("a value outside its range is refused with the loader's message at the parameter", async () => {
  const scene = readScene('edited.json');
  scene.nodes[0].params.Subdivision = 3000000000;
  const refusal = await loaderRefusal(scene);
  assert.deepEqual([refusal.node, refusal.param], ['lattice', 'Subdivision']);

  const field = param('lattice', 'Subdivision').locator('input');
  await typeInto(field, '3000000000');
  const note = param('lattice', 'Subdivision').locator('.error-note');
  await note.waitFor();
  await assertNote(note, refusal);
  assert.equal(await field.inputValue(), '8', 'the value stays');
  assert.match(refusal.message, /2147483647/);
});

test("a link that closes a cycle is refused with the loader's message where it was made", async () => {
  const scene = readScene('edited.json');
  scene.nodes.find((n) => n.id === 'lattice').params.Position = { link: 'curve3' };
  const refusal = await loaderRefusal(scene);
  assert.match(refusal.message, /cycle/);

  await dragBetween(
    node('curve3').locator('.react-flow__handle.source'),
    param('lattice', 'Position').locator('.react-flow__handle'),
  );
  const note = param(refusal.node, refusal.param).locator('.error-note');
  await note.waitFor();
  await assertNote(note, refusal);
  assert.match(await param('lattice', 'Position').innerText(), /@position/, 'the old link stays');
  assert.equal(await page.locator('.react-flow__edge').count(), 2);
});

test('another scene opens from the folder as its graph, after asking about unsaved edits', async () => {
  const source = await previewSource();
  await node('lattice').locator('[data-curve="W2"] circle.point[data-index="1"]').click();
  assert.ok((await page.locator('circle.point.selected').count()) > 0);
  const dialog = page.locator('[role="dialog"]');
  await page.locator('.open-choice').selectOption('distorted-lattice.json');
  // Cancelled, the scene and its history stay; discarded, the other file opens.
  for (const choice of ['cancel', 'discard']) {
    await page.locator('button', { hasText: 'Open' }).click();
    await dialog.waitFor();
    assert.match(await dialog.innerText(), /Unsaved changes to sum\.json/);
    await dialog.locator(`button[data-choice="${choice}"]`).click();
    await dialog.waitFor({ state: 'detached' });
    if (choice === 'cancel') {
      assert.equal(await page.locator('button', { hasText: 'Undo' }).isEnabled(), true);
      assert.match(await page.locator('.file-name').innerText(), /sum\.json •/);
    }
  }
  await node('paint').waitFor();
  assert.equal(await page.locator('circle.point.selected').count(), 0, 'no point of the new scene chosen');
  await page.locator('.file-name', { hasText: /^distorted-lattice\.json$/ }).waitFor();
  for (const id of ['tilt', 'lattice', 'carry', 'paint']) await node(id).waitFor();
  assert.equal(await page.locator('.react-flow__edge').count(), 5);
  assert.equal(await page.locator('button', { hasText: 'Undo' }).isDisabled(), true, 'a history of its own');
  preview = await nextPreview(source);
});

test('gradient stops added, recoloured, dragged and deleted', async () => {
  const gradient = node('paint').locator('[data-gradient="X color"]');
  const stops = gradient.locator('.stop');
  assert.equal(await stops.count(), 2);
  const bar = await gradient.locator('.bar-area').boundingBox();
  let source = await previewSource();
  await page.mouse.click(bar.x + bar.width / 2, bar.y + bar.height / 2);
  await page.waitForFunction(
    () =>
      document.querySelectorAll('.react-flow__node[data-id="paint"] [data-gradient="X color"] .stop')
        .length === 3,
  );
  await gradient.locator('input[type="color"]').fill('#ff0000');
  const red = await nextPreview(source);
  assert.ok(differ(preview, red), 'a red stop in the middle of X changes the picture');

  const stop = await stops.nth(1).boundingBox();
  await page.mouse.move(stop.x + stop.width / 2, stop.y + stop.height / 2);
  await page.mouse.down();
  await page.mouse.move(stop.x + stop.width / 2 + 40, stop.y + stop.height / 2, { steps: 6 });
  await page.mouse.up();
  await page.locator('button', { hasText: /^Save$/ }).click();
  await page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
  const saved = readScene('distorted-lattice.json').nodes.find((n) => n.id === 'paint').gradients['X color'];
  assert.equal(saved.length, 3);
  assert.deepEqual(saved[1][1], [1, 0, 0]);
  assert.ok(saved[1][0] > 0.5, `dragged right of the middle of -2.5 .. 2.5: ${saved[1][0]}`);

  source = await previewSource();
  await stops.nth(1).dblclick();
  await page.waitForFunction(
    () =>
      document.querySelectorAll('.react-flow__node[data-id="paint"] [data-gradient="X color"] .stop')
        .length === 2,
  );
  assert.ok(!differ(preview, await nextPreview(source)), 'the two stops of the file again');
});

test('a node deleted and a wire unlinked by dragging its end away', async () => {
  await node('carry').locator('.delete').click();
  await node('carry').waitFor({ state: 'detached' });
  assert.equal(await param('paint', 'In').locator('.linked').count(), 0, 'paint reads carry no more');
  assert.equal(
    await page.locator('.react-flow__edge').count(),
    2,
    'the wires to and from carry went with it',
  );
  await page.locator('button', { hasText: 'Undo' }).click();
  await node('carry').waitFor();

  const wire = page.locator('.react-flow__edge[data-id="carry->paint:In"]');
  await wire.waitFor();
  const end = await wire.locator('.react-flow__edgeupdater-target').boundingBox();
  await page.mouse.move(end.x + end.width / 2, end.y + end.height / 2);
  await page.mouse.down();
  await page.mouse.move(end.x - 80, end.y + 120, { steps: 8 });
  await page.mouse.up();
  await wire.waitFor({ state: 'detached' });
  assert.equal(await param('paint', 'In').locator('.linked').count(), 0);
  assert.deepEqual(
    await param('paint', 'In')
      .locator('input.number')
      .evaluateAll((fields) => fields.map((f) => f.value)),
    ['0', '0', '0', '0'],
    'the default of "In" again',
  );
});

test('the value under the pointer is what vantrel eval gives for its position', async () => {
  await page.locator('button', { hasText: 'Undo' }).click();
  await param('paint', 'In').locator('.linked').waitFor();
  await page.locator('button', { hasText: /^Save$/ }).click();
  await page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
  await nextPreview(null);
  const image = page.locator('.preview-image');
  const box = await image.boundingBox();
  await page.mouse.move(box.x + box.width * 0.3, box.y + box.height * 0.4);
  const text = page.locator('.value-text');
  await text.waitFor();
  const position = (await page.locator('.value-readout span').first().innerText()).replace(/[(),]/g, ' ');
  // In the scene's type, as eval takes it when given none.
  const evaluated = await run(['eval', 'distorted-lattice.json'], {
    cwd: folder,
    input: `${position}\n`,
  });
  assert.equal(evaluated.status, 0, evaluated.stderr);
  assert.equal(await text.innerText(), evaluated.stdout.trim());
  await page.screenshot({ path: process.env.EDITOR_SCREENSHOT ?? path.join(folder, 'editor.png') });
});

test('the plane zoomed and panned renders that region as vantrel render --region does', async () => {
  const image = page.locator('.preview-image');
  const box = await image.boundingBox();
  let source = await previewSource();
  await page.mouse.move(box.x + box.width * 0.25, box.y + box.height * 0.5);
  await page.mouse.wheel(0, -300);
  let zoomed = await nextPreview(source);
  const region = await image.getAttribute('data-region');
  assert.notEqual(region, '', 'a region of the domain');
  const [a, b, c, d] = region.split(',').map(Number);
  assert.ok(c - a < 5 && d - b < 2.5, `smaller than the domain: ${region}`);

  source = await previewSource();
  await page.mouse.down();
  await page.mouse.move(box.x + box.width * 0.5, box.y + box.height * 0.6, { steps: 5 });
  await page.mouse.up();
  zoomed = await nextPreview(source);
  const panned = await image.getAttribute('data-region');
  assert.notEqual(panned, region);

  const size = `${await image.getAttribute('data-width')}x${await image.getAttribute('data-height')}`;
  const args = ['render', 'distorted-lattice.json', '-o', 'region.png', '--size', size, '--region', panned];
  const rendered = await run(args, { cwd: folder });
  assert.equal(rendered.status, 0, rendered.stderr);
  const theirs = decodePng(fs.readFileSync(path.join(folder, 'region.png')));
  assert.ok(decodePng(zoomed).data.equals(theirs.data), 'the same pixels');

  await page.locator('.region button', { hasText: 'reset' }).click();
  await page.locator('.region', { hasText: 'the whole domain' }).waitFor();
});

const saveAndRead = async (name) => {
  await page.locator('button', { hasText: /^Save$/ }).click();
  await page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
  return readScene(name);
};

test('a refusal counts as the page does and marks only the field at fault', async () => {
  const weights = param('paint', 'Weights').locator('input.number');
  const w1 = node('lattice').locator('[data-curve="W1"]');
  const cases = [
    {
      async edit() {
        // Point 2 moved past point 3: the loader names point 3 (index 2), whose x is now below.
        await w1.locator('circle.point[data-index="1"]').click();
        await typeInto(w1.locator('.point-fields label', { hasText: 'x' }).locator('input'), '0.4');
      },
      note: w1.locator('.error-note'),
      text: "point 3 of W1: its x must be above point 2's, 0.4",
      pointer: '/nodes/1/curves/W1/2/0',
      marked: [w1.locator('circle.point[data-index="2"]')],
      among: node('lattice').locator('.refused'),
    },
    {
      edit: () => typeInto(weights.nth(1), 'x'),
      note: param('paint', 'Weights').locator('.error-note'),
      text: 'Weights, component 2: expected a number, not "x"',
      pointer: '/nodes/3/params/Weights/1',
      marked: [weights.nth(1)],
      among: node('paint').locator('input.refused, .point.refused, .stop.refused'),
    },
  ];
  for (const c of cases) {
    await c.edit();
    await c.note.waitFor();
    assert.equal(await c.note.innerText(), c.text);
    const title = await c.note.getAttribute('title');
    assert.ok(title.startsWith(`${c.pointer}\n`), title);
    assert.match(title, /expected/, "the server's own message");
    // The curve or parameter as a whole carries the note; of its fields and marks, only the one.
    const marked = await c.among.evaluateAll((all) =>
      all.filter((e) => e.matches('input, circle, path')).map((e) => e.outerHTML),
    );
    assert.equal(marked.length, 1, marked.join('\n'));
    assert.equal(marked[0], await c.marked[0].evaluate((e) => e.outerHTML));
  }
  await page.keyboard.press('Escape');
});

test('a narrow number field shows the whole value, or fewer digits of it, never a cut-off one', async () => {
  const field = param('paint', 'Weights').locator('input.number').first();
  for (const typed of ['-1.317e-7', '123456789012', '0.25']) {
    await typeInto(field, typed);
    await page.waitForFunction(
      ([selector, wanted]) => document.querySelector(selector).title.startsWith(wanted) || wanted === '0.25',
      ['.react-flow__node[data-id="paint"] [data-param="Weights"] input.number', typed],
    );
    const shown = await field.inputValue();
    const fits = await field.evaluate((input) => {
      const style = getComputedStyle(input);
      const context = document.createElement('canvas').getContext('2d');
      context.font = `${style.fontWeight} ${style.fontSize} ${style.fontFamily}`;
      const room = input.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
      return context.measureText(input.value).width <= room;
    });
    assert.ok(fits, `${shown} fits its field`);
    const value = Number(typed);
    assert.ok(Math.abs(Number(shown) - value) <= Math.abs(value) * 0.05, `${shown} is about ${typed}`);
    if (typed === '0.25') assert.equal(shown, '0.25', 'a value that fits is whole');
    else assert.notEqual(shown, typed, `${typed} does not fit whole`);
  }
  assert.deepEqual((await saveAndRead('distorted-lattice.json')).nodes[3].params.Weights, [0.25, 0.25, 0, 1]);
});

test("a curve point's drag keeps the axis it has not left, Shift holds one, Ctrl snaps to the ticks", async () => {
  const w3 = node('lattice').locator('[data-curve="W3"]');
  const end = w3.locator('circle.point[data-index="1"]');
  // The steps of the plot's grid, from the labels it draws.
  const labels = (axis) =>
    w3.locator(`.grid .tick-${axis} text`).evaluateAll((all) => all.map((t) => Number(t.textContent)));
  const [xs, ys] = [await labels('x'), await labels('y')];
  const multiple = (v, ticks) => {
    const step = ticks[1] - ticks[0];
    return Math.abs(v / step - Math.round(v / step)) < 1e-9;
  };
  const cases = [
    { move: [2, -30], keys: [], check: ([x, y]) => x === 1 && y > 0.1, what: 'x stays exactly 1' },
    { move: [-40, -6], keys: ['Shift'], check: ([x, y]) => x < 0.95 && y === 0, what: 'Shift holds y' },
    {
      move: [-30, -45],
      keys: ['Control'],
      check: ([x, y]) => x < 1 && y > 0 && multiple(x, xs) && multiple(y, ys),
      what: 'Ctrl snaps to the grid',
    },
  ];
  for (const c of cases) {
    const box = await end.boundingBox();
    const [cx, cy] = [box.x + box.width / 2, box.y + box.height / 2];
    for (const key of c.keys) await page.keyboard.down(key);
    await page.mouse.move(cx, cy);
    await page.mouse.down();
    await page.mouse.move(cx + c.move[0], cy + c.move[1], { steps: 8 });
    await page.mouse.up();
    for (const key of c.keys) await page.keyboard.up(key);
    const point = (await saveAndRead('distorted-lattice.json')).nodes[1].curves.W3[1];
    assert.ok(c.check(point), `${c.what}: ${JSON.stringify(point)}`);
    await page.locator('button', { hasText: 'Undo' }).click();
  }
});

test('the input ranges under the lattice curves stay within the plot, clear of their names', async () => {
  const curves = node('lattice').locator('[data-curve]');
  for (let i = 0; i < (await curves.count()); ++i) {
    const { area, marks } = await curves.nth(i).evaluate((curve) => ({
      area: (({ x, width }) => ({ x, width }))(curve.querySelector('.plot-area').getBBox()),
      marks: [...curve.querySelectorAll('.range-mark')].map((m) => ({
        xs: [...m.querySelectorAll('line')].flatMap((l) => [l.x1.baseVal.value, l.x2.baseVal.value]),
        label: m.querySelector('text').getBBox().x,
      })),
    }));
    assert.equal(marks.length, 3);
    for (const m of marks) {
      assert.ok(
        Math.min(...m.xs) >= area.x - 0.5 && Math.max(...m.xs) <= area.x + area.width + 0.5,
        `${m.xs} ${JSON.stringify(area)}`,
      );
      assert.ok(m.label > Math.max(...m.xs), 'the name right of its bar');
    }
  }
});
