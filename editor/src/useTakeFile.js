import { useCallback } from 'react';
import { dropDraft, readDraft } from './drafts.js';

const clock = (time) =>
  new Date(time).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', hour12: false });

// Whether to restore `draft`, the edits the browser holds of the file read as `answer`.
function askRestore(ask, answer, draft) {
  const changed = draft.revision !== (answer.revision ?? null);
  return ask({
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
}

// Takes a file read (at the start or opened): its scene with a history of its own when `fresh`, then,
// when the browser holds edits of it that it does not have, the question whether to restore them.
export default function useTakeFile({ history, ask, onOpened, kept, setFile, setRevision, setSavedJson }) {
  return useCallback(
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
      if ((await askRestore(ask, answer, draft)) !== 'restore') return dropDraft(answer.file);
      // Saved against the revision they were made from: a file changed since is not overwritten unasked.
      history.push(draft.scene);
      setRevision(draft.revision ?? null);
      kept.current = { own: true, json: draftJson };
    },
    [history.reset, history.push, ask, onOpened],
  );
}
