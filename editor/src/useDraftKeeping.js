import { useCallback, useEffect, useRef } from 'react';
import { dropDraft, keepDraft } from './drafts.js';

const KEEP_AFTER = 400; // ms after a committed edit

// Keeps the page's unsaved edits in the browser: a moment after each committed edit and when the page
// is left (which asks first); an undo back to the file's state takes the entry away. `latest.current`
// is the session now: {file, revision, modified, committed, committedJson}.
export default function useDraftKeeping(latest, { file, modified, committedJson, savedJson }) {
  // Whether this file's entry in the browser is the page's own (written since it was opened or
  // restored), which an undo back to the file's state takes away; another's waits for its answer.
  const kept = useRef({ own: false, json: null });

  const keepNow = useCallback(() => {
    const s = latest.current;
    if (!s.modified || kept.current.json === s.committedJson) return;
    keepDraft(s.file, { scene: s.committed, revision: s.revision, time: Date.now() });
    kept.current = { own: true, json: s.committedJson };
  }, []);

  useEffect(() => {
    if (!modified) {
      if (kept.current.own) dropDraft(file);
      kept.current = { own: false, json: null };
      return undefined;
    }
    const timer = setTimeout(keepNow, KEEP_AFTER);
    return () => clearTimeout(timer);
  }, [committedJson, savedJson, file, keepNow]);

  useEffect(() => {
    const onLeave = (event) => {
      if (!latest.current.modified) return;
      keepNow();
      event.preventDefault();
      event.returnValue = '';
    };
    window.addEventListener('beforeunload', onLeave);
    return () => window.removeEventListener('beforeunload', onLeave);
  }, [keepNow]);

  return { kept, keepNow };
}
