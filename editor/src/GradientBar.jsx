import React, { useEffect, useRef } from 'react';
import { byte, cssColour } from './colour.js';

// The gradient's bar: the node's own colours as the server sampled them (`answer`), and its stops
// beneath, of which `chosen` is selected and `fault` names the one refused; `handlers` the pointer and
// keys of the stops.
export const W = 260;
export const BAR = { left: 6, top: 2, width: 248, height: 22 };

export default function GradientBar({ answer, frame, stops, chosen, fault, handlers }) {
  const canvas = useRef(null);
  useEffect(() => {
    const context = canvas.current?.getContext('2d');
    if (!context || !answer) return;
    const image = context.createImageData(answer.colours.length, 1);
    answer.colours.forEach((rgb, i) => {
      // Shown as a PNG of the colours shows them: through the sRGB transfer.
      rgb.forEach((v, c) => (image.data[i * 4 + c] = byte(v)));
      image.data[i * 4 + 3] = 255;
    });
    canvas.current.width = answer.colours.length;
    context.putImageData(image, 0, 0);
  }, [answer]);

  return (
    <div className="bar-box">
      <canvas
        ref={canvas}
        className="bar"
        height={1}
        style={{ left: BAR.left, width: BAR.width, height: BAR.height }}
      />
      <svg
        className="stops nodrag nopan nowheel nokey"
        width={W}
        height={BAR.top + BAR.height + 14}
        {...handlers}
      >
        <rect className="bar-area" x={BAR.left} y={BAR.top} width={BAR.width} height={BAR.height} />
        {stops?.map(([x, rgb], i) => {
          const sx = frame.sx(x);
          const y = BAR.top + BAR.height;
          return (
            <path
              key={i}
              data-index={i}
              className={`stop${i === chosen ? ' selected' : ''}${fault?.stop === i ? ' refused' : ''}`}
              d={`M${sx},${y} l6,11 h-12 z`}
              fill={cssColour(rgb)}
            />
          );
        })}
      </svg>
    </div>
  );
}
