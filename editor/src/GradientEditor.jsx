import React, { useEffect, useRef } from 'react';
import { useEditor } from './EditorContext.js';
import useServerAnswer from './useServerAnswer.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import { ColourFields } from './ParamEditor.jsx';
import { byte, cssColour } from './colour.js';
import usePlotPoints from './usePlotPoints.js';
import { fitStops, reversedStops, setMember } from './scene.js';
import { idleReason, memberText } from './nodeInfo.js';
import { MemberNote } from './ParamEditor.jsx';
import { palettePresets } from './presets.js';
import { PresetChoice } from './CurveEditor.jsx';

const W = 260;
const BAR = { left: 6, top: 2, width: 248, height: 22 };
const SAMPLES = 248;

// A gradient as a colour bar of the node's own colours (the server samples it), with its stops below
// to drag, add (click on the bar), delete (double-click, or Delete on the selected stop) and recolour.
export default function GradientEditor({ node, desc }) {
  const { scene, picture, draft, commit, error, info, types, asked } = useEditor();
  const { label, hint } = memberText(info, node.type, 'gradients', desc.name);
  const idle = idleReason(info, types, node, 'gradients', desc.name, asked.get(node.id));
  const canvas = useRef(null);
  const answer = useServerAnswer('/api/gradient', {
    scene: picture,
    node: node.id,
    gradient: desc.name,
    samples: SAMPLES,
  });
  const stops = node.gradients?.[desc.name] ?? answer?.stops ?? null;
  const place = error?.place;
  const refused = place?.node === node.id && place.kind === 'gradients' && place.name === desc.name;
  // The stop the loader refused, and whether its position (0) or its colour (1).
  const fault = refused && place.part?.stop != null ? place.part : null;

  useEffect(() => {
    const context = canvas.current?.getContext('2d');
    if (!context || !answer) return;
    const image = context.createImageData(answer.colours.length, 1);
    answer.colours.forEach((rgb, i) => {
      // Shown as a PNG of the colours shows them: through the sRGB transfer.
      rgb.forEach((v, c) => (image.data[i * 4 + c] = byte(v)));
      image.data[i * 4 + 3] = 255;
    });
    canvas.current.width = answer.colours.length;
    context.putImageData(image, 0, 0);
  }, [answer]);

  const withStops = (list) => setMember(scene, node.id, 'gradients', desc.name, list);
  const { frame, view, chosen, handlers } = usePlotPoints({
    list: stops,
    view: { x0: answer ? answer.x[0] : 0, x1: answer ? answer.x[answer.x.length - 1] : 1, y0: 0, y1: 1 },
    box: BAR,
    width: W,
    vertical: false,
    create: (x) => [x, colourAt(x)],
    move: (list) => draft(withStops(list)),
    take: (list) => commit(withStops(list)),
  });

  // The colour the bar shows at a position, for a new stop there.
  const colourAt = (x) => {
    if (!answer) return [0.5, 0.5, 0.5];
    const i = Math.round(((x - view.x0) / (view.x1 - view.x0)) * (answer.x.length - 1));
    return answer.colours[Math.min(answer.x.length - 1, Math.max(0, i))];
  };
  const withStop = (index, stop) => withStops(stops.map((s, i) => (i === index ? stop : s)));

  return (
    <div className={`gradient${refused ? ' refused' : ''}${idle ? ' idle' : ''}`} data-gradient={desc.name}>
      <div className="member-title" title={`"${desc.name}"`}>
        <span className="member-label">{label}</span>
        <button
          className="reverse nodrag"
          title="Reverse the gradient: its colours run the other way over the same span"
          disabled={!stops || stops.length < 2}
          onClick={() => commit(withStops(reversedStops(stops)))}
        >
          ⇄
        </button>
        <PresetChoice
          className="palette-preset"
          load={palettePresets}
          title="A palette for the gradient, over the span its stops have now"
          onChoose={(preset) => commit(withStops(fitStops(preset.stops, stops)))}
        />
      </div>
      {hint && (
        <div className="member-hint" title={hint}>
          {hint}
        </div>
      )}
      <div className="bar-box">
        <canvas
          ref={canvas}
          className="bar"
          height={1}
          style={{ left: BAR.left, width: BAR.width, height: BAR.height }}
        />
        <svg
          className="stops nodrag nopan nowheel nokey"
          width={W}
          height={BAR.top + BAR.height + 14}
          {...handlers}
        >
          <rect className="bar-area" x={BAR.left} y={BAR.top} width={BAR.width} height={BAR.height} />
          {stops?.map(([x, rgb], i) => {
            const sx = frame.sx(x);
            const y = BAR.top + BAR.height;
            return (
              <path
                key={i}
                data-index={i}
                className={`stop${i === chosen ? ' selected' : ''}${fault?.stop === i ? ' refused' : ''}`}
                d={`M${sx},${y} l6,11 h-12 z`}
                fill={cssColour(rgb)}
              />
            );
          })}
        </svg>
      </div>
      <div
        className="gesture-hint"
        title="click the bar: add a stop · drag a stop: move it · double-click it, or Delete: remove it"
      >
        click the bar: add a stop · drag: move · double-click, Delete: remove
      </div>
      <MemberNote idle={idle} />
      {chosen !== null && (
        <div className="point-fields">
          stop {chosen + 1} at
          <NumberField
            value={stops[chosen][0]}
            onDraft={(v) => draft(withStop(chosen, [v, stops[chosen][1]]))}
            onCommit={(v) => commit(withStop(chosen, [v, stops[chosen][1]]))}
            refused={fault?.stop === chosen && fault.which !== 1}
          />
          <ColourFields
            rgb={stops[chosen][1]}
            title="The stop's colour"
            refused={(c) => fault?.stop === chosen && fault.which === 1 && (fault.component ?? c) === c}
            onDraft={(rgb) => draft(withStop(chosen, [stops[chosen][0], rgb]))}
            onCommit={(rgb) => commit(withStop(chosen, [stops[chosen][0], rgb]))}
          />
        </div>
      )}
      {refused && <ErrorNote />}
    </div>
  );
}
