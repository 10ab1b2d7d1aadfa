// The page's decisions that are pure functions of the scene, the module's listing (`vantrel list
// --json`, run here) and the data beside the presets: what changes nothing, what a wire carries, the
// output's type kept in step, the plane's periods, nodes added and pasted. Expectations are the node
// guide's (docs/nodes.md), written out by hand.
import { before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { examples, run } from './harness.mjs';
import {
  askedTypes,
  costlyValues,
  findTypes,
  fitToPeriods,
  idleReason,
  inStep,
  planePeriod,
  wireHint,
} from '../src/nodeInfo.js';
import { addNodeAfter, pasteNodes } from '../src/graphEdits.js';
import { fitPoints, placeOf, reversedStops, withComponent } from '../src/scene.js';
import { spoken } from '../src/messages.js';

const MODE = '(2=plane, 3=sphere)(how to make list box]';
const info = JSON.parse(fs.readFileSync(path.join(examples, 'presets/node-types.json'), 'utf8'));
let types;

before(async () => {
  const listed = await run(['list', '--json']);
  assert.equal(listed.status, 0, listed.stderr);
  types = JSON.parse(listed.stdout).types;
});

const at = '@position';
const lattice = (id, mode, extra = {}) => ({
  id,
  type: 'Hexagonal lattice 3D(1)',
  params: { Position: { link: at }, [MODE]: mode, ...extra },
});
const scene = (nodes, output, more = {}) => ({ format: 'vantrel-scene/1', nodes, output, ...more });
// A scene of one host node `h`, seen as `type`.
const host = (type, params, seenAs = 'double') =>
  scene([{ id: 'h', type, params }], 'h', { output_type: seenAs });
const INTERPOLATION = '(0=linear, 1=smooth step, 2=step)Interpolation';
const OPERATION =
  '(0=add, 1=subtract, 2=multiply, 3=divide, 4=minimum, 5=maximum, 6=power, 7=absolute, 8=floor, 9=fraction, 10=modulo)Operation';
const asked = (s, shown = null, shownType = null) =>
  askedTypes(s, types, info, { outputType: s.output_type ?? 'color', shown, shownType });

test("the data names every member of both modules' types exactly, with a label and a hint", () => {
  // The product's module and the host's node library: every type listed has an entry.
  assert.deepEqual([...new Set(types.map((t) => t.category))].sort(), ['Nodes-Quib', 'Nodes-Vantrel']);
  for (const type of types) {
    const entry = info.nodes[type.name];
    assert.ok(entry, `${type.name} has an entry`);
    for (const kind of ['params', 'curves', 'gradients']) {
      const listed = type[kind].map((m) => m.name).sort();
      assert.deepEqual(
        Object.keys(entry[kind] ?? {}).sort(),
        listed,
        `${type.name}: its ${kind}, by their stored names`,
      );
      for (const name of listed) {
        const { label, hint } = entry[kind][name];
        assert.ok(label && hint && label.length <= 32, `${type.name} › ${name}: ${label}`);
      }
    }
    for (const t of [entry.picture, ...entry.own, ...entry.wires, ...Object.keys(entry.carries ?? {})])
      assert.ok(
        ['string', 'colora', 'color', 'quaternion', 'vec4', 'vec3', 'vec2', 'double', 'int'].includes(t),
        t,
      );
    for (const input of entry.inputs ?? [])
      assert.ok(
        type.params.some((p) => p.name === input.param),
        input.param,
      );
    // A condition of "idle" names a parameter of the type and values it can hold.
    for (const kind of ['params', 'curves', 'gradients'])
      for (const [name, member] of Object.entries(entry[kind] ?? {}))
        for (const condition of (member.idle ?? []).flatMap((i) => i.when)) {
          if (condition.readAs) continue;
          const desc = type.params.find((p) => p.name === condition.param);
          const where = `${type.name} › ${name}: idle when ${condition.param}`;
          assert.ok(desc, where);
          for (const v of condition.is)
            assert.ok(!desc.choices || desc.choices.some((c) => c.value === v), `${where} is ${v}`);
        }
  }
});

test('a member that changes nothing as the scene stands says so', () => {
  const paint = (input, weights) => ({
    id: 'paint',
    type: 'Vector to color',
    params: { In: { link: input }, Weights: weights },
  });
  const pack = (param) => ({ id: 'pack', type: 'W Distortion', params: { [param]: { link: 'l' } } });
  const rows = [
    // The plane lattice has spacing 1; the weight sum does not depend on Rescale.
    {
      s: scene([lattice('l', 2)], 'l', { output_type: 'double' }),
      member: ['l', 'params', 'Subdivision'],
      idle: /spacing 1/,
    },
    {
      s: scene([lattice('l', 3)], 'l', { output_type: 'double' }),
      member: ['l', 'params', 'Subdivision'],
      idle: null,
    },
    {
      s: scene([lattice('l', 2)], 'l', { output_type: 'double' }),
      member: ['l', 'params', 'Rescale result?'],
      idle: /weight sum/,
    },
    // Its blended position read as a colour, or as In of vector to color (a Vec4d), depends on it.
    {
      s: scene([lattice('l', 2)], 'l', { output_type: 'color' }),
      member: ['l', 'params', 'Rescale result?'],
      idle: null,
    },
    {
      s: scene([lattice('l', 3), paint('l', [1, 1, 0, 0])], 'paint'),
      member: ['l', 'params', 'Rescale result?'],
      idle: null,
    },
    // W Distortion seen as a colour reads its Distortion as a real: the lattice's weight sum.
    {
      s: scene([lattice('l', 2), pack('Distortion')], 'pack'),
      member: ['l', 'params', 'Rescale result?'],
      idle: /weight sum/,
    },
    // Seen as a real, W Distortion reads no Position; but its own picture, a colour, reads the
    // lattice's blended corner (its Vec2d) there, which Rescale shapes.
    {
      s: scene([lattice('l', 2), pack('Position')], 'pack', { output_type: 'double' }),
      member: ['l', 'params', 'Rescale result?'],
      idle: null,
    },
    // A gradient of weight 0 adds nothing; a linked weight may not be 0.
    { s: scene([paint(at, [1, 0, 0, 0])], 'paint'), member: ['paint', 'gradients', 'Y color'], idle: /is 0/ },
    { s: scene([paint(at, [1, 0, 0, 0])], 'paint'), member: ['paint', 'gradients', 'X color'], idle: null },
    { s: scene([paint(at, { link: at })], 'paint'), member: ['paint', 'gradients', 'W color'], idle: null },
    // The host's nodes: a step never leaves the To range; floor reads A alone; factor 0 is A alone.
    ...[
      [host('Remap', { [INTERPOLATION]: 2 }), 'Clamp', /never leave/],
      [host('Remap', { [INTERPOLATION]: 0 }), 'Clamp', null],
      [host('Remap', {}), 'Clamp', null],
      [host('Math', { [OPERATION]: 8 }), 'B', /A alone/],
      [host('Math', { [OPERATION]: 10 }), 'B', null],
      [host('Mix', { Factor: 0 }), 'B', /A alone/],
      [host('Mix', {}), 'B', null],
      [host('Mix', { Factor: { link: at } }), 'B', null],
    ].map(([s, param, idle]) => ({ s, member: ['h', 'params', param], idle })),
  ];
  for (const [i, row] of rows.entries()) {
    const [id, kind, name] = row.member;
    const node = row.s.nodes.find((n) => n.id === id);
    const why = idleReason(info, types, node, kind, name, asked(row.s).get(id));
    if (row.idle) assert.match(why ?? '', row.idle, `row ${i}: ${row.member.join(' ')}`);
    else assert.equal(why, null, `row ${i}: ${row.member.join(' ')}`);
  }
});

test("a wire that carries something else than its source's picture shows says what", () => {
  const into = (type, param, source, extra = {}) => ({
    id: 't',
    type,
    params: { [param]: { link: source } },
    ...extra,
  });
  const fractal = { id: 'f', type: 'Leapfrog fractal', params: { A: { link: at } } };
  const rows = [
    // The lattice's colour is its blended corner, not the weight sum its picture shows.
    {
      nodes: [lattice('l', 2), into('Curve3', 'In', 'l')],
      wire: ['l', 'In'],
      hint: /blended corner position as \(r, g, b\)/,
    },
    {
      nodes: [lattice('l', 2), into('Vector to color', 'In', 'l')],
      wire: ['l', 'In'],
      hint: /blended corner position \(x, y, z, 0\)/,
    },
    // Its weight sum, as W Distortion's Distortion asks: what the picture shows, nothing to say.
    {
      nodes: [lattice('l', 2), into('W Distortion', 'Distortion', 'l')],
      wire: ['l', 'Distortion'],
      hint: null,
    },
    // A real into a Vec4d is the real four times; into a colour, grey.
    { nodes: [fractal, into('Vector to color', 'In', 'f')], wire: ['f', 'In'], hint: /four times/ },
    { nodes: [fractal, into('Curve3', 'In', 'f')], wire: ['f', 'In'], hint: /grey/ },
    // The position into a position: nothing to say; into a colour, its coordinates.
    { nodes: [lattice('t', 2)], wire: [at, 'Position'], hint: null },
    { nodes: [into('Curve3', 'In', at)], wire: [at, 'In'], hint: /position \(x, y, z\) as red, green, blue/ },
    // Random's picture is its colour: into a real, its value, which is another number.
    {
      nodes: [{ id: 'r', type: 'Random' }, into('Gradient map', 'Value', 'r')],
      wire: ['r', 'Value'],
      hint: /random value in \[0, 1\)/,
    },
    { nodes: [{ id: 'r', type: 'Random' }, into('Mix', 'A', 'r')], wire: ['r', 'A'], hint: null },
    // A remapped real into a colour: grey.
    { nodes: [{ id: 'm', type: 'Remap' }, into('Mix', 'B', 'm')], wire: ['m', 'B'], hint: /grey/ },
  ];
  for (const [i, row] of rows.entries()) {
    const s = scene(row.nodes, 't');
    const hint = wireHint(s, types, info, asked(s), { source: row.wire[0], target: 't', param: row.wire[1] });
    if (row.hint) assert.match(hint?.label ?? '', row.hint, `row ${i}`);
    else assert.equal(hint, null, `row ${i}`);
  }
  // A source the data does not know says nothing.
  const unknown = info.nodes['Curve3'];
  const without = { ...info, nodes: { ...info.nodes, Curve3: undefined } };
  const s = scene([{ id: 'c', type: 'Curve3' }, into('Vector to color', 'In', 'c')], 't');
  assert.ok(unknown);
  assert.equal(wireHint(s, types, without, asked(s), { source: 'c', target: 't', param: 'In' }), null);
});

test("the scene's output type follows its output's own, unless it is pinned or chosen", () => {
  const base = scene([lattice('l', 2), { id: 'c', type: 'Curve3' }], 'l');
  const rows = [
    // Following: the output's own type, written where the scene named none.
    {
      before: { ...base, output: 'c' },
      next: { ...base, output: 'c', description: 'x' },
      pin: null,
      type: 'color',
    },
    {
      before: { ...base, output_type: 'double' },
      next: { ...base, output_type: 'double', description: 'x' },
      pin: null,
      type: 'double',
    },
    {
      before: { ...base, output_type: 'double' },
      next: { ...base, output_type: 'double', output: 'c' },
      pin: null,
      type: 'color',
    },
    // A scene that names none is seen in colour, as vantrel renders it: the lattice is pinned to it.
    { before: base, next: { ...base, description: 'x' }, pin: null, type: 'color' },
    { before: base, next: { ...base, output: 'c' }, pin: null, type: 'color' },
    // Pinned, even to the output's own type: it stays when the output changes.
    {
      before: { ...base, output_type: 'double' },
      next: { ...base, output_type: 'double', output: 'c' },
      pin: 'double',
      type: 'double',
    },
    {
      before: { ...base, output_type: 'vec3' },
      next: { ...base, output_type: 'vec3', output: 'c' },
      pin: null,
      type: 'vec3',
    },
    // Chosen by the edit itself.
    {
      before: { ...base, output_type: 'double' },
      next: { ...base, output_type: 'vec2' },
      pin: null,
      type: 'vec2',
    },
    // An int image takes no sub-samples.
    {
      before: { ...base, output_type: 'double', samples: 3 },
      next: { ...base, output_type: 'int', samples: 3 },
      pin: null,
      type: 'int',
      samples: undefined,
    },
    {
      before: { ...base, output_type: 'double' },
      next: { ...base, output_type: 'double', samples: 3 },
      pin: null,
      type: 'double',
      samples: 3,
    },
  ];
  for (const [i, row] of rows.entries()) {
    const got = inStep(row.before, row.next, info, row.pin);
    assert.equal(got.output_type, row.type, `row ${i}`);
    if ('samples' in row) assert.equal(got.samples, row.samples, `row ${i}: samples`);
  }
});

test('the plane lattice repeats every 1 by √3 while only its weight sum is read', () => {
  const guide = (name) => JSON.parse(fs.readFileSync(path.join(examples, '../docs/nodes', name), 'utf8'));
  const rows = [
    { s: scene([lattice('l', 2)], 'l', { output_type: 'double' }), size: [1, Math.sqrt(3)] },
    { s: guide('mapper-palette.json'), size: [1, Math.sqrt(3)] },
    // The tiles are coloured by their lattice point's position, which does not repeat.
    { s: guide('lattice-tiles.json'), why: /cells: .*does not repeat/ },
    { s: scene([lattice('l', 3)], 'l', { output_type: 'double' }), why: /l: / },
    { s: guide('mapper-mix.json'), size: null },
    // Remapped, the weight sum repeats as it does; a random value per cell does not.
    {
      s: scene([lattice('l', 2), { id: 'r', type: 'Remap', params: { Value: { link: 'l' } } }], 'r'),
      size: [1, Math.sqrt(3)],
    },
    { s: guide('random-cells-plane.json'), why: /cells: .*does not repeat/ },
  ];
  for (const [i, row] of rows.entries()) {
    const got = planePeriod(row.s, types, info, row.s.output, row.s.output_type ?? 'color');
    if (row.size === null) assert.equal(got, null, `row ${i}`);
    else if (row.size)
      assert.ok(Math.abs(got.size[1] - row.size[1]) < 1e-15 && got.size[0] === 1, `row ${i}`);
    else assert.match(got.why, row.why, `row ${i}`);
  }
  const sqrt3 = 1.7320508075688772;
  const fitted = [
    { domain: { kind: 'plane', min: [-6, -3], max: [6, 3] }, max: [6, -3 + 4 * sqrt3] },
    { domain: { kind: 'plane', min: [0, 0], max: [0.2, 0.2] }, max: [1, sqrt3] },
    { domain: { kind: 'plane', min: [0, 0], max: [3, 2 * sqrt3] }, max: [3, 2 * sqrt3] },
  ];
  for (const row of fitted) assert.deepEqual(fitToPeriods(row.domain, [1, sqrt3]).max, row.max);
});

test('a node added beside another is wired from it where the types fit', () => {
  const type = (name) => types.find((t) => t.name === name);
  const fractal = { id: 'f', type: 'Leapfrog fractal', params: { A: { link: at } } };
  const rows = [
    // After the lattice, vector to color reads its blended corner and becomes the output.
    {
      s: scene([lattice('l', 3)], 'l'),
      add: 'Vector to color',
      anchor: 'l',
      params: { In: { link: 'l' } },
      output: true,
    },
    // Curve3 asks for a colour, which the lattice's is not: left unwired.
    { s: scene([lattice('l', 3)], 'l'), add: 'Curve3', anchor: 'l', params: undefined, output: false },
    // W Distortion packs the weight sum, the position in front.
    {
      s: scene([lattice('l', 2)], 'l'),
      add: 'W Distortion',
      anchor: 'l',
      params: { Distortion: { link: 'l' }, Position: { link: at } },
      output: true,
    },
    // A lattice after a colour node reads the position.
    {
      s: scene([{ id: 'c', type: 'Curve3' }], 'c'),
      add: 'Hexagonal lattice 3D(1)',
      anchor: 'c',
      params: { Position: { link: at } },
      output: false,
    },
    // The host's nodes: random reads the lattice's cells, remap its weight sum, a gradient map the
    // random value; mix after the lattice is left unwired, as its colour is not its picture.
    ...[
      ['Random', 'l', { Vector: { link: 'l' } }],
      ['Remap', 'l', { Value: { link: 'l' } }],
      ['Mix', 'l', undefined],
      ['Pick', 'l', { Vector: { link: 'l' } }],
    ].map(([add, anchor, params]) => ({
      s: scene([lattice('l', 3)], 'l'),
      add,
      anchor,
      params,
      output: !!params,
    })),
    ...[
      ['Gradient map', { Value: { link: 'r' } }],
      ['Mix', { A: { link: 'r' } }],
      ['Curve3', { In: { link: 'r' } }],
      ['Combine', { X: { link: 'r' } }],
    ].map(([add, params]) => ({
      s: scene([{ id: 'r', type: 'Random', params: { Vector: { link: at } } }], 'r'),
      add,
      anchor: 'r',
      params,
      output: true,
    })),
    // Random after a colour draws for the position: noise.
    {
      s: scene([{ id: 'c', type: 'Curve3' }], 'c'),
      add: 'Random',
      anchor: 'c',
      params: { Vector: { link: at } },
      output: false,
    },
    // Curve3 after the fractal greys it; beside a node that is not the output, the output stays.
    {
      s: scene([fractal, lattice('l', 3)], 'l'),
      add: 'Curve3',
      anchor: 'f',
      params: { In: { link: 'f' } },
      output: false,
    },
  ];
  for (const [i, row] of rows.entries()) {
    const { scene: next, id } = addNodeAfter(row.s, types, info, type(row.add), row.anchor);
    assert.deepEqual(next.nodes.find((n) => n.id === id).params, row.params, `row ${i}`);
    assert.equal(next.output === id, row.output, `row ${i}: output`);
  }
});

test('nodes pasted get ids of their own, links among them follow, links out stay where they can', () => {
  const s = scene([lattice('l', 2), { id: 'c', type: 'Curve3', params: { In: { link: 'l' } } }], 'c');
  const rows = [
    { clip: [s.nodes[1]], ids: ['c-2'], links: [{ In: { link: 'l' } }] },
    {
      clip: s.nodes,
      ids: ['l-2', 'c-2'],
      links: [{ Position: { link: at }, [MODE]: 2 }, { In: { link: 'l-2' } }],
    },
    // A copy of a copy is numbered after the first.
    {
      clip: [{ id: 'c-2', type: 'Curve3' }],
      ids: ['c-3'],
      links: [undefined],
      extra: [{ id: 'c-2', type: 'Curve3' }],
    },
    // From another scene, a link to a node this one lacks is left out.
    { clip: [{ id: 'c', type: 'Curve3', params: { In: { link: 'elsewhere' } } }], ids: ['c-2'], links: [{}] },
  ];
  for (const [i, row] of rows.entries()) {
    const into = { ...s, nodes: [...s.nodes, ...(row.extra ?? [])] };
    const pasted = pasteNodes(into, { nodes: structuredClone(row.clip) });
    assert.deepEqual(pasted.ids, row.ids, `row ${i}`);
    assert.deepEqual(
      pasted.ids.map((id) => pasted.scene.nodes.find((n) => n.id === id).params),
      row.links,
      `row ${i}`,
    );
  }
});

test('palettes reversed, types found by name or word, costly values found', () => {
  assert.deepEqual(
    reversedStops([
      [-2.5, [1, 0, 0]],
      [0.1, [0, 1, 0]],
      [2.5, [0, 0, 1]],
    ]),
    [
      [-2.5, [0, 0, 1]],
      [-0.1, [0, 1, 0]],
      [2.5, [1, 0, 0]],
    ],
  );
  // The distance presets: W1 at minus the distance and W2 at the distance weigh d1 - d0.
  const curves = JSON.parse(fs.readFileSync(path.join(examples, 'presets/curves.json'), 'utf8')).curves;
  const shape = (name) => curves.find((c) => c.name === name);
  const fit = (name, range) => fitPoints(shape(name).points, range, shape(name).times);
  assert.deepEqual(fit('Minus the distance', [0, 0.5773502691896258]), [
    [0, 0],
    [0.5773502691896258, -0.5773502691896258],
  ]);
  assert.deepEqual(fit('The distance', [0.5, 1]), [
    [0.5, 0.5],
    [1, 1],
  ]);
  assert.deepEqual(fit('Hard step', [0.5, 1]), [
    [0.5, 0],
    [0.745, 0],
    [0.755, 1],
    [1, 1],
  ]);
  // A whole vector typed into one field; one number, or a vector of another length, is that field's.
  const typed = [
    ['1 0 0 0', [1, 0, 0, 0]],
    ['(0.5, 0.25, 0, 1)', [0.5, 0.25, 0, 1]],
    [3, [1, 3, 1, 1]],
    ['1 0', [1, '1 0', 1, 1]],
  ];
  for (const [text, vector] of typed) assert.deepEqual(withComponent([1, 1, 1, 1], 1, text), vector);
  const found = (typed) => findTypes(types, info, typed).map((t) => t.name);
  assert.deepEqual(found('curve'), ['Curve3']);
  assert.equal(found('palette')[0], 'Vector to color');
  assert.equal(found('hex')[0], 'Hexagonal lattice 3D(1)');
  // The words of the guide's recipes and of an artist find the host's nodes.
  for (const [typed, first] of [
    ['threshold', 'Remap'],
    ['levels', 'Curve3'],
    ['random colour per cell', 'Random'],
    ['noise', 'Random'],
    ['overlay', 'Mix'],
    ['screen', 'Mix'],
    ['colour ramp', 'Gradient map'],
    ['split channels', 'Pick'],
    ['modulo', 'Math'],
  ])
    assert.equal(found(typed)[0], first, typed);
  assert.ok(found('levels').includes('Remap'));
  assert.equal(found('').length, types.length);
  const fractal = (n) => scene([{ id: 'f', type: 'Leapfrog fractal', params: { Iterations: n } }], 'f');
  assert.deepEqual(costlyValues(fractal(100), info), []);
  const [costly] = costlyValues(fractal(2000000000), info);
  // 2e9 rounds of about 44 ns: over a minute a sample.
  assert.ok(costly.param === 'Iterations' && costly.sample > 60, JSON.stringify(costly));
});

test("a refusal is said from the error's code, pointer, expected, found and note, not its words", () => {
  const scene = {
    nodes: [
      {
        id: 'c',
        curves: {
          W1: [
            [0, 0],
            [0.4, 1],
            [0.3, 1],
          ],
          Curve: {
            red: [
              [0.5, 0],
              [0.2, 1],
            ],
          },
        },
        gradients: {
          Palette: [
            [0.6, [0, 0, 0]],
            [0.6, [1, 1, 1]],
          ],
        },
      },
    ],
  };
  // The messages are worded unlike the sentences, so that a sentence cut from one would show.
  const cases = [
    [
      { code: 'not-increasing', pointer: '/nodes/0/curves/W1/2/0', expected: 'x ascending' },
      "point 3 of W1: its x must be above point 2's, 0.4",
    ],
    [
      { code: 'not-increasing', pointer: '/nodes/0/curves/Curve/red/1/0' },
      "point 2 of red: its x must be above point 1's, 0.5",
    ],
    [
      { code: 'not-increasing', pointer: '/nodes/0/gradients/Palette/1/0' },
      "stop 2 of Palette: its position must be above stop 1's, 0.6",
    ],
    [
      { code: 'wrong-type', pointer: '/nodes/0/curves/W1/0/1', expected: 'a finite number', found: '"a"' },
      'point 1 of W1, its y: expected a finite number, not "a"',
    ],
    [
      {
        code: 'wrong-type',
        pointer: '/nodes/0/gradients/Palette/0/1/2',
        expected: 'a finite number',
        found: 'null',
      },
      "stop 1 of Palette, its colour's blue: expected a finite number, not null",
    ],
    [
      { code: 'wrong-type', pointer: '/nodes/0/params/Weights/1', expected: 'a number', found: '"x"' },
      'Weights, component 2: expected a number, not "x"',
    ],
    [
      {
        code: 'unknown-node',
        pointer: '/nodes/0/params/In/link',
        expected: 'a node id',
        found: '"b"',
        note: 'there is no such node',
      },
      'In: expected a node id, not "b"; there is no such node',
    ],
    [
      { code: 'out-of-range', pointer: '/nodes/0/params/Scale', expected: 'a value within 0 .. 1' },
      'Scale: expected a value within 0 .. 1',
    ],
    [{ code: 'bad-value', pointer: '/nodes/0/params/Mode' }, 'Mode: the message as it stands'],
    [{ code: 'not-json', pointer: null }, 'the message as it stands'],
  ];
  for (const [error, text] of cases) {
    const full = { message: 'the message as it stands', ...error };
    assert.equal(spoken(full, placeOf(error.pointer, scene), scene), text, error.pointer);
  }
});
