// A new user's trial of typical artist tasks, acted through the page as a person acts: each click, drag,
// choice from a list, key chord or text typed (with its Enter) is one action. Every task starts from an
// example scene opened in `vantrel serve`, ends with Save, and is checked: the saved scene is what the
// task asked for, and `vantrel render` of it at the preview's size gives the preview's pixels.
// Not a test CTest runs: it measures.
//
//   VANTREL=build/release/bin/vantrel VANTREL_EXAMPLES=examples node editor/tests/trial.mjs [old]
//
// With `old`, each task's steps for the page before it explained itself (a type list and Add node, one
// "seen as" for the scene, the samples the page's own), run against a vantrel whose page is that one;
// the tasks of the host's nodes, which that page did not know, are left out. TRIAL_TASKS=WORDS runs only
// the tasks whose name holds them.
import fs from 'node:fs';
import path from 'node:path';
import {
  decodePng,
  endSession,
  run,
  scratchFolder,
  shownPreview,
  startBrowser,
  startServer,
  waitForPreview,
} from './harness.mjs';

const OLD = process.argv[2] === 'old';
const MODE = '(2=plane, 3=sphere)(how to make list box]';
const LATTICE = 'Hexagonal lattice 3D(1)';
const REMAP_STEP = '(0=linear, 1=smooth step, 2=step)Interpolation';
const MIX_BLEND = '(0=mix, 1=add, 2=multiply, 3=screen, 4=overlay)Blend';

// The person at the page: every call is one action, counted, and followed by a moment for the page.
function actor(page) {
  const done = [];
  const act = async (what, how) => {
    done.push(what);
    await how();
    await page.waitForTimeout(350);
  };
  const node = (id) => page.locator(`.react-flow__node[data-id="${id}"]`);
  const centre = async (locator) => {
    const b = await locator.boundingBox();
    return [b.x + b.width / 2, b.y + b.height / 2];
  };
  return {
    done,
    node,
    member: (id, kind, name) => node(id).locator(`[data-${kind}="${name}"]`),
    click: (what, locator, clickCount = 1) => act(what, () => locator.click({ clickCount })),
    // A click at a fraction of an element's width, half way down.
    clickAt: (what, locator, fx) =>
      act(what, async () => {
        const b = await locator.boundingBox();
        await page.mouse.click(b.x + b.width * fx, b.y + b.height / 2);
      }),
    choose: (what, select, option) => act(what, () => select.selectOption(option)),
    // Text typed into the field that has the focus, then Enter.
    type: (what, text) =>
      act(what, async () => {
        await page.keyboard.type(text);
        await page.keyboard.press('Enter');
      }),
    key: (what, chord) => act(what, () => page.keyboard.press(chord)),
    drag: async (what, from, to) => {
      // An end out of the graph's view: the view fitted first, one more action.
      const graph = await page.locator('.graph').boundingBox();
      const ends = [from, ...(Array.isArray(to) ? [] : [to])];
      const seen = async (l) => {
        const [x, y] = await centre(l);
        return x > graph.x && x < graph.x + graph.width && y > graph.y && y < graph.y + graph.height;
      };
      const inside = await Promise.all(ends.map(seen));
      if (inside.includes(false))
        await act('fit the view', () => page.locator('.react-flow__controls-fitview').click());
      return act(what, async () => {
        const [x0, y0] = await centre(from);
        const [x1, y1] = Array.isArray(to) ? [x0 + to[0], y0 + to[1]] : await centre(to);
        await page.mouse.move(x0, y0);
        await page.mouse.down();
        await page.mouse.move(x1, y1, { steps: 10 });
        await page.mouse.up();
      });
    },
    save: () => act('Save', () => page.locator('button', { hasText: /^Save$/ }).click()),
  };
}

const preset = (t, id, kind, name, label) =>
  t.choose(`${id} › ${name}: ${label}`, t.member(id, kind, name).locator('select.preset'), { label });
const finder = async (t, page, typed) => {
  await t.click('the node finder', page.locator('.find-node'));
  await t.type(`"${typed}"`, typed);
};
// The old page: a type chosen in the list, then Add node.
const oldAdd = async (t, page, type) => {
  await t.choose(`add: ${type}`, page.locator('.add-type'), type);
  await t.click('Add node', page.locator('.add-node'));
};
// The old page: a colour node added after `from`, wired into its `param`, made the output and seen in
// colour, each by hand.
const oldAfter = async (t, page, type, id, from, param) => {
  await oldAdd(t, page, type);
  await wire(t, from, id, param);
  await t.click('output', t.node(id).locator('.make-output'));
  if (type !== 'Curve3') await seenAs(t, page, 'color');
};
const wire = (t, from, to, param) =>
  t.drag(
    `wire ${from} → ${to} › ${param}`,
    t.node(from).locator('.react-flow__handle.source'),
    t.member(to, 'param', param).locator('.react-flow__handle'),
  );
const seenAs = (t, page, type) => t.choose(`seen as ${type}`, page.locator('select.output-type'), type);
const weights = async (t, id, vector) => {
  const fields = t.member(id, 'param', 'Weights').locator('input.number');
  if (!OLD) {
    await t.click(`${id} › Weights`, fields.first());
    return t.type(`Weights ${vector.join(' ')}`, vector.join(' '));
  }
  // One field at a time.
  for (const [i, v] of vector.entries()) {
    if ((await fields.nth(i).inputValue()) === String(v)) continue;
    await t.click(`${id} › Weights ${i + 1}`, fields.nth(i));
    await t.type(String(v), String(v));
  }
};
const stopToLeft = async (t, id, gradient) => {
  const bar = await t.member(id, 'gradient', gradient).locator('.bar-area').boundingBox();
  await t.drag(
    `${gradient}: first stop to the left end`,
    t.member(id, 'gradient', gradient).locator('.stop[data-index="0"]'),
    [-bar.width, 0],
  );
};

const tasks = [
  {
    name: 'soft grey dots on the plane',
    start: 'w-distortion.json',
    async steps(t, page) {
      const id = 'hexagonal-lattice-3d-1';
      if (OLD) await oldAdd(t, page, LATTICE);
      else await finder(t, page, 'hex');
      if (OLD) await wire(t, '@position', id, 'Position');
      await t.choose('plane', t.member(id, 'param', MODE).locator('select'), { label: 'plane' });
      await preset(t, id, 'curve', 'W1', 'Soft dot');
      await preset(t, id, 'curve', 'W2', 'Constant 0');
      await preset(t, id, 'curve', 'W3', 'Constant 0');
      if (OLD) await t.click('output', t.node(id).locator('.make-output'));
      if (OLD) await seenAs(t, page, 'double');
    },
    check: (s) =>
      s.output === 'hexagonal-lattice-3d-1' &&
      s.output_type === 'double' &&
      s.nodes[1].params[MODE] === 2 &&
      s.nodes[1].curves.W1[0][1] === 1 &&
      s.nodes[1].curves.W2.length === 1,
  },
  {
    name: 'globe cells, each one colour of a palette',
    start: 'hex-lattice-sphere.json',
    async steps(t, page) {
      const paint = 'vector-to-color';
      await preset(t, 'lattice', 'curve', 'W1', 'Constant 1');
      await preset(t, 'lattice', 'curve', 'W2', 'Constant 0');
      await preset(t, 'lattice', 'curve', 'W3', 'Constant 0');
      if (OLD) {
        await oldAfter(t, page, 'Vector to color', paint, 'lattice', 'In');
      } else await finder(t, page, 'palette');
      await weights(t, paint, [1, 0, 0, 0]);
      await stopToLeft(t, paint, 'X color');
      await preset(t, paint, 'gradient', 'X color', 'Viridis');
    },
    check(s) {
      const paint = s.nodes.find((n) => n.id === 'vector-to-color');
      return (
        s.output === paint.id &&
        s.output_type === 'color' &&
        paint.params.In.link === 'lattice' &&
        paint.params.Weights.join() === '1,0,0,0' &&
        paint.gradients['X color'][0][0] < -0.9
      );
    },
  },
  {
    name: 'a lattice tinted with Curve3',
    start: 'hex-lattice-plane.json',
    // The lattice's colour is its blended position: its weight sum goes through Remap, a real Curve3
    // reads as grey.
    skipOld: true,
    async steps(t, page) {
      await finder(t, page, 'remap');
      await finder(t, page, 'curve');
      const curve = t.member('curve3', 'curve', 'Curve');
      await t.click('blue', curve.locator('button.channel', { hasText: 'blue' }));
      await t.drag('blue end point down', curve.locator('circle.point[data-index="1"]'), [0, 40]);
    },
    check(s) {
      const byId = (id) => s.nodes.find((n) => n.id === id);
      return (
        s.output === 'curve3' &&
        s.output_type === 'color' &&
        byId('remap').params.Value.link === 'lattice' &&
        byId('curve3').params.In.link === 'remap' &&
        byId('curve3').curves.Curve.blue[1][1] < 1
      );
    },
  },
  {
    name: 'a stepped two-colour fractal',
    start: 'leapfrog-fractal.json',
    old: 'the old presets have no stepped palette: four stops set by hand',
    async steps(t, page) {
      const paint = 'vector-to-color';
      if (OLD) {
        await oldAfter(t, page, 'Vector to color', paint, 'fractal', 'In');
      } else await finder(t, page, 'palette');
      await weights(t, paint, [1, 0, 0, 0]);
      if (!OLD) return preset(t, paint, 'gradient', 'X color', 'Ink and paper, stepped');
      // Two stops added in the middle of the bar, and the four coloured: dark, dark, light, light.
      const gradient = t.member(paint, 'gradient', 'X color');
      for (const f of [0.49, 0.51]) await t.clickAt(`a stop at ${f}`, gradient.locator('.bar-area'), f);
      for (const [i, hex] of ['#102040', '#102040', '#f0e0b0', '#f0e0b0'].entries()) {
        await t.click(`stop ${i + 1}`, gradient.locator(`.stop[data-index="${i}"]`));
        await t.click('its hex field, all of it (a triple click)', gradient.locator('input.hex'), 3);
        await t.type(hex, hex);
      }
    },
    check(s) {
      const paint = s.nodes.find((n) => n.id === 'vector-to-color');
      const stops = paint.gradients['X color'];
      return (
        s.output === paint.id &&
        s.output_type === 'color' &&
        paint.params.In.link === 'fractal' &&
        paint.params.Weights.join() === '1,0,0,0' &&
        stops.length === 4 &&
        stops[1][1].join() === stops[0][1].join() &&
        stops[2][1].join() !== stops[1][1].join()
      );
    },
  },
  {
    name: 'a seamless tile of the plane lattice',
    start: 'hex-lattice-plane.json',
    old: 'the domain typed to whole periods, 1 by √3, which only the guide tells',
    async steps(t, page) {
      await t.click('3 × 3 tiles', page.locator('.tiles-view'));
      if (!OLD) return t.click('fit to whole periods', page.locator('button.fit-periods'));
      await t.click("the domain's top", page.locator('.domain .vector').nth(1).locator('input').nth(1));
      await t.type('-3 + 4√3', '3.928203230275509');
    },
    check: (s) => {
      const periods = (s.domain.max[1] - s.domain.min[1]) / Math.sqrt(3);
      return Math.abs(periods - Math.round(periods)) < 1e-9;
    },
  },
  {
    name: 'sphere cells warmed with Curve3',
    start: 'globe-cells.json',
    async steps(t, page) {
      if (OLD) {
        await oldAfter(t, page, 'Curve3', 'curve3', 'paint', 'In');
      } else await finder(t, page, 'curve');
      const curve = t.member('curve3', 'curve', 'Curve');
      await t.click('blue', curve.locator('button.channel', { hasText: 'blue' }));
      await t.drag('blue end point down', curve.locator('circle.point[data-index="1"]'), [0, 40]);
    },
    check(s) {
      const curve3 = s.nodes.find((n) => n.id === 'curve3');
      return s.output === 'curve3' && curve3.params.In.link === 'paint' && curve3.curves.Curve.blue[1][1] < 1;
    },
  },
  {
    name: 'the fractal on the sphere without speckle, 3 × 3 samples a pixel',
    start: 'leapfrog-sphere.json',
    old: "the samples were the page's own, not saved",
    steps: (t, page) => t.choose('samples 3 × 3', page.locator('select.samples'), '3'),
    check: (s) => s.samples === 3,
  },
  {
    name: 'flat hexagonal tiles with dark grout',
    start: 'hex-lattice-plane.json',
    old: 'each curve point typed, the nodes chosen, wired, made the output and seen in colour by hand',
    async steps(t, page) {
      // The weight sum d1 - d0, 0 on the border of two tiles: W1 minus the distance, W2 the distance.
      if (OLD) {
        for (const [curve, shape, point, y] of [
          ['W1', 'Linear', 1, '-0.5773502691896258'],
          ['W2', 'Linear', 0, '0.5'],
        ]) {
          await preset(t, 'lattice', 'curve', curve, shape);
          const member = t.member('lattice', 'curve', curve);
          await t.click(`${curve} point ${point + 1}`, member.locator(`circle.point[data-index="${point}"]`));
          await t.click('its y', member.locator('.point-fields label', { hasText: 'y' }).locator('input'));
          await t.type(y, y);
        }
        await oldAdd(t, page, 'W Distortion');
        await wire(t, 'lattice', 'w-distortion', 'Distortion');
        await oldAfter(t, page, 'Vector to color', 'vector-to-color', 'w-distortion', 'In');
      } else {
        await preset(t, 'lattice', 'curve', 'W1', 'Minus the distance');
        await preset(t, 'lattice', 'curve', 'W2', 'The distance');
        await finder(t, page, 'W Dist');
        await finder(t, page, 'palette');
      }
      // Its W gradient alone: white from 0.08 on, dark below.
      await weights(t, 'vector-to-color', [0, 0, 0, 1]);
      const gradient = t.member('vector-to-color', 'gradient', 'W color');
      const bar = await gradient.locator('.bar-area').boundingBox();
      await t.drag('the white stop to 0.08', gradient.locator('.stop[data-index="1"]'), [
        -0.92 * bar.width,
        0,
      ]);
    },
    check(s) {
      const byId = (id) => s.nodes.find((n) => n.id === id);
      const stops = byId('vector-to-color').gradients['W color'];
      return (
        s.output === 'vector-to-color' &&
        byId('w-distortion').params.Distortion.link === 'lattice' &&
        byId('vector-to-color').params.In.link === 'w-distortion' &&
        stops[stops.length - 1][0] < 0.15 &&
        byId('lattice').curves.W1[1][1] < -0.5
      );
    },
  },
  {
    name: 'flat tiles with grout by a threshold',
    start: 'hex-lattice-plane.json',
    skipOld: true,
    async steps(t, page) {
      // The weight sum d1 - d0, 0 on the border of two tiles, stepped at 0.08: white tiles, black grout.
      await preset(t, 'lattice', 'curve', 'W1', 'Minus the distance');
      await preset(t, 'lattice', 'curve', 'W2', 'The distance');
      await finder(t, page, 'threshold');
      await t.choose('step', t.member('remap', 'param', REMAP_STEP).locator('select'), { label: 'step' });
      await t.click('From max', t.member('remap', 'param', 'From max').locator('input.number'));
      await t.type('0.16', '0.16');
    },
    check(s) {
      const remap = s.nodes.find((n) => n.id === 'remap');
      return (
        s.output === 'remap' &&
        s.output_type === 'double' &&
        remap.params.Value.link === 'lattice' &&
        remap.params[REMAP_STEP] === 2 &&
        remap.params['From max'] === 0.16
      );
    },
  },
  {
    name: 'globe cells, each one random colour of a palette',
    start: 'hex-lattice-sphere.json',
    skipOld: true,
    async steps(t, page) {
      // W1 alone: every point takes its cell's centre, which random draws for.
      await preset(t, 'lattice', 'curve', 'W1', 'Constant 1');
      await preset(t, 'lattice', 'curve', 'W2', 'Constant 0');
      await preset(t, 'lattice', 'curve', 'W3', 'Constant 0');
      await finder(t, page, 'random');
      await finder(t, page, 'gradient');
      await preset(t, 'gradient-map', 'gradient', 'Gradient', 'Viridis');
    },
    check(s) {
      const byId = (id) => s.nodes.find((n) => n.id === id);
      return (
        s.output === 'gradient-map' &&
        s.output_type === 'color' &&
        byId('random').params.Vector.link === 'lattice' &&
        byId('gradient-map').params.Value.link === 'random' &&
        byId('gradient-map').gradients.Gradient.length > 2
      );
    },
  },
  {
    name: "the fractal's colours multiplied over the globe cells",
    start: 'leapfrog-sphere.json',
    skipOld: true,
    async steps(t, page) {
      await t.click('Recipes', page.locator('.open-recipes'));
      await t.click('Cells on the sphere', page.locator('[data-recipe="Cells on the sphere"]'));
      await finder(t, page, 'blend');
      await wire(t, 'paint', 'mix', 'B');
      await t.choose('multiply', t.member('mix', 'param', MIX_BLEND).locator('select'), {
        label: 'multiply',
      });
    },
    check(s) {
      const mix = s.nodes.find((n) => n.id === 'mix');
      return (
        s.output === 'mix' &&
        s.output_type === 'color' &&
        mix.params.A.link === 'paint-2' &&
        mix.params.B.link === 'paint' &&
        mix.params[MIX_BLEND] === 2
      );
    },
  },
];

async function attempt(task) {
  const folder = scratchFolder([task.start]);
  const server = await startServer(folder, task.start, { args: ['--time-limit', '60'] });
  const browser = await startBrowser();
  const page = await browser.context.newPage();
  await page.setViewportSize({ width: 1280, height: 720 });
  const t = actor(page);
  try {
    await page.goto(server.url);
    await waitForPreview(page, null);
    await task.steps(t, page);
    await t.save();
    await page.waitForFunction(() => !document.querySelector('.file-name').textContent.includes('•'));
    await waitForPreview(page, null);
    const scene = JSON.parse(fs.readFileSync(path.join(folder, task.start), 'utf8'));
    const image = page.locator('.preview-image');
    const size = `${await image.getAttribute('data-width')}x${await image.getAttribute('data-height')}`;
    // The file as vantrel render takes it, with the scene's own type and samples.
    const rendered = await run(['render', task.start, '-o', 'trial.png', '--size', size], { cwd: folder });
    const ours = decodePng(await shownPreview(page)).data;
    const theirs =
      rendered.status === 0 ? decodePng(fs.readFileSync(path.join(folder, 'trial.png'))).data : null;
    const same = Boolean(theirs?.equals(ours));
    // The share of pixels that differ (pngjs gives four bytes a pixel).
    let differ = 0;
    for (let i = 0; theirs && !same && i < ours.length; i += 4)
      differ += ours.compare(theirs, i, i + 4, i, i + 4) !== 0;
    const share = same ? 0 : theirs ? differ / (ours.length / 4) : 1;
    return { actions: t.done.length, done: t.done, asked: Boolean(task.check(scene)), same, share };
  } catch (error) {
    return { failed: error.message.split('\n')[0], done: t.done };
  } finally {
    // TRIAL_SHOTS=FOLDER keeps how the page looked at the end of each task.
    if (process.env.TRIAL_SHOTS)
      await page.screenshot({
        path: path.join(process.env.TRIAL_SHOTS, `${tasks.indexOf(task) + 1}${OLD ? '-old' : ''}.png`),
      });
    await endSession({ browser, server, folder });
  }
}

const results = [];
for (const task of tasks) {
  if ((OLD && task.skipOld) || !task.name.includes(process.env.TRIAL_TASKS ?? '')) continue;
  const result = await attempt(task);
  results.push({ task: task.name, ...(OLD && task.old ? { note: task.old } : {}), ...result });
  const line = result.failed
    ? `failed: ${result.failed}`
    : `${result.actions} actions, as asked: ${result.asked}, renders as previewed: ${result.same}` +
      (result.same ? '' : ` (${(result.share * 100).toFixed(1)} % of the pixels differ)`);
  console.log(`${task.name}: ${line}`);
}
console.log(JSON.stringify(results, null, 1));
