import React, { useCallback, useEffect, useMemo, useRef, useState } from 'react';
import { ApiError, checkScene, getJson, postJson } from './api.js';
import { EditorContext } from './EditorContext.js';
import { describeEdit, forPicture, placeOf } from './scene.js';
import { spoken } from './messages.js';
import useHistory from './useHistory.js';
import useDialog from './Dialog.jsx';
import useFileSession, { fileInAddress } from './useFileSession.js';
import Toolbar from './Toolbar.jsx';
import GraphView from './GraphView.jsx';
import Preview from './Preview.jsx';

export default function App() {
  const [types, setTypes] = useState(null);
  const [start, setStart] = useState(null);
  const [failure, setFailure] = useState(null);

  useEffect(() => {
    // The file the page had open before a reload (opened, so that it can be saved again), else the
    // server's own.
    const named = fileInAddress();
    const scene = named
      ? postJson('/api/open', { file: named }).catch(() => getJson('/api/scene'))
      : getJson('/api/scene');
    Promise.all([getJson('/api/types'), scene])
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
  const [error, setError] = useState(null);
  const [picked, setPicked] = useState(null);
  const [generation, setGeneration] = useState(0);
  // The history as it is now, for `slowEdit`, which is asked when a render ends.
  const latest = useRef(history);
  latest.current = history;
  const checks = useRef(0);
  const scene = history.live;
  const [ask, dialog] = useDialog();

  const refuse = useCallback((err, against) => {
    const details = err instanceof ApiError ? err : {};
    const place = placeOf(details.pointer, against);
    setError({
      message: err.message,
      ...details,
      place,
      text: spoken({ ...details, message: err.message }, place),
    });
  }, []);

  const opened = useCallback(() => {
    setPicked(null);
    setError(null);
    setGeneration((g) => g + 1);
  }, []);
  const session = useFileSession({ start, history, ask, refuse, onOpened: opened });

  // Every edit but a drag in progress goes through the loader: a refused one is not taken, and its
  // message is shown where it belongs. The preview starts on the edit at once, beside the check.
  const commit = useCallback(
    async (next) => {
      const check = ++checks.current;
      history.draft(next);
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
    [history.committed, history.draft, history.push, history.revert, refuse],
  );

  // The edit that made a preview too slow, in a few words: the step that left the last scene whose
  // preview finished in time (`fast`, its JSON), when it is one of the steps to here (an edit, or a redo
  // of one), else the step to here; null for the scene as it was opened.
  const slowEdit = useCallback((fast) => {
    const { steps, at } = latest.current;
    const from = steps.slice(0, at).findIndex((step) => JSON.stringify(step) === fast);
    const k = from >= 0 ? from : at - 1;
    return k >= 0 ? describeEdit(steps[k], steps[k + 1]) : null;
  }, []);

  // The preview shows a node the user picked only while it still exists.
  const shown = picked && scene.nodes.some((n) => n.id === picked) ? picked : null;

  useEffect(() => {
    const onKey = (event) => {
      if (event.target.closest?.('input, select, textarea, .dialog')) return;
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

  const picture = useMemo(() => forPicture(scene), [scene]);
  // Samples a pixel of the full preview, as `vantrel render --samples` takes them: the page's, not the
  // scene's.
  const [samples, setSamples] = useState(1);

  const context = useMemo(
    () => ({
      types,
      scene,
      picture,
      samples,
      setSamples,
      draft: history.draft,
      commit,
      refuse,
      error,
      picked: shown,
      pick: setPicked,
      generation,
      slowEdit,
    }),
    [types, scene, picture, samples, history.draft, commit, refuse, error, shown, generation, slowEdit],
  );

  return (
    <EditorContext.Provider value={context}>
      <div className="app">
        <Toolbar session={session} history={history} />
        <div className="main">
          <GraphView />
          <Preview />
        </div>
      </div>
      {dialog}
    </EditorContext.Provider>
  );
}
