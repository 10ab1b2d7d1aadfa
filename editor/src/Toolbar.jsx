import React, { useEffect, useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { getJson } from './api.js';
import NumberField from './NumberField.jsx';
import ErrorNote from './ErrorNote.jsx';
import { imageSize } from './scene.js';
import { costlyValues, duration, memberText, namedType } from './nodeInfo.js';
import { NodeFinder, RecipeMenu } from './NodeFinder.jsx';

// The loader's message for the scene as a whole, its output or its domain.
function SceneError({ areas }) {
  const { error } = useEditor();
  if (!error || !areas.includes(error.place.area)) return null;
  return <ErrorNote />;
}

// Why the scene may take very long to render, in words, for the note that follows a save: each costly
// value, and a preview stopped by the server's time limit.
function saveWarnings(scene, info, timedOut) {
  const { width, height } = imageSize(scene.domain, null, 512);
  const n = namedType(scene) === 'int' ? 1 : (scene.samples ?? 1);
  const warnings = costlyValues(scene, info).map((c) => {
    const node = scene.nodes.find((each) => each.id === c.node);
    const { label } = memberText(info, node.type, 'params', c.param);
    const whole = c.sample * width * height * n * n;
    return (
      `${c.node} › ${label} is ${c.value}: a sample may run ${c.value} ${c.what}, about ` +
      `${duration(c.sample)}, so vantrel render at its ${width} × ${height}` +
      `${n > 1 ? ` and ${n} × ${n} samples` : ''} may take up to ${duration(whole)} on one core.`
    );
  });
  if (timedOut)
    warnings.push(
      "The last full preview was stopped by the server's time limit: vantrel render of this file takes " +
        "at least as long at the preview's size, and longer at a larger one.",
    );
  return warnings;
}

function FileControls({ session }) {
  const { file, modified, open, save, proposal } = session;
  const { scene, info, timedOut } = useEditor();
  // What the last save did, said until the scene differs from the file again.
  const [notice, setNotice] = useState(null);
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
    const warnings = saveWarnings(scene, info, timedOut);
    if (await save(target)) {
      const time = new Date().toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', hour12: false });
      setNotice({ file: target, text: `saved at ${time}`, warnings });
      setName('');
      setChosen(null);
      refresh();
    }
  };
  const listed = file && !files.includes(file) ? [...files, file].sort() : files;

  return (
    <div className="group files">
      <span
        className="file-name"
        title={`The scene file: ${file ?? 'new scene'}${modified ? ', changed since it was saved' : ''}`}
      >
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
      {notice && notice.file === file && !modified && (
        <span className="save-notice" role="status" title={`${notice.text}, to ${notice.file}`}>
          {notice.text}
        </span>
      )}
      {notice && notice.file === file && !modified && notice.warnings.length > 0 && (
        <div className="save-warnings" role="alert">
          <b>Saved, but it may render slowly:</b>
          {notice.warnings.map((w) => (
            <p key={w} className="save-warning">
              {w}
            </p>
          ))}
          <button className="link-button" onClick={() => setNotice({ ...notice, warnings: [] })}>
            close
          </button>
        </div>
      )}
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
