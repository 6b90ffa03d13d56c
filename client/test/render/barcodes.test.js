// GS k barcodes with GS h, GS w, GS H and GS f: read back by zbarimg from the rasterised drawing.
import assert from "node:assert/strict";
import { describe, test } from "node:test";

import { decode, encoder, marks, rects, renderTicket, texts } from "./drawing.js";

const ascii = (s) => Array.from(s, (c) => c.charCodeAt(0));
const paths = (svg) => Array.from(svg.matchAll(/<path d="([^"]*)"/g), (m) => m[1]);
// The bars of the first barcode: [x, y, width, height] each.
const bars = (svg) => rects(paths(svg)[0]);

describe("barcodes", () => {
  test("every symbology the encoder makes is drawn so that a reader decodes it", () => {
    const e = encoder();
    const codes = [["036000291452", "upca", "UPC-A"], ["0425261", "upce", "UPC-E:04252614"],
      ["4006381333931", "ean13", "EAN-13"], ["9638507", "ean8", "EAN-8:96385074"], ["CODE-39 OK", "code39", "CODE-39"],
      ["12345670", "itf", "I2/5"], ["A40156B", "codabar", "Codabar"], ["Hola, 93!", "code93", "CODE-93"],
      ["{BHola-128", "code128", "CODE-128:Hola-128"]];
    for (const [value, symbology] of codes) e.newline().barcode(value, symbology, { height: 60, text: "below" }).newline();
    const svg = renderTicket(e.encode());
    assert.deepEqual(marks(svg, "skip"), []);
    assert.deepEqual(decode(svg), codes.map(([value, , read]) => (read.includes(":") ? read : `${read}:${value}`)).sort());
    // Human readable text under each, as the printer writes it.
    assert.deepEqual(texts(svg).map((t) => t.text), ["036000291452", "04252614", "4006381333931", "96385074",
      "*CODE-39 OK*", "12345670", "A40156B", "Hola, 93!", "Hola-128"]);
  });

  test("both function forms draw the same; set C, shifts and UPC-E from its UPC-A number", () => {
    const a = renderTicket(Uint8Array.from([0x1d, 0x6b, 2, ...ascii("400638133393"), 0]));
    const b = renderTicket(Uint8Array.from([0x1d, 0x6b, 67, 13, ...ascii("4006381333931")]));
    assert.deepEqual(paths(a), paths(b));
    const c39 = [renderTicket(Uint8Array.from([0x1d, 0x6b, 4, ...ascii("AB-12"), 0])),
      renderTicket(Uint8Array.from([0x1d, 0x6b, 69, 7, ...ascii("*AB-12*")]))];
    assert.deepEqual(paths(c39[0]), paths(c39[1]));
    const feed = [0x0a, 0x0a];
    const ticket = [0x1d, 0x68, 50, 0x1d, 0x6b, 73, 11, ...ascii("{C"), 12, 34, 56, ...ascii("{AA{Sb"), ...feed,
      0x1d, 0x6b, 66, 12, ...ascii("042100005264"), ...feed, 0x1d, 0x6b, 72, 4, 0x61, 0x40, 0x01, 0x7e, ...feed];
    assert.deepEqual(decode(renderTicket(Uint8Array.from(ticket))),
      ["CODE-128:123456Ab", "CODE-93:a@\x01~", "UPC-E:04252614"].sort());
  });

  test("GS h sets the height, GS w the module, GS H and GS f the readable text's place and font", () => {
    const svg = renderTicket(Uint8Array.from([0x1d, 0x68, 40, 0x1d, 0x77, 2, 0x1d, 0x48, 3, 0x1d, 0x66, 1, 0x1b, 0x61, 1,
      0x1d, 0x6b, 3, ...ascii("9638507"), 0]));
    const drawn = bars(svg);
    assert.deepEqual([Math.min(...drawn.map((r) => r[2])), new Set(drawn.map((r) => r[3])).size, drawn[0][3]], [2, 1, 40]);
    // 67 modules of 2 dots, centred; text above and below in font B.
    const width = 67 * 2;
    assert.equal(drawn[0][0], 32 + (576 - width) / 2);
    const [above, below] = texts(svg);
    assert.deepEqual([above.text, below.text, above.size, below.size], ["96385074", "96385074", 15, 15]);
    assert.deepEqual([drawn[0][1] - above.y, below.y - (drawn[0][1] + 40)], [17 + 4, 4]);
    // No text, and a module of 6 with the wide elements 2.5 times the narrow.
    const wide = renderTicket(Uint8Array.from([0x1d, 0x48, 0, 0x1d, 0x77, 6, 0x1d, 0x6b, 5, ...ascii("12"), 0]));
    assert.deepEqual([texts(wide).length, [...new Set(bars(wide).map((r) => r[2]))].sort()], [0, [15, 6]]);
  });

  test("data the printer refuses, and a barcode wider than the paper, are marked and not drawn", () => {
    for (const bytes of [[0x1d, 0x6b, 2, ...ascii("4006381333932"), 0], [0x1d, 0x6b, 5, ...ascii("123"), 0],
      [0x1d, 0x6b, 69, 3, ...ascii("abc")], [0x1d, 0x6b, 73, 3, ...ascii("ABC")], [0x1d, 0x6b, 6, ...ascii("1234"), 0],
      [0x1d, 0x6b, 1, ...ascii("2123456"), 0], [0x1d, 0x77, 6, 0x1d, 0x6b, 4, ...ascii("WIDER THAN 80 MM"), 0],
      [0x1d, 0x6b, 74, 2, ...ascii("12")]]) {
      const svg = renderTicket(Uint8Array.from([...bytes, ...ascii("ok\n")]));
      assert.deepEqual([paths(svg).length, marks(svg, "skip").length, texts(svg).map((t) => t.text)], [0, 1, ["ok"]],
        String.fromCharCode(...bytes));
    }
  });
});
