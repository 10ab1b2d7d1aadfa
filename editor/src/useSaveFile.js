import { useCallback } from 'react';
import { getJson, postJson } from './api.js';
import { dropDraft } from './drafts.js';
import { freeName } from './fileNames.js';

// What to do when saving to `target` met a file other than the one the scene was read from: the open
// file changed on disk (`same`), or another name that is taken.
function askOnConflict(ask, target, same) {
  return ask({
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
}

// Saving the committed scene to `target` (the open file, or a new name), with the edit being checked
// once it is taken; `save` answers whether it was saved. When the file on disk is not the one the scene
// was read from, the user chooses: overwrite it, load it, or a name proposed beside it.
export default function useSaveFile(session) {
  const { latest, kept, history, ask, refuse, checked } = session;
  const { setFile, setRevision, setSavedJson, setProposal } = session;

  const saved = (old, answer, scene) => {
    // Edits saved under another name are no longer unsaved edits of the file they were made from.
    if (answer.file !== old) dropDraft(old);
    dropDraft(answer.file);
    kept.current = { own: false, json: null };
    setFile(answer.file);
    setRevision(answer.revision);
    setSavedJson(JSON.stringify(scene));
  };

  const propose = async (target) => {
    const files = await getJson('/api/files').then(
      (a) => a.files,
      () => [],
    );
    const name = freeName(target, files);
    setProposal((p) => ({ name, count: (p?.count ?? 0) + 1 }));
  };

  const load = async (target, scene) => {
    try {
      const answer = await getJson(`/api/scene?file=${encodeURIComponent(target)}`);
      history.push(answer.scene);
      setRevision(answer.revision);
      setSavedJson(JSON.stringify(answer.scene));
    } catch (error) {
      refuse(error, scene);
    }
  };

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
      const choice = await askOnConflict(ask, target, target === s.file);
      if (choice === 'overwrite') return save(target, true);
      if (choice === 'rename') await propose(target);
      if (choice === 'load') await load(target, scene);
      return false;
    },
    [ask, refuse, checked, history.push],
  );
  return save;
}
