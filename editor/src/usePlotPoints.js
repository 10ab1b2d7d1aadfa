import { useRef, useState } from 'react';
import { dragTo, plotFrame } from './plot.js';

// How far, in pixels, the pointer may stray from an axis before a drag moves the point along it.
const SLACK = 4;

// The list of drag `d` with its point moved by the pointer `event`, at the data point `pointer`; the
// drag remembers which axes the pointer has left.
function draggedList(d, event, pointer, { vertical, grid, gap }) {
  // The point moves as far as the pointer has, wherever on the mark it was pressed.
  const [x0, y0] = d.list[d.index];
  const [px, py] = pointer;
  const pixels = [Math.abs(event.clientX - d.start[0]), Math.abs(event.clientY - d.start[1])];
  d.freeX ||= !vertical || pixels[0] > SLACK;
  d.freeY ||= pixels[1] > SLACK;
  const moved = dragTo({
    xs: d.list.map((p) => p[0]),
    index: d.index,
    start: [x0, y0],
    to: [x0 + (px - d.from[0]), y0 + (py - d.from[1])],
    free: { x: d.freeX, y: d.freeY },
    pixels,
    vertical,
    hold: event.shiftKey,
    grid: (event.ctrlKey || event.metaKey) && grid,
    gap,
  });
  return d.list.map((p, i) => (i === d.index ? [...moved, ...p.slice(moved.length)] : p));
}

// The pointer and keys of a plot whose points are dragged, added and deleted: curve points, gradient
// stops. `list` holds them as [x, ...]; a dragged point stays strictly between its neighbours, as the
// loader wants x increasing, and moves in y too when `vertical`. `move(list)` shows a list while a
// point is dragged, `take(list)` makes a list the edit; `create(x, y)` is the point a click on the plot
// adds there. The frame holds still while a point is dragged, so the point stays under the pointer.
//
// A coordinate keeps its value until the pointer has left it by more than SLACK pixels (a vertical drag
// leaves x as it was, to the bit); Shift holds the axis the pointer has moved less along; Ctrl snaps
// to `grid` ({x, y}: the steps of the plot's ticks).
export default function usePlotPoints({ list, view, box, width, vertical, grid, create, move, take }) {
  const [selected, setSelected] = useState(null);
  const svg = useRef(null);
  const drag = useRef(null);
  // The point last pressed: a double-click deletes it. (The plot captures the pointer while a point is
  // pressed, so the double-click arrives at the plot, not at the point.)
  const pressed = useRef(null);
  const shown = drag.current?.view ?? view;
  const frame = plotFrame(shown, box);
  const gap = (shown.x1 - shown.x0) * 1e-4;
  const chosen = list && selected !== null && selected < list.length ? selected : null;
  const at = (event) => frame.fromEvent(event, svg.current, width);
  const beyond = (d, event, pixels) =>
    Math.hypot(event.clientX - d.start[0], event.clientY - d.start[1]) >= pixels;

  const remove = (index) => {
    if (!list || list.length <= 1 || index === null || index >= list.length) return;
    setSelected(null);
    take(list.filter((_, i) => i !== index));
  };

  const handlers = {
    ref: svg,
    tabIndex: 0,
    onPointerDown(event) {
      if (!list || event.button !== 0) return;
      event.stopPropagation();
      svg.current.focus();
      const mark = event.target.dataset.index;
      const index = mark === undefined ? null : Number(mark);
      pressed.current = index;
      const start = [event.clientX, event.clientY];
      drag.current = { view: shown, index, start, from: at(event), moved: false, list };
      if (index !== null) setSelected(index);
      svg.current.setPointerCapture(event.pointerId);
    },
    onPointerMove(event) {
      const d = drag.current;
      if (!d || d.index === null || (!d.moved && !beyond(d, event, 2))) return;
      d.moved = true;
      d.latest = draggedList(d, event, at(event), { vertical, grid, gap });
      move(d.latest);
    },
    onPointerUp(event) {
      const d = drag.current;
      drag.current = null;
      if (!d) return;
      if (d.index !== null) {
        if (d.moved) take(d.latest);
        return;
      }
      // A click on the plot itself adds a point there.
      if (beyond(d, event, 3)) return;
      const [x, y] = at(event);
      if (list.some((p) => Math.abs(p[0] - x) <= gap)) return;
      const added = [...list, create(x, y)].sort((a, b) => a[0] - b[0]);
      setSelected(added.findIndex((p) => p[0] === x));
      take(added);
    },
    onDoubleClick: () => remove(pressed.current),
    onKeyDown(event) {
      if (event.key !== 'Delete' && event.key !== 'Backspace') return;
      event.preventDefault();
      event.stopPropagation();
      remove(chosen);
    },
  };
  return { frame, view: shown, chosen, select: setSelected, handlers };
}
