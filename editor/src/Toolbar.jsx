import React, { useEffect, useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { getJson } from './api.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import { addNode, addRecipe } from './scene.js';
import { recipeScene, recipes } from './presets.js';

// The loader's message for the scene as a whole, its output or its domain.
function SceneError({ areas }) {
  const { error } = useEditor();
  if (!error || !areas.includes(error.place.area)) return null;
  return <ErrorNote />;
}

function FileControls({ session }) {
  const { file, modified, open, save, proposal } = session;
  const [files, setFiles] = useState([]);
  // Scene files whose names are not UTF-8 text: listed, escaped, but not to be opened from here.
  const [unopenable, setUnopenable] = useState([]);
  const [name, setName] = useState('');
  // The file chosen to open; until one is, the list shows the file open now.
  const [chosen, setChosen] = useState(null);
  const nameField = useRef(null);

  const refresh = () =>
    getJson('/api/files')
      .then((answer) => {
        setFiles(answer.files);
        setUnopenable(answer.unopenable ?? []);
      })
      .catch(() => {});
  useEffect(() => {
    refresh();
  }, []);
  useEffect(() => {
    if (!proposal) return;
    setName(proposal.name);
    nameField.current.focus();
    nameField.current.select();
  }, [proposal]);

  const openChosen = async () => {
    const target = chosen ?? file;
    if (!target) return;
    if (await open(target)) setChosen(null);
  };
  const saveTo = async (target) => {
    if (await save(target)) {
      setName('');
      setChosen(null);
      refresh();
    }
  };
  const listed = file && !files.includes(file) ? [...files, file].sort() : files;

  return (
    <div className="group files">
      <span className="file-name" title="The scene file">
        {file ?? 'new scene'}
        {modified && ' •'}
      </span>
      <select
        className="open-choice"
        value={chosen ?? file ?? ''}
        onFocus={refresh}
        onChange={(event) => setChosen(event.target.value)}
      >
        <option value="" disabled>
          open…
        </option>
        {listed.map((f) => (
          <option key={f}>{f}</option>
        ))}
        {unopenable.map((f) => (
          <option
            key={`unopenable ${f}`}
            disabled
            title="its name is not UTF-8 text; rename it to open it here"
          >
            {f}
          </option>
        ))}
      </select>
      <button onClick={openChosen}>Open</button>
      <button onClick={() => saveTo(file)} disabled={!file}>
        Save
      </button>
      <input
        ref={nameField}
        className="save-name"
        placeholder="name.json"
        value={name}
        onChange={(event) => setName(event.target.value)}
        onKeyDown={(event) => event.key === 'Enter' && name && saveTo(name)}
      />
      <button onClick={() => saveTo(name)} disabled={!name}>
        Save as
      </button>
    </div>
  );
}

// Plane or sphere; the plane's rectangle from its lower-left to its upper-right corner.
function DomainControls() {
  const { scene, commit } = useEditor();
  const domain = scene.domain ?? { kind: 'plane' };
  const lastPlane = useRef({ kind: 'plane', min: [-1, -1], max: [1, 1] });
  if (domain.kind === 'plane') lastPlane.current = domain;
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
            domain: event.target.value === 'sphere' ? { kind: 'sphere' } : lastPlane.current,
          })
        }
      >
        <option value="plane">plane</option>
        <option value="sphere">sphere</option>
      </select>
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

function AddNode() {
  const { scene, types, commit } = useEditor();
  const choice = useRef(null);
  return (
    <div className="group add">
      <select ref={choice} className="add-type" defaultValue={types[0]?.name}>
        {types.map((t) => (
          <option key={t.classId} value={t.name}>
            {t.name}
          </option>
        ))}
      </select>
      <button
        className="add-node"
        onClick={() =>
          commit(
            addNode(
              scene,
              types.find((t) => t.name === choice.current.value),
            ).scene,
          )
        }
      >
        Add node
      </button>
    </div>
  );
}

// A recipe of the node guide added to the graph, wired, and shown in the preview.
function AddRecipe() {
  const { scene, commit, pick, refuse } = useEditor();
  const [list, setList] = useState([]);
  const choice = useRef(null);
  useEffect(() => {
    recipes().then(setList);
  }, []);
  if (list.length === 0) return null;
  const add = async () => {
    const recipe = list[Number(choice.current.value)];
    try {
      const added = addRecipe(scene, await recipeScene(recipe));
      await commit(added.scene);
      if (added.output) pick(added.output);
    } catch (error) {
      refuse(error, scene);
    }
  };
  return (
    <div className="group recipes">
      <select ref={choice} className="recipe-choice" defaultValue="0">
        {list.map((r, i) => (
          <option key={r.name} value={i}>
            {r.name}
          </option>
        ))}
      </select>
      <button className="add-recipe" onClick={add} title="Add the recipe's nodes to the graph, wired">
        Add recipe
      </button>
    </div>
  );
}

// Samples a pixel of the full preview takes, N x N as `vantrel render --samples N`.
function SamplesChoice() {
  const { samples, setSamples } = useEditor();
  return (
    <div className="group">
      <label title="Samples a pixel of the full preview, as vantrel render --samples">
        samples{' '}
        <select
          className="samples"
          value={samples}
          onChange={(event) => setSamples(Number(event.target.value))}
        >
          {[1, 2, 3, 4].map((n) => (
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
      <AddNode />
      <AddRecipe />
      <DomainControls />
      <SamplesChoice />
      <Description />
      <SceneError areas={['scene', 'output']} />
    </div>
  );
}
