import { useEffect, useRef, useState } from 'react';
import { panned, pixelAt, planeRect, zoomAt } from './previewGeometry.js';
import { isPlane } from './scene.js';

// The region of the plane's domain in view: null for the whole domain (and always on the sphere and a model); a
// new domain shows all of itself again.
export function useRegion(domain) {
  const [region, setRegion] = useState(null);
  const domainKey = JSON.stringify(domain ?? null);
  useEffect(() => setRegion(null), [domainKey]);
  return [isPlane(domain) ? region : null, setRegion];
}

// The pointer on the preview's image (`element`, `size` pixels): on the plane, dragging pans the region
// and the wheel zooms it about the pointer; elsewhere, the pixel under it (`hover`, null when it is
// away).
export function usePlaneNavigation({ element, plane, size, domain, region, setRegion }) {
  const [hover, setHover] = useState(null);
  const pan = useRef(null);
  const pixelOf = (event) =>
    pixelAt(element.current.getBoundingClientRect(), event.clientX, event.clientY, size);
  const shownRect = () => region ?? planeRect(domain);

  useEffect(() => {
    const target = element.current;
    if (!target || !plane) return undefined;
    const onWheel = (event) => {
      event.preventDefault();
      setRegion(zoomAt(shownRect(), pixelOf(event), size, event.deltaY));
    };
    target.addEventListener('wheel', onWheel, { passive: false });
    return () => target.removeEventListener('wheel', onWheel);
  });

  const onPointerDown = (event) => {
    if (!plane || event.button !== 0) return;
    event.preventDefault();
    pan.current = { x: event.clientX, y: event.clientY, rect: shownRect() };
    event.currentTarget.setPointerCapture(event.pointerId);
  };
  const onPointerMove = (event) => {
    const p = pan.current;
    if (!p) return setHover(pixelOf(event));
    const box = element.current.getBoundingClientRect();
    setRegion(panned(p.rect, event.clientX - p.x, event.clientY - p.y, box));
  };
  const handlers = {
    onPointerDown,
    onPointerMove,
    onPointerUp: () => (pan.current = null),
    onPointerLeave: () => !pan.current && setHover(null),
  };
  return { hover, handlers };
}
