import { useCallback, useEffect, useRef, useState } from 'react';
import { applyEdgeChanges } from '@xyflow/react';
import { deleteNode, link, links, typeOf, unlink } from './scene.js';
import { wireHint } from './nodeInfo.js';

const edgeId = (wire) => `${wire.source}->${wire.target}:${wire.param}`;

// The graph's wires, one per link of the scene, each with its hint; what stays selected of them.
export function useWires({ scene, types, info, asked }) {
  const [edges, setEdges] = useState([]);
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
  return { edges, onEdgesChange };
}

// The edits the graph's gestures make: a wire drawn links, a wire's end dragged to another parameter
// moves the link there and dropped on nothing unlinks, Delete removes the boxes and wires selected.
export function useWiring({ scene, types, commit }) {
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
  return { onConnect, onDelete, ...useReconnect({ scene, commit, paramOf }) };
}

function useReconnect({ scene, commit, paramOf }) {
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
  return { onReconnectStart, onReconnect, onReconnectEnd };
}
