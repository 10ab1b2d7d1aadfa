import React, { useCallback, useRef } from 'react';
import { Background, Controls, ReactFlow, ReactFlowProvider } from '@xyflow/react';
import { GraphActions, useEditor } from './EditorContext.js';
import SceneNode, { PositionNode } from './SceneNode.jsx';
import HintEdge from './HintEdge.jsx';
import useGraphBoxes from './useGraphBoxes.js';
import useGraphClipboard from './useGraphClipboard.js';
import useGraphFraming from './useGraphFraming.js';
import { useWires, useWiring } from './useGraphWires.js';

const nodeTypes = { scene: SceneNode, position: PositionNode };
const edgeTypes = { hint: HintEdge };
// The graph's gestures, in a line at its foot.
const GESTURES =
  "wire: drag a node's right dot to a parameter's left dot · new nodes go beside the box selected · " +
  'Delete: remove · Ctrl+C, Ctrl+V, Ctrl+D: copy, paste, duplicate';

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
  const editor = useEditor();
  const { scene, types, info, asked, commit, generation, setSelected } = editor;
  const placed = useRef(new Map());
  const element = useRef(null);
  // The box last placed beside another, to be brought into view at the zoom there is.
  const arrived = useRef(null);
  // The boxes to select once they arrive (copies pasted).
  const selectNext = useRef(null);
  useGraphFraming({ element, generation, arrived });
  const { nodes, onNodesChange, onNodeDragStop } = useGraphBoxes({ editor, placed, arrived, selectNext });
  const { edges, onEdgesChange } = useWires({ scene, types, info, asked });
  const onSelectionChange = useCallback(
    ({ nodes: chosen }) => setSelected(chosen.length === 1 ? chosen[0].id : null),
    [setSelected],
  );
  const duplicate = useGraphClipboard({ scene, commit, placed, selectNext });
  const wiring = useWiring({ scene, types, commit });

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
          {...wiring}
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
