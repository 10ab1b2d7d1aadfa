import React, { useRef, useState } from 'react';
import { LEAST, WIDTHS, fittedWidth } from './previewGeometry.js';
import { graphRoom, useWindowWidth } from './PreviewParts.jsx';

// The preview's width: chosen from the list, or dragged at the pane's left edge. While the edge is
// dragged, the width shown (the picture scaled); the picture is rendered at the width it is let go at.
// The pane (`paneWidth`, the picture's room in it) leaves the graph room enough for a box and its
// wires, whatever width the picture has: a wider picture is shown scaled down to the pane.
export function usePreviewWidth() {
  const [width, setWidth] = useState(WIDTHS[0]);
  const [dragWidth, setDragWidth] = useState(null);
  const resize = useRef(null);
  const edge = {
    onPointerDown: (event) => {
      event.preventDefault();
      resize.current = { x: event.clientX, width };
      event.currentTarget.setPointerCapture(event.pointerId);
    },
    onPointerMove: (event) => {
      const r = resize.current;
      if (r) setDragWidth(fittedWidth(r.width + r.x - event.clientX));
    },
    onPointerUp: () => {
      if (!resize.current) return;
      resize.current = null;
      if (dragWidth !== null) setWidth(dragWidth);
      setDragWidth(null);
    },
  };
  const windowWidth = useWindowWidth();
  const room = windowWidth - graphRoom(windowWidth);
  const paneWidth = Math.max(LEAST, Math.min(dragWidth ?? width, room - 28));
  return { width, setWidth, paneWidth, edge };
}

// The list of widths, with the one dragged to when it is none of them.
export function WidthChoice({ width, setWidth }) {
  return (
    <select
      className="preview-width"
      title="The preview's width"
      value={width}
      onChange={(event) => setWidth(Number(event.target.value))}
    >
      {WIDTHS.map((w) => (
        <option key={w} value={w}>
          {w === WIDTHS[0] ? 'usual size' : 'larger'}
        </option>
      ))}
      {!WIDTHS.includes(width) && <option value={width}>{width} wide</option>}
    </select>
  );
}
