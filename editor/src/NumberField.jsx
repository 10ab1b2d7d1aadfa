import React, { useLayoutEffect, useRef, useState } from 'react';

// The gestures a number field takes, as its tooltip says them.
const SCRUB = 'drag sideways to change (Shift: finer), click to type';
const NUMBER = /^[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?$/i;
const SPECIAL = ['nan', 'inf', '-inf'];

// What the user typed, as the scene file holds it: a number, one of the strings of the reals JSON has
// no numbers for, or else the text itself, which the loader then refuses with its own message.
export function parseTyped(text) {
  const t = text.trim();
  if (NUMBER.test(t)) return Number(t);
  if (SPECIAL.includes(t.toLowerCase())) return t.toLowerCase();
  return t;
}

// JavaScript's shortest decimal that reads back to the same double, as vantrel writes numbers.
export const formatNumber = (value) => String(value);

// The value as it fits a field: whole when it does, else rounded to fewer digits, in plain or
// scientific notation (-1.317e-7 in five characters is -1e-7, never the -1.31 of a cut-off text).
export function fitted(value, fits) {
  const whole = formatNumber(value);
  if (typeof value !== 'number' || !Number.isFinite(value) || fits(whole)) return whole;
  let shortest = whole;
  for (let digits = 16; digits >= 1; --digits) {
    const plain = String(Number(value.toPrecision(digits)));
    const scientific = value
      .toExponential(digits - 1)
      .replace(/\.?0+e/, 'e')
      .replace('e+', 'e');
    for (const text of [plain, scientific]) {
      if (fits(text)) return text;
      if (text.length < shortest.length) shortest = text;
    }
  }
  return shortest;
}

// Whether a text fits `room` pixels in an element's font, for `fitted`.
let measurer = null;
function fitsIn(element, room) {
  measurer ??= document.createElement('canvas').getContext('2d');
  const style = getComputedStyle(element);
  measurer.font = `${style.fontWeight} ${style.fontSize} ${style.fontFamily}`;
  return (text) => measurer.measureText(text).width <= room;
}

// The room a field has for its text, in pixels, as it is laid out now and whenever it changes size.
function useRoom(input) {
  const [room, setRoom] = useState(null);
  useLayoutEffect(() => {
    const element = input.current;
    const measure = () => {
      const style = getComputedStyle(element);
      setRoom(element.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight) - 1);
    };
    measure();
    const observer = new ResizeObserver(measure);
    observer.observe(element);
    return () => observer.disconnect();
  }, []);
  return room;
}

// The step one pixel of dragging moves a value: a hundredth of its order of magnitude, so 0.35 moves
// by 0.001 and 40 by 0.1; whole numbers move one step every few pixels. Shift drags ten times finer.
function dragged(start, dx, integer, fine) {
  if (integer) return Math.round(start + (dx / 6) * (fine ? 0.2 : 1));
  const magnitude = Math.floor(Math.log10(Math.max(Math.abs(start), 0.01)));
  const digits = Math.max(0, 2 - magnitude + (fine ? 1 : 0));
  const step = 10 ** -digits;
  return Number((start + dx * step).toFixed(digits));
}

// A number to drag sideways (the value follows the pointer) or to click and type into (Enter takes it,
// Escape leaves it). Dragging stays within [min, max]; a typed value goes to the loader as typed.
export default function NumberField({ value, integer, min, max, onDraft, onCommit, refused, title }) {
  const [text, setText] = useState(null);
  const drag = useRef(null);
  const input = useRef(null);
  const escaped = useRef(false);
  const room = useRoom(input);
  const whole = formatNumber(value);
  const shown = room === null || room <= 0 ? whole : fitted(value, fitsIn(input.current, room));

  const clamp = (v) => Math.min(max ?? Infinity, Math.max(min ?? -Infinity, v));

  const onPointerDown = (event) => {
    if (document.activeElement === input.current || event.button !== 0) return;
    event.preventDefault();
    const start = typeof value === 'number' && Number.isFinite(value) ? value : 0;
    drag.current = { x: event.clientX, start, moved: false, value: start };
    event.currentTarget.setPointerCapture(event.pointerId);
  };
  const onPointerMove = (event) => {
    const d = drag.current;
    if (!d) return;
    const dx = event.clientX - d.x;
    if (!d.moved && Math.abs(dx) < 3) return;
    d.moved = true;
    const v = clamp(dragged(d.start, dx, integer, event.shiftKey));
    if (v !== d.value) {
      d.value = v;
      onDraft(v);
    }
  };
  const onPointerUp = () => {
    const d = drag.current;
    drag.current = null;
    if (!d) return;
    if (d.moved) onCommit(d.value);
    else {
      setText(formatNumber(value));
      input.current.focus();
      input.current.select();
    }
  };
  const finish = () => {
    if (text === null) return;
    if (escaped.current) {
      escaped.current = false;
      setText(null);
      return;
    }
    const typed = parseTyped(text);
    setText(null);
    if (typed !== value) onCommit(typed);
  };

  return (
    <input
      ref={input}
      className={`number nodrag${refused ? ' refused' : ''}${shown !== whole ? ' rounded' : ''}`}
      title={`${shown !== whole ? `${whole}: ` : ''}${title ?? SCRUB}`}
      value={text ?? shown}
      onPointerDown={onPointerDown}
      onPointerMove={onPointerMove}
      onPointerUp={onPointerUp}
      onChange={(event) => setText(event.target.value)}
      onBlur={finish}
      onKeyDown={(event) => {
        if (event.key === 'Enter') event.currentTarget.blur();
        else if (event.key === 'Escape') {
          escaped.current = true;
          event.currentTarget.blur();
        }
      }}
      spellCheck={false}
    />
  );
}
