import { useCallback, useEffect, useRef } from 'react';
import { useReactFlow } from '@xyflow/react';
import { POSITION, withLayout } from './scene.js';
import { copyNodes, pasteNodes } from './graphEdits.js';
import { pastedPlaces } from './graphBoxes.js';

// Copies pasted beside their originals, in the same arrangement, clear of every box, recorded in the
// layout, selected (`selectNext`) and brought into view; Ctrl+C copies the selected boxes, Ctrl+V
// pastes them, Ctrl+D duplicates them. Answers `duplicate` for the boxes' own button.
export default function useGraphClipboard({ scene, commit, placed, selectNext }) {
  const { getNodes } = useReactFlow();
  const paste = useCallback(
    (clip) => {
      if (!clip?.nodes?.length) return;
      const { scene: next, ids } = pasteNodes(scene, clip);
      const places = pastedPlaces(clip, ids, placed.current, getNodes());
      selectNext.current = ids;
      commit(withLayout(next, places));
    },
    [scene, commit, getNodes],
  );
  const duplicate = useCallback((ids) => paste(copyNodes(scene, ids)), [scene, paste]);

  const clipboard = useRef(null);
  useEffect(() => {
    const onKey = (event) => {
      if (event.target.closest?.('input, select, textarea, .dialog')) return;
      if (!(event.ctrlKey || event.metaKey) || event.shiftKey) return;
      const key = event.key.toLowerCase();
      const ids = getNodes()
        .filter((n) => n.selected && n.id !== POSITION)
        .map((n) => n.id);
      if (key === 'c' && ids.length > 0) clipboard.current = copyNodes(scene, ids);
      else if (key === 'v') paste(clipboard.current);
      else if (key === 'd' && ids.length > 0) duplicate(ids);
      else return;
      event.preventDefault();
    };
    window.addEventListener('keydown', onKey);
    return () => window.removeEventListener('keydown', onKey);
  }, [scene, paste, duplicate, getNodes]);
  return duplicate;
}
