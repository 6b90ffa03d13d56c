// Text, its styles, code pages, feeds, cuts, pulses and the commands the drawing skips, in tickets
// made by a published encoder (with raw bytes where a test needs what the encoder will not send).
import assert from "node:assert/strict";
import { describe, test } from "node:test";

import { encoder, lines, marks, rects, renderTicket, texts } from "./drawing.js";

const ascii = (s) => Array.from(s, (c) => c.charCodeAt(0));
const draw = (e, paper) => renderTicket(e.encode(), paper && { paper });
// The top of each text's cell, relative to the first one's.
const tops = (svg) => texts(svg).map((t, _, all) => t.y - all[0].y);

describe("text, wrapping, tabs and feeds", () => {
  test("a line wraps where the printer's runs out: 48/64 characters on 80 mm, 32/42 on 58 mm", () => {
    const long = ascii("0123456789".repeat(7));
    for (const [paper, font, count] of [[80, "A", 48], [80, "B", 64], [58, "A", 32], [58, "B", 42]]) {
      const svg = draw(encoder().font(font).raw(long).newline(), paper);
      const all = "0123456789".repeat(7);
      assert.deepEqual(lines(svg), [all.slice(0, count), all.slice(count, 2 * count), all.slice(2 * count)].filter(Boolean),
        `${paper} mm, font ${font}`);
      const [first] = texts(svg);
      assert.equal(first.length / first.text.length, font === "A" ? 12 : 9);
      assert.equal(first.x, paper === 80 ? 32 : 40);
    }
    // A double-width character that no longer fits goes to the next line whole.
    assert.deepEqual(lines(draw(encoder().size(2, 1).raw(ascii("x".repeat(25))).newline())),
      ["x".repeat(24), "x"]);
  });

  test("LF, ESC d, ESC J, ESC 2 and ESC 3 move the paper; tall characters make their line taller", () => {
    const svg = draw(encoder().raw([...ascii("a\nb"), 0x1b, 0x33, 50, 0x0a, ...ascii("c"), 0x1b, 0x64, 3,
      ...ascii("d"), 0x1b, 0x4a, 100, ...ascii("e"), 0x1b, 0x32, 0x0a, 0x1d, 0x21, 0x02, ...ascii("f\r\n"),
      0x1d, 0x21, 0x00, ...ascii("g\n")]));
    assert.deepEqual(lines(svg), ["a", "b", "c", "d", "e", "f", "g"]);
    assert.deepEqual(tops(svg), [0, 30, 80, 230, 330, 360, 432]);
  });

  test("HT goes to the next stop, every 8 characters or where ESC D puts them", () => {
    assert.deepEqual(lines(draw(encoder().raw(ascii("a\tbc\td\n")))), ["a       bc      d"]);
    // Browsers keep a text's spaces only when the text element itself asks.
    assert.ok(texts(draw(encoder().line("a   b").barcode("A B", "code39", 40))).every((t) => t.preserve));
    // Measured in the characters of the font and size in use.
    const wide = texts(draw(encoder().raw([0x1b, 0x21, 0x21, ...ascii("\ta\n")])));
    assert.deepEqual(wide.map((t) => [t.text, t.x - 32, t.length * t.scale[0]]), [["        a", 0, 9 * 18]]);
    // Stops at 4 and 10 characters; past the last one HT does nothing.
    assert.deepEqual(lines(draw(encoder().raw([0x1b, 0x44, 4, 10, 0, ...ascii("a\tb\tc\td\n")]))), ["a   b     cd"]);
    // ESC D NUL clears them all.
    assert.deepEqual(lines(draw(encoder().raw([0x1b, 0x44, 0, ...ascii("a\tb\n")]))), ["ab"]);
  });

  test("ESC @ discards the line and brings every setting back", () => {
    const svg = draw(encoder().bold().size(3, 3).align("right").raw([...ascii("lost"), 0x1b, 0x40, ...ascii("x\n")]));
    assert.deepEqual(lines(svg), ["x"]);
    const [x] = texts(svg);
    assert.deepEqual([x.bold, x.scale, x.x], [false, [1, 1], 32]);
  });

  test("text is escaped for XML", () => {
    assert.deepEqual(lines(draw(encoder().line('<a href="x">&amp;</a>'))), ['<a href="x">&amp;</a>']);
    assert.doesNotMatch(draw(encoder().line("<&>")), /<&>/);
  });
});

describe("character styles, alignment, margins and rotation", () => {
  test("ESC ! selects font B, emphasis, double height and width and underline at once", () => {
    const svg = draw(encoder().raw([0x1b, 0x21, 0x01 | 0x08 | 0x10 | 0x20 | 0x80, ...ascii("ab"), 0x1b, 0x21, 0,
      ...ascii("c\n")]));
    const [big, plain] = texts(svg);
    assert.deepEqual([big.text, big.bold, big.scale, big.size, big.length], ["ab", true, [2, 2], 15, 18]);
    assert.deepEqual([plain.text, plain.bold, plain.scale, plain.size, plain.x - big.x], ["c", false, [1, 1], 20, 36]);
    // Underlined, one dot thick, under both double-width characters: 36 dots.
    assert.match(svg, /<rect x="32" y="\d+" width="36" height="1"\/>/);
  });

  test("ESC E, ESC G, ESC - (1 and 2 dots), GS B, GS ! up to 8 times, ESC M", () => {
    const svg = draw(encoder().bold().text("b").bold().raw([0x1b, 0x47, 1, ...ascii("g"), 0x1b, 0x47, 0])
      .underline().text("u").underline().raw([0x1b, 0x2d, 2, ...ascii("w"), 0x1b, 0x2d, 0]).invert().text("i").invert()
      .raw([0x1d, 0x21, 0x77, ...ascii("8"), 0x1d, 0x21, 0x00]).newline().font("B").line("small"));
    const by = Object.fromEntries(texts(svg).map((t) => [t.text, t]));
    assert.deepEqual([by.bg.bold, by.u.bold], [true, false]);
    assert.deepEqual([by.i.white, by["8"].scale, by.small.size, by.small.y - by["8"].y], [true, [8, 8], 15, 192]);
    const x = (ch) => by[ch].x;
    for (const [ch, thickness] of [["u", 1], ["w", 2]]) {
      assert.match(svg, new RegExp(`<rect x="${x(ch)}" y="\\d+" width="12" height="${thickness}"/>`), ch);
    }
    // Reverse: a black cell behind white text.
    assert.match(svg, new RegExp(`<rect x="${x("i")}" y="${by.i.y}" width="12" height="24"/>`));
  });

  test("ESC a centres and right-aligns the line it begins; GS L and GS W set the margins", () => {
    const placed = (e) => texts(draw(e)).map((t) => t.x - 32);
    assert.deepEqual(placed(encoder().raw([0x1b, 0x61, 1, ...ascii("abcd"), 0x1b, 0x61, 2, ...ascii("ef\n"), 0x1b,
      0x61, 0x32, ...ascii("g\n")])), [(576 - 72) / 2, 576 - 12]);
    // A 100-dot left margin and a 240-dot area: 20 characters a line from dot 100.
    const svg = draw(encoder().raw([0x1d, 0x4c, 100, 0, 0x1d, 0x57, 240, 0, ...ascii("x".repeat(25)), 0x0a, 0x1b,
      0x61, 2, ...ascii("y\n")]));
    assert.deepEqual(lines(svg), ["x".repeat(20), "xxxxx", "y"]);
    assert.deepEqual(texts(svg).map((t) => t.x - 32), [100, 100, 100 + 240 - 12]);
  });

  test("ESC { turns the line upside down about the middle of the printing area", () => {
    const svg = draw(encoder().raw([0x1b, 0x7b, 1, ...ascii("abc\n"), 0x1b, 0x7b, 0, ...ascii("d\n")]));
    assert.match(svg, /<g class="korba-line" transform="rotate\(180 320 28\)"><text[^>]*>abc</);
    assert.match(svg, /<g class="korba-line"><text[^>]*>d</);
  });
});

describe("code pages", () => {
  test("ESC t 0, 2, 3, 4, 5, 16, 17, 18 and 19 show the ticket's characters", () => {
    const words = { cp437: "Año ¿Qué? ½ ß ±", cp850: "Ação Ñandú ® Ø", cp858: "Ñoño 3,50 € ÿ",
      windows1252: "Œuvre “ñ” – 5 € Ÿ", cp860: "Ação à Ó Ò", cp863: "Père Noël Ç ¾", cp865: "Blåbær Øl ¤",
      cp852: "Łódź Příliš ű", cp866: "Привет Ёё №" };
    for (const [page, text] of Object.entries(words)) {
      const bytes = encoder().codepage(page).line(text).encode();
      assert.deepEqual(lines(renderTicket(bytes)), [text], page);
    }
    // The same byte under each page: 0xD5 is ı in PC850, € in PC858.
    const svg = renderTicket(Uint8Array.of(0x1b, 0x74, 2, 0xd5, 0x1b, 0x74, 19, 0xd5, 0x1b, 0x74, 16, 0xd5, 0x1b, 0x74,
      0, 0xd5, 0x0a));
    assert.deepEqual(lines(svg), ["ı€Õ╒"]);
  });

  test("every character of every page reads back as the encoder's own tables put it", () => {
    const names = { 0: "cp437", 2: "cp850", 16: "windows1252", 19: "cp858", 3: "cp860", 4: "cp863", 5: "cp865", 13: "cp857", 14: "cp737", 15: "iso8859-7", 17: "cp866",
      18: "cp852", 33: "cp775", 34: "cp855", 35: "cp861", 36: "cp862", 38: "cp869", 40: "iso8859-15",
      45: "windows1250", 46: "windows1251", 47: "windows1253", 48: "windows1254", 49: "windows1255",
      50: "windows1256", 51: "windows1257", 52: "windows1258" };
    for (const [page, name] of Object.entries(names)) {
      const all = renderTicket(Uint8Array.from([0x1b, 0x74, Number(page), ...Array.from({ length: 128 }, (_, i) => 0x80 + i),
        0x0a]));
      // The encoder writes ¶ and § as the control bytes 0x14 and 0x15, which a printer does not print.
      const chunks = lines(all).join("").replace(/[\ufffd¶§]/g, "").match(/.{1,40}/g);
      const e = encoder().codepage(name);
      for (const chunk of chunks) e.line(chunk);
      assert.deepEqual(lines(renderTicket(e.encode())), chunks, name);
    }
  });

  test("a code page the drawing does not know is marked and the text goes on in the one before", () => {
    const svg = renderTicket(Uint8Array.of(0x1b, 0x74, 19, 0x1b, 0x74, 99, 0xd5, 0x0a));
    assert.deepEqual(lines(svg), ["€"]);
    assert.deepEqual(marks(svg, "skip").map((m) => m["data-bytes"]), ["1b 74 63"]);
  });
});

describe("cuts, drawer pulses and skipped commands", () => {
  test("GS V cuts full and partial in both forms, after the pending line and the feed asked", () => {
    const svg = draw(encoder().raw([...ascii("a"), 0x1d, 0x56, 0, ...ascii("b"), 0x1d, 0x56, 49, 0x1d, 0x56, 65, 40,
      0x1d, 0x56, 66, 0]));
    assert.deepEqual(marks(svg, "cut").map((m) => m.class), ["korba-cut full", "korba-cut partial", "korba-cut full",
      "korba-cut partial"]);
    const cuts = Array.from(svg.matchAll(/<g class="korba-cut[^>]*><title>[^<]*<\/title><line x1="0" y1="(\d+)"/g), (m) => Number(m[1]));
    assert.deepEqual(cuts.map((y) => y - cuts[0]), [0, 24 + 16, 24 + 32 + 40, 24 + 48 + 40]);
    assert.deepEqual(lines(svg), ["a", "b"]);
    assert.deepEqual(marks(draw(encoder().cut("partial").cut()), "cut").map((m) => m.class),
      ["korba-cut partial", "korba-cut full"]);
  });

  test("ESC p and DLE DC4 1 pulse pin 2 or 5 without moving the paper", () => {
    const svg = draw(encoder().pulse(0, 30, 250).pulse(1).raw([0x10, 0x14, 1, 1, 3, ...ascii("a\n")]));
    assert.deepEqual(marks(svg, "pulse").map((m) => [m["data-pin"], m["data-on"], m["data-off"]]),
      [["2", "30", "250"], ["5", "100", "500"], ["5", "300", "300"]]);
    assert.equal(texts(renderTicket(Uint8Array.of(0x1b, 0x70, 0, 50, 250, 0x10, 0x14, 1, 0, 1, 0x41)))[0].y, 16);
  });

  test("other commands are skipped by their length and marked; their parameters never print", () => {
    const commands = [
      [0x1d, 0x28, 0x41, 2, 0, 0x41, 0x42], // GS ( A: test print
      [0x1b, 0x26, 3, 0x41, 0x42, 2, ...Array(6).fill(0x41), 1, 0x41, 0x41, 0x41], // ESC &: two user characters
      [0x1c, 0x71, 1, 1, 0, 1, 0, ...Array(8).fill(0x41)], // FS q: one 8x8 stored image
      [0x1d, 0x38, 0x4c, 3, 0, 0, 0, 0x30, 0x41, 0x41], // GS 8 L
      [0x1b, 0x57, 0, 0, 0, 0, 0x41, 0x41, 0x41, 0x41], // ESC W
      [0x1d, 0x2a, 1, 1, ...Array(8).fill(0x41)], // GS *
      [0x1c, 0x70, 1, 0x41], // FS p
      [0x1b, 0x34, 0x41], // ESC 4: italic, which some printers have
    ];
    const svg = renderTicket(Uint8Array.from([...commands.flat(), ...ascii("ok\n")]));
    assert.deepEqual(lines(svg), ["ok"]);
    assert.deepEqual(marks(svg, "skip").map((m) => m["data-bytes"]),
      commands.map((c) => c.slice(0, 8).map((b) => b.toString(16).padStart(2, "0")).join(" ")));
    // Status queries, motion units and the like leave nothing on the paper.
    assert.deepEqual(marks(renderTicket(Uint8Array.of(0x10, 0x04, 1, 0x1d, 0x50, 180, 180, 0x1c, 0x2e, 0x1b, 0x3d, 1)),
      "skip"), []);
  });

  test("a command cut short at the end is marked; no sequence of bytes throws", () => {
    for (const tail of [[0x1b], [0x1d, 0x76, 0x30, 0, 2, 0, 2, 0, 0xff], [0x1b, 0x2a, 33, 10, 0], [0x1d, 0x28, 0x6b, 9]]) {
      const svg = renderTicket(Uint8Array.from([...ascii("a\n"), ...tail]));
      assert.deepEqual([lines(svg), marks(svg, "skip").length], [["a"], 1], tail.join(" "));
    }
    let seed = 7;
    const random = () => (seed = (seed * 1103515245 + 12345) % 2 ** 31) / 2 ** 31;
    const prefixes = [0x1b, 0x1d, 0x1c, 0x10, 0x0a, 0x09];
    for (let i = 0; i < 3000; i++) {
      const bytes = Uint8Array.from({ length: 1 + Math.floor(random() * 40) },
        () => (random() < 0.3 ? prefixes[Math.floor(random() * prefixes.length)] : Math.floor(random() * 256)));
      const svg = renderTicket(bytes, { paper: i % 2 ? 58 : 80 });
      assert.match(svg, /^<svg [^]*<\/svg>$/, Buffer.from(bytes).toString("hex"));
    }
  });

  test("every mark says in its title what it stands for", () => {
    const svg = renderTicket(Uint8Array.from([0x1b, 0x5a, 0, 0x58, 4, 1, 0, 0x41, 0x1b, 0x74, 99, 0x1d, 0x6b, 2,
      ...ascii("4006381333932"), 0, 0x1d, 0x77, 6, 0x1d, 0x6b, 4, ...ascii("WIDER THAN 80 MM"), 0, 0x1d, 0x28, 0x6b,
      3, 0, 49, 67, 16, 0x1d, 0x28, 0x6b, 103, 0, 49, 80, 48, ...Array(100).fill(0x61), 0x1d, 0x28, 0x6b, 3, 0, 49, 81, 48,
      0x1b, 0x70, 0, 25, 250, 0x1d, 0x56, 1, 0x1d, 0x56, 0, 0x1b, 0x2a, 33, 10]));
    assert.deepEqual(Array.from(svg.matchAll(/<title>([^<]*)<\/title>/g), (m) => m[1]), [
      "datos rechazados 1B 5A 00 58 04 01 00 41", "orden desconocida 1B 74 63",
      "datos rechazados 1D 6B 02 34 30 30 36 33 ...", "codigo de barras demasiado ancho", "codigo QR demasiado ancho",
      "pulso del cajon pin 2, 50/500 ms", "corte parcial", "corte total", "orden incompleta 1B 2A 21 0A"]);
  });

  test("a ticket too large to draw stops at a bound of elements, characters and paper, with one mark", () => {
    const MiB = 1 << 20;
    // Alternating dots, in a checkerboard that no rectangle spans: images of 72 bytes a row.
    const checker = (size) => {
      const bytes = new Uint8Array(size);
      for (let at = 0, rows; (rows = Math.min(65535, Math.floor((size - at - 8) / 72))) > 0; at += 8 + 72 * rows) {
        bytes.set([0x1d, 0x76, 0x30, 0, 72, 0, rows & 0xff, rows >> 8], at);
        for (let r = 0; r < rows; r++) bytes.fill(r % 2 ? 0xaa : 0x55, at + 8 + 72 * r, at + 80 + 72 * r);
      }
      return bytes;
    };
    const qr = [0x1d, 0x28, 0x6b, 0x8c, 0x0b, 49, 80, 48, ...Array(2953).fill(0x61), 0x1d, 0x28, 0x6b, 3, 0, 49, 67, 1];
    const tickets = {
      "a barcode of 300 kB": Uint8Array.from([0x1d, 0x6b, 4, ...Array(300000).fill(0x41), 0, ...ascii("fin\n")]),
      "the largest QR code printed 2000 times": Uint8Array.from([...qr, ...Array(2000).fill([0x1d, 0x28, 0x6b, 3, 0, 49,
        81, 48]).flat()]),
      "1 MiB of alternating dots": checker(MiB),
      "8 MiB of alternating dots": checker(8 * MiB),
      "8 MiB of text": new Uint8Array(8 * MiB).fill(0x41),
      "8 MiB of characters written over each other": Uint8Array.from({ length: 8 * MiB }, (_, i) => [0x1b, 0x24, 0, 0, 0x26][i % 5]),
      "8 MiB of line feeds": new Uint8Array(8 * MiB).fill(0x0a),
    };
    for (const [name, bytes] of Object.entries(tickets)) {
      const svg = renderTicket(bytes), elements = svg.match(/<[^/]/g).length;
      assert.ok(svg.length < 4.1 * MiB && elements < 20100 && Number(/height="(\d+)"/.exec(svg)[1]) < 1.1 * MiB, name);
      assert.match(svg, /^<svg [^]*<\/svg>$/, name);
      if (name !== "a barcode of 300 kB") assert.equal(marks(svg, "too-large").length, 1, name);
    }
    assert.deepEqual(lines(renderTicket(tickets["a barcode of 300 kB"])), ["fin"]);
    // An image is drawn down to the row where the bound falls: 288 rectangles a row.
    assert.ok(rects(renderTicket(tickets["1 MiB of alternating dots"])).length > 1000 * 288);
  });

  test("only 58 and 80 mm paper; only bytes", () => {
    assert.throws(() => renderTicket("A\n"), TypeError);
    assert.deepEqual(lines(renderTicket(Uint8Array.of(0x41, 0x0a).buffer)), ["A"]);
    assert.throws(() => renderTicket(Uint8Array.of(0x41), { paper: 76 }), RangeError);
    assert.match(renderTicket(Uint8Array.of(0x41), { paper: 58 }), /^<svg [^>]*width="464"/);
  });
});
