import React, { useEffect, useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { getJson } from './api.js';
import { imageSize } from './scene.js';
import { costlyValues, duration, memberText, namedType } from './nodeInfo.js';

// The scene file: its name, the files to open, Save and Save as, and what the last save did.

// The scene files of the server's folder, read again by `refresh`.
function useFileList() {
  const [files, setFiles] = useState([]);
  // Scene files whose names are not UTF-8 text: listed, escaped, but not to be opened from here.
  const [unopenable, setUnopenable] = useState([]);
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
  return { files, unopenable, refresh };
}

// The files to open (`listed`), and those that cannot be, shown but not to be chosen.
function OpenChoice({ listed, unopenable, value, refresh, choose }) {
  return (
    <select
      className="open-choice"
      value={value}
      onFocus={refresh}
      onChange={(event) => choose(event.target.value)}
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
  );
}

// Why the scene may take very long to render, in words, for the note that follows a save: each costly
// value, and a preview stopped by the server's time limit.
// A render as `vantrel render` makes one when given no options: the default width, the scene's samples.
function saveWarnings(scene, info, timedOut, render) {
  const { width, height } = imageSize(scene.domain, null, render.defaults.width);
  const n = namedType(scene) === 'int' ? 1 : (scene.samples ?? render.defaults.samples);
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

// What the last save did, and why the file may render slowly, which can be closed.
function SaveNotice({ notice, setNotice }) {
  return (
    <>
      <span className="save-notice" role="status" title={`${notice.text}, to ${notice.file}`}>
        {notice.text}
      </span>
      {notice.warnings.length > 0 && (
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
    </>
  );
}

// The file's name (with a mark while the scene differs from it), Open, Save and Save as; a name
// proposed after a conflict is put in the name field.
export default function FileControls({ session }) {
  const { file, modified, open, save, proposal } = session;
  const { scene, info, timedOut, render } = useEditor();
  // What the last save did, said until the scene differs from the file again.
  const [notice, setNotice] = useState(null);
  const [name, setName] = useState('');
  // The file chosen to open; until one is, the list shows the file open now.
  const [chosen, setChosen] = useState(null);
  const nameField = useRef(null);

  const { files, unopenable, refresh } = useFileList();
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
    const warnings = saveWarnings(scene, info, timedOut, render);
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
      <OpenChoice
        listed={listed}
        unopenable={unopenable}
        value={chosen ?? file ?? ''}
        refresh={refresh}
        choose={setChosen}
      />
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
      {notice && notice.file === file && !modified && <SaveNotice notice={notice} setNotice={setNotice} />}
    </div>
  );
}
