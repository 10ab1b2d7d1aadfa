import React, { useEffect, useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { getJson, postJson } from './api.js';
import NumberField from './NumberField.jsx';
import { addNode } from './scene.js';

// The loader's message for the scene as a whole, its output or its domain.
function SceneError({ areas }) {
  const { error } = useEditor();
  if (!error || !areas.includes(error.place.area)) return null;
  return (
    <div className="error-note" role="alert">
      {error.message}
    </div>
  );
}

function FileControls({ file, revision, modified, onOpened, onSaved }) {
  const { scene, refuse } = useEditor();
  const [files, setFiles] = useState([]);
  const [name, setName] = useState('');
  const choice = useRef(null);

  const refresh = () =>
    getJson('/api/files')
      .then((answer) => setFiles(answer.files))
      .catch(() => {});
  useEffect(() => {
    refresh();
  }, []);

  const open = async () => {
    const picked = choice.current.value;
    if (!picked) return;
    try {
      onOpened(await postJson('/api/open', { file: picked }));
    } catch (error) {
      refuse(error, scene);
    }
  };
  const save = async (target) => {
    try {
      // A save as another name starts that file's revisions: it is new, or it is refused.
      const answer = await postJson('/api/save', {
        scene,
        file: target,
        revision: target === file ? revision : null,
      });
      onSaved(answer.file, scene, answer.revision);
      setName('');
      refresh();
    } catch (error) {
      refuse(error, scene);
    }
  };

  return (
    <div className="group files">
      <span className="file-name" title="The scene file">
        {file ?? 'new scene'}
        {modified && ' •'}
      </span>
      <select ref={choice} className="open-choice" onFocus={refresh} defaultValue="">
        <option value="" disabled>
          open…
        </option>
        {files.map((f) => (
          <option key={f}>{f}</option>
        ))}
      </select>
      <button onClick={open}>Open</button>
      <button onClick={() => save(file)} disabled={!file}>
        Save
      </button>
      <input
        className="save-name"
        placeholder="name.json"
        value={name}
        onChange={(event) => setName(event.target.value)}
        onKeyDown={(event) => event.key === 'Enter' && name && save(name)}
      />
      <button onClick={() => save(name)} disabled={!name}>
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

export default function Toolbar({ file, revision, modified, history, onOpened, onSaved }) {
  return (
    <div className="toolbar">
      <FileControls
        file={file}
        revision={revision}
        modified={modified}
        onOpened={onOpened}
        onSaved={onSaved}
      />
      <div className="group">
        <button onClick={history.undo} disabled={!history.canUndo} title="Undo (Ctrl+Z)">
          Undo
        </button>
        <button onClick={history.redo} disabled={!history.canRedo} title="Redo (Ctrl+Shift+Z)">
          Redo
        </button>
      </div>
      <AddNode />
      <DomainControls />
      <SceneError areas={['scene', 'output']} />
    </div>
  );
}
