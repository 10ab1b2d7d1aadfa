// The preview's arithmetic: its widths, the coarse picture's size, and the plane's region under the
// pointer as it is zoomed and panned. A region is [xmin, ymin, xmax, ymax] in the domain's units; a
// pixel's row 0 is the top, the domain's y grows upwards.

// The preview's widths to choose: the usual, and larger; its left edge drags it to any width between
// the least and the most, in steps of 16 pixels.
export const WIDTHS = [512, 1024];
export const [LEAST, MOST, STEP] = [256, 2048, 16];
export const fittedWidth = (w) => Math.min(MOST, Math.max(LEAST, Math.round(w / STEP) * STEP));

// The first picture of an edit is an eighth of the size each way, at least a pixel.
const COARSE = 8;
export const coarseSize = ({ width, height }) => ({
  width: Math.max(1, Math.ceil(width / COARSE)),
  height: Math.max(1, Math.ceil(height / COARSE)),
});

export const planeRect = (domain) => [...(domain?.min ?? [0, 0]), ...(domain?.max ?? [1, 1])];

// The pixel of an image of `size` pixels, shown in the screen box `box`, under the point (x, y) of the
// screen; a point outside the box is taken to the nearest edge pixel.
export function pixelAt(box, x, y, size) {
  const px = Math.floor(((x - box.left) / box.width) * size.width);
  const py = Math.floor(((y - box.top) / box.height) * size.height);
  return [Math.min(size.width - 1, Math.max(0, px)), Math.min(size.height - 1, Math.max(0, py))];
}

// The rectangle a zoom by `factor` about the data point (ux, uy) leaves in view.
function zoomed([a, b, c, d], ux, uy, factor) {
  return [ux - (ux - a) * factor, uy - (uy - b) * factor, ux + (c - ux) * factor, uy + (d - uy) * factor];
}

// The region a wheel turn of `deltaY` leaves, zoomed about the centre of the pixel under the pointer:
// down (positive) widens the view, up narrows it.
export function zoomAt(rect, [px, py], size, deltaY) {
  const [a, b, c, d] = rect;
  const ux = a + ((px + 0.5) / size.width) * (c - a);
  const uy = d - ((py + 0.5) / size.height) * (d - b);
  return zoomed(rect, ux, uy, Math.exp(deltaY * 0.0015));
}

// The region after a drag of (dx, dy) screen pixels across a picture shown `box` wide and high: the
// domain moves with the pointer.
export function panned([a, b, c, d], dx, dy, box) {
  const ux = (dx / box.width) * (c - a);
  const uy = (dy / box.height) * (d - b);
  return [a - ux, b + uy, c - ux, d + uy];
}
