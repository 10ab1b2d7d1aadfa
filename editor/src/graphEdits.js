// Edits of the graph as the artist makes them with a node selected: a node added after it and wired
// from it, nodes copied and pasted; and where new boxes go. Pure functions of the scene.
import { addNode, addRecipe } from './scene.js';
import { wireNew } from './nodeInfo.js';

// A node of `type` added after `anchor` (the selected node, the node shown, or the sample position):
// its inputs wired from it where the types fit (nodeInfo's wireNew). Added after the output, and wired
// from it, the new node becomes the output. Answers the scene and the new node's id.
export function addNodeAfter(scene, types, info, type, anchor) {
  const added = addNode(scene, type);
  const { scene: wired, wired: fromAnchor } = wireNew(added.scene, types, info, added.id, anchor);
  const output = fromAnchor && anchor === scene.output ? added.id : scene.output;
  return { scene: { ...wired, output }, id: added.id };
}

// A recipe's nodes added, wired as in its scene, its output made the scene's output.
export function addRecipeAfter(scene, recipe) {
  const added = addRecipe(scene, recipe);
  return { scene: { ...added.scene, output: added.output ?? scene.output }, ids: added.ids };
}

// The nodes of `ids` as the clipboard holds them: their stored forms, links and all.
export const copyNodes = (scene, ids) => ({
  nodes: scene.nodes.filter((n) => ids.includes(n.id)).map((n) => structuredClone(n)),
});

// Copied nodes pasted: given ids of their own, linked among themselves as they were, and to the nodes
// of the scene they read that it still holds. Answers the scene and the pasted ids, in order.
export function pasteNodes(scene, clip) {
  const added = addRecipe(scene, { nodes: clip.nodes, output: null });
  return { scene: added.scene, ids: added.ids };
}

const overlaps = (a, b) =>
  a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;

// Where arriving boxes go: as a group in their own arrangement (`first`, id to {x, y}, with `size`
// giving each box's width and height), its top left beside the anchor's box (right of it, level with
// its top), or right of every box when there is no anchor; moved down past any box it would cover.
export function placeBeside(anchor, ids, first, size, boxes) {
  const left = Math.min(...ids.map((id) => first.get(id).x));
  const top = Math.min(...ids.map((id) => first.get(id).y));
  const group = (dx, dy) =>
    ids.map((id) => ({ id, x: first.get(id).x - left + dx, y: first.get(id).y - top + dy, ...size(id) }));
  let dx = 40;
  let dy = 40;
  if (anchor) [dx, dy] = [anchor.x + anchor.width + 80, anchor.y];
  else if (boxes.length > 0) dx = Math.max(...boxes.map((b) => b.x + b.width)) + 80;
  for (let tries = 0; tries < 50; ++tries) {
    const hit = boxes.filter((b) => group(dx, dy).some((g) => overlaps(g, b)));
    if (hit.length === 0) break;
    dy = Math.max(...hit.map((b) => b.y + b.height)) + 40;
  }
  return new Map(group(dx, dy).map((g) => [g.id, { x: g.x, y: g.y }]));
}
