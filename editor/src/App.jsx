import React, { useCallback, useEffect, useMemo, useRef, useState } from 'react';
import { ApiError, checkScene, getJson, postJson } from './api.js';
import { EditorContext } from './EditorContext.js';
import { POSITION, describeEdit, forPicture, imageType, placeOf } from './scene.js';
import { askedTypes, inStep, namedType, pictureType, pinOf } from './nodeInfo.js';
import { nodeInfo } from './presets.js';
import { spoken } from './messages.js';
import useHistory from './useHistory.js';
import useDialog from './Dialog.jsx';
import useFileSession, { fileInAddress } from './useFileSession.js';
import Toolbar from './Toolbar.jsx';
import GraphView from './GraphView.jsx';
import Preview from './Preview.jsx';

const idle = Promise.resolve(null); // no edit being checked

export default function App() {
  const [types, setTypes] = useState(null);
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
        setInfo(info);
        setStart(opened);
      })
      .catch((error) => setFailure(error.message));
  }, []);

  if (failure) return <div className="failure">The server did not answer: {failure}</div>;
  if (!types || !start) return <div className="loading">Loading…</div>;
  return <Editor types={types} info={info} start={start} />;
}

function Editor({ types, info, start }) {
  const history = useHistory(start.scene);
  const [error, setError] = useState(null);
  const [picked, setPicked] = useState(null);
  const [generation, setGeneration] = useState(0);
  // The history as it is now, for `slowEdit`, which is asked when a render ends.
  const latest = useRef(history);
  latest.current = history;
  const checks = useRef(0);
  // The pinned type as of the last render, for edits committed before the next.
  const pinRef = useRef(null);
  const scene = history.live;
  const [ask, dialog] = useDialog();

  const refuse = useCallback((err, against) => {
    const details = err instanceof ApiError ? err : {};
    const place = placeOf(details.pointer, against);
    setError({
      message: err.message,
      ...details,
      place,
      text: spoken({ ...details, message: err.message }, place, against),
    });
  }, []);

  // The type the artist pinned the preview to (null: it follows the node shown); the scene has the
  // last word where they disagree (nodeInfo's pinOf).
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
  // The check of the edit being checked, which answers the scene it commits (null when it is refused
  // or overtaken), or `idle`: a Save clicked meanwhile saves that edit once it is taken.
  const checking = useRef(idle);
  const checked = useCallback(async () => {
    let scene = null;
    for (let run = checking.current; run !== idle; run = checking.current) scene = await run;
    return scene;
  }, []);
  const session = useFileSession({ start, history, ask, refuse, checked, onOpened: opened });

  // Every edit but a drag in progress goes through the loader: a refused one is not taken, and its
  // message is shown where it belongs. The preview starts on the edit at once, beside the check.
  const commit = useCallback(
    (edited) => {
      const next = inStep(latest.current.committed, edited, info, pinRef.current);
      const check = ++checks.current;
      history.draft(next);
      const run = (async () => {
        try {
          await checkScene(next);
          if (check !== checks.current) return null;
          history.push(next);
          setError(null);
          return next;
        } catch (err) {
          if (check !== checks.current) return null;
          history.revert();
          refuse(err, next);
          return null;
        }
      })();
      checking.current = run;
      run.then(() => {
        if (checking.current === run) checking.current = idle;
      });
      return run;
    },
    [history.committed, history.draft, history.push, history.revert, refuse, info],
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

  // Undo and redo wait for the edit being checked to be taken or refused: at once, they would step back
  // from the step before it, and the check would then put the edit back on top.
  const afterChecks = useCallback(
    (move) => (checking.current === idle ? move() : checked().then(move)),
    [checked],
  );
  const undo = useCallback(() => afterChecks(history.undo), [afterChecks, history.undo]);
  const redo = useCallback(() => afterChecks(history.redo), [afterChecks, history.redo]);

  // The preview shows a node the user picked only while it still exists.
  const shown = picked && scene.nodes.some((n) => n.id === picked) ? picked : null;

  useEffect(() => {
    const onKey = (event) => {
      if (event.target.closest?.('input, select, textarea, .dialog')) return;
      if (!(event.ctrlKey || event.metaKey)) return;
      const key = event.key.toLowerCase();
      if (key === 'z' && !event.shiftKey) undo();
      else if (key === 'y' || (key === 'z' && event.shiftKey)) redo();
      else return;
      event.preventDefault();
    };
    window.addEventListener('keydown', onKey);
    return () => window.removeEventListener('keydown', onKey);
  }, [undo, redo]);

  const picture = useMemo(() => forPicture(scene), [scene]);
  // The preview's type: the pinned one, else the shown node's own; the output's is the scene's.
  const pin = pinOf(scene, info, chosenPin);
  pinRef.current = pin;
  const shownNode = shown ?? scene.output;
  // What a node added goes beside and is wired from: the selected box, else the node shown.
  const anchor = selected === POSITION || scene.nodes.some((n) => n.id === selected) ? selected : shownNode;
  const shownType = scene.nodes.find((n) => n.id === shownNode)?.type;
  const previewType = pin ?? pictureType(info, shownType);
  const asked = useMemo(
    () =>
      askedTypes(scene, types, info, {
        outputType: imageType(namedType(scene)),
        shown: shownNode,
        shownType: imageType(previewType),
      }),
    [scene, types, info, shownNode, previewType],
  );
  // Pins the preview to a type, or lets it follow (null): the output's type follows in the scene.
  const pinType = useCallback(
    (type) => {
      setChosenPin(type);
      pinRef.current = type;
      const scene = latest.current.committed;
      const output = scene.nodes.find((n) => n.id === scene.output);
      const named = type ?? pictureType(info, output?.type);
      if (namedType(scene) !== named || scene.output_type === undefined)
        commit({ ...scene, output_type: named });
    },
    [commit, info],
  );

  const context = useMemo(
    () => ({
      types,
      info,
      scene,
      picture,
      pin,
      pinType,
      previewType,
      asked,
      anchor,
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
    }),
    [
      types,
      info,
      scene,
      picture,
      pin,
      pinType,
      previewType,
      asked,
      anchor,
      timedOut,
      history.draft,
      commit,
      refuse,
      error,
      shown,
      generation,
      slowEdit,
    ],
  );

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
