// Reading the renderer's SVG back: its text, its lines, the dots its paths fill, and what a
// barcode reader finds in it once rasterised.
import { execFileSync } from "node:child_process";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import Encoder from "@point-of-sale/receipt-printer-encoder";

export { renderTicket } from "../../korba-render.js";

// An encoder for an 80 mm printer (48 columns), or 58 mm (32).
export function encoder(columns = 48) {
  return new Encoder({ language: "esc-pos", columns, imageMode: "raster" });
}

const unescape = (s) => s.replace(/&lt;/g, "<").replace(/&gt;/g, ">").replace(/&quot;/g, '"').replace(/&amp;/g, "&");

function attrs(tag) {
  return Object.fromEntries(Array.from(tag.matchAll(/([\w:-]+)="([^"]*)"/g), (m) => [m[1], m[2]]));
}

// Every <text> with its place on the paper: x and y of its cell's top left corner (from the
// font's baseline, 19 or 13 dots down the cell), its scale.
export function texts(svg) {
  return Array.from(svg.matchAll(/<text ([^>]*)>([^<]*)<\/text>/g), ([, tag, body]) => {
    const a = attrs(tag), base = a["font-size"] === "20" ? 19 : 13;
    const [, x, y, sx = 1, sy = 1] = a.transform
      ? /translate\((\S+) (\S+)\) scale\((\S+) (\S+)\)/.exec(a.transform) : [0, a.x, a.y - base];
    return { x: Number(x), y: Number(y), text: unescape(body), length: Number(a.textLength), scale: [Number(sx), Number(sy)],
      size: Number(a["font-size"]), bold: a["font-weight"] === "bold", white: a.fill === "#fff",
      preserve: a["xml:space"] === "preserve" };
  });
}

// The text of each printed line that has any, top to bottom.
export function lines(svg) {
  return Array.from(svg.matchAll(/<g class="korba-line"[^>]*>(.*?)<\/g>/g), ([, body]) =>
    texts(body).map((t) => t.text).join("")).filter(Boolean);
}

export function marks(svg, kind) {
  return Array.from(svg.matchAll(new RegExp(`<(?:g|rect) class="korba-${kind}[^"]*"[^>]*>`, "g")), ([tag]) => attrs(tag));
}

// The rectangles of the paths in `svg` (or of one path's `d`), [x, y, width, height] each: the
// first moves to its place, each other moves from the one before.
export function rects(svg) {
  const all = [];
  for (const d of svg.startsWith("M") ? [svg] : Array.from(svg.matchAll(/<path d="([^"]*)"/g), (m) => m[1])) {
    let x = 0, y = 0;
    for (const [, move, dx, dy, w, h] of d.matchAll(/([Mm])(-?\d+) (-?\d+)h(\d+)v(\d+)h-\d+z/g)) {
      [x, y] = move === "M" ? [Number(dx), Number(dy)] : [x + Number(dx), y + Number(dy)];
      all.push([x, y, Number(w), Number(h)]);
    }
  }
  return all;
}

// The dots that the paths fill, as "x,y" strings.
export function dots(svg) {
  const set = new Set();
  for (const [x, y, w, h] of rects(svg)) {
    for (let i = 0; i < w; i++) for (let j = 0; j < h; j++) set.add(`${x + i},${y + j}`);
  }
  return set;
}

// What zbarimg reads in the drawing, rasterised by rsvg-convert one dot a pixel: "TYPE:data" lines,
// sorted; `only` names the one symbology to look for; `raw` gives the data alone (zbarimg takes
// bytes that are not UTF-8 for Latin-1).
export function decode(svg, only, raw = false) {
  const folder = mkdtempSync(join(tmpdir(), "korba-render-"));
  try {
    writeFileSync(join(folder, "t.svg"), svg);
    execFileSync("rsvg-convert", ["-b", "white", "-o", join(folder, "t.png"), join(folder, "t.svg")]);
    const settings = only ? ["-Sdisable", `-S${only}.enable`] : ["-Supca.enable", "-Supce.enable"];
    const out = execFileSync("zbarimg", ["-q", "--nodbus", ...(raw ? ["--raw"] : []), ...settings, join(folder, "t.png")],
      { encoding: "utf8", stdio: ["ignore", "pipe", "ignore"] });
    return out.replace(/\n$/, "").split("\n").sort();
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}
