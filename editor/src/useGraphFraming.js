import { useEffect, useRef } from 'react';
import { useNodesInitialized, useReactFlow } from '@xyflow/react';
import { BOX_WIDTH } from './graphBoxes.js';

// The least zoom a scene opened is fitted at: text stays readable, and the rest is a pan away.
const FIT = { maxZoom: 1, minZoom: 0.75 };

// A scene opened is fitted to the view (`element`), at a readable zoom, its top in view when it is
// taller; once its boxes are measured. A node added (`arrived`) keeps the zoom and is panned into view
// when it is out of it.
export default function useGraphFraming({ element, generation, arrived }) {
  const { fitView, getViewport, setViewport, setCenter, getNodes, getNodesBounds } = useReactFlow();
  const initialized = useNodesInitialized();
  const fitted = useRef(null);
  useEffect(() => {
    if (!initialized || fitted.current === generation) return undefined;
    const timer = setTimeout(async () => {
      fitted.current = generation;
      await fitView(FIT);
      const view = element.current?.getBoundingClientRect();
      const bounds = getNodesBounds(getNodes());
      const { x, zoom } = getViewport();
      if (view && bounds.height * zoom + 20 > view.height) setViewport({ x, y: 10 - bounds.y * zoom, zoom });
    }, 60);
    return () => clearTimeout(timer);
  }, [initialized, generation]);
  useEffect(() => {
    const id = arrived.current;
    if (!id) return undefined;
    const timer = setTimeout(() => {
      arrived.current = null;
      const box = getNodes().find((n) => n.id === id);
      const view = element.current?.getBoundingClientRect();
      if (!box || !view) return;
      const { x, y, zoom } = getViewport();
      const [w, h] = [box.measured?.width ?? BOX_WIDTH, box.measured?.height ?? 200];
      const left = box.position.x * zoom + x;
      const top = box.position.y * zoom + y;
      const inside =
        left >= 0 &&
        top >= 0 &&
        left + w * zoom <= view.width &&
        top + Math.min(h, 200) * zoom <= view.height;
      if (!inside)
        setCenter(box.position.x + w / 2, box.position.y + Math.min(h / 2, view.height / 2 / zoom - 20), {
          zoom,
        });
    }, 80);
    return () => clearTimeout(timer);
  });
}
