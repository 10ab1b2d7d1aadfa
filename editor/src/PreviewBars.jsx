import React from 'react';
import { client } from './api.js';
import useServerAnswer from './useServerAnswer.js';
import { WidthChoice } from './PreviewWidth.jsx';

// The lines of text about the preview's picture: which node and size it is, which region of the plane
// it shows, and the value under the pointer.

// The node shown (with the way back to the output when one is picked), the size and the samples.
export function PreviewHeading({ shownNode, picked, pick, size, samples, width, setWidth }) {
  return (
    <div className="preview-bar">
      <span>
        preview of <b>{shownNode}</b>
        {picked && (
          <button className="link-button" onClick={() => pick(null)}>
            show the output
          </button>
        )}
      </span>
      <span>
        {size.width} × {size.height}
        {samples > 1 && `, ${samples} × ${samples} samples`}
        <WidthChoice width={width} setWidth={setWidth} />
      </span>
    </div>
  );
}

export function RegionBar({ plane, region, setRegion }) {
  return (
    <div className="preview-bar">
      {plane ? (
        <span className="region">
          {region ? `region ${region.map((v) => v.toPrecision(4)).join(', ')}` : 'the whole domain'}
          {region && (
            <button className="link-button" onClick={() => setRegion(null)}>
              reset
            </button>
          )}
        </span>
      ) : (
        <span>the sphere, longitude -180° .. 180°</span>
      )}
    </div>
  );
}

// What the readout says of the server's `value` at the pixel `hover`: a pixel of a model's texture that
// no point of the model reaches has no position, and no value.
function readout(hover, value) {
  if (!hover || !value) return <span className="hint">point at the image for the value there</span>;
  if (!value.position)
    return <span className="hint">no point of the model here: the texture is transparent</span>;
  return (
    <>
      <span>({value.position.join(', ')})</span>
      <span className="value-text">{value.text}</span>
    </>
  );
}

// The value of the pixel `hover` of the picture `request` asks for (its scene, node, type, size and
// region), in that type, as the server computes it.
export function PointedValue({ hover, request }) {
  const value = useServerAnswer('/api/value', hover && { ...request, x: hover[0], y: hover[1], client });
  return (
    <div className="value-readout" data-testid="value">
      {readout(hover, value)}
    </div>
  );
}
