// The loader's refusals as the user sees the scene: points and stops counted from 1 as the page
// shows them, a curve's channel or a parameter named, and the neighbour a point must stay above named
// by its number. The server's own message and its JSON Pointer stay beside it (ErrorNote's tooltip).

const AXES = ['x', 'y'];
const CHANNELS = ['red', 'green', 'blue'];

// The message without the file and pointer it begins with ("scene: /nodes/0/params/In/1: expected
// ..."), when it does.
function afterPointer(message, pointer) {
  const at = pointer ? message.indexOf(`${pointer}: `) : -1;
  return at < 0 ? message : message.slice(at + pointer.length + 2);
}

const above = (expected, what) =>
  new RegExp(`^an? ${what} above the previous (point|stop)'s, (.+)$`).exec(expected ?? '');

// The text to show for an error of the server at the place its pointer names (placeOf).
export function spoken(error, place) {
  const { message, pointer, expected } = error;
  const rest = afterPointer(message, pointer);
  const part = place?.part;
  if (place?.kind === 'curves' && part?.point != null) {
    const owner = part.channel ?? place.name;
    const n = part.point + 1;
    const order = above(expected, 'x');
    if (order && part.axis === 0)
      return `point ${n} of ${owner}: its x must be above point ${n - 1}'s, ${order[2]}`;
    const axis = AXES[part.axis];
    return `point ${n} of ${owner}${axis ? `, its ${axis}` : ''}: ${rest}`;
  }
  if (place?.kind === 'gradients' && part?.stop != null) {
    const n = part.stop + 1;
    const order = above(expected, 'position');
    if (order && part.which === 0)
      return `stop ${n} of ${place.name}: its position must be above stop ${n - 1}'s, ${order[2]}`;
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
  return message;
}
