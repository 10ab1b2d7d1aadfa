// The loader's refusals as the user sees the scene: points and stops counted from 1 as the page
// shows them, a curve's channel or a parameter named, and the neighbour a point must stay above named
// by its number. Every sentence is made of the error's fields (its code, pointer, expected, found and
// note), never of its message's words, which may change; the message and the pointer stay beside it
// (ErrorNote's tooltip).
import { pointerTokens } from './scene.js';

const AXES = ['x', 'y'];
const CHANNELS = ['red', 'green', 'blue'];

// What was expected and what was found instead; the whole message where the error says no
// expectation.
function said({ message, expected, found, note }) {
  if (!expected) return message;
  return `expected ${expected}${found ? `, not ${found}` : ''}${note ? `; ${note}` : ''}`;
}

// The value before the one at `pointer` in its list, in the scene the page sent: the x of the point,
// or the position of the stop, that a "not-increasing" value must be above. The page reads it from its
// own scene, so that the error needs no field of its own for it and shows it as the page does.
function previous(scene, pointer) {
  const tokens = pointerTokens(pointer);
  const at = tokens.length - 2;
  tokens[at] = String(Number(tokens[at]) - 1);
  return tokens.reduce((value, token) => value?.[token], scene);
}

// The text to show for an error of the server at the place its pointer names (placeOf) in `scene`,
// the scene the page sent.
export function spoken(error, place, scene) {
  const rest = said(error);
  const part = place?.part;
  const prior = error.code === 'not-increasing' ? previous(scene, error.pointer) : undefined;
  if (place?.kind === 'curves' && part?.point != null) {
    const owner = part.channel ?? place.name;
    const n = part.point + 1;
    if (prior !== undefined) return `point ${n} of ${owner}: its x must be above point ${n - 1}'s, ${prior}`;
    const axis = AXES[part.axis];
    return `point ${n} of ${owner}${axis ? `, its ${axis}` : ''}: ${rest}`;
  }
  if (place?.kind === 'gradients' && part?.stop != null) {
    const n = part.stop + 1;
    if (prior !== undefined)
      return `stop ${n} of ${place.name}: its position must be above stop ${n - 1}'s, ${prior}`;
    let what = '';
    if (part.which === 0) what = ', its position';
    if (part.which === 1)
      what = part.component == null ? ', its colour' : `, its colour's ${CHANNELS[part.component]}`;
    return `stop ${n} of ${place.name}${what}: ${rest}`;
  }
  if (place?.kind === 'params') {
    const component = part ? `, component ${part.component + 1}` : '';
    return `${place.name}${component}: ${rest}`;
  }
  return error.message;
}
