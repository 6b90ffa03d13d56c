// Draws the bytes of an ESC/POS ticket as a 203 dpi thermal printer prints them: an SVG string,
// made without a DOM, the same in Node and in a browser. One SVG unit is one printer dot.
// Text is SVG <text> (so it can be read and searched on the page), images, barcodes and QR codes
// are filled paths, cuts and drawer pulses are marks, and every command the drawing does not
// interpret is skipped by its length and marked in the left margin.

const PAPERS = {
  80: { paper: 640, print: 576 },
  58: { paper: 464, print: 384 },
};
// Cell width and height in dots; the SVG font size and baseline that fill that cell.
const FONTS = [
  { w: 12, h: 24, size: 20, base: 19 },
  { w: 9, h: 17, size: 15, base: 13 },
];
const TOP = 16;
const BOTTOM = 16;
const DEFAULT_SPACING = 30;
const CUT_GAP = 16;

const DOS_HIGH =
  "ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ";
const BOX_437 = "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀";
const PC437 = DOS_HIGH + "¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»" + BOX_437 +
  "αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0";
const PC850 = DOS_HIGH + "ø£Ø×ƒáíóúñÑªº¿®¬½¼¡«»░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦╠═╬¤ðÐÊËÈıÍÎÏ┘┌█▄¦Ì▀" +
  "ÓßÔÒõÕµþÞÚÛÙýÝ¯´\u00ad±‗¾¶§÷¸°¨·¹³²■\u00a0";
const PC858 = PC850.slice(0, 0x55) + "€" + PC850.slice(0x56);
const WPC1252 = "€\ufffd‚ƒ„…†‡ˆ‰Š‹Œ\ufffdŽ\ufffd\ufffd‘’“”•–—˜™š›œ\ufffdžŸ" +
  Array.from({ length: 96 }, (_, i) => String.fromCharCode(0xa0 + i)).join("");
// ESC t page number -> the characters of bytes 0x80 to 0xFF, and what 0x7F shows.
const CODE_PAGES = {
  0: { high: PC437, del: "⌂" },
  2: { high: PC850, del: "⌂" },
  16: { high: WPC1252, del: "\ufffd" },
  19: { high: PC858, del: "⌂" },
};

const ESC = 0x1b, GS = 0x1d, FS = 0x1c, DLE = 0x10;

function xml(text) {
  return text.replace(/[&<>"]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
}

function hex(bytes) {
  return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join(" ");
}

function defaultTabs() {
  return Array.from({ length: 32 }, (_, i) => (i + 1) * 8);
}

// The settings ESC @ restores.
function initialState(print) {
  return {
    font: 0, bold: false, strike: false, underline: 0, reverse: false, wide: 1, high: 1, upside: false,
    align: 0, spacing: DEFAULT_SPACING, charSpacing: 0, tabs: defaultTabs(), codePage: 0,
    left: 0, width: print,
    barHeight: 162, barWidth: 3, hri: 0, hriFont: 0,
    qrSize: 3, qrLevel: 0, qrData: null,
  };
}

// Horizontal runs of set bits as one path: `bit(c, r)` for a grid of cols x rows cells drawn
// sx x sy dots each from (x0, y0).
function bitsPath(x0, y0, cols, rows, sx, sy, bit) {
  let d = "";
  for (let r = 0; r < rows; r++) {
    for (let c = 0; c < cols;) {
      if (!bit(c, r)) { c++; continue; }
      let end = c + 1;
      while (end < cols && bit(end, r)) end++;
      d += `M${x0 + c * sx} ${y0 + r * sy}h${(end - c) * sx}v${sy}h${-(end - c) * sx}z`;
      c = end;
    }
  }
  return d ? `<path d="${d}"/>` : "";
}

class Ticket {
  constructor(paper) {
    this.paper = PAPERS[paper];
    this.margin = (this.paper.paper - this.paper.print) / 2;
    this.s = initialState(this.paper.print);
    this.y = TOP;
    this.out = [];
    this.marks = 0;
    this.newLine();
  }

  newLine() {
    this.line = { items: [], x: 0, started: false, align: 0, left: 0, width: 0, upside: false };
  }

  // The line takes the alignment, margins and rotation in force where it begins.
  begin() {
    const l = this.line, s = this.s;
    if (l.started) return;
    l.started = true;
    l.align = s.align;
    l.left = Math.min(s.left, this.paper.print - 1);
    l.width = Math.max(1, Math.min(s.width, this.paper.print - l.left));
    l.upside = s.upside;
  }

  areaWidth() {
    this.begin();
    return this.line.width;
  }

  // Prints the line and moves the paper by `feed` dots or the line's height, whichever is more.
  flush(feed) {
    const l = this.line;
    const height = l.items.reduce((h, item) => Math.max(h, item.h), 0);
    if (l.items.length) {
      const offset = Math.floor((l.width - Math.min(l.x, l.width)) * [0, 0.5, 1][l.align]);
      const x = this.margin + l.left + offset;
      const parts = l.items.map((item) => item.draw(x + item.x, this.y + height - item.h));
      const cx = this.margin + l.left + l.width / 2, cy = this.y + height / 2;
      const rotate = l.upside ? ` transform="rotate(180 ${cx} ${cy})"` : "";
      this.out.push(`<g class="korba-line"${rotate}>${parts.join("")}</g>`);
    }
    this.y += Math.max(feed, height);
    this.newLine();
  }

  // Prints what the line holds, if anything, before a block of its own (image, barcode, QR).
  flushPending() {
    if (this.line.items.length) this.flush(0);
    else this.newLine();
  }

  char(ch) {
    const s = this.s, f = FONTS[s.font];
    const w = f.w * s.wide, pitch = (f.w + s.charSpacing) * s.wide;
    if (this.line.x > 0 && this.line.x + w > this.areaWidth()) this.flush(s.spacing);
    this.begin();
    this.textRun(s, f, pitch, true).chars.push(ch);
    this.line.x += pitch;
  }

  // The run that the next character of this style joins: the last one when it ends where the
  // character goes, a new one otherwise.
  textRun(s, f, pitch, decorated) {
    const items = this.line.items, last = items[items.length - 1];
    const key = [s.font, s.bold || s.strike, decorated && s.underline, decorated && s.reverse, s.wide, s.high,
      pitch].join();
    if (last && last.key === key && last.x + last.chars.length * pitch === this.line.x) return last;
    const style = { bold: s.bold || s.strike, underline: decorated ? s.underline : 0, reverse: decorated && s.reverse };
    const { wide, high } = s;
    const run = {
      key, x: this.line.x, h: f.h * high, chars: [],
      draw: (x, y) => textSvg(run, x, y, f, pitch / wide, wide, high, style),
    };
    items.push(run);
    return run;
  }

  tab() {
    const s = this.s, f = FONTS[s.font], pitch = (f.w + s.charSpacing) * s.wide;
    const stop = s.tabs.map((t) => t * pitch).find((x) => x > this.line.x);
    if (stop === undefined || stop > this.areaWidth()) return;
    const run = this.textRun(s, f, pitch, false);
    while (this.line.x < stop) {
      run.chars.push(" ");
      this.line.x += pitch;
    }
    this.line.x = stop;
  }

  // Something drawn in the line like a character (an ESC * bit image); cut at the line's end.
  inline(w, h, draw) {
    const room = this.areaWidth() - this.line.x;
    if (room <= 0) return;
    const x = this.line.x;
    this.line.items.push({ x, h, draw: (dx, dy) => draw(dx, dy, Math.min(w, room)) });
    this.line.x += Math.min(w, room);
  }

  // A block that is printed on its own: `w` dots wide, `h` tall, placed by the alignment.
  block(w, h, draw) {
    this.flushPending();
    const area = this.areaWidth(), l = this.line;
    const offset = Math.max(0, Math.floor((area - w) * [0, 0.5, 1][l.align]));
    this.out.push(draw(this.margin + l.left + offset, this.y, area));
    this.y += h;
    this.newLine();
  }

  cut(partial) {
    this.flushPending();
    const y = this.y + CUT_GAP / 2, w = this.paper.paper;
    const dash = `stroke="#777" stroke-width="2" stroke-dasharray="8 6"`;
    const lines = partial
      ? `<line x1="0" y1="${y}" x2="${w * 7 / 16}" y2="${y}" ${dash}/>` +
        `<line x1="${w * 9 / 16}" y1="${y}" x2="${w}" y2="${y}" ${dash}/>`
      : `<line x1="0" y1="${y}" x2="${w}" y2="${y}" ${dash}/>`;
    this.out.push(`<g class="korba-cut ${partial ? "partial" : "full"}">${lines}</g>`);
    this.y += CUT_GAP;
  }

  // A drawer pulse on pin 2 or 5, `on` and `off` in milliseconds, marked in the right margin.
  pulse(pin, on, off) {
    const x = this.paper.paper - this.margin + 4, y = this.y, w = this.margin - 8;
    this.out.push(`<g class="korba-pulse" data-pin="${pin}" data-on="${on}" data-off="${off}">` +
      `<rect x="${x}" y="${y}" width="${w}" height="16" fill="#fff" stroke="#1a5fb4" stroke-width="2"/>` +
      `<rect x="${x + w / 2 - 4}" y="${y + 6}" width="8" height="3" fill="#1a5fb4"/></g>`);
  }

  // A command the drawing does not interpret, or one cut short by the end of the ticket.
  skipped(bytes) {
    const x = 2 + (this.marks++ % 3) * 8;
    this.out.push(`<rect class="korba-skip" data-bytes="${hex(bytes.subarray(0, 8))}" x="${x}" y="${this.y}"` +
      ` width="6" height="6" fill="#c01c28"/>`);
  }

  svg() {
    if (this.line.items.length) this.flush(0);
    const { paper } = this.paper, height = this.y + BOTTOM;
    return `<svg xmlns="http://www.w3.org/2000/svg" class="korba-ticket" width="${paper}" height="${height}"` +
      ` viewBox="0 0 ${paper} ${height}" font-family="monospace" xml:space="preserve" style="white-space:pre"` +
      ` shape-rendering="crispEdges"><rect class="korba-paper" width="${paper}" height="${height}" fill="#fff"/>` +
      `<g fill="#000">${this.out.join("")}</g></svg>`;
  }
}

function textSvg(run, x, y, f, pitch, wide, high, { bold, underline, reverse }) {
  const n = run.chars.length, width = n * pitch * wide, h = f.h * high;
  let out = "";
  if (reverse) out += `<rect x="${x}" y="${y}" width="${width}" height="${h}"/>`;
  if (underline) out += `<rect x="${x}" y="${y + h - underline}" width="${width}" height="${underline}"/>`;
  const xs = Array.from({ length: n }, (_, i) => i * pitch).join(" ");
  const scale = wide !== 1 || high !== 1 ? ` scale(${wide} ${high})` : "";
  out += `<text transform="translate(${x} ${y})${scale}" x="${xs}" y="${f.base}" font-size="${f.size}"` +
    `${bold ? ' font-weight="bold"' : ""}${reverse ? ' fill="#fff"' : ""}>${xml(run.chars.join(""))}</text>`;
  return out;
}

// The commands. Each handler gets the ticket, the bytes and the position of its first byte, and
// returns the position after the command; `need` says how many bytes the command has, so that
// one cut short by the end of the ticket is marked and ends the drawing.
function lengthOf(data, at, count) {
  return at + count <= data.length ? at + count : -1;
}

function word(data, at) {
  return data[at] | (data[at + 1] << 8);
}

// ESC commands that change nothing on the paper of this drawing, by their total length.
const ESC_QUIET = { 0x3d: 3, 0x55: 3, 0x75: 3, 0x76: 2, 0x63: 4, 0x3c: 2, 0x53: 2 };
// GS commands that change nothing on the paper, by their total length.
const GS_QUIET = { 0x50: 4, 0x61: 3, 0x62: 3, 0x49: 3, 0x72: 3, 0x6a: 3, 0x7a: 4 };

function esc(t, data, at) {
  const s = t.s, c = data[at + 1], n = data[at + 2];
  const fixed = (count, apply) => {
    const end = lengthOf(data, at, count);
    if (end >= 0) apply();
    return end;
  };
  switch (c) {
    case 0x20: return fixed(3, () => { s.charSpacing = n; });
    case 0x21: return fixed(3, () => {
      Object.assign(s, { font: n & 1, bold: !!(n & 8), high: n & 16 ? 2 : 1, wide: n & 32 ? 2 : 1,
        underline: n & 128 ? 1 : 0 });
    });
    case 0x24: return fixed(4, () => { t.begin(); t.line.x = Math.min(word(data, at + 2), t.line.width); });
    case 0x5c: return fixed(4, () => {
      t.begin();
      const rel = (word(data, at + 2) << 16) >> 16;
      t.line.x = Math.max(0, Math.min(t.line.x + rel, t.line.width));
    });
    case 0x2a: return bitImage(t, data, at);
    case 0x2d: return fixed(3, () => { s.underline = underlineOf(n); });
    case 0x32: return fixed(2, () => { s.spacing = DEFAULT_SPACING; });
    case 0x33: return fixed(3, () => { s.spacing = n; });
    case 0x40: return fixed(2, () => { t.s = initialState(t.paper.print); t.newLine(); });
    case 0x44: {
      let end = at + 2;
      while (end < data.length && data[end] !== 0 && end - at - 2 < 32) end++;
      if (end >= data.length) return -1;
      const stops = [];
      for (const v of data.subarray(at + 2, end)) if (!stops.length || v > stops[stops.length - 1]) stops.push(v);
      s.tabs = stops;
      return data[end] === 0 ? end + 1 : end;
    }
    case 0x45: return fixed(3, () => { s.bold = !!(n & 1); });
    case 0x47: return fixed(3, () => { s.strike = !!(n & 1); });
    case 0x4a: return fixed(3, () => t.flush(n));
    case 0x4d: return fixed(3, () => { s.font = n === 1 || n === 49 ? 1 : 0; });
    case 0x61: return fixed(3, () => { s.align = [0, 1, 2][n % 48] ?? 0; });
    case 0x64: return fixed(3, () => t.flush(n * s.spacing));
    case 0x69: case 0x6d: return fixed(2, () => t.cut(true));
    case 0x70: return fixed(5, () => t.pulse(data[at + 2] & 1 ? 5 : 2, data[at + 3] * 2, data[at + 4] * 2));
    case 0x74: return fixed(3, () => {
      if (CODE_PAGES[n]) s.codePage = n;
      else t.skipped(data.subarray(at, at + 3));
    });
    case 0x52: return fixed(3, () => n && t.skipped(data.subarray(at, at + 3)));
    case 0x7b: return fixed(3, () => { s.upside = !!(n & 1); });
    case 0x26: return userCharacters(data, at, t);
    case 0x28: return skipSized(t, data, at, 3);
    case 0x57: return skipFixed(t, data, at, 10);
    default: {
      if (ESC_QUIET[c]) return lengthOf(data, at, ESC_QUIET[c]);
      // The rest of ESC's commands take one parameter byte, or none.
      const count = [0x25, 0x3f, 0x54, 0x56, 0x65, 0x72].includes(c) ? 3 : 2;
      return skipFixed(t, data, at, count);
    }
  }
}

function underlineOf(n) {
  return [0, 1, 2][n % 48] ?? 0;
}

function skipFixed(t, data, at, count) {
  const end = lengthOf(data, at, count);
  if (end >= 0) t.skipped(data.subarray(at, end));
  return end;
}

// A command whose two bytes after `head` bytes give the length of what follows (xx ( fn pL pH ...).
function skipSized(t, data, at, head) {
  const end = lengthOf(data, at, head + 2) >= 0 ? lengthOf(data, at, head + 2 + word(data, at + head)) : -1;
  if (end >= 0) t.skipped(data.subarray(at, end));
  return end;
}

// ESC & y c1 c2 [x d1 ... d(y * x)] for each character from c1 to c2: user-defined characters.
function userCharacters(data, at, t) {
  if (lengthOf(data, at, 5) < 0) return -1;
  const y = data[at + 2], first = data[at + 3], last = data[at + 4];
  let end = at + 5;
  for (let c = first; c <= last && end <= data.length; c++) {
    if (end >= data.length) return -1;
    end += 1 + y * data[end];
  }
  if (end > data.length) return -1;
  t.skipped(data.subarray(at, end));
  return end;
}

// ESC * m nL nH d: a bit image in the line, column by column, 8 or 24 dots a column.
function bitImage(t, data, at) {
  if (lengthOf(data, at, 5) < 0) return -1;
  const m = data[at + 2], cols = word(data, at + 3);
  const tall = m >= 32 ? 24 : 8, bytes = tall / 8;
  const end = lengthOf(data, at, 5 + cols * bytes);
  if (end < 0) return -1;
  if (![0, 1, 32, 33].includes(m)) {
    t.skipped(data.subarray(at, end));
    return end;
  }
  // Single density halves the dots across; the 8-dot modes are a third of the 24-dot height.
  const sx = m & 1 ? 1 : 2, sy = tall === 8 ? 3 : 1;
  const bits = data.slice(at + 5, end);
  const bit = (c, r) => (bits[c * bytes + (r >> 3)] >> (7 - (r & 7))) & 1;
  t.inline(cols * sx, tall * sy, (x, y, w) => bitsPath(x, y, Math.ceil(w / sx), tall, sx, sy, bit));
  return end;
}

// GS v 0 m xL xH yL yH d: a raster image, row by row, printed as a block of its own.
function rasterImage(t, data, at) {
  if (lengthOf(data, at, 8) < 0) return -1;
  const m = data[at + 3], rowBytes = word(data, at + 4), rows = word(data, at + 6);
  const end = lengthOf(data, at, 8 + rowBytes * rows);
  if (end < 0) return -1;
  const sx = m & 1 ? 2 : 1, sy = m & 2 ? 2 : 1;
  const bits = data.slice(at + 8, end);
  const bit = (c, r) => (bits[r * rowBytes + (c >> 3)] >> (7 - (c & 7))) & 1;
  const width = rowBytes * 8 * sx;
  t.block(width, rows * sy, (x, y, area) => bitsPath(x, y, Math.min(rowBytes * 8, Math.floor(area / sx)), rows,
    sx, sy, bit));
  return end;
}

function gs(t, data, at) {
  const s = t.s, c = data[at + 1], n = data[at + 2];
  const fixed = (count, apply) => {
    const end = lengthOf(data, at, count);
    if (end >= 0) apply();
    return end;
  };
  switch (c) {
    case 0x21: return fixed(3, () => { s.wide = ((n >> 4) & 7) + 1; s.high = (n & 7) + 1; });
    case 0x42: return fixed(3, () => { s.reverse = !!(n & 1); });
    case 0x4c: return fixed(4, () => { s.left = word(data, at + 2); });
    case 0x57: return fixed(4, () => { s.width = word(data, at + 2); });
    case 0x56: return cutCommand(t, data, at);
    case 0x76: return n === 0x30 ? rasterImage(t, data, at) : skipFixed(t, data, at, 3);
    case 0x68: return fixed(3, () => { s.barHeight = n || 1; });
    case 0x77: return fixed(3, () => { s.barWidth = Math.min(Math.max(n, 1), 6); });
    case 0x48: return fixed(3, () => { s.hri = n % 48 & 3; });
    case 0x66: return fixed(3, () => { s.hriFont = n % 48 === 1 ? 1 : 0; });
    case 0x6b: return barcodeCommand(t, data, at);
    case 0x28: return n === 0x6b ? symbolCommand(t, data, at) : skipSized(t, data, at, 3);
    case 0x2a: return lengthOf(data, at, 4) < 0 ? -1 : skipFixed(t, data, at, 4 + data[at + 2] * data[at + 3] * 8);
    case 0x38: {
      if (lengthOf(data, at, 7) < 0) return -1;
      const size = data[at + 3] + data[at + 4] * 0x100 + data[at + 5] * 0x10000 + data[at + 6] * 0x1000000;
      return skipFixed(t, data, at, 7 + size);
    }
    default: {
      if (GS_QUIET[c]) return lengthOf(data, at, GS_QUIET[c]);
      const count = [0x3a, 0x63].includes(c) ? 2 : [0x24, 0x5c].includes(c) ? 4 : c === 0x5e ? 5
        : c === 0x67 ? 6 : 3;
      return skipFixed(t, data, at, count);
    }
  }
}

// GS V m [n]: a full or partial cut, with the paper fed n dots first in the forms that take n.
function cutCommand(t, data, at) {
  if (lengthOf(data, at, 3) < 0) return -1;
  const m = data[at + 2];
  if ([0, 1, 48, 49].includes(m)) {
    t.cut(m & 1);
    return at + 3;
  }
  const end = lengthOf(data, at, 4);
  if (end < 0) return -1;
  if ([65, 66, 97, 98, 103, 104].includes(m)) {
    t.flushPending();
    t.y += data[at + 3];
    t.cut(!(m & 1));
  } else {
    t.skipped(data.subarray(at, end));
  }
  return end;
}

function barcodeCommand(t, data, at) {
  if (lengthOf(data, at, 3) < 0) return -1;
  t.skipped(data.subarray(at, at + 3));
  return at + 3;
}

function symbolCommand(t, data, at) {
  return skipSized(t, data, at, 3);
}

function fs(t, data, at) {
  const c = data[at + 1];
  if (c === 0x28) return skipSized(t, data, at, 3);
  if (c === 0x32) return skipFixed(t, data, at, 76);
  if (c === 0x71) return nvImages(t, data, at);
  if (c === 0x2e) return at + 2;
  const count = c === 0x26 ? 2 : [0x53, 0x70].includes(c) ? 4 : 3;
  return skipFixed(t, data, at, count);
}

// FS q n [xL xH yL yH d1 ... d(x * y * 8)] n times: stored images.
function nvImages(t, data, at) {
  if (lengthOf(data, at, 3) < 0) return -1;
  let end = at + 3;
  for (let i = 0; i < data[at + 2]; i++) {
    if (lengthOf(data, end, 4) < 0) return -1;
    end += 4 + word(data, end) * word(data, end + 2) * 8;
  }
  return end > data.length ? -1 : skipFixed(t, data, at, end - at);
}

function dle(t, data, at) {
  const c = data[at + 1], n = data[at + 2];
  if (c === 0x04) return lengthOf(data, at, n === 7 || n === 8 ? 4 : 3);
  if (c === 0x05) return lengthOf(data, at, 3);
  if (c !== 0x14) return at + 1;
  // DLE DC4 1 m t is a drawer pulse sent at once; the others take 1 to 7 bytes more.
  const count = { 1: 5, 2: 5, 3: 5, 7: 4, 8: 10 }[n] ?? 3;
  const end = lengthOf(data, at, count);
  if (end >= 0 && n === 1) t.pulse(data[at + 3] & 1 ? 5 : 2, data[at + 4] * 100, data[at + 4] * 100);
  else if (end >= 0) t.skipped(data.subarray(at, end));
  return end;
}

const PREFIXES = { [ESC]: esc, [GS]: gs, [FS]: fs, [DLE]: dle };

/**
 * Draws an ESC/POS ticket as the printer would print it.
 * @param {Uint8Array} bytes the ticket
 * @param {{paper?: 80 | 58}} [options] paper width in millimetres (80 by default)
 * @returns {string} an SVG document, one unit a printer dot
 */
export function renderTicket(bytes, { paper = 80 } = {}) {
  if (!PAPERS[paper]) throw new RangeError("paper must be 58 or 80");
  const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
  const t = new Ticket(paper);
  for (let at = 0; at < data.length;) {
    const b = data[at];
    if (b >= 0x20) {
      const page = CODE_PAGES[t.s.codePage];
      t.char(b < 0x7f ? String.fromCharCode(b) : b === 0x7f ? page.del : page.high[b - 0x80]);
      at++;
    } else if (b === 0x0a || b === 0x0c) {
      t.flush(t.s.spacing);
      at++;
    } else if (b === 0x09) {
      t.tab();
      at++;
    } else if (PREFIXES[b]) {
      const end = at + 1 < data.length ? PREFIXES[b](t, data, at) : -1;
      if (end < 0) {
        t.skipped(data.subarray(at));
        break;
      }
      at = end;
    } else {
      // CR, NUL and the other control bytes print nothing.
      at++;
    }
  }
  return t.svg();
}
