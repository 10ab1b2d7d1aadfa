import { useEffect, useRef, useState } from 'react';
import { release, renderImage } from './api.js';
import { coarseSize } from './previewGeometry.js';

// For a view's render of its own, apart from the preview's: its time-outs are not the preview's to
// report.
export const untimed = { slowEdit: () => null, setTimedOut: () => {} };

// The picture of `request` rendered again whenever `key` changes: an eighth of the size first, then
// the full size at `samples`. A render the edit has moved on from is given up (the server ends its
// process), so only the last edit's image is finished; `stop` gives up the one running, `again` renders
// once more. A render that runs out of time names the edit since the last one that came in time
// (`slowEdit` of that scene), and says so to `setTimedOut`. No `request`: nothing is shown.
export default function useProgressiveRender({ request, size, samples, key, scene, slowEdit, setTimedOut }) {
  const [image, setImage] = useState(null);
  const [status, setStatus] = useState(null);
  const [attempt, setAttempt] = useState(0);
  const shownUrl = useRef(null);
  const stopper = useRef(null);
  // The scene (its JSON) of the last full picture that came in time, from which a slow one's edit is
  // told.
  const fast = useRef(null);

  useEffect(() => {
    if (!request) {
      if (shownUrl.current) release(shownUrl.current);
      shownUrl.current = null;
      setImage(null);
      setStatus(null);
      return undefined;
    }
    let alive = true;
    const stop = new AbortController();
    stopper.current = stop;
    const show = (url, coarse) => {
      if (!alive) return URL.revokeObjectURL(url);
      if (shownUrl.current) release(shownUrl.current);
      shownUrl.current = url;
      setImage({ url, coarse, key, ...size });
      return true;
    };
    const { signal } = stop;
    const failed = (error) => {
      if (!alive) return;
      if (error.cancelled) setStatus(signal.aborted ? { state: 'stopped' } : null);
      // A scene the loader refuses: the check of the edit says where.
      else if (error.kind === 'bad-input' && error.pointer) setStatus(null);
      else {
        const edit = error.kind === 'timed-out' ? slowEdit(fast.current) : null;
        if (error.kind === 'timed-out') setTimedOut(true);
        setStatus({ state: 'failed', error, edit });
      }
    };
    (async () => {
      const since = Date.now();
      setStatus({ state: 'rendering', since, coarse: true });
      if (!show(await renderImage({ ...request, ...coarseSize(size) }, { signal }), true)) return;
      setStatus({ state: 'rendering', since, coarse: false });
      if (!show(await renderImage({ ...request, ...size, samples }, { signal }), false)) return;
      fast.current = JSON.stringify(scene);
      setTimedOut(false);
      setStatus(null);
    })().catch(failed);
    return () => {
      alive = false;
      stop.abort();
    };
  }, [key, attempt]);

  return {
    image,
    status,
    stop: () => stopper.current?.abort(),
    again: () => setAttempt((a) => a + 1),
  };
}
