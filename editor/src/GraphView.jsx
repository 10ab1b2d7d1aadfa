import React, { useCallback, useEffect, useRef, useState } from 'react';
import {
  Background,
  Controls,
  ReactFlow,
  ReactFlowProvider,
  applyEdgeChanges,
  applyNodeChanges,
  useNodesInitialized,
  useReactFlow,
} from '@xyflow/react';
import { GraphActions, useEditor } from './EditorContext.js';
import SceneNode, { PositionNode } from './SceneNode.jsx';
import HintEdge from './HintEdge.jsx';
import { POSITION, deleteNode, layout, link, links, typeOf, unlink, withLayout } from './scene.js';
import { copyNodes, pasteNodes, placeBeside } from './graphEdits.js';
import { wireHint } from './nodeInfo.js';

const nodeTypes = { scene: SceneNode, position: PositionNode };
const edgeTypes = { hint: HintEdge };
// The least zoom a scene opened is fitted at: text stays readable, and the rest is a pan away.
const FIT = { maxZoom: 1, minZoom: 0.75 };
const BOX_WIDTH = 290;
// The graph's gestures, in a line at its foot.
const GESTURES =
  "wire: drag a node's right dot to a parameter's left dot · new nodes go beside the box selected · " +
  'Delete: remove · Ctrl+C, Ctrl+V, Ctrl+D: copy, paste, duplicate';

// A box's height before it is measured, for the first arrangement: its rows, curves and gradients.
const guessHeight = (types) => (node) => {
  const type = typeOf(types, node);
  if (!type) return 120;
  return 130 + 30 * type.params.length + 200 * type.curves.length + 110 * type.gradients.length;
};

const edgeId = (wire) => `${wire.source}->${wire.target}:${wire.param}`;

// The graph: a box per node and the sample position, a wire per link. The scene decides which boxes
// and wires there are; the view keeps only where the boxes stand and what is selected.
export default function GraphView() {
  return (
    <ReactFlowProvider>
      <Graph />
    </ReactFlowProvider>
  );
}

// The boxes as they stand, measured where they have been: {x, y, width, height}.
const boxesOf = (nodes, placed, height) =>
  nodes.map((n) => ({
    ...(placed.get(n.id) ?? n.position),
    width: n.measured?.width ?? BOX_WIDTH,
    height: n.measured?.height ?? height(n.id),
  }));

function Graph() {
  const { scene, types, info, asked, commit, generation, anchor, setSelected } = useEditor();
  const { fitView, getViewport, setViewport, setCenter, getNodes, getNodesBounds } = useReactFlow();
  const [nodes, setNodes] = useState([]);
  const [edges, setEdges] = useState([]);
  const placed = useRef(new Map());
  const shownGeneration = useRef(generation);
  const element = useRef(null);
  // The box last placed beside another, to be brought into view at the zoom there is.
  const arrived = useRef(null);
  // The boxes to select once they arrive (copies pasted).
  const selectNext = useRef(null);

  // A scene opened is fitted to the view, at a readable zoom, its top in view when it is taller; once
  // its boxes are measured. A node added keeps the zoom and is panned into view when it is out of it.
  const initialized = useNodesInitialized();
  const fitted = useRef(null);
  useEffect(() => {
    if (!initialized || fitted.current === generation) return undefined;
    const timer = setTimeout(async () => {
      fitted.current = generation;
      await fitView(FIT);
      const view = element.current?.getBoundingClientRect();
      const bounds = getNodesBounds(getNodes());
      const { x, zoom } = getViewport();
      if (view && bounds.height * zoom + 20 > view.height) setViewport({ x, y: 10 - bounds.y * zoom, zoom });
    }, 60);
    return () => clearTimeout(timer);
  }, [initialized, generation]);
  useEffect(() => {
    const id = arrived.current;
    if (!id) return undefined;
    const timer = setTimeout(() => {
      arrived.current = null;
      const box = getNodes().find((n) => n.id === id);
      const view = element.current?.getBoundingClientRect();
      if (!box || !view) return;
      const { x, y, zoom } = getViewport();
      const [w, h] = [box.measured?.width ?? BOX_WIDTH, box.measured?.height ?? 200];
      const left = box.position.x * zoom + x;
      const top = box.position.y * zoom + y;
      const inside =
        left >= 0 &&
        top >= 0 &&
        left + w * zoom <= view.width &&
        top + Math.min(h, 200) * zoom <= view.height;
      if (!inside)
        setCenter(box.position.x + w / 2, box.position.y + Math.min(h / 2, view.height / 2 / zoom - 20), {
          zoom,
        });
    }, 80);
    return () => clearTimeout(timer);
  });

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
    // Nodes added to a graph on screen go beside the selected box (else right of every box), keeping
    // their own arrangement.
    if (arriving.length > 0 && placed.current.size > 0) {
      const byId = new Map(scene.nodes.map((n) => [n.id, n]));
      const shown = getNodes();
      const boxes = boxesOf(
        shown.filter((n) => placed.current.has(n.id)),
        placed.current,
        (id) => height(byId.get(id) ?? {}),
      );
      const anchorNode = shown.find((n) => n.id === anchor && placed.current.has(n.id));
      const beside = anchorNode ? boxesOf([anchorNode], placed.current, () => 200)[0] : null;
      const size = (id) => ({ width: BOX_WIDTH, height: height(byId.get(id)) });
      for (const [id, at] of placeBeside(beside, arriving, first, size, boxes)) placed.current.set(id, at);
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
    setNodes((old) => {
      const before = new Map(old.map((n) => [n.id, n]));
      const ids = [POSITION, ...scene.nodes.map((n) => n.id)];
      return ids.map((id) => {
        if (!placed.current.has(id)) placed.current.set(id, first.get(id));
        const selected = chosen ? chosen.includes(id) : (before.get(id)?.selected ?? false);
        // A box that stays where it was keeps its object, and with it its measured size and the
        // places of its handles: a new object is measured again, and its wires vanish meanwhile.
        const kept = before.get(id);
        const at = placed.current.get(id);
        if (kept && kept.position.x === at.x && kept.position.y === at.y)
          return kept.selected === selected ? kept : { ...kept, selected };
        return {
          id,
          type: id === POSITION ? 'position' : 'scene',
          position: placed.current.get(id),
          dragHandle: '.node-header',
          deletable: id !== POSITION,
          selected,
          data: {},
        };
      });
    });
  }, [scene, types, generation]);

  useEffect(() => {
    setEdges((old) => {
      const wasSelected = new Set(old.filter((e) => e.selected).map((e) => e.id));
      return links(scene).map((wire) => {
        const target = scene.nodes.find((n) => n.id === wire.target);
        const index = typeOf(types, target)?.params.findIndex((p) => p.name === wire.param) ?? -1;
        const id = edgeId(wire);
        return {
          id,
          type: 'hint',
          source: wire.source,
          sourceHandle: 'out',
          target: wire.target,
          targetHandle: `p${index}`,
          selected: wasSelected.has(id),
          reconnectable: 'target',
          data: { ...wire, hint: wireHint(scene, types, info, asked, wire) },
        };
      });
    });
  }, [scene, types, info, asked]);

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
  const onEdgesChange = useCallback(
    (changes) =>
      setEdges((es) =>
        applyEdgeChanges(
          changes.filter((c) => c.type !== 'remove'),
          es,
        ),
      ),
    [],
  );
  const onSelectionChange = useCallback(
    ({ nodes: chosen }) => setSelected(chosen.length === 1 ? chosen[0].id : null),
    [setSelected],
  );

  // Copies pasted beside their originals, in the same arrangement, clear of every box, recorded in the
  // layout, selected and brought into view.
  const paste = useCallback(
    (clip) => {
      if (!clip?.nodes?.length) return;
      const { scene: next, ids } = pasteNodes(scene, clip);
      const shown = new Map(getNodes().map((n) => [n.id, n]));
      const first = new Map(clip.nodes.map((n, i) => [ids[i], placed.current.get(n.id) ?? { x: 0, y: 0 }]));
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
      const boxes = boxesOf([...shown.values()], placed.current, () => 200);
      const places = new Map(placed.current);
      for (const [id, at] of placeBeside(anchorBox, ids, first, copySize, boxes)) places.set(id, at);
      selectNext.current = ids;
      commit(withLayout(next, places));
    },
    [scene, commit, getNodes],
  );
  const duplicate = useCallback((ids) => paste(copyNodes(scene, ids)), [scene, paste]);

  // Ctrl+C copies the selected boxes, Ctrl+V pastes them, Ctrl+D duplicates them.
  const clipboard = useRef(null);
  useEffect(() => {
    const onKey = (event) => {
      if (event.target.closest?.('input, select, textarea, .dialog')) return;
      if (!(event.ctrlKey || event.metaKey) || event.shiftKey) return;
      const key = event.key.toLowerCase();
      const ids = getNodes()
        .filter((n) => n.selected && n.id !== POSITION)
        .map((n) => n.id);
      if (key === 'c' && ids.length > 0) clipboard.current = copyNodes(scene, ids);
      else if (key === 'v') paste(clipboard.current);
      else if (key === 'd' && ids.length > 0) duplicate(ids);
      else return;
      event.preventDefault();
    };
    window.addEventListener('keydown', onKey);
    return () => window.removeEventListener('keydown', onKey);
  }, [scene, paste, duplicate, getNodes]);

  const paramOf = useCallback(
    (nodeId, handle) => {
      const node = scene.nodes.find((n) => n.id === nodeId);
      return typeOf(types, node)?.params[Number(handle.slice(1))]?.name;
    },
    [scene, types],
  );

  const onConnect = useCallback(
    (connection) => {
      const param = paramOf(connection.target, connection.targetHandle);
      if (param) commit(link(scene, connection.source, connection.target, param));
    },
    [scene, commit, paramOf],
  );

  const onDelete = useCallback(
    ({ nodes: gone, edges: cut }) => {
      let next = scene;
      for (const e of cut) next = unlink(next, e.data.target, e.data.param);
      for (const n of gone) next = deleteNode(next, n.id);
      if (next !== scene) commit(next);
    },
    [scene, commit],
  );

  // A wire's end dragged to another parameter moves the link there; dropped on nothing, it unlinks.
  const reconnected = useRef(false);
  const onReconnectStart = useCallback(() => {
    reconnected.current = false;
  }, []);
  const onReconnect = useCallback(
    (old, connection) => {
      reconnected.current = true;
      const param = paramOf(connection.target, connection.targetHandle);
      if (!param) return;
      commit(
        link(unlink(scene, old.data.target, old.data.param), connection.source, connection.target, param),
      );
    },
    [scene, commit, paramOf],
  );
  const onReconnectEnd = useCallback(
    (_, edge) => {
      if (!reconnected.current) commit(unlink(scene, edge.data.target, edge.data.param));
    },
    [scene, commit],
  );

  return (
    <GraphActions.Provider value={{ duplicate }}>
      <div className="graph" ref={element}>
        <ReactFlow
          nodes={nodes}
          edges={edges}
          nodeTypes={nodeTypes}
          edgeTypes={edgeTypes}
          onNodesChange={onNodesChange}
          onNodeDragStop={onNodeDragStop}
          onEdgesChange={onEdgesChange}
          onSelectionChange={onSelectionChange}
          onConnect={onConnect}
          onDelete={onDelete}
          onReconnectStart={onReconnectStart}
          onReconnect={onReconnect}
          onReconnectEnd={onReconnectEnd}
          deleteKeyCode={['Delete', 'Backspace']}
          minZoom={0.2}
        >
          <Background />
          <Controls showInteractive={false} />
        </ReactFlow>
        <div className="graph-hint">{GESTURES}</div>
      </div>
    </GraphActions.Provider>
  );
}
