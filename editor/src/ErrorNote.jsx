import React from 'react';
import { useEditor } from './EditorContext.js';

// The loader's message, shown where the refused edit was made, as the page counts and names things; the
// server's own words and the JSON Pointer of the value at fault in its tooltip.
export default function ErrorNote() {
  const { error } = useEditor();
  if (!error) return null;
  const own = error.pointer ? `${error.pointer}\n${error.message}` : error.message;
  return (
    <div className="error-note" role="alert" title={own} data-pointer={error.pointer ?? ''}>
      {error.text ?? error.message}
    </div>
  );
}
