// A name for saving `target` again beside itself: NAME-2.json, or the first NAME-K.json that is not
// among `files`.
export function freeName(target, files) {
  const taken = new Set(files);
  const stem = target.replace(/\.json$/i, '');
  let k = 2;
  while (taken.has(`${stem}-${k}.json`)) ++k;
  return `${stem}-${k}.json`;
}
