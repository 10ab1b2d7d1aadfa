import { useCallback, useState } from 'react';

// The scene's history as whole scenes: every committed edit is one step, undo and redo move between
// them. `live` is what is shown and rendered: the current step, or a draft while something is dragged.
export default function useHistory(initial) {
  const [state, setState] = useState({ steps: [initial], at: 0, live: initial });

  const draft = useCallback((scene) => setState((s) => ({ ...s, live: scene })), []);
  const push = useCallback(
    (scene) =>
      setState((s) => {
        if (JSON.stringify(scene) === JSON.stringify(s.steps[s.at])) return { ...s, live: scene };
        const steps = [...s.steps.slice(0, s.at + 1), scene];
        return { steps, at: steps.length - 1, live: scene };
      }),
    [],
  );
  const revert = useCallback(() => setState((s) => ({ ...s, live: s.steps[s.at] })), []);
  const reset = useCallback((scene) => setState({ steps: [scene], at: 0, live: scene }), []);
  const move = useCallback(
    (by) =>
      setState((s) => {
        const at = Math.min(s.steps.length - 1, Math.max(0, s.at + by));
        return { ...s, at, live: s.steps[at] };
      }),
    [],
  );

  return {
    steps: state.steps,
    at: state.at,
    live: state.live,
    committed: state.steps[state.at],
    canUndo: state.at > 0,
    canRedo: state.at < state.steps.length - 1,
    draft,
    push,
    revert,
    reset,
    undo: useCallback(() => move(-1), [move]),
    redo: useCallback(() => move(1), [move]),
  };
}
