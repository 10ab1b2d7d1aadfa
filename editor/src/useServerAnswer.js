import { useEffect, useRef, useState } from 'react';
import { postJson } from './api.js';

// The server's answer to the latest body (none is sent for null): one request at a time, and while one
// is out only the newest body waits, so a drag sends as many requests as the server can answer and the
// last one always goes.
export default function useServerAnswer(url, body) {
  const [answer, setAnswer] = useState(null);
  const key = JSON.stringify(body);
  const state = useRef({ busy: false, want: null, alive: true });

  useEffect(() => {
    const s = state.current;
    if (key === 'null') return;
    s.want = key;
    const run = () => {
      if (s.busy || s.want === null) return;
      const sent = s.want;
      s.want = null;
      s.busy = true;
      postJson(url, JSON.parse(sent))
        .then((made) => s.alive && setAnswer(made))
        .catch(() => {})
        .finally(() => {
          s.busy = false;
          if (s.alive) run();
        });
    };
    run();
  }, [url, key]);

  useEffect(() => {
    const s = state.current;
    s.alive = true;
    return () => {
      s.alive = false;
    };
  }, []);
  return answer;
}
