import React, { useState } from 'react';
import useServerAnswer from './useServerAnswer.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import PresetChoice from './PresetChoice.jsx';
import CurvePlot, { CHANNELS, PLOT, STROKES, W } from './CurvePlot.jsx';
import useMember from './useMember.js';
import usePlotPoints from './usePlotPoints.js';
import { rounded, span, ticks } from './plot.js';
import { MemberNote } from './ParamEditor.jsx';
import { fitPoints, setMember } from './scene.js';
import { curvePresets } from './presets.js';

const SAMPLES = 256;

// Control points of one channel: those the scene holds, else the node's own (its default line).
function channelPoints(stored, answer, rgb, channel) {
  const own = rgb ? stored?.[CHANNELS[channel]] : stored;
  return own ?? answer?.points[channel] ?? null;
}

// The plot's frame: it follows the samples, and the points wherever they lie.
function curveView(answer, points, inputRange) {
  const ys = answer ? answer.channels.flat() : [];
  const pys = points ? points.map((p) => p[1]) : [];
  const pxs = points ? points.map((p) => p[0]) : [];
  const [x0, x1] = answer ? [answer.x[0], answer.x[answer.x.length - 1]] : span([...inputRange, ...pxs], 0);
  const [y0, y1] = span([0, 1, ...ys, ...pys]);
  return { x0: Math.min(x0, ...pxs), x1: Math.max(x1, ...pxs), y0, y1 };
}

// The curve's label, its channels to choose (when it has three) and its presets.
function CurveTitle({ desc, label, rgb, channel, choose, preset }) {
  return (
    <div className="member-title" title={`"${desc.name}"`}>
      <span className="member-label">{label}</span>
      {rgb &&
        CHANNELS.map((name, c) => (
          <button
            key={name}
            className={`channel nodrag${c === channel ? ' active' : ''}`}
            style={{ color: STROKES[c] }}
            onClick={() => choose(c)}
          >
            {name}
          </button>
        ))}

      <PresetChoice
        className="curve-preset"
        load={curvePresets}
        title="A shape for the curve (the channel shown), fitted to its input range"
        onChoose={preset}
      />
    </div>
  );
}

// The selected point's coordinates to type; `fault` names the one the loader refused.
function PointFields({ chosen, points, fault, draft, commit, withCoordinate }) {
  const faultField = (a) =>
    fault !== null && fault.point === chosen && (fault.axis === null || fault.axis === a);
  return (
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
  );
}

// A curve as a plot of the node's own evaluation (the server samples it), with its control points to
// drag, add (click on the plot), and delete (double-click, or Delete on the selected point).
export default function CurveEditor({ node, desc, siblings }) {
  const { scene, picture, draft, commit, label, hint, idle, refused, part } = useMember(
    node,
    'curves',
    desc.name,
  );
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
  // The point the loader refused, when it is one of the channel shown, and which coordinate.
  const fault = part?.point != null && (!rgb || part.channel === CHANNELS[channel]) ? part : null;

  const withPoints = (list) =>
    setMember(
      scene,
      node.id,
      'curves',
      desc.name,
      rgb ? { ...(stored ?? {}), [CHANNELS[channel]]: list } : list,
    );
  const view = curveView(answer, points, desc.inputRange);
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
  const choose = (c) => {
    setChannel(c);
    select(null);
  };
  const preset = (chosenPreset) => {
    select(null);
    commit(withPoints(fitPoints(chosenPreset.points, desc.inputRange, chosenPreset.times)));
  };
  const [r0, r1] = desc.inputRange;
  const plotted = { frame, handlers, answer, rgb, channel, points, chosen, fault, desc };

  return (
    <div className={`curve${refused ? ' refused' : ''}${idle ? ' idle' : ''}`} data-curve={desc.name}>
      <CurveTitle {...{ desc, label, rgb, channel, choose, preset }} />
      <div className="member-hint" title={`input ${r0} .. ${r1}${hint ? `\n${hint}` : ''}`}>
        <span className="range-note">
          input {rounded(r0)} .. {rounded(r1)}
        </span>
        {hint && ` · ${hint}`}
      </div>
      <CurvePlot {...plotted} ticks={[xTicks, yTicks]} marks={siblings.length > 1 ? siblings : []} />
      <div
        className="gesture-hint"
        title="click the plot: add a point · drag a point: move it · double-click it, or Delete: remove it"
      >
        click: add a point · drag: move · double-click, Delete: remove
      </div>
      <MemberNote idle={idle} />
      {chosen !== null && <PointFields {...{ chosen, points, fault, draft, commit, withCoordinate }} />}
      {refused && <ErrorNote />}
    </div>
  );
}
