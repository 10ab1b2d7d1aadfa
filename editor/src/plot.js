// The mapping between a plot's data coordinates and its SVG pixels, and back from a pointer event.
export function plotFrame(view, box) {
  const { x0, x1, y0, y1 } = view;
  const { left, top, width, height } = box;
  return {
    sx: (x) => left + ((x - x0) / (x1 - x0)) * width,
    sy: (y) => top + ((y1 - y) / (y1 - y0)) * height,
    fromEvent(event, element, viewWidth) {
      const rect = element.getBoundingClientRect();
      const scale = viewWidth / rect.width; // the graph view may be zoomed
      const px = (event.clientX - rect.left) * scale;
      const py = (event.clientY - rect.top) * scale;
      return [x0 + ((px - left) / width) * (x1 - x0), y1 - ((py - top) / height) * (y1 - y0)];
    },
  };
}

// The extent of a list of numbers widened by some, never empty.
export function span(values, pad = 0.05) {
  let lo = Math.min(...values);
  let hi = Math.max(...values);
  if (!(hi > lo)) {
    lo -= 0.5;
    hi += 0.5;
  }
  const margin = (hi - lo) * pad;
  return [lo - margin, hi + margin];
}

// A place strictly between a point's neighbours, as the loader wants x (or positions) increasing.
export function between(list, i, x, gap) {
  const lo = i > 0 ? list[i - 1] + gap : -Infinity;
  const hi = i < list.length - 1 ? list[i + 1] - gap : Infinity;
  return Math.min(hi, Math.max(lo, x));
}

// A dragged point's new coordinates ([x], and [x, y] when `vertical`): from `start`, where it was, to
// `to`, where the pointer's motion takes it. An axis it has not left by more than a few pixels (`free`
// says which it has) keeps its value; `hold` (Shift) keeps the one the pointer moved less along
// (`pixels`, [dx, dy] on screen); `grid` ({x, y}, Ctrl) snaps to its steps. x stays strictly between its
// neighbours' (`xs`, the point's at `index`) by `gap`.
export function dragTo({ xs, index, start, to, free, pixels, vertical, hold, grid, gap }) {
  let [x, y] = to;
  let keepX = !free.x;
  let keepY = !free.y;
  if (hold && vertical) {
    if (pixels[0] >= pixels[1]) keepY = true;
    else keepX = true;
  }
  if (grid) {
    x = snap(x, grid.x);
    y = snap(y, grid.y);
  }
  return [keepX ? start[0] : between(xs, index, x, gap), ...(vertical ? [keepY ? start[1] : y] : [])];
}

// The ticks of a plot's axis: steps of 1, 2 or 5 times a power of ten, at most `count` of them across
// lo .. hi, and the multiples of the step within it.
export function ticks(lo, hi, count) {
  const raw = (hi - lo) / count;
  const power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw * (1 - 1e-9));
  const values = [];
  for (let k = Math.ceil(lo / step); k * step <= hi; ++k) values.push(snap(k * step, step));
  return { step, values };
}

// The multiple of `step` nearest to v, without the binary fraction's tail (0.30000000000000004).
export const snap = (v, step) => Number((Math.round(v / step) * step).toPrecision(12));

// A number for a label: three significant digits (0.5773502691896258 is 0.577); the whole
// value belongs in a tooltip.
export const rounded = (v) =>
  typeof v === 'number' && Number.isFinite(v) ? String(Number(v.toPrecision(3))) : String(v);
