import { useCallback, useMemo } from 'react';
import { POSITION, forPicture, imageType } from './scene.js';
import { askedTypes, namedType, pictureType, pinOf } from './nodeInfo.js';

// What the preview shows and what a node added goes beside: the node picked while it still exists,
// else the output; the type pinned (the scene has the last word where it and `chosenPin` disagree,
// nodeInfo's pinOf), else the shown node's own; the types each wire is asked for. `pinType` pins the
// preview to a type, or lets it follow (null): the output's type follows in the scene.
export default function useShownNode(editor) {
  const { scene, types, info, picked, selected, chosenPin, setChosenPin, pinRef, latest, commit } = editor;
  const shown = picked && scene.nodes.some((n) => n.id === picked) ? picked : null;
  const picture = useMemo(() => forPicture(scene), [scene]);
  const pin = pinOf(scene, info, chosenPin);
  pinRef.current = pin;
  const shownNode = shown ?? scene.output;
  // What a node added goes beside and is wired from: the selected box, else the node shown.
  const anchor = selected === POSITION || scene.nodes.some((n) => n.id === selected) ? selected : shownNode;
  const shownType = scene.nodes.find((n) => n.id === shownNode)?.type;
  const previewType = pin ?? pictureType(info, shownType);
  const asked = useMemo(
    () =>
      askedTypes(scene, types, info, {
        outputType: imageType(namedType(scene)),
        shown: shownNode,
        shownType: imageType(previewType),
      }),
    [scene, types, info, shownNode, previewType],
  );
  const pinType = useCallback(
    (type) => {
      setChosenPin(type);
      pinRef.current = type;
      const scene = latest.current.committed;
      const output = scene.nodes.find((n) => n.id === scene.output);
      const named = type ?? pictureType(info, output?.type);
      if (namedType(scene) !== named || scene.output_type === undefined)
        commit({ ...scene, output_type: named });
    },
    [commit, info],
  );
  return { shown, picture, pin, anchor, previewType, asked, pinType };
}
