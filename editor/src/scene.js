// Pure edits of the scene, the page's whole model: each returns a new scene object in the scene-file
// format and leaves the old one as it was, so the history can keep every step.

export const POSITION = '@position';

// The scene as the pictures read it: where the boxes stand and the description change no pixel, and
// every picture names its own type and samples, so a box moved, a word typed or the output's type
// chosen renders no node's picture again.
export function forPicture(scene) {
  const {
    layout: _layout,
    description: _description,
    output_type: _type,
    samples: _samples,
    ...rest
  } = scene;
  return rest;
}

// The type a picture is rendered in: a text has none, so a string is seen as colour.
export const imageType = (type) => (type === 'string' ? 'color' : type);

// The scene with the boxes' places (a map of id to {x, y}) as its "layout": whole pixels, in id order.
export function withLayout(scene, places) {
  const ids = [POSITION, ...scene.nodes.map((n) => n.id)].filter((id) => places.has(id));
  const layout = Object.fromEntries(
    ids.map((id) => [id, [Math.round(places.get(id).x), Math.round(places.get(id).y)]]),
  );
  return { ...scene, layout };
}

export function typeOf(types, node) {
  return types.find((t) => t.name === node.type || t.classId === node.type) ?? null;
}

export function isLink(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value) && 'link' in value;
}

function replaceNode(scene, id, change) {
  return { ...scene, nodes: scene.nodes.map((n) => (n.id === id ? change(n) : n)) };
}

// Sets one member ("params", "curves" or "gradients") of a node; undefined removes it, so the node
// takes its default again.
export function setMember(scene, id, kind, name, value) {
  return replaceNode(scene, id, (node) => {
    const members = { ...(node[kind] ?? {}) };
    if (value === undefined) delete members[name];
    else members[name] = value;
    const next = { ...node, [kind]: members };
    if (Object.keys(members).length === 0) delete next[kind];
    return next;
  });
}

// A vector with component i typed as v; a whole vector typed into any of its fields ("1 0 0 0",
// "(1, 0, 0, 0)") sets every component. Anything else goes to the loader as typed.
export function withComponent(vector, i, v) {
  const parts =
    typeof v === 'string'
      ? v
          .split(/[\s,;()]+/)
          .filter(Boolean)
          .map(Number)
      : [];
  if (parts.length === vector.length && parts.every(Number.isFinite)) return parts;
  return vector.map((old, j) => (j === i ? v : old));
}

export const setParam = (scene, id, name, value) => setMember(scene, id, 'params', name, value);
export const link = (scene, source, id, name) => setParam(scene, id, name, { link: source });
export const unlink = (scene, id, name) => setParam(scene, id, name, undefined);

// An id of the type's own name, lower case, with a number when that is taken: "curve3", "curve3-2".
export function freshId(scene, type) {
  const base =
    type.name
      .toLowerCase()
      .replace(/[^a-z0-9]+/g, '-')
      .replace(/^-|-$/g, '') || 'node';
  const taken = new Set(scene.nodes.map((n) => n.id));
  if (!taken.has(base)) return base;
  for (let i = 2; ; ++i) if (!taken.has(`${base}-${i}`)) return `${base}-${i}`;
}

export function addNode(scene, type) {
  const id = freshId(scene, type);
  return { scene: { ...scene, nodes: [...scene.nodes, { id, type: type.name }] }, id };
}

// A preset's points, given over 0 .. 1, fitted to a curve's input range: x from its low to its high end,
// y as given, or, for a preset whose y is a multiple of the input ("times": "x"), that multiple of the
// fitted x: the lattice's distance itself as a weight.
export const fitPoints = (points, [low, high], times) =>
  points.map(([x, y]) => {
    const at = low + x * (high - low);
    // + 0 turns the -0 of minus the distance at 0 into 0.
    return [at, times === 'x' ? y * at + 0 : y];
  });

// A palette's stops, given over 0 .. 1, over the span of a gradient's stops now (0 .. 1 when they have
// none), so that a gradient read over -2.5 .. 2.5 keeps its range.
export function fitStops(stops, current) {
  const at = (current ?? []).map((s) => s[0]);
  const [low, high] =
    at.length > 1 && Math.max(...at) > Math.min(...at) ? [Math.min(...at), Math.max(...at)] : [0, 1];
  return stops.map(([x, rgb]) => [low + x * (high - low), [...rgb]]);
}

// A gradient's stops the other way round over the same span: a stop at x goes to low + high - x, the
// ends to each other exactly.
export function reversedStops(stops) {
  const at = stops.map((s) => s[0]);
  const [low, high] = [Math.min(...at), Math.max(...at)];
  const mirrored = (x) => (x === low ? high : x === high ? low : low + high - x);
  return stops.map(([x, rgb]) => [mirrored(x), [...rgb]]).reverse();
}

// A recipe's nodes (or nodes copied) added to the scene, wired among themselves as in the recipe's
// scene; an id the scene has already gets a number ("lattice" becomes "lattice-2"), and the links follow
// it. A link to a node the scene does not hold is left out, so that parameter takes its default. Answers
// the new scene, the id of the recipe's output and the ids the nodes were given, in order.
export function addRecipe(scene, recipe) {
  const taken = new Set(scene.nodes.map((n) => n.id));
  const renamed = new Map();
  for (const node of recipe.nodes) {
    // A copy of "curve3-2" is "curve3-3", not "curve3-2-2".
    let id = node.id;
    const base = node.id.replace(/-\d+$/, '') || node.id;
    for (let i = 2; taken.has(id) || id === POSITION; ++i) id = `${base}-${i}`;
    taken.add(id);
    renamed.set(node.id, id);
  }
  const there = new Set([POSITION, ...scene.nodes.map((n) => n.id)]);
  const relink = (value) =>
    isLink(value) && renamed.has(value.link) ? { link: renamed.get(value.link) } : value;
  const kept = ([, v]) => !isLink(v) || renamed.has(v.link) || there.has(v.link);
  const nodes = recipe.nodes.map((node) => {
    const next = { ...node, id: renamed.get(node.id) };
    if (node.params)
      next.params = Object.fromEntries(
        Object.entries(node.params)
          .filter(kept)
          .map(([k, v]) => [k, relink(v)]),
      );
    return next;
  });
  return {
    scene: { ...scene, nodes: [...scene.nodes, ...nodes] },
    output: renamed.get(recipe.output) ?? null,
    ids: nodes.map((n) => n.id),
  };
}

// Removes a node and every link to it (those parameters take their defaults again); when it was the
// output, the first remaining node becomes the output.
export function deleteNode(scene, id) {
  const nodes = scene.nodes
    .filter((n) => n.id !== id)
    .map((n) => {
      if (!n.params) return n;
      const params = Object.fromEntries(
        Object.entries(n.params).filter(([, v]) => !(isLink(v) && v.link === id)),
      );
      const next = { ...n, params };
      if (Object.keys(params).length === 0) delete next.params;
      return next;
    });
  const output = scene.output === id ? (nodes[0]?.id ?? id) : scene.output;
  const next = { ...scene, nodes, output };
  if (scene.layout?.[id]) {
    next.layout = { ...scene.layout };
    delete next.layout[id];
  }
  return next;
}

// Every link of the scene as wires: from the source's output to the parameter it feeds.
export function links(scene) {
  const wires = [];
  for (const node of scene.nodes) {
    for (const [param, value] of Object.entries(node.params ?? {})) {
      if (isLink(value)) wires.push({ source: value.link, target: node.id, param });
    }
  }
  return wires;
}

// The reference tokens of an RFC 6901 JSON Pointer: "/nodes/0/params/a~1b" is nodes, 0, params, a/b.
export function pointerTokens(pointer) {
  if (!pointer) return [];
  return pointer
    .split('/')
    .slice(1)
    .map((token) => token.replaceAll('~1', '/').replaceAll('~0', '~'));
}

// Where a loader message belongs: the pointer names the value at fault ("/nodes/1/params/Subdivision",
// "/nodes/0/curves/W1/2/0", "/domain/max"); its third token is a member's name as the node's type lists
// it, and what follows it the part of the member: a component of a vector, a curve's channel, point and
// coordinate, a gradient stop and its position or colour.
export function placeOf(pointer, scene) {
  const [top, index, kind, name, ...rest] = pointerTokens(pointer);
  if (top === 'domain') return { area: 'domain' };
  if (top === 'output') return { area: 'output' };
  const node = top === 'nodes' ? scene.nodes[Number(index)] : undefined;
  if (!node) return { area: 'scene' };
  const member = ['params', 'curves', 'gradients'].includes(kind) && name !== undefined;
  if (!member) return { area: 'node', node: node.id, kind: null, name: null, part: null };
  const numbers = (tokens) => tokens.map((t) => (/^\d+$/.test(t) ? Number(t) : t));
  let part = null;
  if (kind === 'params' && /^\d+$/.test(rest[0] ?? '')) part = { component: Number(rest[0]) };
  if (kind === 'curves' && rest.length > 0) {
    const channel = /^\d+$/.test(rest[0]) ? null : rest[0];
    const [point, axis] = numbers(channel ? rest.slice(1) : rest);
    part = { channel, point: point ?? null, axis: axis ?? null };
  }
  if (kind === 'gradients' && rest.length > 0) {
    const [stop, which, component] = numbers(rest);
    part = { stop, which: which ?? null, component: component ?? null };
  }
  return { area: 'node', node: node.id, kind, name, part };
}

// Columns by the longest chain of links from the sample position, rows in scene order: a first
// arrangement for nodes the user has not placed yet.
export function layout(scene, heights) {
  const byId = new Map(scene.nodes.map((n) => [n.id, n]));
  const depth = new Map();
  const depthOf = (id, seen = new Set()) => {
    if (depth.has(id)) return depth.get(id);
    const node = byId.get(id);
    if (!node || seen.has(id)) return 0;
    seen.add(id);
    let d = 1;
    for (const value of Object.values(node.params ?? {})) {
      if (isLink(value) && value.link !== POSITION) d = Math.max(d, depthOf(value.link, seen) + 1);
    }
    depth.set(id, d);
    return d;
  };
  const next = new Map([[POSITION, { x: 0, y: 40 }]]);
  const columnY = new Map();
  for (const node of scene.nodes) {
    const d = depthOf(node.id);
    const y = columnY.get(d) ?? 0;
    // The position's box is narrower than a node's.
    next.set(node.id, { x: 170 + (d - 1) * 330, y });
    columnY.set(d, y + (heights(node) ?? 200) + 40);
  }
  return next;
}

// Whether the domain is the plane's, the kind a scene that names none has.
export const isPlane = (domain) => (domain?.kind ?? 'plane') === 'plane';

// The size of an image of the domain (or of a region of it) of a given width: as high as keeps the
// pixels square over the rectangle, so the whole sphere is twice as wide as high, and at most
// `largest` high.
export function imageSize(domain, region, width, largest = Infinity) {
  let aspect = 0.5;
  // A model's texture is square.
  if (domain?.kind === 'mesh') return { width, height: Math.min(largest, width) };
  if (isPlane(domain)) {
    const [x0, y0, x1, y1] = region ?? [...(domain?.min ?? [0, 0]), ...(domain?.max ?? [1, 1])];
    aspect = (y1 - y0) / (x1 - x0);
  } else if (region) {
    aspect = (region[3] - region[1]) / (region[2] - region[0]);
  }
  const height = Math.round(width * aspect);
  return { width, height: Math.min(largest, Math.max(1, Number.isFinite(height) ? height : width)) };
}

const valueText = (value) => {
  if (value === undefined) return 'its default';
  if (isLink(value)) return `a link from ${value.link}`;
  if (Array.isArray(value)) return `(${value.map(valueText).join(', ')})`;
  return String(value);
};

// An edit in a few words, as the user made it: "fractal › Iterations = 2000000000", "lattice › the
// curve W1", "curve3 added", "the domain". Of several changes, the first two.
export function describeEdit(before, after) {
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  const old = new Map(before.nodes.map((n) => [n.id, n]));
  const now = new Set(after.nodes.map((n) => n.id));
  // Nodes added or deleted first: a deletion unlinks the parameters that read the node.
  const changes = [
    ...after.nodes.filter((n) => !old.has(n.id)).map((n) => `${n.id} added`),
    ...[...old.keys()].filter((id) => !now.has(id)).map((id) => `${id} deleted`),
  ];
  for (const node of after.nodes) {
    const was = old.get(node.id);
    if (!was) continue;
    for (const [kind, what] of [
      ['params', null],
      ['curves', 'the curve'],
      ['gradients', 'the gradient'],
    ]) {
      const names = new Set([...Object.keys(was[kind] ?? {}), ...Object.keys(node[kind] ?? {})]);
      for (const name of names) {
        const value = node[kind]?.[name];
        if (same(was[kind]?.[name], value)) continue;
        changes.push(`${node.id} › ${what ? `${what} ${name}` : `${name} = ${valueText(value)}`}`);
      }
    }
  }
  if (before.output !== after.output) changes.push(`the output = ${after.output}`);
  // A scene that names no type is seen in colour: naming it is no change.
  const named = (scene) => scene.output_type ?? 'color';
  if (named(before) !== named(after)) changes.push(`the type = ${named(after)}`);
  if (before.samples !== after.samples) changes.push(`the samples = ${after.samples ?? 1}`);
  if (!same(before.domain, after.domain)) changes.push('the domain');
  if (before.description !== after.description) changes.push('the description');
  if (!same(before.layout, after.layout)) changes.push('the places of the boxes');
  if (changes.length === 0) return null;
  return changes.length > 2 ? `${changes.slice(0, 2).join(', ')}, …` : changes.join(', ');
}

// The edit that made a preview too slow, in a few words: the step that left the last scene whose
// preview finished in time (`fast`, its JSON), when it is one of the history's steps to `at` (an edit,
// or a redo of one), else the step to `at`; null for the scene as it was opened.
export function slowEdit(steps, at, fast) {
  const from = steps.slice(0, at).findIndex((step) => JSON.stringify(step) === fast);
  const k = from >= 0 ? from : at - 1;
  return k >= 0 ? describeEdit(steps[k], steps[k + 1]) : null;
}
