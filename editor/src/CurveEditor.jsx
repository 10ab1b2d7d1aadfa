import React, { useEffect, useState } from 'react';
import { useEditor } from './EditorContext.js';
import useServerAnswer from './useServerAnswer.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import usePlotPoints from './usePlotPoints.js';
import { rounded, span, ticks } from './plot.js';
import { idleReason, memberText } from './nodeInfo.js';
import { MemberNote } from './ParamEditor.jsx';
import { fitPoints, setMember } from './scene.js';
import { curvePresets } from './presets.js';

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

// A list of presets (read from their file) to put into a curve or gradient; it shows no choice, so that
// the same one can be chosen again.
export function PresetChoice({ load, onChoose, className, title }) {
  const [list, setList] = useState([]);
  useEffect(() => {
    load().then(setList);
  }, [load]);
  if (list.length === 0) return null;
  return (
    <select
      className={`preset ${className} nodrag`}
      title={title}
      value=""
      onChange={(event) => event.target.value !== '' && onChoose(list[Number(event.target.value)])}
    >
      <option value="" disabled>
        preset…
      </option>
      {list.map((p, i) => (
        <option key={p.name} value={i}>
          {p.name}
        </option>
      ))}
    </select>
  );
}

// A curve as a plot of the node's own evaluation (the server samples it), with its control points to
// drag, add (click on the plot), and delete (double-click, or Delete on the selected point).
export default function CurveEditor({ node, desc, siblings }) {
  const { scene, picture, draft, commit, error, info, types, asked } = useEditor();
  const { label, hint } = memberText(info, node.type, 'curves', desc.name);
  const idle = idleReason(info, types, node, 'curves', desc.name, asked.get(node.id));
  const [channel, setChannel] = useState(0);
  const answer = useServerAnswer('/api/curve', {
    scene: picture,
    node: node.id,
    curve: desc.name,
    samples: SAMPLES,
  });
  // The plot's own form, the listing's until it comes: the same words, "grey" or "rgb".
  const rgb = (answer?.form ?? desc.form) === 'rgb';
  const stored = node.curves?.[desc.name];
  const points = channelPoints(stored, answer, rgb, channel);
  const place = error?.place;
  const refused = place?.node === node.id && place.kind === 'curves' && place.name === desc.name;
  // The point the loader refused, when it is one of the channel shown, and which coordinate.
  const fault =
    refused && place.part?.point != null && (!rgb || place.part.channel === CHANNELS[channel])
      ? place.part
      : null;

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
  const view = { x0: Math.min(x0, ...pxs), x1: Math.max(x1, ...pxs), y0, y1 };
  // The grid of the plot's ticks, which Ctrl snaps a dragged point to; it holds still with the frame.
  const [xTicks, yTicks] = [ticks(view.x0, view.x1, 5), ticks(view.y0, view.y1, 4)];
  const { frame, chosen, select, handlers } = usePlotPoints({
    list: points,
    view,
    box: PLOT,
    width: W,
    vertical: true,
    grid: { x: xTicks.step, y: yTicks.step },
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
  const [left, right, bottom] = [PLOT.left, PLOT.left + PLOT.width, PLOT.top + PLOT.height];
  const within = (v, lo, hi) => v >= lo - 0.5 && v <= hi + 0.5;
  const faultField = (a) =>
    fault !== null && fault.point === chosen && (fault.axis === null || fault.axis === a);

  return (
    <div className={`curve${refused ? ' refused' : ''}${idle ? ' idle' : ''}`} data-curve={desc.name}>
      <div className="member-title" title={`"${desc.name}"`}>
        <span className="member-label">{label}</span>
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

        <PresetChoice
          className="curve-preset"
          load={curvePresets}
          title="A shape for the curve (the channel shown), fitted to its input range"
          onChoose={(preset) => {
            select(null);
            commit(withPoints(fitPoints(preset.points, desc.inputRange, preset.times)));
          }}
        />
      </div>
      <div className="member-hint" title={`input ${r0} .. ${r1}${hint ? `\n${hint}` : ''}`}>
        <span className="range-note">
          input {rounded(r0)} .. {rounded(r1)}
        </span>
        {hint && ` · ${hint}`}
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
        <g className="grid">
          {xTicks.values
            .filter((v) => within(frame.sx(v), left, right))
            .map((v) => (
              <g key={`x${v}`} className="tick-x">
                <line x1={frame.sx(v)} x2={frame.sx(v)} y1={PLOT.top} y2={bottom} />
                <text x={frame.sx(v) + 2} y={bottom - 2}>
                  {v}
                </text>
              </g>
            ))}
          {yTicks.values
            .filter((v) => within(frame.sy(v), PLOT.top, bottom))
            .map((v) => (
              <g key={`y${v}`} className="tick-y">
                <line x1={left} x2={right} y1={frame.sy(v)} y2={frame.sy(v)} />
                <text x={left + 2} y={frame.sy(v) - 2}>
                  {v}
                </text>
              </g>
            ))}
        </g>
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
            className={`point${i === chosen ? ' selected' : ''}${fault?.point === i ? ' refused' : ''}`}
            cx={frame.sx(x)}
            cy={frame.sy(y)}
            r={5}
          />
        ))}
        {marks.map((m, k) => {
          // Each curve's input range under the plot, cut at its edges (an end beyond has no bar), so
          // that the names to the right stay clear.
          const y = PLOT.top + PLOT.height + 8 + k * 14;
          const [a, b] = [frame.sx(m.inputRange[0]), frame.sx(m.inputRange[1])];
          const [ca, cb] = [Math.min(right, Math.max(left, a)), Math.min(right, Math.max(left, b))];
          return (
            <g key={m.name} className={`range-mark${m.name === desc.name ? ' own' : ''}`}>
              {cb > ca && <line x1={ca} x2={cb} y1={y} y2={y} />}
              {within(a, left, right) && <line x1={a} x2={a} y1={y - 4} y2={y + 4} />}
              {within(b, left, right) && <line x1={b} x2={b} y1={y - 4} y2={y + 4} />}
              <text x={right + 6} y={y + 4}>
                {m.name}
              </text>
            </g>
          );
        })}
      </svg>
      <div
        className="gesture-hint"
        title="click the plot: add a point · drag a point: move it · double-click it, or Delete: remove it"
      >
        click: add a point · drag: move · double-click, Delete: remove
      </div>
      <MemberNote idle={idle} />
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
                refused={faultField(a)}
              />
            </label>
          ))}
        </div>
      )}
      {refused && <ErrorNote />}
    </div>
  );
}
