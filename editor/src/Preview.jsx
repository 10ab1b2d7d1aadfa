import React, { useRef, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { imageSize, imageType, isPlane } from './scene.js';
import { RenderStatus } from './PreviewParts.jsx';
import useProgressiveRender from './useProgressiveRender.js';
import { usePlaneNavigation, useRegion } from './usePlaneNavigation.js';
import { usePreviewWidth } from './PreviewWidth.jsx';
import { PointedValue, PreviewHeading, RegionBar } from './PreviewBars.jsx';
import TypeChoice from './PreviewType.jsx';
import { GlobeView, TiledView, ViewChoice } from './PreviewViews.jsx';
import { otherViews } from './modelView.js';
import ModelPane from './ModelPane.jsx';

// The output node's image (or the picked node's), rendered again on every edit, coarse first. On the
// plane, dragging pans and the wheel zooms (a region of the domain); the value under the pointer is the
// server's, in the chosen type.
export default function Preview() {
  const editor = useEditor();
  // The type pinned, else the shown node's own; for the output, what `vantrel render` makes of the
  // saved scene, whose "output_type" follows it.
  const { scene, picture, picked, pick, info, pin, pinType, previewType: type } = editor;
  const { slowEdit, setTimedOut } = editor;
  const { width, setWidth, paneWidth, edge } = usePreviewWidth();
  // 'flat', or beside it 'tiles' (the plane, 3 x 3), 'globe' (the sphere) or 'model' (any domain).
  const [view, setView] = useState('flat');
  const shownImageType = imageType(type);
  const element = useRef(null);
  const domain = scene.domain;
  const kind = domain?.kind ?? 'plane';
  const plane = isPlane(domain);
  const [region, setRegion] = useRegion(domain);
  const size = imageSize(domain, region, width, editor.render.limits.previewSide);
  const request = { scene: picture, node: picked, type: shownImageType, region, job: 'preview' };
  // A mean of integers is no integer: an int is rendered at one sample.
  const samples = shownImageType === 'int' ? 1 : (scene.samples ?? 1);
  const key = JSON.stringify({ request, size, fullSamples: samples });
  const { image, status, stop, again } = useProgressiveRender({
    request,
    size,
    samples,
    key,
    scene,
    slowEdit,
    setTimedOut,
  });
  const { hover, handlers } = usePlaneNavigation({ element, plane, size, domain, region, setRegion });
  const shownView = otherViews(kind).includes(view) ? view : 'flat';
  const shownNode = picked ?? scene.output;
  return (
    <div className="preview" style={{ width: paneWidth + 28 }}>
      <div className="preview-resize" title="Drag to make the preview wider or narrower" {...edge} />
      <PreviewHeading {...{ shownNode, picked, pick, size, samples, width, setWidth }} />
      <div className="preview-bar">
        <TypeChoice
          {...{ pin, pinType, type, info }}
          typeName={scene.nodes.find((n) => n.id === shownNode)?.type}
        />
        <ViewChoice kind={kind} shownView={shownView} setView={setView} />
      </div>
      <div
        className="preview-frame"
        style={{ width: paneWidth, aspectRatio: `${size.width} / ${size.height}` }}
      >
        {image && (
          <img
            ref={element}
            className={`preview-image${image.coarse ? ' coarse' : ''}${plane ? ' pannable' : ''}`}
            src={image.url}
            alt={`The image of ${shownNode}`}
            data-state={image.coarse ? 'coarse' : 'full'}
            data-current={image.key === key ? 'yes' : 'no'}
            data-region={region ? region.join(',') : ''}
            data-width={image.width}
            data-height={image.height}
            draggable={false}
            {...handlers}
          />
        )}
      </div>
      {shownView === 'tiles' && (
        <TiledView {...{ image, size, editor, shownNode }} width={paneWidth} type={shownImageType} />
      )}
      {shownView === 'globe' && <GlobeView {...{ editor, request, samples }} width={paneWidth} />}
      {shownView === 'model' && <ModelPane {...{ editor, request, samples }} width={paneWidth} />}
      <RenderStatus status={status} onStop={stop} onAgain={again} />
      <RegionBar plane={plane} region={region} setRegion={setRegion} />
      <PointedValue hover={hover} request={{ scene: picture, node: picked, type, ...size, region }} />
    </div>
  );
}
