// What the page says about node types, read from examples/presets/node-types.json (see its
// description): labels and hints, the types a node computes and is best seen in, what a wire carries,
// what changes nothing, what is costly. Every function here is pure, and a type the file does not list
// falls back to its stored names and to colour.
import { POSITION, isLink } from './scene.js';

// The type a picture is seen in when nothing says otherwise, as `vantrel render` takes it.
export const FALLBACK_TYPE = 'color';

// A parameter's type as the listing names it, as the output type it asks its source for.
const ASKS = {
  Vec3d: 'vec3',
  Vec4d: 'vec4',
  Vec2d: 'vec2',
  Color: 'color',
  ColorA: 'colora',
  Quaternion: 'quaternion',
  double: 'double',
  int: 'int',
  string: 'string',
};
export const askedByParam = (desc) => ASKS[desc.type] ?? String(desc.type).toLowerCase();

export const entryOf = (info, typeName) => info?.nodes?.[typeName] ?? null;
const typeNameOf = (scene, id) =>
  id === POSITION ? POSITION : (scene.nodes.find((n) => n.id === id)?.type ?? null);

// The type a node's picture is best seen in: its thumbnail's, and the preview's unless pinned.
export const pictureType = (info, typeName) => entryOf(info, typeName)?.picture ?? FALLBACK_TYPE;

// A member's label and hint ("params", "curves" or "gradients"); the stored name when none is given.
export function memberText(info, typeName, kind, name) {
  const own = entryOf(info, typeName)?.[kind]?.[name];
  return { label: own?.label ?? name, hint: own?.hint ?? null };
}

// What a node of this type gives when asked for `type`, in words; null when the file does not say.
export function carried(info, typeName, type) {
  const entry = entryOf(info, typeName);
  if (!entry) return null;
  return entry.carries?.[type] ?? info.conversions?.[entry.own?.[0]]?.[type] ?? null;
}

// Whether a node of this type is wired into a parameter that asks for `type` when it is added after it.
export const fits = (info, typeName, type) => Boolean(entryOf(info, typeName)?.wires?.includes(type));

// The types a parameter asks its source for while its node is asked for the types `asked`: its own
// type, unless the node reads it as a type that follows the one it is asked for ("reads"; null: not
// read at all).
export function paramAsks(info, typeName, desc, asked) {
  const reads = entryOf(info, typeName)?.reads?.[desc.name];
  if (!reads) return new Set([askedByParam(desc)]);
  const out = new Set();
  for (const t of asked) {
    const r = t in reads ? reads[t] : askedByParam(desc);
    if (r) out.add(r);
  }
  return out;
}

const paramsOf = (types, node) =>
  types.find((t) => t.name === node.type || t.classId === node.type)?.params ?? [];

// Every type each node (and the sample position) is asked for: its thumbnail's (unless `thumbnails` is
// false), the output's type for the output node, the preview's for the node it shows, and whatever the
// parameters linked to it ask, through the graph. A map of id to a set of type names.
export function askedTypes(scene, types, info, { outputType, shown, shownType, thumbnails = true }) {
  const asked = new Map([[POSITION, new Set()]]);
  for (const node of scene.nodes)
    asked.set(node.id, new Set(thumbnails ? [pictureType(info, node.type)] : []));
  const add = (id, type) => asked.get(id)?.add(type);
  add(scene.output, outputType);
  if (shown) add(shown, shownType);
  for (let changed = true, rounds = 0; changed && rounds <= scene.nodes.length + 1; ++rounds) {
    changed = false;
    for (const node of scene.nodes) {
      for (const desc of paramsOf(types, node)) {
        const value = node.params?.[desc.name];
        if (!isLink(value) || !asked.has(value.link)) continue;
        const into = asked.get(value.link);
        for (const t of paramAsks(info, node.type, desc, asked.get(node.id))) {
          if (!into.has(t)) {
            into.add(t);
            changed = true;
          }
        }
      }
    }
  }
  return asked;
}

// Whether one condition of an "idle" or "period" entry holds for a node, asked for the types `asked`.
function holds(condition, node, types, asked) {
  if (condition.readAs) return asked.size > 0 && [...asked].every((t) => condition.readAs.includes(t));
  if (condition.param === undefined) return false;
  const desc = paramsOf(types, node).find((p) => p.name === condition.param);
  let value = node.params?.[condition.param] ?? desc?.default;
  if (isLink(value) || value === undefined) return false;
  if (condition.component !== undefined)
    value = Array.isArray(value) ? value[condition.component] : undefined;
  return (condition.is ?? []).includes(value);
}

const allHold = (when, node, types, asked) => (when ?? []).every((c) => holds(c, node, types, asked));

// Why a member of a node changes nothing as the scene stands, or null when it may change something.
export function idleReason(info, types, node, kind, name, asked) {
  const idle = entryOf(info, node.type)?.[kind]?.[name]?.idle ?? [];
  const found = idle.find((entry) => allHold(entry.when, node, types, asked ?? new Set()));
  return found?.why ?? null;
}

// The nodes a node reads, itself included, through its links.
function upstream(scene, id) {
  const byId = new Map(scene.nodes.map((n) => [n.id, n]));
  const seen = new Set();
  const visit = (at) => {
    if (seen.has(at) || !byId.has(at)) return;
    seen.add(at);
    for (const v of Object.values(byId.get(at).params ?? {})) if (isLink(v)) visit(v.link);
  };
  visit(id);
  return [...seen].map((at) => byId.get(at));
}

// Whether the picture of node `id`, seen as `type`, repeats across the plane, and with which period:
// every node it reads that reads the sample position must be of a type with a "period" whose
// conditions hold (for the types that picture asks of it) and read the position only at that period's
// input, unchanged. Answers {size: [px, py]}, or {why} when it does not repeat, or null when no node it
// reads has a period at all.
export function planePeriod(scene, types, info, id, type) {
  const nodes = upstream(scene, id);
  const asked = askedTypes({ ...scene, nodes, output: id }, types, info, {
    outputType: type,
    thumbnails: false,
  });
  const readers = nodes.filter((n) =>
    Object.values(n.params ?? {}).some((v) => isLink(v) && v.link === POSITION),
  );
  const periods = readers.map((n) => entryOf(info, n.type)?.period);
  if (readers.length === 0 || periods.every((p) => !p)) return null;
  let size = null;
  for (const [k, node] of readers.entries()) {
    const period = periods[k];
    const atInput = Object.entries(node.params).filter(([, v]) => isLink(v) && v.link === POSITION);
    if (!period || atInput.length !== 1 || atInput[0][0] !== period.input)
      return { why: `${node.id} reads the position in a way that does not repeat` };
    if (!allHold(period.when, node, types, asked.get(node.id) ?? new Set()))
      return { why: `${node.id}: ${period.why}` };
    if (size && (size[0] !== period.size[0] || size[1] !== period.size[1]))
      return { why: 'its nodes repeat with different periods' };
    size = period.size;
  }
  return { size };
}

// The plane's rectangle widened to whole periods from its lower-left corner, at least one each way.
export function fitToPeriods(domain, [px, py]) {
  const [x0, y0] = domain.min ?? [0, 0];
  const [x1, y1] = domain.max ?? [1, 1];
  const whole = (extent, p) => Math.max(1, Math.ceil(extent / p - 1e-9)) * p;
  return { ...domain, kind: 'plane', min: [x0, y0], max: [x0 + whole(x1 - x0, px), y0 + whole(y1 - y0, py)] };
}

// The values of the scene that may make a render take very long: each node's unlinked parameter above
// its "costly" bound, with the longest one sample of it may take, in seconds.
export function costlyValues(scene, info) {
  const found = [];
  for (const node of scene.nodes) {
    for (const [name, own] of Object.entries(entryOf(info, node.type)?.params ?? {})) {
      const value = node.params?.[name];
      if (!own.costly || typeof value !== 'number' || !(value > own.costly.above)) continue;
      found.push({
        node: node.id,
        param: name,
        value,
        what: own.costly.what,
        sample: value * own.costly.seconds,
      });
    }
  }
  return found;
}

// A duration in the largest unit that keeps it above 1: "88 s", "4.2 hours", "17 days".
export function duration(seconds) {
  const units = [
    ['days', 86400],
    ['hours', 3600],
    ['minutes', 60],
  ];
  for (const [name, size] of units)
    if (seconds >= size) return `${Number((seconds / size).toPrecision(2))} ${name}`;
  return `${Number(seconds.toPrecision(2))} s`;
}

// The new node `id` wired after `anchor` (a node's id or the sample position): its first input the
// anchor fits is linked to it, and every other input that takes the position to the position. Answers
// the scene and whether the anchor was wired.
export function wireNew(scene, types, info, id, anchor) {
  const node = scene.nodes.find((n) => n.id === id);
  const entry = entryOf(info, node.type);
  const anchorType = anchor ? typeNameOf(scene, anchor) : null;
  const params = { ...(node.params ?? {}) };
  let wired = false;
  for (const input of entry?.inputs ?? []) {
    const desc = paramsOf(types, node).find((p) => p.name === input.param);
    if (!desc) continue;
    const asks = [...paramAsks(info, node.type, desc, [pictureType(info, node.type)])];
    if (!wired && anchorType && asks.some((t) => fits(info, anchorType, t))) {
      params[input.param] = { link: anchor };
      wired = true;
    } else if (input.position && asks.some((t) => fits(info, POSITION, t))) {
      params[input.param] = { link: POSITION };
    }
  }
  const next = { ...node, params };
  if (Object.keys(params).length === 0) delete next.params;
  return { scene: { ...scene, nodes: scene.nodes.map((n) => (n.id === id ? next : n)) }, wired };
}

// The type the scene names for its output, as `vantrel render` takes it when it names none.
export const namedType = (scene) => scene.output_type ?? FALLBACK_TYPE;

const outputPicture = (scene, info) => {
  const output = scene.nodes.find((n) => n.id === scene.output);
  return output ? pictureType(info, output.type) : FALLBACK_TYPE;
};

// The type the artist has pinned the preview to, or null when it follows the node shown. `chosen` is
// the page's last choice; the scene decides where they disagree (after an undo, a file opened): a named
// type other than its output's own is pinned.
export function pinOf(scene, info, chosen) {
  const named = namedType(scene);
  if (chosen !== null && chosen === named) return chosen;
  return named === outputPicture(scene, info) ? null : named;
}

// An edit kept in step with what the preview of its output shows: unless the edit chose the type
// itself, the scene's "output_type" is the pinned type or its output node's own, so the saved file
// renders as the preview shows it; and an int image takes no sub-samples.
export function inStep(before, next, info, chosen) {
  let scene = next;
  if (next.output_type === before.output_type) {
    const type = pinOf(before, info, chosen) ?? outputPicture(next, info);
    if (next.output_type !== type) scene = { ...next, output_type: type };
  }
  if (scene.output_type === 'int' && scene.samples !== undefined) {
    scene = { ...scene };
    delete scene.samples;
  }
  return scene;
}

// What a wire carries, when its parameter asks its source for another type than the one the source's
// picture shows: {label, title}, or null. A source the file does not list says nothing.
export function wireHint(scene, types, info, asked, wire) {
  const target = scene.nodes.find((n) => n.id === wire.target);
  const desc = target && paramsOf(types, target).find((p) => p.name === wire.param);
  const sourceType = typeNameOf(scene, wire.source);
  if (!desc || !entryOf(info, sourceType)) return null;
  const picture = pictureType(info, sourceType);
  const asks = [...paramAsks(info, target.type, desc, asked.get(target.id) ?? new Set())].filter(
    (t) => t !== picture,
  );
  if (asks.length === 0) return null;
  const words = asks.map((t) => carried(info, sourceType, t) ?? `its ${t}`);
  const { label } = memberText(info, target.type, 'params', wire.param);
  const shows = carried(info, sourceType, picture);
  return {
    label: words.join(' / '),
    title:
      `${wire.target} › ${label} asks ${wire.source} for ${asks.join(' and ')}: ${words.join('; ')}.` +
      (shows ? ` Its picture shows ${shows}.` : ''),
  };
}

// The node types whose name, keywords or line hold what was typed, best first: a name that starts with
// it, one that holds it, a keyword, the line. All of them, in order, for nothing typed.
export function findTypes(types, info, typed) {
  const text = typed.trim().toLowerCase();
  if (!text) return types;
  const rank = (type) => {
    const name = type.name.toLowerCase();
    const entry = entryOf(info, type.name);
    if (name.startsWith(text)) return 0;
    if (name.includes(text)) return 1;
    if ((entry?.keywords ?? []).some((k) => k.includes(text))) return 2;
    if (entry?.line?.toLowerCase().includes(text)) return 3;
    return null;
  };
  return types
    .map((type, i) => ({ type, i, r: rank(type) }))
    .filter((m) => m.r !== null)
    .sort((a, b) => a.r - b.r || a.i - b.i)
    .map((m) => m.type);
}
