import React from 'react';
import { useEditor } from './EditorContext.js';

// The loader's message, shown where the refused edit was made.
export default function ErrorNote() {
  const { error } = useEditor();
  if (!error) return null;
  return (
    <div className="error-note" role="alert">
      {error.message}
    </div>
  );
}
