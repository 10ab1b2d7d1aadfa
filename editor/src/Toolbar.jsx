import React, { useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import { NodeFinder, RecipeMenu } from './NodeFinder.jsx';
import FileControls from './FileControls.jsx';
import { namedType } from './nodeInfo.js';

// The loader's message for the scene as a whole, its output or its domain.
function SceneError({ areas }) {
  const { error } = useEditor();
  if (!error || !areas.includes(error.place.area)) return null;
  return <ErrorNote />;
}

// Plane, sphere or a model's surface; the plane's rectangle from its lower-left to its upper-right
// corner; the model a mesh domain names (the 3-D view shows it, and others).
function DomainControls() {
  const { scene, commit } = useEditor();
  const domain = scene.domain ?? { kind: 'plane' };
  const last = useRef({
    plane: { kind: 'plane', min: [-1, -1], max: [1, 1] },
    sphere: { kind: 'sphere' },
    mesh: { kind: 'mesh', shape: 'cube' },
  });
  last.current[domain.kind] = domain;
  const corner = (key, fallback) => (
    <span className="vector">
      {(domain[key] ?? fallback).map((v, i) => (
        <NumberField
          key={i}
          value={v}
          onDraft={() => {}}
          onCommit={(x) =>
            commit({
              ...scene,
              domain: { ...domain, [key]: (domain[key] ?? fallback).map((old, j) => (j === i ? x : old)) },
            })
          }
        />
      ))}
    </span>
  );
  return (
    <div className="group domain">
      <select
        className="domain-kind"
        value={domain.kind}
        onChange={(event) =>
          commit({
            ...scene,
            domain: last.current[event.target.value],
          })
        }
      >
        <option value="plane">plane</option>
        <option value="sphere">sphere</option>
        <option value="mesh">model</option>
      </select>
      {domain.kind === 'mesh' && <span className="domain-model">{domain.file ?? domain.shape}</span>}
      {domain.kind === 'plane' && (
        <>
          {corner('min', [0, 0])}
          ..
          {corner('max', [1, 1])}
        </>
      )}
      <SceneError areas={['domain']} />
    </div>
  );
}

// Samples a pixel takes, N x N: the scene's "samples", which the preview and `vantrel render` of the
// saved file take. An int image takes one (a mean of integers is no integer); 1 is the scene holding none.
function SamplesChoice() {
  const { scene, commit } = useEditor();
  const samples = scene.samples ?? 1;
  const whole = namedType(scene) === 'int';
  const choose = (n) => {
    const next = { ...scene, samples: n };
    if (n === 1) delete next.samples;
    commit(next);
  };
  return (
    <div className="group">
      <label
        title={
          whole
            ? 'An int image takes one sample a pixel: a mean of integers is no integer'
            : 'Samples a pixel, N × N, saved in the scene: the preview and vantrel render of the file take them'
        }
      >
        samples{' '}
        <select
          className="samples"
          value={whole ? 1 : samples}
          disabled={whole}
          onChange={(event) => choose(Number(event.target.value))}
        >
          {[...new Set([1, 2, 3, 4, samples])].map((n) => (
            <option key={n} value={n}>
              {n === 1 ? '1' : `${n} × ${n}`}
            </option>
          ))}
        </select>
      </label>
    </div>
  );
}

// The scene's description, for people: the programs ignore it. Taken on Enter or on leaving the field;
// emptied, the scene holds none.
function Description() {
  const { scene, commit } = useEditor();
  const [text, setText] = useState(null);
  const take = () => {
    if (text === null) return;
    setText(null);
    if (text === (scene.description ?? '')) return;
    const next = { ...scene, description: text };
    if (text === '') delete next.description;
    commit(next);
  };
  return (
    <div className="group description">
      <input
        className="scene-description"
        placeholder="the scene's description"
        title={scene.description ?? "The scene's description"}
        value={text ?? scene.description ?? ''}
        onChange={(event) => setText(event.target.value)}
        onBlur={take}
        onKeyDown={(event) => {
          if (event.key === 'Enter') take();
          else if (event.key === 'Escape') setText(null);
        }}
      />
    </div>
  );
}

export default function Toolbar({ session, history }) {
  return (
    <div className="toolbar">
      <FileControls session={session} />
      <div className="group">
        <button onClick={history.undo} disabled={!history.canUndo} title="Undo (Ctrl+Z)">
          Undo
        </button>
        <button onClick={history.redo} disabled={!history.canRedo} title="Redo (Ctrl+Shift+Z)">
          Redo
        </button>
      </div>
      <NodeFinder />
      <RecipeMenu />
      <DomainControls />
      <SamplesChoice />
      <Description />
      <SceneError areas={['scene', 'output']} />
    </div>
  );
}
