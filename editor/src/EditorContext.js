import { createContext, useContext } from 'react';

// What every part of the page reads and edits: the node types, the scene shown, the edit functions and
// the loader's last refusal with the place it concerns.
export const EditorContext = createContext(null);

export const useEditor = () => useContext(EditorContext);

// What the boxes can ask of the graph view: duplicating a node (the button in its title).
export const GraphActions = createContext(null);
export const useGraphActions = () => useContext(GraphActions);
