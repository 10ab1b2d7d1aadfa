import React, { Suspense, lazy } from 'react';
import { PeriodFit, RenderStatus } from './PreviewParts.jsx';
import { planePeriod } from './nodeInfo.js';
import { globeSize, otherViews } from './modelView.js';
import useProgressiveRender, { untimed } from './useProgressiveRender.js';

// three.js is large: the globe's code is loaded the first time a globe is shown.
const Globe = lazy(() => import('./Globe.jsx'));

const VIEW_NAMES = { tiles: '3 × 3 tiles', globe: 'globe', model: '3-D model' };

// A box for each view the domain has beside the flat picture (otherViews), one shown at a time.
export function ViewChoice({ kind, shownView, setView }) {
  return (
    <span className="views">
      {otherViews(kind).map((view) => (
        <label key={view}>
          <input
            type="checkbox"
            className={`${view}-view`}
            checked={shownView === view}
            onChange={(event) => setView(event.target.checked ? view : 'flat')}
          />{' '}
          {VIEW_NAMES[view]}{' '}
        </label>
      ))}
    </span>
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

// The globe, its map rendered at the size a globe `width` wide needs (globeSize), coarse first.
export function GlobeView({ editor, request, samples, width }) {
  const viewSize = Math.min(width, 512);
  const size = globeSize(viewSize, window.devicePixelRatio || 1, editor.render.limits.previewSide);
  const globeRequest = { ...request, region: null, job: 'globe' };
  const { image, status, stop, again } = useProgressiveRender({
    request: globeRequest,
    size,
    samples,
    key: JSON.stringify({ globeRequest, size, samples }),
    scene: editor.scene,
    ...untimed,
  });
  return (
    <>
      <Suspense fallback={<div className="globe-loading">loading the globe…</div>}>
        <Globe url={image?.url} size={viewSize} />
      </Suspense>
      <RenderStatus status={status} onStop={stop} onAgain={again} />
    </>
  );
}
