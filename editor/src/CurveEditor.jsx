import React, { useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import useServerAnswer from './useServerAnswer.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import { between, plotFrame, span } from './plot.js';
import { setMember } from './scene.js';

const W = 260;
const PLOT = { left: 6, top: 6, width: 222, height: 110 };
const CHANNELS = ['red', 'green', 'blue'];
const STROKES = ['#e0443e', '#3aa845', '#3a6fe0'];
const SAMPLES = 256;

// Control points of one channel: those the scene holds, else the node's own (its default line).
function channelPoints(stored, answer, rgb, channel) {
  const own = rgb ? stored?.[CHANNELS[channel]] : stored;
  return own ?? answer?.points[channel] ?? null;
}

// A curve as a plot of the node's own evaluation (the server samples it), with its control points to
// drag, add (click on the plot), and delete (double-click, or Delete on the selected point).
export default function CurveEditor({ node, desc, siblings }) {
  const { scene, draft, commit, error } = useEditor();
  const [channel, setChannel] = useState(0);
  const [selected, setSelected] = useState(null);
  const drag = useRef(null);
  const svg = useRef(null);
  const answer = useServerAnswer('/api/curve', {
    scene,
    node: node.id,
    curve: desc.name,
    samples: SAMPLES,
  });
  const rgb = desc.form === 'rgb';
  const stored = node.curves?.[desc.name];
  const points = channelPoints(stored, answer, rgb, channel);
  const place = error?.place;
  const refused = place?.node === node.id && place.kind === 'curves' && place.name === desc.name;

  const withPoints = (list) =>
    setMember(
      scene,
      node.id,
      'curves',
      desc.name,
      rgb ? { ...(stored ?? {}), [CHANNELS[channel]]: list } : list,
    );

  // The frame follows the samples, but holds still while a point is dragged.
  const ys = answer ? answer.channels.flat() : [];
  const pys = points ? points.map((p) => p[1]) : [];
  const pxs = points ? points.map((p) => p[0]) : [];
  const [x0, x1] = answer
    ? [answer.x[0], answer.x[answer.x.length - 1]]
    : span([...desc.inputRange, ...pxs], 0);
  const [y0, y1] = span([0, 1, ...ys, ...pys]);
  const view = drag.current?.view ?? { x0: Math.min(x0, ...pxs), x1: Math.max(x1, ...pxs), y0, y1 };
  const frame = plotFrame(view, PLOT);
  const gap = (view.x1 - view.x0) * 1e-4;

  const onPointerDown = (event) => {
    if (!points || event.button !== 0) return;
    event.stopPropagation();
    svg.current.focus();
    const index = event.target.dataset.index;
    drag.current = { view, index: index === undefined ? null : Number(index), moved: false, list: points };
    if (index !== undefined) setSelected(Number(index));
    svg.current.setPointerCapture(event.pointerId);
    drag.current.start = [event.clientX, event.clientY];
  };
  const onPointerMove = (event) => {
    const d = drag.current;
    if (!d || d.index === null) return;
    if (!d.moved && Math.hypot(event.clientX - d.start[0], event.clientY - d.start[1]) < 2) return;
    d.moved = true;
    const [x, y] = frame.fromEvent(event, svg.current, W);
    const xs = d.list.map((p) => p[0]);
    const list = d.list.map((p, i) => (i === d.index ? [between(xs, i, x, gap), y] : p));
    d.latest = list;
    draft(withPoints(list));
  };
  const onPointerUp = (event) => {
    const d = drag.current;
    drag.current = null;
    if (!d) return;
    if (d.index !== null) {
      if (d.moved) commit(withPoints(d.latest));
      return;
    }
    // A click on the plot itself adds a point there.
    if (Math.hypot(event.clientX - d.start[0], event.clientY - d.start[1]) >= 3) return;
    const [x, y] = frame.fromEvent(event, svg.current, W);
    if (points.some((p) => Math.abs(p[0] - x) <= gap)) return;
    const list = [...points, [x, y]].sort((a, b) => a[0] - b[0]);
    setSelected(list.findIndex((p) => p[0] === x));
    commit(withPoints(list));
  };
  const remove = (index) => {
    if (!points || points.length <= 1 || index === null || index >= points.length) return;
    setSelected(null);
    commit(withPoints(points.filter((_, i) => i !== index)));
  };
  const withCoordinate = (index, axis, value) =>
    withPoints(points.map((p, i) => (i === index ? p.map((v, a) => (a === axis ? value : v)) : p)));

  const [r0, r1] = desc.inputRange;
  const line = (c) =>
    answer
      ? answer.x
          .map((x, i) => `${frame.sx(x).toFixed(2)},${frame.sy(answer.channels[c][i]).toFixed(2)}`)
          .join(' ')
      : '';
  const marks = siblings.length > 1 ? siblings : [];
  const height = PLOT.top + PLOT.height + 6 + marks.length * 14;
  const chosen = points && selected !== null && selected < points.length ? selected : null;

  return (
    <div className={`curve${refused ? ' refused' : ''}`} data-curve={desc.name}>
      <div className="member-title">
        {desc.name}
        {rgb &&
          CHANNELS.map((name, c) => (
            <button
              key={name}
              className={`channel nodrag${c === channel ? ' active' : ''}`}
              style={{ color: STROKES[c] }}
              onClick={() => {
                setChannel(c);
                setSelected(null);
              }}
            >
              {name}
            </button>
          ))}
        <span className="range-note">
          input {r0} .. {r1}
        </span>
      </div>
      <svg
        ref={svg}
        className="plot nodrag nopan nowheel nokey"
        width={W}
        height={height}
        tabIndex={0}
        onPointerDown={onPointerDown}
        onPointerMove={onPointerMove}
        onPointerUp={onPointerUp}
        onKeyDown={(event) => {
          if (event.key === 'Delete' || event.key === 'Backspace') {
            event.preventDefault();
            event.stopPropagation();
            remove(chosen);
          }
        }}
      >
        <rect className="plot-area" x={PLOT.left} y={PLOT.top} width={PLOT.width} height={PLOT.height} />
        <rect
          className="input-range"
          x={frame.sx(r0)}
          y={PLOT.top}
          width={Math.max(0, frame.sx(r1) - frame.sx(r0))}
          height={PLOT.height}
        />
        <line className="axis" x1={PLOT.left} x2={PLOT.left + PLOT.width} y1={frame.sy(0)} y2={frame.sy(0)} />
        <line className="axis" x1={PLOT.left} x2={PLOT.left + PLOT.width} y1={frame.sy(1)} y2={frame.sy(1)} />
        {(rgb ? [0, 1, 2] : [0]).map((c) => (
          <polyline
            key={c}
            className={`curve-line${c === channel ? ' active' : ''}`}
            data-channel={rgb ? CHANNELS[c] : 'grey'}
            points={line(c)}
            stroke={rgb ? STROKES[c] : '#ddd'}
          />
        ))}
        {points?.map(([x, y], i) => (
          <circle
            key={i}
            data-index={i}
            className={`point${i === chosen ? ' selected' : ''}`}
            cx={frame.sx(x)}
            cy={frame.sy(y)}
            r={5}
            onDoubleClick={(event) => {
              event.stopPropagation();
              remove(i);
            }}
          />
        ))}
        {marks.map((m, k) => {
          const y = PLOT.top + PLOT.height + 8 + k * 14;
          const a = frame.sx(m.inputRange[0]);
          const b = frame.sx(m.inputRange[1]);
          return (
            <g key={m.name} className={`range-mark${m.name === desc.name ? ' own' : ''}`}>
              <line x1={a} x2={b} y1={y} y2={y} />
              <line x1={a} x2={a} y1={y - 4} y2={y + 4} />
              <line x1={b} x2={b} y1={y - 4} y2={y + 4} />
              <text x={PLOT.left + PLOT.width + 6} y={y + 4}>
                {m.name}
              </text>
            </g>
          );
        })}
      </svg>
      {chosen !== null && (
        <div className="point-fields">
          point {chosen + 1}
          {['x', 'y'].map((axis, a) => (
            <label key={axis}>
              {axis}
              <NumberField
                value={points[chosen][a]}
                onDraft={(v) => draft(withCoordinate(chosen, a, v))}
                onCommit={(v) => commit(withCoordinate(chosen, a, v))}
              />
            </label>
          ))}
        </div>
      )}
      {refused && <ErrorNote />}
    </div>
  );
}
