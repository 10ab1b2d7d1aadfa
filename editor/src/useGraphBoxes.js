import { useCallback, useEffect, useRef, useState } from 'react';
import { applyNodeChanges, useReactFlow } from '@xyflow/react';
import { POSITION, layout, withLayout } from './scene.js';
import { flowNodes, guessHeight, placeArriving } from './graphBoxes.js';

// The graph's boxes: one per node and the sample position, where the scene's layout puts them, else
// arranged; the boxes arriving on a graph on screen go beside the anchor and are brought into view
// (`arrived`), those of `selectNext` (copies pasted) selected. A box the user puts down elsewhere is an
// edit of the scene's layout. `placed` holds every box's place.
export default function useGraphBoxes({ editor, placed, arrived, selectNext }) {
  const { scene, types, generation, anchor, setSelected, commit } = editor;
  const { getNodes } = useReactFlow();
  const [nodes, setNodes] = useState([]);
  const shownGeneration = useRef(generation);

  useEffect(() => {
    if (generation !== shownGeneration.current) {
      shownGeneration.current = generation;
      placed.current.clear();
    }
    const height = guessHeight(types);
    const first = layout(scene, height);
    // The places the scene keeps come first: opened, undone or redone, the boxes stand where they were.
    for (const [id, [x, y]] of Object.entries(scene.layout ?? {})) placed.current.set(id, { x, y });
    const arriving = scene.nodes.filter((n) => !placed.current.has(n.id)).map((n) => n.id);
    if (arriving.length > 0 && placed.current.size > 0) {
      const shown = getNodes();
      placeArriving({ scene, arriving, first, height, shown, anchor, placed: placed.current });
      arrived.current = arriving[0];
    }
    const chosen =
      selectNext.current && scene.nodes.some((n) => n.id === selectNext.current[0])
        ? selectNext.current
        : null;
    if (chosen) {
      selectNext.current = null;
      arrived.current = chosen[0];
      setSelected(chosen.length === 1 ? chosen[0] : null);
    }
    const ids = [POSITION, ...scene.nodes.map((n) => n.id)];
    for (const id of ids) if (!placed.current.has(id)) placed.current.set(id, first.get(id));
    setNodes((old) => flowNodes(old, ids, placed.current, chosen));
  }, [scene, types, generation]);

  // Only a box the user moved has a new place: measuring changes none, and a box that went with
  // its scene must not leave its place to a node of the next one.
  const moved = useRef(false);
  const onNodesChange = useCallback((changes) => {
    for (const c of changes) {
      if (c.type !== 'position' || !c.position) continue;
      placed.current.set(c.id, c.position);
      if (c.dragging) moved.current = true;
    }
    setNodes((ns) =>
      applyNodeChanges(
        changes.filter((c) => c.type !== 'remove'),
        ns,
      ),
    );
  }, []);
  // A box put down where it was not is an edit of the scene's "layout" (undone as any other), with every
  // box's place; a click on a title moves nothing.
  const onNodeDragStop = useCallback(() => {
    if (!moved.current) return;
    moved.current = false;
    commit(withLayout(scene, placed.current));
  }, [scene, commit]);
  return { nodes, onNodesChange, onNodeDragStop };
}
