import { getJson } from './api.js';

// The presets and recipes are data files beside the examples (examples/presets), which the server
// serves with the page; each is read once.
const PRESETS = '/examples/presets/';
const read = new Map();
const once = (name) => {
  if (!read.has(name))
    read.set(
      name,
      getJson(PRESETS + name).catch(() => null),
    );
  return read.get(name);
};

export const curvePresets = () => once('curves.json').then((file) => file?.curves ?? []);
export const palettePresets = () => once('palettes.json').then((file) => file?.palettes ?? []);
// What the page says about each node type (node-types.json); nothing when it cannot be read, and the
// page then shows stored names and sees every node in colour.
export const nodeInfo = () => once('node-types.json').then((file) => file ?? {});
export const recipes = () => once('recipes.json').then((file) => file?.recipes ?? []);

// A path of the recipe list, as the page's address: as in the source tree, from the list's folder.
const fromList = (path) => new URL(path, new URL(PRESETS + 'recipes.json', window.location.origin)).pathname;

// The scene a recipe names, and its picture (the guide's, beside the scene).
export const recipeScene = (recipe) => getJson(fromList(recipe.scene));
export const recipePicture = (recipe) => fromList(recipe.picture ?? recipe.scene.replace(/\.json$/, '.png'));
