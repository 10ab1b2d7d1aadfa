import { createContext, useContext } from 'react';

// What every part of the page reads and edits: the node types, the scene shown, the edit functions and
// the loader's last refusal with the place it concerns.
export const EditorContext = createContext(null);

export const useEditor = () => useContext(EditorContext);
