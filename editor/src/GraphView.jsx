import React, { useCallback, useEffect, useRef, useState } from 'react';
import {
  Background,
  Controls,
  ReactFlow,
  ReactFlowProvider,
  applyEdgeChanges,
  applyNodeChanges,
  useReactFlow,
} from '@xyflow/react';
import { useEditor } from './EditorContext.js';
import SceneNode, { PositionNode } from './SceneNode.jsx';
import { POSITION, deleteNode, layout, link, links, typeOf, unlink, withLayout } from './scene.js';

const nodeTypes = { scene: SceneNode, position: PositionNode };

// A box's height before it is measured, for the first arrangement: its rows, curves and gradients.
const guessHeight = (types) => (node) => {
  const type = typeOf(types, node);
  if (!type) return 120;
  return 110 + 28 * type.params.length + 170 * type.curves.length + 80 * type.gradients.length;
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

function Graph() {
  const { scene, types, commit, generation } = useEditor();
  const { fitView } = useReactFlow();
  const [nodes, setNodes] = useState([]);
  const [edges, setEdges] = useState([]);
  const placed = useRef(new Map());
  const shownGeneration = useRef(generation);

  // A node that arrives (added, or a scene opened) is brought into view with the others.
  useEffect(() => {
    const arrived =
      generation !== shownGeneration.current || scene.nodes.some((n) => !placed.current.has(n.id));
    if (placed.current.size === 0 || !arrived) return undefined;
    const timer = setTimeout(() => fitView({ maxZoom: 1 }), 50);
    return () => clearTimeout(timer);
  }, [scene, generation, fitView]);

  useEffect(() => {
    if (generation !== shownGeneration.current) {
      shownGeneration.current = generation;
      placed.current.clear();
    }
    const first = layout(scene, guessHeight(types));
    // The places the scene keeps come first: opened, undone or redone, the boxes stand where they were.
    for (const [id, [x, y]] of Object.entries(scene.layout ?? {})) placed.current.set(id, { x, y });
    const arriving = scene.nodes.filter((n) => !placed.current.has(n.id));
    // One node added to a graph on screen goes to the right of it.
    // Several (a recipe) keep their own arrangement, moved to the right of the graph.
    if (arriving.length > 0 && placed.current.size > 0) {
      const right = Math.max(...[...placed.current.values()].map((p) => p.x));
      const left = Math.min(...arriving.map((n) => first.get(n.id).x));
      for (const n of arriving) {
        const at = first.get(n.id);
        placed.current.set(n.id, { x: at.x - left + right + 340, y: arriving.length === 1 ? 40 : at.y });
      }
    }
    setNodes((old) => {
      const before = new Map(old.map((n) => [n.id, n]));
      const ids = [POSITION, ...scene.nodes.map((n) => n.id)];
      return ids.map((id) => {
        if (!placed.current.has(id)) placed.current.set(id, first.get(id));
        // A box that stays where it was keeps its object, and with it its measured size and the
        // places of its handles: a new object is measured again, and its wires vanish meanwhile.
        const kept = before.get(id);
        const at = placed.current.get(id);
        if (kept && kept.position.x === at.x && kept.position.y === at.y) return kept;
        return {
          id,
          type: id === POSITION ? 'position' : 'scene',
          position: placed.current.get(id),
          dragHandle: '.node-header',
          deletable: id !== POSITION,
          selected: before.get(id)?.selected ?? false,
          data: {},
        };
      });
    });
    setEdges((old) => {
      const selected = new Set(old.filter((e) => e.selected).map((e) => e.id));
      return links(scene).map((wire) => {
        const target = scene.nodes.find((n) => n.id === wire.target);
        const index = typeOf(types, target)?.params.findIndex((p) => p.name === wire.param) ?? -1;
        const id = edgeId(wire);
        return {
          id,
          source: wire.source,
          sourceHandle: 'out',
          target: wire.target,
          targetHandle: `p${index}`,
          selected: selected.has(id),
          reconnectable: 'target',
          data: wire,
        };
      });
    });
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
    <div className="graph">
      <ReactFlow
        nodes={nodes}
        edges={edges}
        nodeTypes={nodeTypes}
        onNodesChange={onNodesChange}
        onNodeDragStop={onNodeDragStop}
        onEdgesChange={onEdgesChange}
        onConnect={onConnect}
        onDelete={onDelete}
        onReconnectStart={onReconnectStart}
        onReconnect={onReconnect}
        onReconnectEnd={onReconnectEnd}
        deleteKeyCode={['Delete', 'Backspace']}
        fitView
        fitViewOptions={{ maxZoom: 1 }}
        minZoom={0.2}
      >
        <Background />
        <Controls showInteractive={false} />
      </ReactFlow>
    </div>
  );
}
