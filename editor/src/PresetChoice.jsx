import React, { useEffect, useState } from 'react';

// A list of presets (read from their file) to put into a curve or gradient; it shows no choice, so that
// the same one can be chosen again.
export default function PresetChoice({ load, onChoose, className, title }) {
  const [list, setList] = useState([]);
  useEffect(() => {
    load().then(setList);
  }, [load]);
  if (list.length === 0) return null;
  return (
    <select
      className={`preset ${className} nodrag`}
      title={title}
      value=""
      onChange={(event) => event.target.value !== '' && onChoose(list[Number(event.target.value)])}
    >
      <option value="" disabled>
        preset…
      </option>
      {list.map((p, i) => (
        <option key={p.name} value={i}>
          {p.name}
        </option>
      ))}
    </select>
  );
}
