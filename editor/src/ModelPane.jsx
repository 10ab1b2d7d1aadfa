import React, { Suspense, lazy, useEffect, useState } from 'react';
import { getJson, modelFile } from './api.js';
import { RenderStatus } from './PreviewParts.jsx';
import useProgressiveRender, { untimed } from './useProgressiveRender.js';
import { choiceOf, domainModel, modelChoices, modelOfChoice, reliefNodes, textureSide } from './modelView.js';

// three.js is large: the view's code is loaded the first time a model is shown.
const ModelView = lazy(() => import('./ModelView.jsx'));

// The model's binary glTF file, fetched again when the choice changes; an error once it fails.
function useModelFile(model) {
  const key = JSON.stringify(model);
  const [glb, setGlb] = useState({ bytes: null, error: null, key: null });
  useEffect(() => {
    const stop = new AbortController();
    modelFile(model, { signal: stop.signal }).then(
      (bytes) => setGlb({ bytes, error: null, key }),
      (error) => !error.cancelled && setGlb({ bytes: null, error, key }),
    );
    return () => stop.abort();
  }, [key]);
  return glb;
}

// The model to choose, the node to raise as relief, and how high.
function ModelChoices({ choices, choice, setChoice, nodes, relief, setRelief, height, setHeight }) {
  return (
    <div className="model-bar">
      <label>
        model{' '}
        <select className="model-choice" value={choice} onChange={(e) => setChoice(e.target.value)}>
          {choices.map((c) => (
            <option key={c} value={c}>
              {c.replace(/^shape:/, '').replace(/^file:/, '')}
            </option>
          ))}
        </select>
      </label>{' '}
      <label title="A node's real value raised as relief on the model, lit from the normals it makes">
        relief{' '}
        <select className="relief-choice" value={relief} onChange={(e) => setRelief(e.target.value)}>
          <option value="">none</option>
          {nodes.map((id) => (
            <option key={id} value={id}>
              {id}
            </option>
          ))}
        </select>
      </label>{' '}
      {relief && (
        <input
          type="range"
          className="relief-height"
          min={0}
          max={10}
          step={0.5}
          value={height}
          title="How high the relief stands"
          onChange={(e) => setHeight(Number(e.target.value))}
        />
      )}
    </div>
  );
}

// The picture as the texture of a lit model, to turn with the mouse: the domain's own model or one the
// user chooses, the texture rendered over it at the size the view needs, coarse first.
export default function ModelPane({ editor, request, samples, width }) {
  const { scene, info, picture } = editor;
  const own = domainModel(scene.domain);
  const [choice, setChoice] = useState(choiceOf(own));
  useEffect(() => setChoice(choiceOf(own)), [JSON.stringify(own)]);
  const [files, setFiles] = useState([]);
  useEffect(() => {
    getJson('/api/files').then(
      (listing) => setFiles(listing.models ?? []),
      () => setFiles([]),
    );
  }, []);
  const [relief, setRelief] = useState('');
  const [height, setHeight] = useState(2);
  const model = choice === choiceOf(own) ? own : modelOfChoice(choice);
  const glb = useModelFile(model);
  const viewSize = Math.min(width, 512);
  const side = textureSide(viewSize, window.devicePixelRatio || 1, editor.render.limits.previewSide);
  const size = { width: side, height: side };
  const textureRequest = { ...request, region: null, model, job: 'view' };
  const textureKey = JSON.stringify({ textureRequest, size, samples });
  const texture = useProgressiveRender({
    request: textureRequest,
    size,
    samples,
    key: textureKey,
    scene,
    ...untimed,
  });
  const nodes = reliefNodes(scene, info);
  const reliefNode = nodes.includes(relief) ? relief : '';
  const reliefRequest = reliefNode && {
    scene: picture,
    node: reliefNode,
    type: 'double',
    model,
    job: 'relief',
  };
  const bump = useProgressiveRender({
    request: reliefRequest || null,
    size,
    samples,
    key: JSON.stringify({ reliefRequest, size, samples }),
    scene,
    ...untimed,
  });
  return (
    <div
      className="model-pane"
      data-state={texture.image ? (texture.image.coarse ? 'coarse' : 'full') : 'none'}
      data-current={texture.image?.key === textureKey ? 'yes' : 'no'}
      data-model={JSON.stringify(model)}
      data-texture={texture.image?.url ?? ''}
      data-relief={(reliefNode && !bump.image?.coarse && bump.image?.url) || ''}
    >
      <ModelChoices
        choices={modelChoices(files, own)}
        {...{ choice, setChoice, nodes, setRelief, height, setHeight }}
        relief={reliefNode}
      />
      {glb.error && (
        <div className="render-status" role="alert">
          {glb.error.message}
        </div>
      )}
      <Suspense fallback={<div className="globe-loading">loading the 3-D view…</div>}>
        <ModelView
          glb={glb.bytes}
          glbKey={glb.key}
          url={texture.image?.url}
          reliefUrl={reliefNode ? bump.image?.url : null}
          relief={height}
          size={viewSize}
        />
      </Suspense>
      <RenderStatus status={texture.status} onStop={texture.stop} onAgain={texture.again} />
      <RenderStatus status={bump.status} onStop={bump.stop} onAgain={bump.again} />
    </div>
  );
}
