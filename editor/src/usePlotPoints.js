import { useRef, useState } from 'react';
import { between, plotFrame } from './plot.js';

// The pointer and keys of a plot whose points are dragged, added and deleted: curve points, gradient
// stops. `list` holds them as [x, ...]; a dragged point stays strictly between its neighbours, as the
// loader wants x increasing, and moves in y too when `vertical`. `move(list)` shows a list while a
// point is dragged, `take(list)` makes a list the edit; `create(x, y)` is the point a click on the plot
// adds there. The frame holds still while a point is dragged, so the point stays under the pointer.
export default function usePlotPoints({ list, view, box, width, vertical, create, move, take }) {
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
      drag.current = { view: shown, index, start: [event.clientX, event.clientY], moved: false, list };
      if (index !== null) setSelected(index);
      svg.current.setPointerCapture(event.pointerId);
    },
    onPointerMove(event) {
      const d = drag.current;
      if (!d || d.index === null || (!d.moved && !beyond(d, event, 2))) return;
      d.moved = true;
      const [x, y] = at(event);
      const xs = d.list.map((p) => p[0]);
      d.latest = d.list.map((p, i) =>
        i === d.index ? [between(xs, i, x, gap), ...(vertical ? [y] : p.slice(1))] : p,
      );
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
