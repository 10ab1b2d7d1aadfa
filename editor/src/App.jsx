import React, { useCallback, useEffect, useMemo, useRef, useState } from 'react';
import { ApiError, checkScene, getJson } from './api.js';
import { EditorContext } from './EditorContext.js';
import { placeOf } from './scene.js';
import useHistory from './useHistory.js';
import Toolbar from './Toolbar.jsx';
import GraphView from './GraphView.jsx';
import Preview from './Preview.jsx';

export default function App() {
  const [types, setTypes] = useState(null);
  const [start, setStart] = useState(null);
  const [failure, setFailure] = useState(null);

  useEffect(() => {
    Promise.all([getJson('/api/types'), getJson('/api/scene')])
      .then(([list, opened]) => {
        setTypes(list.types);
        setStart(opened);
      })
      .catch((error) => setFailure(error.message));
  }, []);

  if (failure) return <div className="failure">The server did not answer: {failure}</div>;
  if (!types || !start) return <div className="loading">Loading…</div>;
  return <Editor types={types} start={start} />;
}

function Editor({ types, start }) {
  const history = useHistory(start.scene);
  const [file, setFile] = useState(start.file);
  // The revision of the file as it was last read or saved here: a save against another is refused.
  const [revision, setRevision] = useState(start.revision ?? null);
  const [savedJson, setSavedJson] = useState(start.file ? JSON.stringify(start.scene) : null);
  const [error, setError] = useState(null);
  const [picked, setPicked] = useState(null);
  const [generation, setGeneration] = useState(0);
  const checks = useRef(0);
  const scene = history.live;

  const refuse = useCallback((err, against) => {
    const pointer = err instanceof ApiError ? err.pointer : null;
    setError({ message: err.message, place: placeOf(pointer, against) });
  }, []);

  // Every edit but a drag in progress goes through the loader first: a refused one is not taken, and
  // its message is shown where it belongs.
  const commit = useCallback(
    async (next) => {
      const check = ++checks.current;
      try {
        await checkScene(next);
        if (check !== checks.current) return;
        history.push(next);
        setError(null);
      } catch (err) {
        if (check !== checks.current) return;
        history.revert();
        refuse(err, next);
      }
    },
    [history.push, history.revert, refuse],
  );

  const opened = useCallback(
    (answer) => {
      history.reset(answer.scene);
      setFile(answer.file);
      setRevision(answer.revision ?? null);
      setSavedJson(JSON.stringify(answer.scene));
      setPicked(null);
      setError(null);
      setGeneration((g) => g + 1);
    },
    [history.reset],
  );

  const saved = useCallback((name, savedScene, savedRevision) => {
    setFile(name);
    setRevision(savedRevision);
    setSavedJson(JSON.stringify(savedScene));
    setError(null);
  }, []);

  // The preview shows a node the user picked only while it still exists.
  const shown = picked && scene.nodes.some((n) => n.id === picked) ? picked : null;

  useEffect(() => {
    const onKey = (event) => {
      if (event.target.closest?.('input, select, textarea')) return;
      if (!(event.ctrlKey || event.metaKey)) return;
      const key = event.key.toLowerCase();
      if (key === 'z' && !event.shiftKey) history.undo();
      else if (key === 'y' || (key === 'z' && event.shiftKey)) history.redo();
      else return;
      event.preventDefault();
    };
    window.addEventListener('keydown', onKey);
    return () => window.removeEventListener('keydown', onKey);
  }, [history.undo, history.redo]);

  const context = useMemo(
    () => ({
      types,
      scene,
      draft: history.draft,
      commit,
      refuse,
      error,
      picked: shown,
      pick: setPicked,
      generation,
    }),
    [types, scene, history.draft, commit, refuse, error, shown, generation],
  );

  return (
    <EditorContext.Provider value={context}>
      <div className="app">
        <Toolbar
          file={file}
          modified={JSON.stringify(history.committed) !== savedJson}
          history={history}
          revision={revision}
          onOpened={opened}
          onSaved={saved}
        />
        <div className="main">
          <GraphView />
          <Preview />
        </div>
      </div>
    </EditorContext.Provider>
  );
}
