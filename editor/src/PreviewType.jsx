import React from 'react';
import { useEditor } from './EditorContext.js';
import { pictureType } from './nodeInfo.js';

// How each is seen: colours as colour, a double or an int as grey, a vector's components as red,
// green, blue (and alpha).
const SEEN = {
  string: 'text only; the picture in colour',
  colora: 'colour and alpha',
  color: 'colour',
  quaternion: 'x y z w as red green blue alpha',
  vec4: 'x y z w as red green blue alpha',
  vec3: 'x y z as red green blue',
  vec2: 'x y as red green',
  double: 'grey',
  int: 'grey',
};

// The type the preview is seen as: the shown node's own (`typeName`'s picture type) unless one is
// pinned; `type` is the one in force.
export default function TypeChoice({ pin, pinType, type, info, typeName }) {
  // The host's value types, by the names `vantrel --type` takes, as the server gives them.
  const { render } = useEditor();
  return (
    <label>
      seen as{' '}
      <select
        className="output-type"
        value={pin ?? ''}
        data-type={type}
        title={
          "The preview's type: the node's own unless one is pinned here. The output's is saved as the " +
          "scene's output type, which vantrel render and eval take when given none"
        }
        onChange={(event) => pinType(event.target.value || null)}
      >
        <option value="">{`${pictureType(info, typeName)}, its own`}</option>
        {render.outputTypes.map(({ name: t }) => (
          <option key={t} value={t}>
            {t} (pinned)
          </option>
        ))}
      </select>{' '}
      <span className="seen-as">{SEEN[type]}</span>
    </label>
  );
}
