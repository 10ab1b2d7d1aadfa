// The graph view's boxes as React Flow holds them: their sizes before and after they are measured, and
// the boxes of a scene's nodes from the places they have.
import { POSITION, typeOf } from './scene.js';
import { placeBeside } from './graphEdits.js';

export const BOX_WIDTH = 290;

// A box's height before it is measured, for the first arrangement: its rows, curves and gradients.
export const guessHeight = (types) => (node) => {
  const type = typeOf(types, node);
  if (!type) return 120;
  return 130 + 30 * type.params.length + 200 * type.curves.length + 110 * type.gradients.length;
};

// The boxes as they stand, measured where they have been: {x, y, width, height}.
export const boxesOf = (nodes, placed, height) =>
  nodes.map((n) => ({
    ...(placed.get(n.id) ?? n.position),
    width: n.measured?.width ?? BOX_WIDTH,
    height: n.measured?.height ?? height(n.id),
  }));

// Nodes added to a graph on screen (`arriving`) go beside the selected box (`anchor`, else right of
// every box), keeping their own arrangement (`first`): their places, put in `placed`.
export function placeArriving({ scene, arriving, first, height, shown, anchor, placed }) {
  const byId = new Map(scene.nodes.map((n) => [n.id, n]));
  const boxes = boxesOf(
    shown.filter((n) => placed.has(n.id)),
    placed,
    (id) => height(byId.get(id) ?? {}),
  );
  const anchorNode = shown.find((n) => n.id === anchor && placed.has(n.id));
  const beside = anchorNode ? boxesOf([anchorNode], placed, () => 200)[0] : null;
  const size = (id) => ({ width: BOX_WIDTH, height: height(byId.get(id)) });
  for (const [id, at] of placeBeside(beside, arriving, first, size, boxes)) placed.set(id, at);
}

// The boxes of `ids` at their places, from the boxes shown (`old`): selected as `chosen` says when
// there is a choice, else as they were.
export function flowNodes(old, ids, placed, chosen) {
  const before = new Map(old.map((n) => [n.id, n]));
  return ids.map((id) => {
    const selected = chosen ? chosen.includes(id) : (before.get(id)?.selected ?? false);
    // A box that stays where it was keeps its object, and with it its measured size and the
    // places of its handles: a new object is measured again, and its wires vanish meanwhile.
    const kept = before.get(id);
    const at = placed.get(id);
    if (kept && kept.position.x === at.x && kept.position.y === at.y)
      return kept.selected === selected ? kept : { ...kept, selected };
    return {
      id,
      type: id === POSITION ? 'position' : 'scene',
      position: at,
      dragHandle: '.node-header',
      deletable: id !== POSITION,
      selected,
      data: {},
    };
  });
}

// The places of copies (`ids`) of the clipboard's nodes: beside their originals, in the same
// arrangement, clear of every box shown; with every other box's place from `placed`.
export function pastedPlaces(clip, ids, placed, shownNodes) {
  const shown = new Map(shownNodes.map((n) => [n.id, n]));
  const first = new Map(clip.nodes.map((n, i) => [ids[i], placed.get(n.id) ?? { x: 0, y: 0 }]));
  const sizeOf = (id) => ({
    width: shown.get(id)?.measured?.width ?? BOX_WIDTH,
    height: shown.get(id)?.measured?.height ?? 200,
  });
  const originals = clip.nodes.map((n, i) => ({ ...first.get(ids[i]), ...sizeOf(n.id) }));
  const left = Math.min(...originals.map((b) => b.x));
  const top = Math.min(...originals.map((b) => b.y));
  const right = Math.max(...originals.map((b) => b.x + b.width));
  const anchorBox = { x: left, y: top, width: right - left, height: 0 };
  const copySize = (id) => sizeOf(clip.nodes[ids.indexOf(id)].id);
  const boxes = boxesOf([...shown.values()], placed, () => 200);
  const places = new Map(placed);
  for (const [id, at] of placeBeside(anchorBox, ids, first, copySize, boxes)) places.set(id, at);
  return places;
}
