import React, { useEffect, useState } from 'react';
import { fitToPeriods } from './nodeInfo.js';

// The parts around the preview's picture: the room it leaves the graph, the offer of whole lattice
// periods in the tiled view, and what a render in progress, failed or stopped says.

// The graph's least width beside the preview, in pixels and as a part of the window: a box or two
// and the wires between them.
export const graphRoom = (windowWidth) => Math.max(420, windowWidth * 0.5);

export function useWindowWidth() {
  const [width, setWidth] = useState(window.innerWidth);
  useEffect(() => {
    const resized = () => setWidth(window.innerWidth);
    window.addEventListener('resize', resized);
    return () => window.removeEventListener('resize', resized);
  }, []);
  return width;
}

// In the tiled view of the plane: the domain widened to whole periods of the lattice it shows, so the
// tiles meet without a seam, when the picture repeats; why not, when it does not.
export function PeriodFit({ period, domain, commit }) {
  if (!period) return null;
  if (!period.size)
    return (
      <div className="period-fit" data-state="none">
        the tiles cannot repeat without a seam: {period.why}
      </div>
    );
  const fitted = fitToPeriods(domain ?? { kind: 'plane' }, period.size);
  const same = JSON.stringify(fitted.max) === JSON.stringify(domain?.max);
  const [px, py] = period.size.map((v) => Number(v.toPrecision(4)));
  return (
    <div className="period-fit" data-state={same ? 'fitted' : 'offer'}>
      {same ? (
        `the domain is whole periods (${px} × ${py}): the tiles repeat without a seam`
      ) : (
        <button
          className="fit-periods"
          title={`The domain from its lower-left corner to ${fitted.max.map((v) => Number(v.toPrecision(6))).join(', ')}`}
          onClick={() => commit(fitted)}
        >
          fit the domain to whole periods ({px} × {py}) so the tiles repeat without a seam
        </button>
      )}
    </div>
  );
}

// While a preview renders: for how long, and Stop; once it failed or was stopped, why, and Render again.
export function RenderStatus({ status, onStop, onAgain }) {
  const [now, setNow] = useState(Date.now());
  const rendering = status?.state === 'rendering';
  useEffect(() => {
    if (!rendering) return undefined;
    const timer = setInterval(() => setNow(Date.now()), 250);
    return () => clearInterval(timer);
  }, [rendering, status]);
  if (!status) return null;
  if (rendering) {
    const seconds = Math.max(0, now - status.since) / 1000;
    // A render that ends within half a second is not worth a word.
    if (seconds < 0.5) return null;
    return (
      <div className="render-status" data-state="rendering" role="status">
        rendering the {status.coarse ? 'coarse' : 'full'} picture… <b>{Math.floor(seconds)} s</b>
        <button className="link-button stop-render" onClick={onStop}>
          Stop
        </button>
      </div>
    );
  }
  const error = status.error;
  const slow = error?.kind === 'timed-out';
  return (
    <div className="render-status" data-state={status.state} role="alert">
      {status.state === 'stopped' ? 'stopped: the picture is of an earlier state' : error.message}
      {slow && status.edit && (
        <>
          {' '}
          after the edit <span className="edit-name">{status.edit}</span>
        </>
      )}
      <button className="link-button" onClick={onAgain}>
        Render again
      </button>
    </div>
  );
}
