import { useCallback, useEffect, useRef, useState } from 'react';
import { postJson } from './api.js';
import { dropDraft } from './drafts.js';
import { useFileInAddress } from './fileAddress.js';
import useDraftKeeping from './useDraftKeeping.js';
import useSaveFile from './useSaveFile.js';
import useTakeFile from './useTakeFile.js';

// Before opening `name` over unsaved edits: keep them in the browser, discard them, or cancel.
function askBeforeOpening(ask, name, file) {
  return ask({
    title: `Unsaved changes to ${file ?? 'the new scene'}`,
    text:
      `Before opening ${name}: keep the changes in this browser (they are offered again when ` +
      `${file ?? 'a new scene'} is next opened), or discard them?`,
    choices: [
      { label: 'Keep them', value: 'keep' },
      { label: 'Discard them', value: 'discard' },
      { label: 'Cancel', value: 'cancel' },
    ],
  });
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
  const { kept, keepNow } = useDraftKeeping(latest, { file, modified, committedJson, savedJson });
  useFileInAddress(file);
  const setters = { setFile, setRevision, setSavedJson };
  const take = useTakeFile({ history, ask, onOpened, kept, ...setters });

  useEffect(() => {
    take(start, false);
  }, []);

  const open = useCallback(
    async (name) => {
      const s = latest.current;
      const choice = s.modified ? await askBeforeOpening(ask, name, s.file) : null;
      if (choice === 'cancel') return false;
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

  const save = useSaveFile({ latest, kept, history, ask, refuse, checked, ...setters, setProposal });
  return { file, revision, modified, open, save, proposal };
}
