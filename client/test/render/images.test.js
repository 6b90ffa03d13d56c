// Raster (GS v 0) and column (ESC *) images, dot for dot.
import assert from "node:assert/strict";
import { test } from "node:test";

import Encoder from "@point-of-sale/receipt-printer-encoder";

import { dots, lines, renderTicket } from "./drawing.js";

const W = 40, H = 48;
const black = (x, y) => (x * 7 + y * 3) % 11 < 4 || x === y;

function picture() {
  const data = new Uint8ClampedArray(W * H * 4);
  for (let y = 0; y < H; y++) {
    for (let x = 0; x < W; x++) data.set(black(x, y) ? [0, 0, 0, 255] : [255, 255, 255, 255], (y * W + x) * 4);
  }
  return { width: W, height: H, data };
}

// The dots of the picture drawn from (x0, y0), `sx` x `sy` printer dots a pixel.
function expected(x0, y0, sx = 1, sy = 1) {
  const set = new Set();
  for (let y = 0; y < H * sy; y++) for (let x = 0; x < W * sx; x++) {
    if (black(Math.floor(x / sx), Math.floor(y / sy))) set.add(`${x0 + x},${y0 + y}`);
  }
  return set;
}

test("an image in raster and in column mode is drawn dot for dot, where the alignment puts it", () => {
  for (const imageMode of ["raster", "column"]) {
    const e = new Encoder({ language: "esc-pos", columns: 48, imageMode });
    assert.deepEqual(dots(renderTicket(e.image(picture(), W, H, "threshold").encode())), expected(32, 16), imageMode);
    const centred = new Encoder({ language: "esc-pos", columns: 48, imageMode }).align("center").line("logo")
      .image(picture(), W, H, "threshold").line("fin").encode();
    // The column stripes sit one under the other with the line spacing they set; text follows.
    assert.deepEqual(dots(renderTicket(centred)), expected(32 + (576 - W) / 2, 16 + 30), imageMode);
    assert.deepEqual(lines(renderTicket(centred)).map((l) => l.trim()), ["logo", "fin"]);
  }
});

test("GS v 0 doubles across and down; ESC * single density and 8-dot columns are wider and taller dots", () => {
  const raster = [0x1d, 0x76, 0x30, 3, 1, 0, 2, 0, 0b10000001, 0b01000000];
  assert.deepEqual([...dots(renderTicket(Uint8Array.from(raster)))].sort(), [
    "32,16", "32,17", "33,16", "33,17", "46,16", "46,17", "47,16", "47,17",
    "34,18", "34,19", "35,18", "35,19"].sort());
  // Two 8-dot single-density columns: each dot 2 across and 3 down.
  const columns = [0x1b, 0x2a, 0, 2, 0, 0b10000000, 0b00000001, 0x0a];
  assert.deepEqual([...dots(renderTicket(Uint8Array.from(columns)))].sort(), [
    "32,16", "33,16", "32,17", "33,17", "32,18", "33,18", "34,37", "35,37", "34,38", "35,38", "34,39", "35,39"].sort());
  // 24-dot double density: one dot per bit; what passes the printing area is cut off.
  const wide = [0x1b, 0x2a, 33, 0x80, 2, ...Array(640 * 3).fill(0xff), 0x0a];
  const drawn = dots(renderTicket(Uint8Array.from(wide)));
  assert.deepEqual([drawn.size, drawn.has("607,39"), drawn.has("608,16")], [576 * 24, true, false]);
});

test("GS ( L and GS 8 L graphics are kept in the print buffer and printed as a raster", () => {
  // 10 x 2 dots, doubled down: the high bits first, the row padded to 2 bytes.
  const store = [48, 112, 48, 1, 2, 49, 10, 0, 2, 0, 0b10000000, 0b01000000, 0b00000001, 0];
  const expected = ["32,16", "32,17", "41,16", "41,17", "39,18", "39,19"].sort();
  const short = [0x1d, 0x28, 0x4c, store.length, 0, ...store, 0x1d, 0x28, 0x4c, 2, 0, 48, 50];
  const long = [0x1d, 0x38, 0x4c, store.length, 0, 0, 0, ...store, 0x1d, 0x38, 0x4c, 2, 0, 0, 0, 48, 50];
  for (const bytes of [short, long]) assert.deepEqual([...dots(renderTicket(Uint8Array.from(bytes)))].sort(), expected);
  // Printed once: the buffer is empty afterwards, and printing it again is marked.
  const again = renderTicket(Uint8Array.from([...short, 0x1d, 0x28, 0x4c, 2, 0, 48, 50]));
  assert.deepEqual([dots(again).size, (again.match(/korba-skip/g) ?? []).length], [6, 1]);
});

// The client's raster images, drawn back: every dither leaves pure black and white as they are.
test("rasterize: a checkerboard over two bands, a transparent picture and a grey ramp, drawn back dot for dot", async () => {
  const { rasterize } = await import("../../korba-raster.js");
  const image = (w, h, pixel) => {
    const data = new Uint8ClampedArray(w * h * 4);
    for (let y = 0; y < h; y++) for (let x = 0; x < w; x++) data.set(pixel(x, y), (y * w + x) * 4);
    return { width: w, height: h, data };
  };
  const drawn = (w, h, black, x0 = 32) => {
    const set = new Set();
    for (let y = 0; y < h; y++) for (let x = 0; x < w; x++) if (black(x, y)) set.add(`${x0 + x},${16 + y}`);
    return set;
  };
  // 37 dots wide (padded to 5 bytes a row), 300 rows: a band of 255 and one of 45.
  const square = (x, y) => (Math.floor(x / 3) + Math.floor(y / 3)) % 2 === 0;
  const board = image(37, 300, (x, y) => square(x, y) ? [0, 0, 0, 255] : [255, 255, 255, 255]);
  for (const dither of ["atkinson", "floyd-steinberg", "threshold"]) {
    const bytes = rasterize(board, { dither });
    assert.deepEqual([...bytes.subarray(0, 8)], [0x1d, 0x76, 0x30, 0, 5, 0, 255, 0], dither);
    assert.deepEqual([...bytes.subarray(8 + 5 * 255, 16 + 5 * 255)], [0x1d, 0x76, 0x30, 0, 5, 0, 45, 0], dither);
    assert.equal(bytes.length, 16 + 5 * 300);
    assert.deepEqual(dots(renderTicket(bytes)), drawn(37, 300, square), dither);
  }
  // Transparent pixels are paper, whatever their colour; centred on 58 mm paper and left as it was.
  const ring = (x, y) => (x - 20) ** 2 + (y - 20) ** 2 < 400 && (x - 20) ** 2 + (y - 20) ** 2 >= 100;
  const logo = image(40, 40, (x, y) => [0, 0, 0, ring(x, y) ? 255 : 0]);
  const centred = rasterize(logo, { paper: 58, align: "center" });
  assert.deepEqual([...centred.subarray(0, 3), ...centred.subarray(-3)], [0x1b, 0x61, 1, 0x1b, 0x61, 0]);
  assert.deepEqual(dots(renderTicket(centred, { paper: 58 })), drawn(40, 40, ring, 40 + (384 - 40) / 2));
  // A ramp of sRGB greys: cut at 128 when thresholded; dithered, as many black dots as its light is dark.
  const ramp = image(256, 64, (x) => [x, x, x, 255]);
  assert.deepEqual(dots(renderTicket(rasterize(ramp, { dither: "threshold" }))), drawn(256, 64, (x) => x < 128));
  const spread = dots(renderTicket(rasterize(ramp, { dither: "floyd-steinberg" })));
  for (let from = 0; from < 256; from += 32) {
    let black = 0, dark = 0;
    for (let x = from; x < from + 32; x++) {
      for (let y = 0; y < 64; y++) black += spread.has(`${32 + x},${16 + y}`);
      const c = x / 255;
      dark += 64 * (1 - (c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4));
    }
    assert.ok(Math.abs(black - dark) < 0.03 * 32 * 64, `greys ${from}+: ${black} black dots for ${dark.toFixed(0)}`);
  }
  // Wider than the paper: scaled down to it; a width over the paper's, a wrong source or option, refused.
  assert.deepEqual([...rasterize(image(1000, 100, () => [0, 0, 0, 255])).subarray(4, 8)], [72, 0, 58, 0]);
  assert.throws(() => rasterize(board, { width: 577 }), RangeError);
  assert.throws(() => rasterize(board, { paper: 76 }), RangeError);
  assert.throws(() => rasterize(board, { dither: "ordered" }), RangeError);
  assert.throws(() => rasterize({ width: 2, height: 2, data: [0, 0, 0] }), TypeError);
  assert.throws(() => rasterize("logo.png"), TypeError);
});
