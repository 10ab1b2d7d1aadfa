// The 3-D view's decisions: which views a domain has beside the flat picture, which models the view
// offers and how a choice of one is named, which nodes can be shown as relief, and the size of the
// texture a view of a given size needs.
import { pictureType } from './nodeInfo.js';

export const SHAPES = ['plane', 'cube', 'sphere', 'torus'];

// The views beside the flat picture: tiles of the plane, the globe of the sphere, and the model, which
// every domain has (a mesh domain's texture is the model's).
export function otherViews(kind) {
  if (kind === 'mesh') return ['model'];
  return [kind === 'sphere' ? 'globe' : 'tiles', 'model'];
}

// The model a choice (`shape:cube`, `file:helmet.obj`) names, as the server takes it.
export function modelOfChoice(choice) {
  const at = choice.indexOf(':');
  const [kind, name] = [choice.slice(0, at), choice.slice(at + 1)];
  return kind === 'file' ? { file: name } : { shape: name };
}

// The choice that names `model`, with its UV set when it is not the first.
export const choiceOf = (model) => (model.file ? `file:${model.file}` : `shape:${model.shape}`);

// The model the view shows first: a mesh domain's own, else the cube.
export function domainModel(domain) {
  if (domain?.kind !== 'mesh') return { shape: 'cube' };
  if (domain.file) return domain.uv ? { file: domain.file, uv: domain.uv } : { file: domain.file };
  return { shape: domain.shape ?? 'cube' };
}

// The models to choose from: the built-in shapes, then the folder's model files, each once (the
// domain's own among them even when the folder no longer lists it).
export function modelChoices(files, current) {
  const listed = [...SHAPES.map((s) => `shape:${s}`), ...files.map((f) => `file:${f}`)];
  const own = choiceOf(current);
  return listed.includes(own) ? listed : [...listed, own];
}

// The nodes whose own picture is a real number: those a relief can be made of.
export const reliefNodes = (scene, info) =>
  scene.nodes.filter((n) => pictureType(info, n.type) === 'double').map((n) => n.id);

const powerOfTwoAtLeast = (n) => 2 ** Math.ceil(Math.log2(Math.max(1, n)));

// The side of a model's square texture for a view `pixels` CSS pixels wide at `ratio` device pixels
// to one: a texture's islands fill about half of it, and the model about half the view, so twice the
// view's device pixels gives a texel a screen pixel or finer. A power of two (mip-mapped), at least
// 64, at most `largest`.
export const textureSide = (pixels, ratio, largest) =>
  Math.min(largest, Math.max(64, powerOfTwoAtLeast(2 * pixels * ratio)));

// The globe's equirectangular map for a view `pixels` wide: the equator in the middle of a globe
// d pixels across is seen at a pixel a radian / (d / 2), so the full circle of 2 pi radians needs
// pi d pixels. Twice as wide as high; the width a power of two, at most `largest`.
export function globeSize(pixels, ratio, largest) {
  const width = Math.min(largest, Math.max(64, powerOfTwoAtLeast(Math.PI * pixels * ratio)));
  return { width, height: width / 2 };
}
