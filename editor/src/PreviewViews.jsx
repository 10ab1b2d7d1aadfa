import React, { Suspense, lazy } from 'react';
import { PeriodFit } from './PreviewParts.jsx';
import { planePeriod } from './nodeInfo.js';

// three.js is large: the globe's code is loaded the first time a globe is shown.
const Globe = lazy(() => import('./Globe.jsx'));

// The view beside the flat picture that the domain has: tiles of the plane, the globe of the sphere.
export const otherView = (plane) => (plane ? 'tiles' : 'globe');

// The box that shows the other view beside the flat picture, or not.
export function ViewChoice({ plane, shownView, setView }) {
  const other = otherView(plane);
  return (
    <label className="views">
      <input
        type="checkbox"
        className={`${other}-view`}
        checked={shownView === other}
        onChange={(event) => setView(event.target.checked ? other : 'flat')}
      />{' '}
      {plane ? '3 × 3 tiles' : 'globe'}
    </label>
  );
}

// The picture 3 × 3 times, `width` wide, with the offer of a domain of whole periods above it.
export function TiledView({ image, width, size, editor, shownNode, type }) {
  const { scene, types, info, commit } = editor;
  return (
    <>
      <PeriodFit
        period={planePeriod(scene, types, info, shownNode, type)}
        domain={scene.domain}
        commit={(domain) => commit({ ...scene, domain })}
      />
      {image && (
        <div
          className="preview-tiles"
          data-testid="tiles"
          style={{
            width,
            aspectRatio: `${size.width} / ${size.height}`,
            backgroundImage: `url(${image.url})`,
          }}
          title="The picture 3 × 3 times, so that seams and repeats show"
        />
      )}
    </>
  );
}

export function GlobeView({ image, width }) {
  return (
    <Suspense fallback={<div className="globe-loading">loading the globe…</div>}>
      <Globe url={image.url} size={Math.min(width, 512)} />
    </Suspense>
  );
}
