import React, { useEffect, useRef, useState } from 'react';
import { Handle, Position } from '@xyflow/react';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import { useEditor } from './EditorContext.js';
import { isLink, setParam, unlink, withComponent } from './scene.js';
import { costlyValues, duration, idleReason, memberText } from './nodeInfo.js';
import { rounded } from './plot.js';
import { fromHex, toHex } from './colour.js';

// The ParamStyle of an int parameter that is a switch: on (1) or off (0).
const switchStyle = 3;

// The bounds of component i, when the runtime enforces narrower ones than the type's own.
function bounds(desc, i) {
  const range = desc.range;
  if (!range) return {};
  if (Array.isArray(range[0])) return { min: range[0][i], max: range[1][i] };
  return { min: range[0], max: range[1] };
}

// A colour picker of the colour as it is shown (the sRGB transfer of its linear values); what it picks
// is stored linear. Values beyond 0 .. 1 stay typed in the fields. The picker's every move is a draft,
// its closing the edit.
export function ColourPicker({ rgb, onDraft, onCommit, title }) {
  const input = useRef(null);
  const commit = useRef(onCommit);
  commit.current = onCommit;
  useEffect(() => {
    const element = input.current;
    const changed = () => commit.current(fromHex(element.value));
    element.addEventListener('change', changed);
    return () => element.removeEventListener('change', changed);
  }, []);
  return (
    <input
      ref={input}
      type="color"
      className="colour nodrag"
      title={title}
      value={toHex(rgb)}
      onChange={(event) => onDraft(fromHex(event.target.value))}
    />
  );
}

// The colour as display hex, to type: "#ff8c1a" (or "#f81") is stored as the linear values it shows as.
export function HexField({ rgb, onCommit }) {
  const shown = toHex(rgb);
  const [text, setText] = useState(null);
  const take = () => {
    const typed = text === null ? null : fromHex(text);
    setText(null);
    if (typed && text.trim().toLowerCase() !== shown) onCommit(typed);
  };
  return (
    <input
      className={`hex nodrag${text !== null && !fromHex(text) ? ' refused' : ''}`}
      spellCheck={false}
      title="The colour as shown, in hex; stored as its linear values"
      value={text ?? shown}
      onChange={(event) => setText(event.target.value)}
      onBlur={take}
      onKeyDown={(event) => {
        if (event.key === 'Enter') take();
        else if (event.key === 'Escape') setText(null);
      }}
    />
  );
}

// A colour's linear channels (any value, beyond 1 too), its display hex and its picker.
export function ColourFields({ rgb, onDraft, onCommit, refused = () => false, title }) {
  const component = (i, v) => withComponent(rgb, i, v);
  return (
    <span className="vector">
      {rgb.map((v, i) => (
        <NumberField
          key={i}
          value={v}
          onDraft={(x) => onDraft(component(i, x))}
          onCommit={(x) => onCommit(component(i, x))}
          refused={refused(i)}
        />
      ))}
      <HexField rgb={rgb} onCommit={onCommit} />
      <ColourPicker rgb={rgb} onDraft={onDraft} onCommit={onCommit} title={title} />
    </span>
  );
}

// A choice parameter's entries, as the listing gives them (the host reads them from the name); a value
// that is none of them is shown as itself.
function ChoiceField({ choices, value, onCommit, refused }) {
  return (
    <select
      className={`choice nodrag${refused ? ' refused' : ''}`}
      value={String(value)}
      onChange={(event) => onCommit(Number(event.target.value))}
    >
      {choices.map((c) => (
        <option key={c.value} value={String(c.value)}>
          {c.label}
        </option>
      ))}
      {!choices.some((c) => c.value === value) && <option value={String(value)}>{String(value)}</option>}
    </select>
  );
}

// A vector's components from `from` on, a number field each; `faulty(i)` whether the loader refused
// component i.
function ComponentFields({ desc, value, from, onDraft, onCommit, faulty }) {
  return value
    .slice(from)
    .map((v, k) => (
      <NumberField
        key={from + k}
        value={v}
        {...bounds(desc, from + k)}
        onDraft={(x) => onDraft(withComponent(value, from + k, x))}
        onCommit={(x) => onCommit(withComponent(value, from + k, x))}
        refused={faulty(from + k)}
      />
    ));
}

// `fault` marks what the loader refused: null for nothing, 'all' for the value, or a component's index.
function ValueEditor({ desc, value, onDraft, onCommit, fault }) {
  const refused = fault !== null;
  if (desc.choices)
    return <ChoiceField choices={desc.choices} value={value} onCommit={onCommit} refused={refused} />;
  if (desc.type === 'int' && desc.style === switchStyle) {
    // Any value but 1 shows as off; unticking stores 0.
    return (
      <input
        type="checkbox"
        className={`switch nodrag${refused ? ' refused' : ''}`}
        checked={value === 1}
        onChange={(event) => onCommit(event.target.checked ? 1 : 0)}
      />
    );
  }
  if (!Array.isArray(value)) {
    return (
      <NumberField
        value={value}
        integer={desc.type === 'int'}
        {...bounds(desc, 0)}
        onDraft={onDraft}
        onCommit={onCommit}
        refused={refused}
      />
    );
  }
  const faulty = (i) => fault === 'all' || fault === i;
  const fields = { desc, value, onDraft, onCommit, faulty };
  if (desc.type === 'Color') {
    // The three channels are the colour's; a fourth (alpha) is not, and is not encoded.
    const whole = (c) => [...c, ...value.slice(3)];
    return (
      <span className="vector">
        <ColourFields
          rgb={value.slice(0, 3)}
          onDraft={(c) => onDraft(whole(c))}
          onCommit={(c) => onCommit(whole(c))}
          refused={faulty}
        />
        <ComponentFields {...fields} from={3} />
      </span>
    );
  }
  return (
    <span className="vector">
      <ComponentFields {...fields} from={0} />
    </span>
  );
}

// The range the runtime enforces, for the tooltip, when it is narrower than the type's own; rounded.
function rangeNote(desc) {
  const [lo, hi] = desc.range ?? [];
  const narrow = (v) => typeof v === 'number' && Math.abs(v) < 2147483647;
  return narrow(lo) || narrow(hi) ? `, ${rounded(lo)} .. ${rounded(hi)}` : '';
}

// A note under a member: why it changes nothing as the scene stands, or why its value is costly.
export function MemberNote({ idle, costly }) {
  if (costly)
    return (
      <div className="member-note costly" role="note">
        costly: {costly}
      </div>
    );
  if (!idle) return null;
  return (
    <div className="member-note idle" role="note">
      changes nothing now: {idle}
    </div>
  );
}

// What one sample of a costly value may take, in words, or null.
function costNote(scene, info, node, name) {
  const found = costlyValues(scene, info).find((c) => c.node === node.id && c.param === name);
  return found ? `up to ${found.value} ${found.what}, about ${duration(found.sample)} for one sample` : null;
}

// One parameter of a node: its wire's end on the left, its label (the stored name and its hint in the
// tooltip), and its value or the node it reads; dimmed with a note when it changes nothing now.
export default function ParamEditor({ node, desc, index }) {
  const { scene, draft, commit, error, info, types, asked } = useEditor();
  const { label, hint } = memberText(info, node.type, 'params', desc.name);
  const idle = idleReason(info, types, node, 'params', desc.name, asked.get(node.id));
  const costly = costNote(scene, info, node, desc.name);
  const value = node.params?.[desc.name] ?? desc.default;
  const place = error?.place;
  const refused = place?.node === node.id && place.kind === 'params' && place.name === desc.name;
  const fault = refused ? (place.part?.component ?? 'all') : null;
  const edit = (f) => (v) => f(setParam(scene, node.id, desc.name, v));
  return (
    <div className={`param${refused ? ' refused' : ''}${idle ? ' idle' : ''}`} data-param={desc.name}>
      <Handle
        type="target"
        position={Position.Left}
        id={`p${index}`}
        className="param-handle"
        title="Drop a wire from a node's output here to link this parameter to it"
      />
      <span
        className="param-name"
        title={`${hint ? `${hint}\n` : ''}"${desc.name}" (${desc.type}${rangeNote(desc)})`}
      >
        {label}
      </span>
      {isLink(value) ? (
        <span className="linked">
          ← {value.link}
          <button
            className="unlink nodrag"
            title="Unlink: the parameter takes its default again"
            onClick={() => commit(unlink(scene, node.id, desc.name))}
          >
            ×
          </button>
        </span>
      ) : (
        <ValueEditor desc={desc} value={value} onDraft={edit(draft)} onCommit={edit(commit)} fault={fault} />
      )}
      <MemberNote idle={idle} costly={costly} />
      {refused && <ErrorNote />}
    </div>
  );
}
