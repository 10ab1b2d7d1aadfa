import { useEffect, useRef, useState } from 'react';
import { release, renderImage } from './api.js';

// An image rendered by the server for a request, `delay` ms after the request last changed: while the
// graph is being dragged, only the last state is rendered, and a render the request has moved on from is
// given up. Failures leave the last image (the preview shows the loader's messages).
export default function useRenderedImage(request, delay) {
  const [url, setUrl] = useState(null);
  const current = useRef(null);
  const key = JSON.stringify(request);

  useEffect(() => {
    let alive = true;
    const stop = new AbortController();
    const timer = setTimeout(() => {
      renderImage(JSON.parse(key), { signal: stop.signal })
        .then((made) => {
          if (!alive) return URL.revokeObjectURL(made);
          if (current.current) release(current.current);
          current.current = made;
          setUrl(made);
        })
        .catch(() => {});
    }, delay);
    return () => {
      alive = false;
      clearTimeout(timer);
      stop.abort();
    };
  }, [key, delay]);

  useEffect(() => () => current.current && URL.revokeObjectURL(current.current), []);
  return url;
}
