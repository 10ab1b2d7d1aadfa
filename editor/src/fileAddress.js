import { useEffect } from 'react';

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

// Keeps the address's fragment naming `file` (none for a new scene).
export function useFileInAddress(file) {
  useEffect(() => {
    const address = file ? `#file=${encodeURIComponent(file)}` : window.location.pathname;
    window.history.replaceState(null, '', address);
  }, [file]);
}
