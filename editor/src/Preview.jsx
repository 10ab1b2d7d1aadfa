import React, { useEffect, useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { client, renderImage } from './api.js';
import useServerAnswer from './useServerAnswer.js';
import { imageSize } from './scene.js';

const WIDTH = 512;
const COARSE = 8;
// The host's nine value types, by the names `vantrel --type` takes.
const TYPES = ['string', 'colora', 'color', 'quaternion', 'vec4', 'vec3', 'vec2', 'double', 'int'];

const planeRect = (domain) => [...(domain?.min ?? [0, 0]), ...(domain?.max ?? [1, 1])];

// The rectangle a zoom by `factor` about the data point (ux, uy) leaves in view.
function zoomed([a, b, c, d], ux, uy, factor) {
  return [ux - (ux - a) * factor, uy - (uy - b) * factor, ux + (c - ux) * factor, uy + (d - uy) * factor];
}

// While a preview renders: for how long, and Stop; once it failed or was stopped, why, and Render again.
function RenderStatus({ status, onStop, onAgain }) {
  const [now, setNow] = useState(Date.now());
  const rendering = status?.state === 'rendering';
  useEffect(() => {
    if (!rendering) return undefined;
    const timer = setInterval(() => setNow(Date.now()), 250);
    return () => clearInterval(timer);
  }, [rendering, status]);
  if (!status) return null;
  if (rendering) {
    const seconds = Math.max(0, now - status.since) / 1000;
    // A render that ends within half a second is not worth a word.
    if (seconds < 0.5) return null;
    return (
      <div className="render-status" data-state="rendering" role="status">
        rendering the {status.coarse ? 'coarse' : 'full'} picture… <b>{Math.floor(seconds)} s</b>
        <button className="link-button stop-render" onClick={onStop}>
          Stop
        </button>
      </div>
    );
  }
  const error = status.error;
  const slow = error?.kind === 'timed-out';
  return (
    <div className="render-status" data-state={status.state} role="alert">
      {status.state === 'stopped' ? 'stopped: the picture is of an earlier state' : error.message}
      {slow && status.edit && (
        <>
          {' '}
          after the edit <span className="edit-name">{status.edit}</span>
        </>
      )}
      <button className="link-button" onClick={onAgain}>
        Render again
      </button>
    </div>
  );
}

// The output node's image (or the picked node's), rendered again on every edit: an eighth of the size
// first, then the full size. A render the edit has moved on from is given up (the server ends its
// process), so only the last edit's image is finished; Stop gives up the one running. On the plane,
// dragging pans and the wheel zooms (a region of the domain); the value under the pointer is the
// server's, in the chosen type.
export default function Preview() {
  const { scene, picked, pick, slowEdit } = useEditor();
  const [region, setRegion] = useState(null);
  const [image, setImage] = useState(null);
  const [type, setType] = useState('color');
  const [hover, setHover] = useState(null);
  const element = useRef(null);
  const pan = useRef(null);
  const shownUrl = useRef(null);
  const [status, setStatus] = useState(null);
  const [attempt, setAttempt] = useState(0);
  const stopper = useRef(null);
  // The scene (its JSON) of the last full picture that came in time, from which a slow one's edit is
  // told.
  const fast = useRef(null);

  const plane = scene.domain?.kind !== 'sphere';
  const domainKey = JSON.stringify(scene.domain ?? null);
  useEffect(() => setRegion(null), [domainKey]);
  const shownRegion = plane ? region : null;
  const size = imageSize(scene.domain, shownRegion, WIDTH);
  const request = { scene, node: picked, type: 'color', region: shownRegion, job: 'preview' };
  const key = JSON.stringify({ request, size });

  useEffect(() => {
    let alive = true;
    const stop = new AbortController();
    stopper.current = stop;
    const show = (url, coarse) => {
      if (!alive) return URL.revokeObjectURL(url);
      if (shownUrl.current) URL.revokeObjectURL(shownUrl.current);
      shownUrl.current = url;
      setImage({ url, coarse, key, ...size });
      return true;
    };
    const coarse = {
      width: Math.max(1, Math.ceil(size.width / COARSE)),
      height: Math.max(1, Math.ceil(size.height / COARSE)),
    };
    const { signal } = stop;
    (async () => {
      try {
        const since = Date.now();
        setStatus({ state: 'rendering', since, coarse: true });
        if (!show(await renderImage({ ...request, ...coarse }, { signal }), true)) return;
        setStatus({ state: 'rendering', since, coarse: false });
        if (!show(await renderImage({ ...request, ...size }, { signal }), false)) return;
        fast.current = JSON.stringify(scene);
        setStatus(null);
      } catch (error) {
        if (!alive) return;
        if (error.cancelled) setStatus(signal.aborted ? { state: 'stopped' } : null);
        // A scene the loader refuses: the check of the edit says where.
        else if (error.kind === 'bad-input' && error.pointer) setStatus(null);
        else {
          const edit = error.kind === 'timed-out' ? slowEdit(fast.current) : null;
          setStatus({ state: 'failed', error, edit });
        }
      }
    })();
    return () => {
      alive = false;
      stop.abort();
    };
  }, [key, attempt]);

  const value = useServerAnswer(
    '/api/value',
    hover && { scene, node: picked, type, ...size, region: shownRegion, x: hover[0], y: hover[1], client },
  );

  const pixelOf = (event) => {
    const rect = element.current.getBoundingClientRect();
    const x = Math.floor(((event.clientX - rect.left) / rect.width) * size.width);
    const y = Math.floor(((event.clientY - rect.top) / rect.height) * size.height);
    return [Math.min(size.width - 1, Math.max(0, x)), Math.min(size.height - 1, Math.max(0, y))];
  };
  const shownRect = () => shownRegion ?? planeRect(scene.domain);

  useEffect(() => {
    const target = element.current;
    if (!target || !plane) return undefined;
    const onWheel = (event) => {
      event.preventDefault();
      const [a, b, c, d] = shownRect();
      const [px, py] = pixelOf(event);
      const ux = a + ((px + 0.5) / size.width) * (c - a);
      const uy = d - ((py + 0.5) / size.height) * (d - b);
      setRegion(zoomed([a, b, c, d], ux, uy, Math.exp(event.deltaY * 0.0015)));
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
    const [a, b, c, d] = p.rect;
    const dx = ((event.clientX - p.x) / box.width) * (c - a);
    const dy = ((event.clientY - p.y) / box.height) * (d - b);
    setRegion([a - dx, b + dy, c - dx, d + dy]);
  };

  const shownNode = picked ?? scene.output;
  return (
    <div className="preview">
      <div className="preview-bar">
        <span>
          preview of <b>{shownNode}</b>
          {picked && (
            <button className="link-button" onClick={() => pick(null)}>
              show the output
            </button>
          )}
        </span>
        <span>
          {size.width} × {size.height}
        </span>
      </div>
      <div className="preview-frame" style={{ aspectRatio: `${size.width} / ${size.height}` }}>
        {image && (
          <img
            ref={element}
            className={`preview-image${image.coarse ? ' coarse' : ''}${plane ? ' pannable' : ''}`}
            src={image.url}
            alt={`The image of ${shownNode}`}
            data-state={image.coarse ? 'coarse' : 'full'}
            data-current={image.key === key ? 'yes' : 'no'}
            data-region={shownRegion ? shownRegion.join(',') : ''}
            data-width={image.width}
            data-height={image.height}
            draggable={false}
            onPointerDown={onPointerDown}
            onPointerMove={onPointerMove}
            onPointerUp={() => (pan.current = null)}
            onPointerLeave={() => !pan.current && setHover(null)}
          />
        )}
      </div>
      <RenderStatus
        status={status}
        onStop={() => stopper.current?.abort()}
        onAgain={() => setAttempt((a) => a + 1)}
      />
      <div className="preview-bar">
        {plane ? (
          <span className="region">
            {shownRegion
              ? `region ${shownRegion.map((v) => v.toPrecision(4)).join(', ')}`
              : 'the whole domain'}
            {shownRegion && (
              <button className="link-button" onClick={() => setRegion(null)}>
                reset
              </button>
            )}
          </span>
        ) : (
          <span>the sphere, longitude -180° .. 180°</span>
        )}
        <label>
          value as{' '}
          <select value={type} onChange={(event) => setType(event.target.value)}>
            {TYPES.map((t) => (
              <option key={t}>{t}</option>
            ))}
          </select>
        </label>
      </div>
      <div className="value-readout" data-testid="value">
        {hover && value ? (
          <>
            <span>({value.position.join(', ')})</span>
            <span className="value-text">{value.text}</span>
          </>
        ) : (
          <span className="hint">point at the image for the value there</span>
        )}
      </div>
    </div>
  );
}
