import { useCallback, useEffect, useRef } from 'react';
import { checkScene } from './api.js';
import { inStep } from './nodeInfo.js';

const idle = Promise.resolve(null); // no edit being checked

// Every edit but a drag in progress goes through the loader: a refused one is not taken, and its
// message is shown where it belongs (`refuse`). The preview starts on the edit at once, beside the
// check. `checked` waits for the edit being checked; undo and redo (Ctrl+Z, Ctrl+Y, Ctrl+Shift+Z) wait
// for it too. `latest.current` is the history now, `pinRef.current` the pinned type.
export default function useCheckedEdits({ history, latest, pinRef, info, refuse, setError }) {
  const checks = useRef(0);
  // The check of the edit being checked, which answers the scene it commits (null when it is refused
  // or overtaken), or `idle`: a Save clicked meanwhile saves that edit once it is taken.
  const checking = useRef(idle);
  const checked = useCallback(async () => {
    let scene = null;
    for (let run = checking.current; run !== idle; run = checking.current) scene = await run;
    return scene;
  }, []);

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

  // Undo and redo wait for the edit being checked to be taken or refused: at once, they would step back
  // from the step before it, and the check would then put the edit back on top.
  const afterChecks = useCallback(
    (move) => (checking.current === idle ? move() : checked().then(move)),
    [checked],
  );
  const undo = useCallback(() => afterChecks(history.undo), [afterChecks, history.undo]);
  const redo = useCallback(() => afterChecks(history.redo), [afterChecks, history.redo]);
  return { commit, checked, undo, redo };
}

// Ctrl+Z undoes, Ctrl+Y or Ctrl+Shift+Z redoes, outside the fields and dialogs.
export function useUndoKeys(undo, redo) {
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
}
