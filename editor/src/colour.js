// Colours as the page shows them. A scene's colours are linear light (Rec. 709 primaries); a PNG of a
// colour output holds them through the sRGB transfer, and so does everything the page paints a colour
// with: swatches, gradient bars, the colour picker. What is picked is then what the picture shows.

// The sRGB transfer of one linear channel, clamped to 0 .. 1 first, as the PNG writer encodes it.
export function encode(v) {
  const c = Math.min(1, Math.max(0, Number(v) || 0));
  return c <= 0.0031308 ? 12.92 * c : 1.055 * Math.pow(c, 1 / 2.4) - 0.055;
}

// The linear channel a display value of 0 .. 1 stands for.
export function decode(e) {
  return e <= 0.04045 ? e / 12.92 : Math.pow((e + 0.055) / 1.055, 2.4);
}

// The 8-bit display value of a linear channel, as a PNG of 8 bits stores it.
export const byte = (v) => Math.round(encode(v) * 255);

// The display colour of linear [r, g, b], as CSS takes it.
export const cssColour = (rgb) => `rgb(${rgb.map(byte).join(',')})`;

// "#rrggbb" of linear [r, g, b], in display space (values beyond 0 .. 1 are clamped).
export const toHex = (rgb) => `#${rgb.map((v) => byte(v).toString(16).padStart(2, '0')).join('')}`;

// Linear [r, g, b] of a display "#rrggbb" or "#rgb"; null for anything else. Rounded to 6 digits, which
// still gives the same byte back (the steps between bytes are at least 1/3295 in linear light).
export function fromHex(text) {
  const t = text.trim().replace(/^#?/, '');
  const full = /^[0-9a-f]{3}$/i.test(t) ? [...t].map((c) => c + c).join('') : t;
  if (!/^[0-9a-f]{6}$/i.test(full)) return null;
  return [0, 2, 4].map((i) => Number(decode(parseInt(full.slice(i, i + 2), 16) / 255).toFixed(6)));
}
