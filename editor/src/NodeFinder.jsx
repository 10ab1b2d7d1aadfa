import React, { useEffect, useState } from 'react';
import { useEditor } from './EditorContext.js';
import { entryOf, findTypes } from './nodeInfo.js';
import { addNodeAfter, addRecipeAfter } from './graphEdits.js';
import { recipePicture, recipeScene, recipes } from './presets.js';

// A node type found by typing part of its name (or a word for what it makes: "palette", "tiles") and
// added beside the selected node, wired from it: Enter adds the first match, the arrows choose another,
// a click adds the one clicked.
export function NodeFinder() {
  const { scene, types, info, commit, anchor } = useEditor();
  const [text, setText] = useState('');
  const [open, setOpen] = useState(false);
  const [active, setActive] = useState(0);
  const matches = findTypes(types, info, text);
  const chosen = Math.min(active, matches.length - 1);
  const add = (type) => {
    if (!type) return;
    commit(addNodeAfter(scene, types, info, type, anchor).scene);
    setText('');
    setOpen(false);
  };
  return (
    <div className="group finder">
      <input
        className="find-node"
        placeholder="add a node: type its name…"
        title={`Add a node beside ${anchor} and wire it from it where the types fit`}
        value={text}
        onFocus={() => setOpen(true)}
        onBlur={() => setOpen(false)}
        onChange={(event) => {
          setText(event.target.value);
          setActive(0);
          setOpen(true);
        }}
        onKeyDown={(event) => {
          if (event.key === 'Enter') add(matches[chosen]);
          else if (event.key === 'ArrowDown') setActive((a) => Math.min(matches.length - 1, a + 1));
          else if (event.key === 'ArrowUp') setActive((a) => Math.max(0, a - 1));
          else if (event.key === 'Escape') event.currentTarget.blur();
          else return;
          event.preventDefault();
        }}
      />
      {open && matches.length > 0 && (
        <ul className="finder-list" role="listbox">
          {matches.map((type, i) => (
            <li
              key={type.classId ?? type.name}
              role="option"
              aria-selected={i === chosen}
              className={i === chosen ? 'active' : ''}
              data-type={type.name}
              // Before the field loses the focus, which closes the list.
              onMouseDown={(event) => {
                event.preventDefault();
                add(type);
              }}
            >
              <b>{type.name}</b>
              <span>{entryOf(info, type.name)?.line ?? type.category ?? ''}</span>
            </li>
          ))}
        </ul>
      )}
    </div>
  );
}

// The node guide's recipes, each with its picture and a line, added beside the selected node; the
// recipe's output becomes the scene's.
export function RecipeMenu() {
  const { scene, commit, pick, refuse } = useEditor();
  const [list, setList] = useState([]);
  const [open, setOpen] = useState(false);
  useEffect(() => {
    recipes().then(setList);
  }, []);
  useEffect(() => {
    if (!open) return undefined;
    const close = (event) => !event.target.closest?.('.recipes') && setOpen(false);
    const escape = (event) => event.key === 'Escape' && setOpen(false);
    window.addEventListener('pointerdown', close);
    window.addEventListener('keydown', escape);
    return () => {
      window.removeEventListener('pointerdown', close);
      window.removeEventListener('keydown', escape);
    };
  }, [open]);
  if (list.length === 0) return null;
  const add = async (recipe) => {
    setOpen(false);
    try {
      const added = addRecipeAfter(scene, await recipeScene(recipe));
      if (await commit(added.scene)) pick(null);
    } catch (error) {
      refuse(error, scene);
    }
  };
  return (
    <div className="group recipes">
      <button className="open-recipes" aria-expanded={open} onClick={() => setOpen(!open)}>
        Recipes ▾
      </button>
      {open && (
        <ul className="recipe-menu" role="menu">
          {list.map((recipe) => (
            <li key={recipe.name} role="menuitem" data-recipe={recipe.name} onClick={() => add(recipe)}>
              <img src={recipePicture(recipe)} alt="" width={96} height={48} />
              <div>
                <b>{recipe.name}</b>
                <span>{recipe.line}</span>
              </div>
            </li>
          ))}
        </ul>
      )}
    </div>
  );
}
