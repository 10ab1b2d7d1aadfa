import React, { Suspense, lazy, useEffect, useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { client, release, renderImage } from './api.js';
import useServerAnswer from './useServerAnswer.js';
import { imageSize, imageType } from './scene.js';
import { pictureType, planePeriod } from './nodeInfo.js';
import { PeriodFit, RenderStatus, graphRoom, useWindowWidth } from './PreviewParts.jsx';

// three.js is large: the globe's code is loaded the first time a globe is shown.
const Globe = lazy(() => import('./Globe.jsx'));

// The preview's widths to choose: the usual, and larger; its left edge drags it to any width between
// the least and the most, in steps of 16 pixels.
const WIDTHS = [512, 1024];
const [LEAST, MOST, STEP] = [256, 2048, 16];
const fittedWidth = (w) => Math.min(MOST, Math.max(LEAST, Math.round(w / STEP) * STEP));
const COARSE = 8;
// The host's nine value types, by the names `vantrel --type` takes.
const TYPES = ['string', 'colora', 'color', 'quaternion', 'vec4', 'vec3', 'vec2', 'double', 'int'];
// How each is seen: colours as colour, a double or an int as grey, a vector's components as red,
// green, blue (and alpha).
const SEEN = {
  string: 'text only; the picture in colour',
  colora: 'colour and alpha',
  color: 'colour',
  quaternion: 'x y z w as red green blue alpha',
  vec4: 'x y z w as red green blue alpha',
  vec3: 'x y z as red green blue',
  vec2: 'x y as red green',
  double: 'grey',
  int: 'grey',
};

const planeRect = (domain) => [...(domain?.min ?? [0, 0]), ...(domain?.max ?? [1, 1])];

// The rectangle a zoom by `factor` about the data point (ux, uy) leaves in view.
function zoomed([a, b, c, d], ux, uy, factor) {
  return [ux - (ux - a) * factor, uy - (uy - b) * factor, ux + (c - ux) * factor, uy + (d - uy) * factor];
}

// The output node's image (or the picked node's), rendered again on every edit: an eighth of the size
// first, then the full size. A render the edit has moved on from is given up (the server ends its
// process), so only the last edit's image is finished; Stop gives up the one running. On the plane,
// dragging pans and the wheel zooms (a region of the domain); the value under the pointer is the
// server's, in the chosen type.
export default function Preview() {
  const { scene, picture, commit, picked, pick, slowEdit, info, types, pin, pinType, previewType } =
    useEditor();
  const setTimedOut = useEditor().setTimedOut;
  const samples = scene.samples ?? 1;
  const [region, setRegion] = useState(null);
  const [image, setImage] = useState(null);
  const [width, setWidth] = useState(WIDTHS[0]);
  // While the edge is dragged, the width shown (the picture scaled); the picture is rendered at the
  // width it is let go at.
  const [dragWidth, setDragWidth] = useState(null);
  const shownWidth = dragWidth ?? width;
  const resize = useRef(null);
  // 'flat', or 'tiles' (the plane, 3 x 3) or 'globe' (the sphere) beside it.
  const [view, setView] = useState('flat');
  // The type pinned, else the shown node's own; for the output, what `vantrel render` makes of the
  // saved scene, whose "output_type" follows it.
  const type = previewType;
  const shownImageType = imageType(type);
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
  const size = imageSize(scene.domain, shownRegion, width);
  const request = { scene: picture, node: picked, type: shownImageType, region: shownRegion, job: 'preview' };
  // A mean of integers is no integer: an int is rendered at one sample.
  const fullSamples = shownImageType === 'int' ? 1 : samples;
  const key = JSON.stringify({ request, size, fullSamples });
  // The view beside the flat picture that the domain has: tiles of the plane, the globe of the sphere.
  const otherView = plane ? 'tiles' : 'globe';
  const shownView = view === otherView ? view : 'flat';

  useEffect(() => {
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
        if (!show(await renderImage({ ...request, ...size, samples: fullSamples }, { signal }), false))
          return;
        fast.current = JSON.stringify(scene);
        setTimedOut(false);
        setStatus(null);
      } catch (error) {
        if (!alive) return;
        if (error.cancelled) setStatus(signal.aborted ? { state: 'stopped' } : null);
        // A scene the loader refuses: the check of the edit says where.
        else if (error.kind === 'bad-input' && error.pointer) setStatus(null);
        else {
          const edit = error.kind === 'timed-out' ? slowEdit(fast.current) : null;
          if (error.kind === 'timed-out') setTimedOut(true);
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
    hover && {
      scene: picture,
      node: picked,
      type,
      ...size,
      region: shownRegion,
      x: hover[0],
      y: hover[1],
      client,
    },
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
  const shownTypeName = scene.nodes.find((n) => n.id === shownNode)?.type;
  // The pane leaves the graph room enough for a box and its wires, whatever width the picture has: a
  // wider picture is shown scaled down to the pane.
  const windowWidth = useWindowWidth();
  const room = windowWidth - graphRoom(windowWidth);
  const paneWidth = Math.max(LEAST, Math.min(shownWidth, room - 28));
  return (
    <div className="preview" style={{ width: paneWidth + 28 }}>
      <div
        className="preview-resize"
        title="Drag to make the preview wider or narrower"
        onPointerDown={(event) => {
          event.preventDefault();
          resize.current = { x: event.clientX, width };
          event.currentTarget.setPointerCapture(event.pointerId);
        }}
        onPointerMove={(event) => {
          const r = resize.current;
          if (r) setDragWidth(fittedWidth(r.width + r.x - event.clientX));
        }}
        onPointerUp={() => {
          if (!resize.current) return;
          resize.current = null;
          if (dragWidth !== null) setWidth(dragWidth);
          setDragWidth(null);
        }}
      />
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
          {fullSamples > 1 && `, ${fullSamples} × ${fullSamples} samples`}
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
        </span>
      </div>
      <div className="preview-bar">
        <label>
          seen as{' '}
          <select
            className="output-type"
            value={pin ?? ''}
            data-type={type}
            title={
              "The preview's type: the node's own unless one is pinned here. The output's is saved as the " +
              "scene's output type, which vantrel render and eval take when given none"
            }
            onChange={(event) => pinType(event.target.value || null)}
          >
            <option value="">{`${pictureType(info, shownTypeName)}, its own`}</option>
            {TYPES.map((t) => (
              <option key={t} value={t}>
                {t} (pinned)
              </option>
            ))}
          </select>{' '}
          <span className="seen-as">{SEEN[type]}</span>
        </label>
        <label className="views">
          <input
            type="checkbox"
            className={`${otherView}-view`}
            checked={shownView === otherView}
            onChange={(event) => setView(event.target.checked ? otherView : 'flat')}
          />{' '}
          {plane ? '3 × 3 tiles' : 'globe'}
        </label>
      </div>
      <div
        className="preview-frame"
        style={{ width: paneWidth, aspectRatio: `${size.width} / ${size.height}` }}
      >
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
      {shownView === 'tiles' && (
        <PeriodFit
          period={planePeriod(scene, types, info, shownNode, shownImageType)}
          domain={scene.domain}
          commit={(domain) => commit({ ...scene, domain })}
        />
      )}
      {image && shownView === 'tiles' && (
        <div
          className="preview-tiles"
          data-testid="tiles"
          style={{
            width: paneWidth,
            aspectRatio: `${size.width} / ${size.height}`,
            backgroundImage: `url(${image.url})`,
          }}
          title="The picture 3 × 3 times, so that seams and repeats show"
        />
      )}
      {image && shownView === 'globe' && (
        <Suspense fallback={<div className="globe-loading">loading the globe…</div>}>
          <Globe url={image.url} size={Math.min(paneWidth, 512)} />
        </Suspense>
      )}
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
