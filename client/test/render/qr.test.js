// GS ( k QR codes: module size, error correction level, stored data and printing, read back by
// zbarimg from the rasterised drawing.
import assert from "node:assert/strict";
import { test } from "node:test";

import { decode, encoder, lines, marks, rects, renderTicket } from "./drawing.js";

const ascii = (s) => Array.from(s, (c) => c.charCodeAt(0));

// Module size, level (0 L to 3 H), the data stored and the symbol printed, as raw commands.
function qr(bytes, level = 0, size = 3) {
  const data = typeof bytes === "string" ? Array.from(bytes, (c) => c.charCodeAt(0)) : bytes;
  const stored = data.length + 3;
  return [0x1d, 0x28, 0x6b, 3, 0, 49, 67, size, 0x1d, 0x28, 0x6b, 3, 0, 49, 69, 48 + level,
    0x1d, 0x28, 0x6b, stored & 0xff, stored >> 8, 49, 80, 48, ...data, 0x1d, 0x28, 0x6b, 3, 0, 49, 81, 48, 0x0a];
}

// The drawn symbol's left edge, top and width in modules.
function symbol(svg, size = 3) {
  const path = /<g class="korba-qr"><path d="([^"]*)"/.exec(svg)?.[1];
  if (!path) return null;
  const all = rects(path);
  const left = Math.min(...all.map((r) => r[0]));
  return { left, top: Math.min(...all.map((r) => r[1])),
    modules: (Math.max(...all.map((r) => r[0] + r[2])) - left) / size };
}

test("the encoder's QR codes at every level and several module sizes are read back", () => {
  const cases = [["hola", "l", 3], ["https://tienda.example/ticket/2026-0042?total=3,50", "m", 4],
    ["1234567890".repeat(8), "q", 5], ["TICKET 42 $+%*", "h", 6]];
  for (const [value, errorlevel, size] of cases) {
    const svg = renderTicket(encoder().newline().qrcode(value, { model: 2, size, errorlevel }).newline().encode());
    assert.deepEqual(decode(svg, "qrcode"), [`QR-Code:${value}`], value);
    assert.equal(symbol(svg, size).modules % 4, 1);
  }
});

test("the smallest version that holds the data, up to version 40, in every mode and level", () => {
  // Version 1 holds 17, 14, 11 and 7 bytes at L, M, Q and H; 41 digits or 25 letters at L.
  for (const [data, level, modules] of [["a".repeat(17), 0, 21], ["a".repeat(18), 0, 25], ["a".repeat(14), 1, 21],
    ["a".repeat(15), 1, 25], ["a".repeat(11), 2, 21], ["a".repeat(7), 3, 21], ["a".repeat(8), 3, 25],
    ["7".repeat(41), 0, 21], ["7".repeat(42), 0, 25], ["A".repeat(25), 0, 21], ["A".repeat(26), 0, 25],
    ["a".repeat(2953), 0, 177]]) {
    assert.equal(symbol(renderTicket(Uint8Array.from(qr(data, level, 1))), 1)?.modules, modules, `${data.length} ${level}`);
  }
  // Symbols of many versions (their blocks, alignment patterns and version information), each read.
  for (let level = 0; level < 4; level++) {
    const texts = [30, 90, 200, 400, 650, 950, 1250].map((n) => n >> (level >> 1))
      .map((n, i) => Array.from({ length: n }, (_, j) => "abcdefghijklmnopqrstuvwxyz0123456789-:/?"[(i + j * 7) % 40]).join(""));
    const svg = renderTicket(Uint8Array.from([0x0a, ...texts.flatMap((text) => [...qr(text, level, 2), 0x0a])]));
    assert.deepEqual(decode(svg, "qrcode"), texts.map((text) => `QR-Code:${text}`).sort(), `level ${level}`);
  }
  // Any bytes are kept as they are.
  const bytes = [0xc3, 0xb1, 0xe2, 0x82, 0xac, 0x00, 0x41, 0xff];
  assert.deepEqual(decode(renderTicket(Uint8Array.from([0x0a, ...qr(bytes, 1, 4), 0x0a])), "qrcode", true),
    [String.fromCharCode(...bytes)]);
});

test("ESC Z prints a QR code at once: version, level as a letter or a number, module size", () => {
  const escZ = (data, version, level, size) => [0x1b, 0x5a, version, level, size, data.length & 0xff, data.length >> 8,
    ...Array.from(data, (c) => c.charCodeAt(0))];
  const url = "https://tienda.example/t/2026-0042";
  const svg = renderTicket(Uint8Array.from([0x0a, ...escZ(url, 0, 0x4d, 4), 0x0a, ...escZ("hola", 5, 3, 3), 0x0a,
    ...ascii("fin\n")]));
  assert.deepEqual(decode(svg, "qrcode"), ["QR-Code:hola", `QR-Code:${url}`]);
  // Version 5 asked: 37 modules, although version 1 holds the data.
  assert.equal(symbol(renderTicket(Uint8Array.from(escZ("hola", 5, 0x4c, 3)))).modules, 37);
  // A level it does not know: skipped by its own length and marked; nothing of it prints.
  const refused = renderTicket(Uint8Array.from([...escZ(url, 0, 0x58, 4), ...ascii("fin\n")]));
  assert.deepEqual([symbol(refused), marks(refused, "skip").length, lines(refused)], [null, 1, ["fin"]]);
});

test("module size, alignment, and the symbols the printer cannot print", () => {
  const big = symbol(renderTicket(Uint8Array.from([0x1b, 0x61, 1, ...qr("hola", 0, 16)])), 16);
  assert.deepEqual(big, { left: 32 + (576 - 21 * 16) / 2, top: 16, modules: 21 });
  // The stored data stays for the next print.
  const twice = renderTicket(Uint8Array.from([...qr("otra"), 0x1d, 0x28, 0x6b, 3, 0, 49, 81, 48]));
  assert.equal(twice.match(/korba-qr/g).length, 2);
  for (const bytes of [[0x1d, 0x28, 0x6b, 3, 0, 49, 81, 48], qr("a".repeat(2954), 0, 1), qr("a".repeat(600), 0, 8),
    [0x1d, 0x28, 0x6b, 3, 0, 48, 81, 48]]) {
    const svg = renderTicket(Uint8Array.from(bytes));
    assert.deepEqual([symbol(svg), marks(svg, "skip").length], [null, 1], bytes.slice(0, 16).join(" "));
  }
});
