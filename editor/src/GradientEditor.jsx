import React from 'react';
import useServerAnswer from './useServerAnswer.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import PresetChoice from './PresetChoice.jsx';
import GradientBar, { BAR, W } from './GradientBar.jsx';
import { ColourFields, MemberNote } from './ParamEditor.jsx';
import useMember from './useMember.js';
import usePlotPoints from './usePlotPoints.js';
import { fitStops, reversedStops, setMember } from './scene.js';
import { palettePresets } from './presets.js';

const SAMPLES = 248;

// The selected stop's position and colour to type; `fault` names the one the loader refused, and
// whether its position (0) or its colour (1).
function StopFields({ chosen, stops, fault, draft, commit, withStop }) {
  const [at, rgb] = stops[chosen];
  return (
    <div className="point-fields">
      stop {chosen + 1} at
      <NumberField
        value={at}
        onDraft={(v) => draft(withStop(chosen, [v, rgb]))}
        onCommit={(v) => commit(withStop(chosen, [v, rgb]))}
        refused={fault?.stop === chosen && fault.which !== 1}
      />
      <ColourFields
        rgb={rgb}
        title="The stop's colour"
        refused={(c) => fault?.stop === chosen && fault.which === 1 && (fault.component ?? c) === c}
        onDraft={(colour) => draft(withStop(chosen, [at, colour]))}
        onCommit={(colour) => commit(withStop(chosen, [at, colour]))}
      />
    </div>
  );
}

// A gradient as a colour bar of the node's own colours (the server samples it), with its stops below
// to drag, add (click on the bar), delete (double-click, or Delete on the selected stop) and recolour.
export default function GradientEditor({ node, desc }) {
  const { scene, picture, draft, commit, label, hint, idle, refused, part } = useMember(
    node,
    'gradients',
    desc.name,
  );
  const answer = useServerAnswer('/api/gradient', {
    scene: picture,
    node: node.id,
    gradient: desc.name,
    samples: SAMPLES,
  });
  const stops = node.gradients?.[desc.name] ?? answer?.stops ?? null;
  // The stop the loader refused, and whether its position (0) or its colour (1).
  const fault = part?.stop != null ? part : null;

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
      <GradientBar {...{ answer, frame, stops, chosen, fault, handlers }} />
      <div
        className="gesture-hint"
        title="click the bar: add a stop · drag a stop: move it · double-click it, or Delete: remove it"
      >
        click the bar: add a stop · drag: move · double-click, Delete: remove
      </div>
      <MemberNote idle={idle} />
      {chosen !== null && <StopFields {...{ chosen, stops, fault, draft, commit, withStop }} />}
      {refused && <ErrorNote />}
    </div>
  );
}
