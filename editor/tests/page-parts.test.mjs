// The page's pure parts that need no server: the preview's widths and coarse size, the pixel under the
// pointer, the region the wheel and a drag leave, the name proposed beside a file that is taken, and the
// edit a slow preview is blamed on, where a dragged curve point goes, and the 3-D view's choices and
// texture sizes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { coarseSize, fittedWidth, panned, pixelAt, zoomAt } from '../src/previewGeometry.js';
import { freeName } from '../src/fileNames.js';
import { describeEdit, slowEdit } from '../src/scene.js';
import { dragTo } from '../src/plot.js';
import {
  choiceOf,
  domainModel,
  globeSize,
  modelChoices,
  modelOfChoice,
  otherViews,
  textureSide,
} from '../src/modelView.js';
import { imageSize } from '../src/scene.js';

test('a dragged width is whole steps of 16 between 256 and 2048', () => {
  for (const [dragged, width] of [
    [100, 256],
    [500, 496],
    [504, 512],
    [1000, 1008],
    [5000, 2048],
  ])
    assert.equal(fittedWidth(dragged), width, `${dragged}`);
});

test('the coarse picture is an eighth each way, rounded up, at least a pixel', () => {
  for (const [size, coarse] of [
    [
      { width: 512, height: 256 },
      { width: 64, height: 32 },
    ],
    [
      { width: 513, height: 1 },
      { width: 65, height: 1 },
    ],
    [
      { width: 7, height: 9 },
      { width: 1, height: 2 },
    ],
  ])
    assert.deepEqual(coarseSize(size), coarse);
});

test('the pixel under the pointer, scaled from the box shown, edges held', () => {
  // A picture of 200 x 100 pixels shown 100 x 50 at (10, 20) of the screen.
  const box = { left: 10, top: 20, width: 100, height: 50 };
  const size = { width: 200, height: 100 };
  for (const [x, y, pixel] of [
    [10, 20, [0, 0]],
    [60, 45, [100, 50]],
    [109.9, 69.9, [199, 99]],
    [110, 70, [199, 99]],
    [0, 500, [0, 99]],
  ])
    assert.deepEqual(pixelAt(box, x, y, size), pixel, `${x}, ${y}`);
});

test('the wheel zooms about the point under the pointer', () => {
  const size = { width: 8, height: 4 };
  const rect = [0, 0, 2, 1];
  // Pixel (1, 1)'s centre is the domain point (0.375, 0.625): the top row is the domain's top.
  for (const [deltaY, scale] of [
    [0, 1],
    [Math.log(2) / 0.0015, 2],
    [-Math.log(4) / 0.0015, 0.25],
  ]) {
    const [a, b, c, d] = zoomAt(rect, [1, 1], size, deltaY);
    const near = (x, y) => assert.ok(Math.abs(x - y) < 1e-12, `${deltaY}: ${x} vs ${y}`);
    near(c - a, 2 * scale);
    near(d - b, 1 * scale);
    // The point keeps its place in the picture.
    near((0.375 - a) / (c - a), 1.5 / 8);
    near((d - 0.625) / (d - b), 1.5 / 4);
  }
});

test('a drag moves the domain with the pointer', () => {
  const box = { width: 100, height: 50 };
  for (const [dx, dy, region] of [
    [0, 0, [0, 0, 2, 1]],
    [100, 0, [-2, 0, 0, 1]],
    [-50, 0, [1, 0, 3, 1]],
    [0, 50, [0, 1, 2, 2]],
    [25, -25, [-0.5, -0.5, 1.5, 0.5]],
  ])
    assert.deepEqual(panned([0, 0, 2, 1], dx, dy, box), region, `${dx}, ${dy}`);
});

test('the name proposed beside a taken file is the first free NAME-K.json from 2', () => {
  for (const [target, files, name] of [
    ['a.json', [], 'a-2.json'],
    ['a.json', ['a.json', 'a-2.json', 'a-3.json', 'a-5.json'], 'a-4.json'],
    ['Big.JSON', ['Big-2.json'], 'Big-3.json'],
    ['dir/x.json', ['x-2.json'], 'dir/x-2.json'],
    ['plain', [], 'plain-2.json'],
  ])
    assert.deepEqual(freeName(target, files), name, target);
});

test('a slow preview is blamed on the step from the last scene that came in time, else the last step', () => {
  const opened = { format: 'vantrel-scene/1', nodes: [], output: null };
  const added = { ...opened, nodes: [{ id: 'a', type: 'T', params: {} }], output: 'a' };
  const edited = { ...added, nodes: [{ id: 'a', type: 'T', params: { X: 2 } }] };
  const steps = [opened, added, edited];
  const step = (k) => describeEdit(steps[k], steps[k + 1]);
  for (const [at, fast, blamed] of [
    [2, added, step(1)],
    [2, opened, step(0)],
    // A scene not among the steps to here (none came in time, or it is a step undone): the last step.
    [2, null, step(1)],
    [2, edited, step(1)],
    [1, edited, step(0)],
    [0, opened, null],
  ])
    assert.equal(slowEdit(steps, at, fast && JSON.stringify(fast)), blamed, `at ${at}`);
  assert.notEqual(step(0), step(1));
});

test('a dragged point: held axes, Shift, the grid, and its neighbours', () => {
  // The middle of three points at x 0, 0.4, 1, from (0.4, 0.5).
  const drag = { xs: [0, 0.4, 1], index: 1, start: [0.4, 0.5], gap: 0.01, vertical: true };
  const free = { x: true, y: true };
  for (const [name, more, to] of [
    ['free', { to: [0.53, 0.66], free }, [0.53, 0.66]],
    ['x not yet left', { to: [0.53, 0.66], free: { x: false, y: true } }, [0.4, 0.66]],
    ['y not yet left', { to: [0.53, 0.66], free: { x: true, y: false } }, [0.53, 0.5]],
    ['Shift, moved more across', { to: [0.53, 0.66], free, hold: true, pixels: [9, 3] }, [0.53, 0.5]],
    ['Shift, moved more up', { to: [0.53, 0.66], free, hold: true, pixels: [3, 9] }, [0.4, 0.66]],
    ['the grid', { to: [0.53, 0.66], free, grid: { x: 0.25, y: 0.1 } }, [0.5, 0.7]],
    ['past the right neighbour', { to: [1.3, 0.5], free }, [0.99, 0.5]],
    ['past the left neighbour', { to: [-0.2, 0.5], free }, [0.01, 0.5]],
    ['a gradient stop', { to: [0.7, 0.9], free, vertical: false, hold: true, pixels: [1, 9] }, [0.7]],
  ])
    assert.deepEqual(dragTo({ pixels: [0, 0], ...drag, ...more }), to, name);
});

test('the views beside the flat picture, and the model each domain shows first', () => {
  for (const [domain, views, model] of [
    [undefined, ['tiles', 'model'], { shape: 'cube' }],
    [{ kind: 'plane', min: [0, 0], max: [2, 1] }, ['tiles', 'model'], { shape: 'cube' }],
    [{ kind: 'sphere' }, ['globe', 'model'], { shape: 'cube' }],
    [{ kind: 'mesh', shape: 'torus' }, ['model'], { shape: 'torus' }],
    [{ kind: 'mesh', file: 'helmet.glb', uv: 1, padding: 4 }, ['model'], { file: 'helmet.glb', uv: 1 }],
    [{ kind: 'mesh', file: 'a:b.obj' }, ['model'], { file: 'a:b.obj' }],
  ]) {
    assert.deepEqual(otherViews(domain?.kind ?? 'plane'), views, JSON.stringify(domain));
    assert.deepEqual(domainModel(domain), model, JSON.stringify(domain));
    // The choice names the model again (a file name may hold a colon); the UV set is the domain's.
    const { uv: _uv, ...named } = model;
    assert.deepEqual(modelOfChoice(choiceOf(model)), named);
  }
  // A model's texture is square, whatever the width.
  assert.deepEqual(imageSize({ kind: 'mesh', shape: 'cube' }, null, 300, 4096), { width: 300, height: 300 });
});

test("the shapes, then the folder's models, and the domain's own once", () => {
  const shapes = ['shape:plane', 'shape:cube', 'shape:sphere', 'shape:torus'];
  assert.deepEqual(modelChoices(['a.obj', 'b.glb'], { shape: 'cube' }), [
    ...shapes,
    'file:a.obj',
    'file:b.glb',
  ]);
  assert.deepEqual(modelChoices(['a.obj'], { file: 'a.obj' }), [...shapes, 'file:a.obj']);
  assert.deepEqual(modelChoices([], { file: 'gone.obj' }), [...shapes, 'file:gone.obj']);
});

test('a texture fine enough for the view: a power of two within the bounds', () => {
  for (const [pixels, ratio, largest, side, globe] of [
    // 512 pixels: a square of 1024, and a map of pi x 512 = 1609 rounded up to 2048 x 1024.
    [512, 1, 4096, 1024, 2048],
    [512, 2, 4096, 2048, 4096],
    [300, 1, 4096, 1024, 1024],
    [512, 2, 1000, 1000, 1000],
    [8, 1, 4096, 64, 64],
  ]) {
    assert.equal(textureSide(pixels, ratio, largest), side, `${pixels} x ${ratio}`);
    assert.deepEqual(globeSize(pixels, ratio, largest), { width: globe, height: globe / 2 });
  }
});
