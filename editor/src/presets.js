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
export const recipes = () => once('recipes.json').then((file) => file?.recipes ?? []);

// The scene a recipe names, by its path from the list (as in the source tree).
export const recipeScene = (recipe) =>
  getJson(new URL(recipe.scene, new URL(PRESETS + 'recipes.json', window.location.origin)).pathname);
