import React, { useState } from 'react';
import { useEditor } from './EditorContext.js';
import useServerAnswer from './useServerAnswer.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import usePlotPoints from './usePlotPoints.js';
import { span } from './plot.js';
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

  // The frame follows the samples.
  const ys = answer ? answer.channels.flat() : [];
  const pys = points ? points.map((p) => p[1]) : [];
  const pxs = points ? points.map((p) => p[0]) : [];
  const [x0, x1] = answer
    ? [answer.x[0], answer.x[answer.x.length - 1]]
    : span([...desc.inputRange, ...pxs], 0);
  const [y0, y1] = span([0, 1, ...ys, ...pys]);
  const { frame, chosen, select, handlers } = usePlotPoints({
    list: points,
    view: { x0: Math.min(x0, ...pxs), x1: Math.max(x1, ...pxs), y0, y1 },
    box: PLOT,
    width: W,
    vertical: true,
    create: (x, y) => [x, y],
    move: (list) => draft(withPoints(list)),
    take: (list) => commit(withPoints(list)),
  });
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
                select(null);
              }}
            >
              {name}
            </button>
          ))}
        <span className="range-note">
          input {r0} .. {r1}
        </span>
      </div>
      <svg className="plot nodrag nopan nowheel nokey" width={W} height={height} {...handlers}>
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
