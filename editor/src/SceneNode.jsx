import React from 'react';
import { Handle, Position } from '@xyflow/react';
import { useEditor, useGraphActions } from './EditorContext.js';
import ParamEditor from './ParamEditor.jsx';
import CurveEditor from './CurveEditor.jsx';
import GradientEditor from './GradientEditor.jsx';
import ErrorNote from './ErrorNote.jsx';
import useRenderedImage from './useRenderedImage.js';
import { deleteNode, imageSize, imageType, typeOf } from './scene.js';
import { entryOf, pictureType } from './nodeInfo.js';

const THUMB_WIDTH = 96;

// The node's own output, small, in the type its picture is best seen in, re-rendered a moment after
// the graph last changed.
function Thumbnail({ id, typeName }) {
  const { picture, picked, pick, info, render } = useEditor();
  const type = imageType(pictureType(info, typeName));
  const largest = render.limits.previewSide;
  const size = imageSize(picture.domain, null, THUMB_WIDTH, largest);
  if (size.height > THUMB_WIDTH)
    Object.assign(size, imageSize(picture.domain, null, THUMB_WIDTH / 2, largest));
  const url = useRenderedImage(
    { scene: picture, node: id, type, ...size, region: null, job: `thumb:${id}` },
    250,
  );
  return (
    <img
      className={`thumb nodrag${picked === id ? ' picked' : ''}`}
      src={url ?? undefined}
      width={size.width}
      height={size.height}
      alt=""
      data-type={type}
      title={`Seen as ${type}. ${picked === id ? 'Shown in the preview (click to show the output again)' : 'Click to show it in the preview'}`}
      onClick={() => pick(picked === id ? null : id)}
    />
  );
}

export function PositionNode() {
  return (
    <div className="node position-node">
      <div className="node-header">@position</div>
      <div className="node-note">the sample position</div>
      <Handle
        type="source"
        position={Position.Right}
        id="out"
        title="Drag from here to a parameter's dot to wire this output into it"
      />
    </div>
  );
}

export default function SceneNode({ id }) {
  const { scene, types, commit, error, generation, info } = useEditor();
  const actions = useGraphActions();
  const node = scene.nodes.find((n) => n.id === id);
  if (!node) return null;
  const type = typeOf(types, node);
  const isOutput = scene.output === id;
  const place = error?.place;
  const whole = place?.node === id && !place.kind;
  return (
    <div className={`node${isOutput ? ' output' : ''}${whole ? ' refused' : ''}`} data-node={id}>
      <div className="node-header">
        <span className="node-id">{id}</span>
        <span className="node-type" title={entryOf(info, node.type)?.line ?? node.type}>
          {type?.name ?? node.type}
        </span>
        <button
          className={`make-output nodrag${isOutput ? ' active' : ''}`}
          title="Make this the scene's output"
          onClick={() => !isOutput && commit({ ...scene, output: id })}
        >
          output
        </button>
        <button
          className="duplicate nodrag"
          title="Duplicate the node (Ctrl+D)"
          onClick={() => actions.duplicate([id])}
        >
          dup
        </button>
        <button
          className="delete nodrag"
          title="Delete the node (or select it and press Delete)"
          onClick={() => commit(deleteNode(scene, id))}
        >
          ×
        </button>
        <Handle
          type="source"
          position={Position.Right}
          id="out"
          title="Drag from here to a parameter's dot to wire this output into it"
        />
      </div>
      <Thumbnail id={id} typeName={node.type} />
      {whole && <ErrorNote />}
      {type?.params.map((desc, i) => (
        <ParamEditor key={desc.name} node={node} desc={desc} index={i} />
      ))}
      {type?.curves.map((desc) => (
        // A scene opened anew starts with no point chosen.
        <CurveEditor key={`${generation}:${desc.name}`} node={node} desc={desc} siblings={type.curves} />
      ))}
      {type?.gradients.map((desc) => (
        <GradientEditor key={`${generation}:${desc.name}`} node={node} desc={desc} />
      ))}
    </div>
  );
}
