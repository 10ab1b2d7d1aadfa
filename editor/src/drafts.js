// Unsaved edits kept in the browser, one entry per file of this server (its origin: its port), so that
// a browser or server that ends loses at most the last moment's edit: {scene, revision, time}, the
// scene as last committed, the revision of the file it was edited from, and when.
const draftKey = (file) => `vantrel-unsaved ${window.location.origin} ${file ?? '(new scene)'}`;

export function readDraft(file) {
  try {
    const text = window.localStorage.getItem(draftKey(file));
    const draft = text && JSON.parse(text);
    return draft && typeof draft === 'object' && draft.scene ? draft : null;
  } catch {
    return null;
  }
}

export function keepDraft(file, draft) {
  try {
    window.localStorage.setItem(draftKey(file), JSON.stringify(draft));
  } catch {
    // Storage full or refused: the edits stay on the page, as before.
  }
}

export const dropDraft = (file) => window.localStorage.removeItem(draftKey(file));
