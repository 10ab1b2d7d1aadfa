import React from 'react';
import { BaseEdge, EdgeLabelRenderer, getBezierPath } from '@xyflow/react';

// A wire, with a few words at its middle when it carries something else than its source's picture
// shows (the whole sentence in the tooltip).
export default function HintEdge({
  id,
  sourceX,
  sourceY,
  targetX,
  targetY,
  sourcePosition,
  targetPosition,
  data,
  ...rest
}) {
  const [path, x, y] = getBezierPath({ sourceX, sourceY, targetX, targetY, sourcePosition, targetPosition });
  return (
    <>
      <BaseEdge id={id} path={path} markerEnd={rest.markerEnd} style={rest.style} interactionWidth={20} />
      {data?.hint && (
        <EdgeLabelRenderer>
          <div
            className="wire-hint nodrag nopan"
            data-wire={id}
            title={data.hint.title}
            style={{ transform: `translate(-50%, -50%) translate(${x}px, ${y}px)` }}
          >
            {data.hint.label}
          </div>
        </EdgeLabelRenderer>
      )}
    </>
  );
}
