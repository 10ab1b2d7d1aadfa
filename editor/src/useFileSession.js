import { useCallback, useEffect, useRef, useState } from 'react';
import { getJson, postJson } from './api.js';

// Unsaved edits kept in the browser, one entry per file of this server (its origin: its port), so that
// a browser or server that ends loses at most the last moment's edit: {scene, revision, time}, the
// scene as last committed, the revision of the file it was edited from, and when.
const draftKey = (file) => `vantrel-unsaved ${window.location.origin} ${file ?? '(new scene)'}`;
const KEEP_AFTER = 400; // ms after a committed edit

export function readDraft(file) {
  try {
    const text = window.localStorage.getItem(draftKey(file));
    const draft = text && JSON.parse(text);
    return draft && typeof draft === 'object' && draft.scene ? draft : null;
  } catch {
    return null;
  }
}

function keepDraft(file, draft) {
  try {
    window.localStorage.setItem(draftKey(file), JSON.stringify(draft));
  } catch {
    // Storage full or refused: the edits stay on the page, as before.
  }
}

const dropDraft = (file) => window.localStorage.removeItem(draftKey(file));

const clock = (time) =>
  new Date(time).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', hour12: false });

// The open file's name rides in the address's fragment, so that a reload asks for it again.
export function fileInAddress() {
  const match = /^#file=(.+)$/.exec(window.location.hash);
  if (!match) return null;
  try {
    return decodeURIComponent(match[1]);
  } catch {
    return null;
  }
}

// The scene file the page edits: its name, the revision it was read or saved at, whether the scene
// differs from it; opening (asking first about unsaved edits), saving (asking what to do when the file
// changed on disk), the leave-page prompt, and the edits kept in the browser and offered back.
export default function useFileSession({ start, history, ask, refuse, checked, onOpened }) {
  const [file, setFile] = useState(start.file);
  const [revision, setRevision] = useState(start.revision ?? null);
  const [savedJson, setSavedJson] = useState(JSON.stringify(start.scene));
  // A name for Save as that the page proposes (after a conflict), with a count so that it is set again.
  const [proposal, setProposal] = useState(null);
  const committedJson = JSON.stringify(history.committed);
  const modified = committedJson !== savedJson;
  const latest = useRef(null);
  latest.current = { file, revision, modified, committed: history.committed, committedJson };
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
    const address = file ? `#file=${encodeURIComponent(file)}` : window.location.pathname;
    window.history.replaceState(null, '', address);
  }, [file]);

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

  // A file read (at the start or opened): its scene with a history of its own, then, when the browser
  // holds edits of it that it does not have, the question whether to restore them.
  const take = useCallback(
    async (answer, fresh) => {
      if (fresh) {
        history.reset(answer.scene);
        setFile(answer.file);
        setRevision(answer.revision ?? null);
        setSavedJson(JSON.stringify(answer.scene));
        onOpened();
      }
      kept.current = { own: false, json: null };
      const draft = readDraft(answer.file);
      if (!draft) return;
      const draftJson = JSON.stringify(draft.scene);
      if (draftJson === JSON.stringify(answer.scene)) return dropDraft(answer.file);
      const changed = draft.revision !== (answer.revision ?? null);
      const choice = await ask({
        title: `Unsaved changes from ${clock(draft.time)}`,
        text:
          `This browser holds changes to ${answer.file ?? 'the new scene'} from ${clock(draft.time)} that were ` +
          `not saved${changed ? '; the file has changed on disk since they were made' : ''}.`,
        choices: [
          { label: 'Restore them', value: 'restore' },
          { label: 'Discard them', value: 'discard' },
        ],
        // Restored edits are a step of Undo away from the file; discarded ones are gone.
        escape: 'restore',
      });
      if (choice !== 'restore') return dropDraft(answer.file);
      // Saved against the revision they were made from: a file changed since is not overwritten unasked.
      history.push(draft.scene);
      setRevision(draft.revision ?? null);
      kept.current = { own: true, json: draftJson };
    },
    [history.reset, history.push, ask, onOpened],
  );

  useEffect(() => {
    take(start, false);
  }, []);

  const open = useCallback(
    async (name) => {
      const s = latest.current;
      let choice = null;
      if (s.modified) {
        choice = await ask({
          title: `Unsaved changes to ${s.file ?? 'the new scene'}`,
          text:
            `Before opening ${name}: keep the changes in this browser (they are offered again when ` +
            `${s.file ?? 'a new scene'} is next opened), or discard them?`,
          choices: [
            { label: 'Keep them', value: 'keep' },
            { label: 'Discard them', value: 'discard' },
            { label: 'Cancel', value: 'cancel' },
          ],
        });
        if (choice === 'cancel') return false;
      }
      let answer;
      try {
        answer = await postJson('/api/open', { file: name });
      } catch (error) {
        refuse(error, s.committed);
        return false;
      }
      if (choice === 'keep') keepNow();
      if (choice === 'discard') dropDraft(s.file);
      await take(answer, true);
      return true;
    },
    [ask, refuse, keepNow, take],
  );

  const saved = (old, answer, scene) => {
    // Edits saved under another name are no longer unsaved edits of the file they were made from.
    if (answer.file !== old) dropDraft(old);
    dropDraft(answer.file);
    kept.current = { own: false, json: null };
    setFile(answer.file);
    setRevision(answer.revision);
    setSavedJson(JSON.stringify(scene));
  };

  // Saves the committed scene to `target` (the open file, or a new name), with the edit being checked
  // once it is taken; answers whether it was saved.
  const save = useCallback(
    async (target, force = false) => {
      const taken = await checked();
      const s = latest.current;
      const scene = taken ?? s.committed;
      try {
        const answer = await postJson('/api/save', {
          scene,
          file: target,
          // A save as another name starts that file's revisions: it is new, or it is refused.
          revision: target === s.file ? s.revision : null,
          force,
        });
        saved(s.file, answer, scene);
        return true;
      } catch (error) {
        if (!error.fileChanged || force) {
          refuse(error, scene);
          return false;
        }
      }
      const same = target === s.file;
      const choice = await ask({
        title: same ? `${target} has changed on disk` : `${target} is there already`,
        text: same
          ? `${target} was changed since it was read here (by another editor, another tab, git). ` +
            'Overwrite it with the scene here, load its version (this one stays a step of Undo), or ' +
            'save the scene here under another name?'
          : `There is a file ${target} already. Overwrite it with the scene here?`,
        choices: [
          { label: 'Overwrite it', value: 'overwrite' },
          ...(same ? [{ label: "Load the file's version", value: 'load' }] : []),
          { label: 'Save as another name', value: 'rename' },
          { label: 'Cancel', value: 'cancel' },
        ],
      });
      if (choice === 'overwrite') return save(target, true);
      if (choice === 'rename') {
        // NAME-2.json, or the first NAME-K.json the folder does not hold.
        const taken = new Set(
          await getJson('/api/files').then(
            (a) => a.files,
            () => [],
          ),
        );
        const stem = target.replace(/\.json$/i, '');
        let k = 2;
        while (taken.has(`${stem}-${k}.json`)) ++k;
        setProposal((p) => ({ name: `${stem}-${k}.json`, count: (p?.count ?? 0) + 1 }));
      }
      if (choice === 'load') {
        try {
          const answer = await getJson(`/api/scene?file=${encodeURIComponent(target)}`);
          history.push(answer.scene);
          setRevision(answer.revision);
          setSavedJson(JSON.stringify(answer.scene));
        } catch (error) {
          refuse(error, scene);
        }
      }
      return false;
    },
    [ask, refuse, checked, history.push],
  );

  return { file, revision, modified, open, save, proposal };
}
