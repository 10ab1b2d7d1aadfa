import React, { useCallback, useEffect, useMemo, useRef, useState } from 'react';
import { ApiError, getJson, postJson } from './api.js';
import { EditorContext } from './EditorContext.js';
import { placeOf, slowEdit as slowStep } from './scene.js';
import { nodeInfo } from './presets.js';
import { spoken } from './messages.js';
import useHistory from './useHistory.js';
import useDialog from './Dialog.jsx';
import useFileSession from './useFileSession.js';
import useCheckedEdits, { useUndoKeys } from './useCheckedEdits.js';
import useShownNode from './useShownNode.js';
import { fileInAddress } from './fileAddress.js';
import Toolbar from './Toolbar.jsx';
import GraphView from './GraphView.jsx';
import Preview from './Preview.jsx';

export default function App() {
  const [types, setTypes] = useState(null);
  // The words and limits of a render request, as the server takes them.
  const [render, setRender] = useState(null);
  const [info, setInfo] = useState(null);
  const [start, setStart] = useState(null);
  const [failure, setFailure] = useState(null);

  useEffect(() => {
    // The file the page had open before a reload (opened, so that it can be saved again), else the
    // server's own.
    const named = fileInAddress();
    const scene = named
      ? postJson('/api/open', { file: named }).catch(() => getJson('/api/scene'))
      : getJson('/api/scene');
    Promise.all([getJson('/api/types'), scene, nodeInfo()])
      .then(([list, opened, info]) => {
        setTypes(list.types);
        setRender(list.render);
        setInfo(info);
        setStart(opened);
      })
      .catch((error) => setFailure(error.message));
  }, []);

  if (failure) return <div className="failure">The server did not answer: {failure}</div>;
  if (!types || !start) return <div className="loading">Loading…</div>;
  return <Editor types={types} render={render} info={info} start={start} />;
}

function Editor({ types, render, info, start }) {
  const history = useHistory(start.scene);
  const [error, setError] = useState(null);
  const [picked, setPicked] = useState(null);
  const [generation, setGeneration] = useState(0);
  // The history as it is now, for `slowEdit`, which is asked when a render ends.
  const latest = useRef(history);
  latest.current = history;
  // The pinned type as of the last render, for edits committed before the next.
  const pinRef = useRef(null);
  const scene = history.live;
  const [ask, dialog] = useDialog();
  const refuse = useRefusal(setError);
  // The type the artist pinned the preview to (null: it follows the node shown).
  const [chosenPin, setChosenPin] = useState(null);
  // The node selected in the graph, which a node added goes beside and is wired from.
  const [selected, setSelected] = useState(null);
  // Whether the last full preview was stopped by the server's time limit, which Save warns of.
  const [timedOut, setTimedOut] = useState(false);
  const opened = useCallback(() => {
    setPicked(null);
    setError(null);
    setChosenPin(null);
    setTimedOut(false);
    setGeneration((g) => g + 1);
  }, []);
  const edits = useCheckedEdits({ history, latest, pinRef, info, refuse, setError });
  const { commit, checked, undo, redo } = edits;
  const session = useFileSession({ start, history, ask, refuse, checked, onOpened: opened });
  const slowEdit = useCallback((fast) => slowStep(latest.current.steps, latest.current.at, fast), []);
  useUndoKeys(undo, redo);
  const pinning = { chosenPin, setChosenPin, pinRef, latest };
  const { shown, ...choice } = useShownNode({ scene, types, info, picked, selected, commit, ...pinning });
  const context = useValues({
    types,
    render,
    info,
    scene,
    ...choice,
    setSelected,
    timedOut,
    setTimedOut,
    draft: history.draft,
    commit,
    refuse,
    error,
    picked: shown,
    pick: setPicked,
    generation,
    slowEdit,
  });

  return (
    <EditorContext.Provider value={context}>
      <div className="app">
        <Toolbar session={session} history={{ ...history, undo, redo }} />
        <div className="main">
          <GraphView />
          <Preview />
        </div>
      </div>
      {dialog}
    </EditorContext.Provider>
  );
}

// Shows the loader's refusal of a scene (`against`) with the place it concerns.
function useRefusal(setError) {
  return useCallback((err, against) => {
    const details = err instanceof ApiError ? err : {};
    const place = placeOf(details.pointer, against);
    setError({
      message: err.message,
      ...details,
      place,
      text: spoken({ ...details, message: err.message }, place, against),
    });
  }, []);
}

// An object of `values` that stays the same object while every value does: the context changes, and
// its readers render again, only when one of them changes.
const useValues = (values) => useMemo(() => values, Object.values(values));
