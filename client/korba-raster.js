// Images as ESC/POS raster: pixels to black and white dots, sent as GS v 0 in bands that a
// printer's buffer holds. The core reads RGBA pixels and runs anywhere; canvases, bitmaps, images
// and text are read through the browser's canvas.

// Dots a line on each paper, as the renderer draws them.
const PAPER_DOTS = { 80: 576, 58: 384 };
// Rows of one GS v 0: printers buffer a band before printing it.
const BAND_ROWS = 255;
const ALIGN = { left: 0, center: 1, right: 2 };
// Where each dither sends a pixel's error: [dx, dy, share].
const DIFFUSION = {
  atkinson: [[1, 0, 1 / 8], [2, 0, 1 / 8], [-1, 1, 1 / 8], [0, 1, 1 / 8], [1, 1, 1 / 8], [0, 2, 1 / 8]],
  "floyd-steinberg": [[1, 0, 7 / 16], [-1, 1, 3 / 16], [0, 1, 5 / 16], [1, 1, 1 / 16]],
  threshold: [],
};
// A line that starts right to left (its first letter in one of these scripts).
const RTL_START = /^[^\p{L}]*[\p{Script=Arabic}\p{Script=Hebrew}\p{Script=Syriac}\p{Script=Thaana}\p{Script=Nko}]/u;

export function rasterize(source, { paper = 80, width, align, dither = "atkinson", threshold = 128 } = {}) {
  const paperDots = PAPER_DOTS[paper];
  if (!paperDots) throw new RangeError("paper must be 80 or 58");
  if (!Object.hasOwn(DIFFUSION, dither)) throw new RangeError('dither is "atkinson", "floyd-steinberg" or "threshold"');
  if (align !== undefined && !Object.hasOwn(ALIGN, align)) throw new RangeError('align is "left", "center" or "right"');
  if (!(threshold >= 0 && threshold <= 255)) throw new RangeError("threshold is 0 to 255");
  const image = pixelsOf(source);
  const w = width ?? Math.min(image.width, paperDots);
  if (!Number.isInteger(w) || w < 1 || w > paperDots) throw new RangeError(`width is 1 to ${paperDots} dots`);
  const h = Math.max(1, Math.round(image.height * w / image.width));
  const light = resample(luminance(image), image.width, image.height, w, h);
  // Halfway between two greys, so that a grey of the threshold's value is white.
  const dots = diffuse(light, w, h, DIFFUSION[dither], toLinear(Math.max(0, threshold - 0.5) / 255));
  const bands = gsv0(dots, w, h);
  if (align === undefined) return bands;
  return concat([Uint8Array.of(0x1b, 0x61, ALIGN[align]), bands, Uint8Array.of(0x1b, 0x61, 0)]);
}

// Text drawn with the page's fonts, as wide as the paper: any script the browser can show.
export async function textImage(text, { font = "sans-serif", size = 24, paper = 80, align = "left", ...options } = {}) {
  if (typeof text !== "string") throw new TypeError("textImage takes a string");
  const width = PAPER_DOTS[paper];
  if (!width) throw new RangeError("paper must be 80 or 58");
  if (!Object.hasOwn(ALIGN, align)) throw new RangeError('align is "left", "center" or "right"');
  const css = `${size}px ${font}`;
  await globalThis.document?.fonts?.load(css, text);
  const measure = canvas(1, 1).getContext("2d");
  measure.font = css;
  const lines = text.split("\n").flatMap((line) => wrap(measure, line, width));
  const metrics = measure.measureText("Hg");
  const ascent = Math.ceil(metrics.fontBoundingBoxAscent ?? size * 0.8);
  const lineHeight = ascent + Math.ceil(metrics.fontBoundingBoxDescent ?? size * 0.2);
  const sheet = canvas(width, lineHeight * lines.length);
  const context = sheet.getContext("2d");
  context.fillStyle = "#fff";
  context.fillRect(0, 0, sheet.width, sheet.height);
  context.fillStyle = "#000";
  context.font = css;
  context.textAlign = align;
  context.textBaseline = "alphabetic";
  lines.forEach((line, i) => {
    context.direction = RTL_START.test(line) ? "rtl" : "ltr";
    context.fillText(line, { left: 0, center: width / 2, right: width }[align], i * lineHeight + ascent);
  });
  return rasterize(context.getImageData(0, 0, sheet.width, sheet.height),
    { dither: "threshold", ...options, paper, width });
}

// Words that fit the width, and a word too long for a line cut between its characters.
function wrap(context, line, width) {
  const fits = (s) => context.measureText(s).width <= width;
  const out = [];
  let current = "";
  for (const word of line.split(/(?<= )/)) {
    if (fits(current + word)) { current += word; continue; }
    if (current) out.push(current.trimEnd());
    current = "";
    for (const c of fits(word) ? [word] : Array.from(word)) {
      if (current && !fits(current + c)) { out.push(current); current = ""; }
      current += c;
    }
  }
  out.push(current.trimEnd());
  return out;
}

// RGBA pixels of any source: the plain object (and ImageData) as it is, the rest drawn on a canvas.
function pixelsOf(source) {
  if (source && typeof source === "object" && "data" in source) {
    const { width, height, data } = source;
    if (!Number.isInteger(width) || !Number.isInteger(height) || width < 1 || height < 1 ||
        data?.length !== width * height * 4) {
      throw new TypeError("an RGBA image is { width, height, data } with width * height * 4 values");
    }
    return source;
  }
  if (!drawable(source)) {
    throw new TypeError("an image is ImageData, { width, height, data } RGBA, a canvas, an ImageBitmap or an <img>");
  }
  const width = source.naturalWidth ?? source.width, height = source.naturalHeight ?? source.height;
  if (!width || !height) throw new TypeError("the image has no pixels (not loaded yet?)");
  const context = canvas(width, height).getContext("2d");
  context.drawImage(source, 0, 0);
  return context.getImageData(0, 0, width, height);
}

function drawable(source) {
  return ["HTMLCanvasElement", "OffscreenCanvas", "ImageBitmap", "HTMLImageElement"]
    .some((name) => typeof globalThis[name] === "function" && source instanceof globalThis[name]);
}

function canvas(width, height) {
  if (typeof OffscreenCanvas === "function") return new OffscreenCanvas(width, height);
  if (globalThis.document) return Object.assign(document.createElement("canvas"), { width, height });
  throw new TypeError("drawing needs a browser's canvas");
}

function toLinear(c) {
  return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
}

// Linear light of each pixel, 0 black to 1 white, over white paper where it is transparent.
function luminance({ width, height, data }) {
  const table = Float64Array.from({ length: 256 }, (_, i) => toLinear(i / 255));
  const light = new Float64Array(width * height);
  for (let i = 0; i < light.length; i++) {
    const y = 0.2126 * table[data[4 * i]] + 0.7152 * table[data[4 * i + 1]] + 0.0722 * table[data[4 * i + 2]];
    const a = data[4 * i + 3] / 255;
    light[i] = a * y + 1 - a;
  }
  return light;
}

// The mean of the source pixels each target pixel covers (the nearest one when it covers less than one).
function resample(light, sw, sh, w, h) {
  if (sw === w && sh === h) return light;
  const out = new Float64Array(w * h);
  const span = (i, n, sn) => {
    const from = Math.floor(i * sn / n);
    return [from, Math.max(from + 1, Math.floor((i + 1) * sn / n))];
  };
  for (let y = 0; y < h; y++) {
    const [y0, y1] = span(y, h, sh);
    for (let x = 0; x < w; x++) {
      const [x0, x1] = span(x, w, sw);
      let sum = 0;
      for (let j = y0; j < y1; j++) for (let i = x0; i < x1; i++) sum += light[j * sw + i];
      out[y * w + x] = sum / ((y1 - y0) * (x1 - x0));
    }
  }
  return out;
}

// 1 for a black dot; each pixel's error goes on to its neighbours as the dither shares it.
function diffuse(light, w, h, shares, cut) {
  const dots = new Uint8Array(w * h);
  const left = Float64Array.from(light);
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) {
      const value = left[y * w + x];
      const black = value < cut;
      dots[y * w + x] = black ? 1 : 0;
      const error = value - (black ? 0 : 1);
      for (const [dx, dy, share] of shares) {
        const nx = x + dx, ny = y + dy;
        if (nx >= 0 && nx < w && ny < h) left[ny * w + nx] += error * share;
      }
    }
  }
  return dots;
}

// GS v 0 0 xL xH yL yH d...: one a band, rows padded to whole bytes.
function gsv0(dots, w, h) {
  const rowBytes = Math.ceil(w / 8);
  const bands = [];
  for (let top = 0; top < h; top += BAND_ROWS) {
    const rows = Math.min(BAND_ROWS, h - top);
    const band = new Uint8Array(8 + rowBytes * rows);
    band.set([0x1d, 0x76, 0x30, 0, rowBytes & 0xff, rowBytes >> 8, rows & 0xff, rows >> 8]);
    for (let y = 0; y < rows; y++) {
      for (let x = 0; x < w; x++) {
        if (dots[(top + y) * w + x]) band[8 + y * rowBytes + (x >> 3)] |= 0x80 >> (x & 7);
      }
    }
    bands.push(band);
  }
  return concat(bands);
}

function concat(parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  parts.reduce((at, p) => (out.set(p, at), at + p.length), 0);
  return out;
}
