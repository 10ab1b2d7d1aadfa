import { useEditor } from './EditorContext.js';
import { idleReason, memberText } from './nodeInfo.js';

// The editor as a curve or gradient (`kind` 'curves' or 'gradients') of a node sees it: with the
// member's label and hint, why it changes nothing when it does not (`idle`), whether the loader refused
// it (`refused`) and the part of it that it named (`part`, else null).
export default function useMember(node, kind, name) {
  const editor = useEditor();
  const { error, info, types, asked } = editor;
  const { label, hint } = memberText(info, node.type, kind, name);
  const idle = idleReason(info, types, node, kind, name, asked.get(node.id));
  const place = error?.place;
  const refused = place?.node === node.id && place.kind === kind && place.name === name;
  return { ...editor, label, hint, idle, refused, part: refused ? (place.part ?? null) : null };
}
