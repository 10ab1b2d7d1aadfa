import React from 'react';

// The plot of a curve: its frame and grid, the node's own evaluation of every channel, the control
// points of the channel shown, and the input ranges of the node's curves beneath.
export const W = 260;
export const PLOT = { left: 6, top: 6, width: 222, height: 110 };
export const CHANNELS = ['red', 'green', 'blue'];
export const STROKES = ['#e0443e', '#3aa845', '#3a6fe0'];
const [LEFT, RIGHT, BOTTOM] = [PLOT.left, PLOT.left + PLOT.width, PLOT.top + PLOT.height];
const within = (v, lo, hi) => v >= lo - 0.5 && v <= hi + 0.5;

function PlotGrid({ frame, xTicks, yTicks }) {
  return (
    <g className="grid">
      {xTicks.values
        .filter((v) => within(frame.sx(v), LEFT, RIGHT))
        .map((v) => (
          <g key={`x${v}`} className="tick-x">
            <line x1={frame.sx(v)} x2={frame.sx(v)} y1={PLOT.top} y2={BOTTOM} />
            <text x={frame.sx(v) + 2} y={BOTTOM - 2}>
              {v}
            </text>
          </g>
        ))}
      {yTicks.values
        .filter((v) => within(frame.sy(v), PLOT.top, BOTTOM))
        .map((v) => (
          <g key={`y${v}`} className="tick-y">
            <line x1={LEFT} x2={RIGHT} y1={frame.sy(v)} y2={frame.sy(v)} />
            <text x={LEFT + 2} y={frame.sy(v) - 2}>
              {v}
            </text>
          </g>
        ))}
    </g>
  );
}

// Each curve's input range under the plot, cut at its edges (an end beyond has no bar), so that the
// names to the right stay clear; the one of `own` marked.
function RangeMarks({ frame, marks, own }) {
  return marks.map((m, k) => {
    const y = PLOT.top + PLOT.height + 8 + k * 14;
    const [a, b] = [frame.sx(m.inputRange[0]), frame.sx(m.inputRange[1])];
    const [ca, cb] = [Math.min(RIGHT, Math.max(LEFT, a)), Math.min(RIGHT, Math.max(LEFT, b))];
    return (
      <g key={m.name} className={`range-mark${m.name === own ? ' own' : ''}`}>
        {cb > ca && <line x1={ca} x2={cb} y1={y} y2={y} />}
        {within(a, LEFT, RIGHT) && <line x1={a} x2={a} y1={y - 4} y2={y + 4} />}
        {within(b, LEFT, RIGHT) && <line x1={b} x2={b} y1={y - 4} y2={y + 4} />}
        <text x={RIGHT + 6} y={y + 4}>
          {m.name}
        </text>
      </g>
    );
  });
}

// `answer` is the server's samples of every channel; `points` the channel shown's control points, of
// which `chosen` is selected and `fault` names the one refused; `handlers` the plot's pointer and keys.
export default function CurvePlot({
  frame,
  handlers,
  ticks,
  answer,
  rgb,
  channel,
  points,
  chosen,
  fault,
  marks,
  desc,
}) {
  const [r0, r1] = desc.inputRange;
  const line = (c) =>
    answer
      ? answer.x
          .map((x, i) => `${frame.sx(x).toFixed(2)},${frame.sy(answer.channels[c][i]).toFixed(2)}`)
          .join(' ')
      : '';
  const height = PLOT.top + PLOT.height + 6 + marks.length * 14;
  return (
    <svg className="plot nodrag nopan nowheel nokey" width={W} height={height} {...handlers}>
      <rect className="plot-area" x={PLOT.left} y={PLOT.top} width={PLOT.width} height={PLOT.height} />
      <rect
        className="input-range"
        x={frame.sx(r0)}
        y={PLOT.top}
        width={Math.max(0, frame.sx(r1) - frame.sx(r0))}
        height={PLOT.height}
      />
      <PlotGrid frame={frame} xTicks={ticks[0]} yTicks={ticks[1]} />
      <line className="axis" x1={LEFT} x2={RIGHT} y1={frame.sy(0)} y2={frame.sy(0)} />
      <line className="axis" x1={LEFT} x2={RIGHT} y1={frame.sy(1)} y2={frame.sy(1)} />
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
      <RangeMarks frame={frame} marks={marks} own={desc.name} />
    </svg>
  );
}
