// Draws the bytes of an ESC/POS ticket as a 203 dpi thermal printer prints them: an SVG string,
// made without a DOM, the same in Node and in a browser. One SVG unit is one printer dot.
// Text is SVG <text> (so it can be read and searched on the page), images, barcodes and QR codes
// are filled paths, cuts and drawer pulses are marks, and every command the drawing does not
// interpret is skipped by its length and marked in the left margin; each mark's <title> says what
// it stands for. Each part of the drawing is on a line of its own, so that a page can put a long
// drawing in a few lines at a time.
//
// The work is bounded whatever the bytes: a drawing holds at most LIMITS of elements, characters
// and paper, a code is encoded once per content and size, and past the bounds the rest of the
// ticket is one mark that says it is too large to draw.

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
// The most one drawing holds: its elements, its characters of SVG (which bound the rectangles of
// its dots) and its length of paper in dots, about 130 m. A page lays that out in a second or two.
const LIMITS = { elements: 20000, chars: 4 << 20, height: 1 << 20 };
// A path of an image longer than this goes on as another, so that no part of the drawing is long.
const PATH_CHARS = 1 << 16;
// The titles of the marks that say why something is not drawn.
const TOO_LARGE = "ticket demasiado grande para dibujarlo";
const TOO_WIDE_BARCODE = "codigo de barras demasiado ancho";
const TOO_WIDE_QR = "codigo QR demasiado ancho";

const DOS_HIGH = "ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ";
const BOX_437 = "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀";
const GREEK_437 = "αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0";
const PC437 = DOS_HIGH + "¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»" + BOX_437 + GREEK_437;
const PC850 = DOS_HIGH + "ø£Ø×ƒáíóúñÑªº¿®¬½¼¡«»░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦╠═╬¤ðÐÊËÈıÍÎÏ┘┌█▄¦Ì▀" +
  "ÓßÔÒõÕµþÞÚÛÙýÝ¯´\u00ad±‗¾¶§÷¸°¨·¹³²■\u00a0";
const PC858 = PC850.slice(0, 0x55) + "€" + PC850.slice(0x56);
const PC860 = "ÇüéâãàÁçêÊèÍÔìÃÂÉÀÈôõòÚùÌÕÜ¢£Ù₧ÓáíóúñÑªº¿Ò¬½¼¡«»" + BOX_437 + GREEK_437;
const PC863 = "ÇüéâÂà¶çêëèïî‗À§ÉÈÊôËÏûù¤ÔÜ¢£ÙÛƒ¦´óú¨¸³¯Î⌐¬½¼¾«»" + BOX_437 + GREEK_437;
const PC865 = DOS_HIGH + "ø£Ø₧ƒáíóúñÑªº¿⌐¬½¼¡«¤" + BOX_437 + GREEK_437;
const PC852 = "ÇüéâäůćçłëŐőîŹÄĆÉĹĺôöĽľŚśÖÜŤťŁ×čáíóúĄąŽžĘę¬źČş«»░▒▓│┤ÁÂĚŞ╣║╗╝Żż┐└┴┬├─┼Ăă╚╔╩╦╠═╬¤đĐĎËďŇÍÎě┘┌█▄ŢŮ▀" +
  "ÓßÔŃńňŠšŔÚŕŰýÝţ´\u00ad˝˛ˇ˘§÷¸°¨˙űŘř■\u00a0";
const PC866 = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмноп" + BOX_437 + "рстуфхцчшщъыьэюяЁёЄєЇїЎў°∙·√№¤■\u00a0";
const WPC1252 = "€\ufffd‚ƒ„…†‡ˆ‰Š‹Œ\ufffdŽ\ufffd\ufffd‘’“”•–—˜™š›œ\ufffdžŸ" +
  Array.from({ length: 96 }, (_, i) => String.fromCharCode(0xa0 + i)).join("");
// Generated from the published tables of each code page (with the euro sign that printers put at
// 0xD5 of PC857); bytes a page leaves undefined show U+FFFD.
const MORE_PAGES = {
  13: "ÇüéâäàåçêëèïîıÄÅÉæÆôöòûùİÖÜø£ØŞşáíóúñÑĞğ¿®¬½¼¡«»░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦╠═╬¤ºªÊËÈ€ÍÎÏ┘┌█▄¦Ì▀ÓßÔÒõÕµ\ufffd×ÚÛÙìÿ¯´\u00ad±\ufffd¾¶§÷¸°¨·¹³²■\u00a0", // PC857
  14: "ΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣΤΥΦΧΨΩαβγδεζηθικλμνξοπρσςτυφχψ░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀ωάέήϊίόύϋώΆΈΉΊΌΎΏ±≥≤ΪΫ÷≈°∙·√ⁿ²■\u00a0", // PC737
  15: "\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\u00a0‘’£€₯¦§¨©ͺ«¬\u00ad\ufffd―°±²³΄΅Ά·ΈΉΊ»Ό½ΎΏΐΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡ\ufffdΣΤΥΦΧΨΩΪΫάέήίΰαβγδεζηθικλμνξοπρςστυφχψωϊϋόύώ\ufffd", // ISO8859_7
  33: "ĆüéāäģåćłēŖŗīŹÄÅÉæÆōöĢ¢ŚśÖÜø£Ø×¤ĀĪóŻżź”¦©®¬½¼Ł«»░▒▓│┤ĄČĘĖ╣║╗╝ĮŠ┐└┴┬├─┼ŲŪ╚╔╩╦╠═╬Žąčęėįšųūž┘┌█▄▌▐▀ÓßŌŃõÕµńĶķĻļņĒŅ’\u00ad±“¾¶§÷„°∙·¹³²■\u00a0", // WPC775
  34: "ђЂѓЃёЁєЄѕЅіІїЇјЈљЉњЊћЋќЌўЎџЏюЮъЪаАбБцЦдДеЕфФгГ«»░▒▓│┤хХиИ╣║╗╝йЙ┐└┴┬├─┼кК╚╔╩╦╠═╬¤лЛмМнНоОп┘┌█▄Пя▀ЯрРсСтТуУжЖвВьЬ№\u00adыЫзЗшШэЭщЩчЧ§■\u00a0", // PC855
  35: "ÇüéâäàåçêëèÐðÞÄÅÉæÆôöþûÝýÖÜø£Ø₧ƒáíóúÁÍÓÚ¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0", // PC861
  36: "\u05d0\u05d1\u05d2\u05d3\u05d4\u05d5\u05d6\u05d7\u05d8\u05d9\u05da\u05db\u05dc\u05dd\u05de\u05df\u05e0\u05e1\u05e2\u05e3\u05e4\u05e5\u05e6\u05e7\u05e8\u05e9\u05ea¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0", // PC862
  38: "\ufffd\ufffd\ufffd\ufffd\ufffd\ufffdΆ\ufffd·¬¦‘’Έ―ΉΊΪΌ\ufffd\ufffdΎΫ©Ώ²³ά£έήίϊΐόύΑΒΓΔΕΖΗ½ΘΙ«»░▒▓│┤ΚΛΜΝ╣║╗╝ΞΟ┐└┴┬├─┼ΠΡ╚╔╩╦╠═╬ΣΤΥΦΧΨΩαβγ┘┌█▄δε▀ζηθικλμνξοπρσςτ΄\u00ad±υφχ§ψ΅°¨ωϋΰώ■\u00a0", // PC869
  40: "\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\u00a0¡¢£€¥Š§š©ª«¬\u00ad®¯°±²³Žµ¶·ž¹º»ŒœŸ¿ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞßàáâãäåæçèéêëìíîïðñòóôõö÷øùúûüýþÿ", // ISO8859_15
  45: "€\ufffd‚\ufffd„…†‡\ufffd‰Š‹ŚŤŽŹ\ufffd‘’“”•–—\ufffd™š›śťžź\u00a0ˇ˘Ł¤Ą¦§¨©Ş«¬\u00ad®Ż°±˛ł´µ¶·¸ąş»Ľ˝ľżŔÁÂĂÄĹĆÇČÉĘËĚÍÎĎĐŃŇÓÔŐÖ×ŘŮÚŰÜÝŢßŕáâăäĺćçčéęëěíîďđńňóôőö÷řůúűüýţ˙", // WPC1250
  46: "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\ufffd™љ›њќћџ\u00a0ЎўЈ¤Ґ¦§Ё©Є«¬\u00ad®Ї°±Ііґµ¶·ё№є»јЅѕїАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя", // WPC1251
  47: "€\ufffd‚ƒ„…†‡\ufffd‰\ufffd‹\ufffd\ufffd\ufffd\ufffd\ufffd‘’“”•–—\ufffd™\ufffd›\ufffd\ufffd\ufffd\ufffd\u00a0΅Ά£¤¥¦§¨©\ufffd«¬\u00ad®―°±²³΄µ¶·ΈΉΊ»Ό½ΎΏΐΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡ\ufffdΣΤΥΦΧΨΩΪΫάέήίΰαβγδεζηθικλμνξοπρςστυφχψωϊϋόύώ\ufffd", // WPC1253
  48: "€\ufffd‚ƒ„…†‡ˆ‰Š‹Œ\ufffd\ufffd\ufffd\ufffd‘’“”•–—˜™š›œ\ufffd\ufffdŸ\u00a0¡¢£¤¥¦§¨©ª«¬\u00ad®¯°±²³´µ¶·¸¹º»¼½¾¿ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏĞÑÒÓÔÕÖ×ØÙÚÛÜİŞßàáâãäåæçèéêëìíîïğñòóôõö÷øùúûüışÿ", // WPC1254
  49: "€\ufffd‚ƒ„…†‡ˆ‰\ufffd‹\ufffd\ufffd\ufffd\ufffd\ufffd‘’“”•–—˜™\ufffd›\ufffd\ufffd\ufffd\ufffd\u00a0¡¢£₪¥¦§¨©×«¬\u00ad®¯°±²³´µ¶·¸¹÷»¼½¾¿\u05b0\u05b1\u05b2\u05b3\u05b4\u05b5\u05b6\u05b7\u05b8\u05b9\ufffd\u05bb\u05bc\u05bd\u05be\u05bf\u05c0\u05c1\u05c2\u05c3\u05f0\u05f1\u05f2\u05f3\u05f4\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\u05d0\u05d1\u05d2\u05d3\u05d4\u05d5\u05d6\u05d7\u05d8\u05d9\u05da\u05db\u05dc\u05dd\u05de\u05df\u05e0\u05e1\u05e2\u05e3\u05e4\u05e5\u05e6\u05e7\u05e8\u05e9\u05ea\ufffd\ufffd\u200e\u200f\ufffd", // WPC1255
  50: "€\u067e‚ƒ„…†‡ˆ‰\u0679‹Œ\u0686\u0698\u0688\u06af‘’“”•–—\u06a9™\u0691›œ\u200c\u200d\u06ba\u00a0،¢£¤¥¦§¨©\u06be«¬\u00ad®¯°±²³´µ¶·¸¹\u061b»¼½¾\u061f\u06c1\u0621\u0622\u0623\u0624\u0625\u0626\u0627\u0628\u0629\u062a\u062b\u062c\u062d\u062e\u062f\u0630\u0631\u0632\u0633\u0634\u0635\u0636×\u0637\u0638\u0639\u063a\u0640\u0641\u0642\u0643à\u0644â\u0645\u0646\u0647\u0648çèéêë\u0649\u064aîï\u064b\u064c\u064d\u064eô\u064f\u0650÷\u0651ù\u0652ûü\u200e\u200f\u06d2", // WPC1256
  51: "€\ufffd‚\ufffd„…†‡\ufffd‰\ufffd‹\ufffd¨ˇ¸\ufffd‘’“”•–—\ufffd™\ufffd›\ufffd¯˛\ufffd\u00a0\ufffd¢£¤\ufffd¦§Ø©Ŗ«¬\u00ad®Æ°±²³´µ¶·ø¹ŗ»¼½¾æĄĮĀĆÄÅĘĒČÉŹĖĢĶĪĻŠŃŅÓŌÕÖ×ŲŁŚŪÜŻŽßąįāćäåęēčéźėģķīļšńņóōõö÷ųłśūüżž˙", // WPC1257
  52: "€\ufffd‚ƒ„…†‡ˆ‰\ufffd‹Œ\ufffd\ufffd\ufffd\ufffd‘’“”•–—˜™\ufffd›œ\ufffd\ufffdŸ\u00a0¡¢£¤¥¦§¨©ª«¬\u00ad®¯°±²³´µ¶·¸¹º»¼½¾¿ÀÁÂĂÄÅÆÇÈÉÊË\u0300ÍÎÏĐÑ\u0309ÓÔƠÖ×ØÙÚÛÜƯ\u0303ßàáâăäåæçèéêë\u0301íîïđñ\u0323óôơö÷øùúûüư₫ÿ", // WPC1258
};
// ESC t page number -> the characters of bytes 0x80 to 0xFF. Pages 0 to 5 and 16 to 19 are numbered
// alike by every ESC/POS printer; the others as the command reference numbers them, which some
// printers do not follow.
const CODE_PAGES = {
  0: PC437, 2: PC850, 3: PC860, 4: PC863, 5: PC865, 16: WPC1252, 17: PC866, 18: PC852, 19: PC858, ...MORE_PAGES,
};
// The pages whose 0x7F is the DEL control, which prints nothing; the others show a house there.
const DEL_PAGES = new Set([15, 16, 40, 45, 46, 47, 48, 49, 50, 51, 52]);

const ESC = 0x1b, GS = 0x1d, FS = 0x1c, DLE = 0x10;

function xml(text) {
  return text.replace(/[&<>"]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
}

function hex(bytes) {
  return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join(" ");
}

// The first 8 bytes of a command for a mark's title: "1B 5A", "1D 28 6B 03 00 31 51 30 ...".
function hexTitle(bytes) {
  return hex(bytes.subarray(0, 8)).toUpperCase() + (bytes.length > 8 ? " ..." : "");
}

function refused(command) {
  return `datos rechazados ${hexTitle(command)}`;
}

// Bytes as the characters of the same codes, a slice at a time (an argument list has a limit).
function latin1(bytes) {
  let text = "";
  for (let at = 0; at < bytes.length; at += 8192) text += String.fromCharCode(...bytes.subarray(at, at + 8192));
  return text;
}

// Every 8 characters; shared by every state (ESC D puts in an array of its own).
const DEFAULT_TABS = Array.from({ length: 32 }, (_, i) => (i + 1) * 8);

// The settings ESC @ restores.
function initialState(print) {
  return {
    font: 0, bold: false, strike: false, underline: 0, reverse: false, wide: 1, high: 1, upside: false,
    align: 0, spacing: DEFAULT_SPACING, charSpacing: 0, tabs: DEFAULT_TABS, codePage: 0,
    left: 0, width: print,
    barHeight: 162, barWidth: 3, hri: 0, hriFont: 0,
    qrSize: 3, qrLevel: 0, qrData: null, graphics: null,
  };
}

// The runs of set cells in row r of a grid `cols` wide: [start, end, start, end, ...].
function runsOf(cols, bit) {
  return (r) => {
    const runs = [];
    for (let c = 0; c < cols; c++) {
      if (!bit(c, r)) continue;
      const start = c;
      while (c + 1 < cols && bit(c + 1, r)) c++;
      runs.push(start, c + 1);
    }
    return runs;
  };
}

// The same for rows of `rowBytes` bytes, the leftmost dot in the high bit, with whole bytes of no
// dots or of eight passed at once; null for a row whose dots are those of the row above.
function packedRuns(bits, rowBytes, cols) {
  const used = Math.ceil(cols / 8);
  return (r) => {
    const runs = [], base = r * rowBytes;
    if (r > 0 && sameBytes(bits, base, base - rowBytes, used)) return null;
    let start = -1;
    for (let c = 0; c < cols;) {
      const byte = bits[base + (c >> 3)];
      const whole = (c & 7) === 0 && c + 8 <= cols && (byte === 0 || byte === 255);
      const on = whole ? byte & 1 : (byte >> (7 - (c & 7))) & 1;
      if (on && start < 0) start = c;
      else if (!on && start >= 0) {
        runs.push(start, c);
        start = -1;
      }
      c += whole ? 8 : 1;
    }
    if (start >= 0) runs.push(start, cols);
    return runs;
  };
}

function sameBytes(bits, a, b, count) {
  for (let i = 0; i < count; i++) if (bits[a + i] !== bits[b + i]) return false;
  return true;
}

// The set cells of `rows` rows (runs from `rowRuns`, null for a row like the one above), `sx` x
// `sy` dots each from (x0, y0), as rectangles: a row's runs, each grown down while the rows below
// repeat it. Each rectangle moves from the one before, which keeps the numbers short, and a path
// longer than `split` characters goes on as another. The paths' `d`, and the rows they cover: all
// of them, or those before the row where the paths passed `limit` characters (each rectangle then
// cut there adds 40 at the most).
function bitsPaths(x0, y0, rows, sx, sy, rowRuns, limit, split = PATH_CHARS) {
  const paths = [];
  let d = "", px = 0, py = 0, total = 0;
  const rect = (c, end, top, bottom) => {
    const x = x0 + c * sx, y = y0 + top * sy, w = (end - c) * sx;
    d += `${d ? `m${x - px} ${y - py}` : `M${x} ${y}`}h${w}v${(bottom - top) * sy}h${-w}z`;
    [px, py] = [x, y];
    if (d.length < split) return;
    paths.push(d);
    total += d.length;
    d = "";
  };
  // [start, end, top row] of the rectangles that reach the row above, left to right.
  let open = [], r = 0;
  for (; r <= rows; r++) {
    const cut = r < rows && total + d.length > limit;
    const runs = r < rows && !cut ? rowRuns(r) : [], next = [];
    if (!runs) continue;
    let j = 0;
    for (const o of open) {
      for (; j < runs.length && runs[j] < o[0]; j += 2) next.push([runs[j], runs[j + 1], r]);
      if (runs[j] === o[0] && runs[j + 1] === o[1]) {
        next.push(o);
        j += 2;
      } else {
        rect(o[0], o[1], o[2], r);
      }
    }
    for (; j < runs.length; j += 2) next.push([runs[j], runs[j + 1], r]);
    open = next;
    if (cut) break;
  }
  if (d) paths.push(d);
  return { paths, rows: Math.min(r, rows) };
}

// A path made from (0, 0), moved by (x, y): only its first move is not relative.
function moved(d, x, y) {
  return d.replace(/^M(\d+) (\d+)/, (_, dx, dy) => `M${x + Number(dx)} ${y + Number(dy)}`);
}

class Ticket {
  constructor(paper) {
    this.paper = PAPERS[paper];
    this.margin = (this.paper.paper - this.paper.print) / 2;
    this.s = initialState(this.paper.print);
    this.y = TOP;
    this.out = [];
    this.marks = 0;
    this.elements = 0;
    this.chars = 0;
    this.full = false;
    this.codes = new Map();
    this.newLine();
  }

  // Takes what a part of the drawing costs from what is left of LIMITS; once a part does not fit,
  // nothing more is drawn.
  spend(elements, chars) {
    if (this.full || this.elements + elements > LIMITS.elements || this.chars + chars > LIMITS.chars) {
      this.full = true;
      return false;
    }
    this.elements += elements;
    this.chars += chars;
    return true;
  }

  charsLeft() {
    return LIMITS.chars - this.chars;
  }

  // Adds a part of the drawing (null: one that would not fit), `elements` of them; false when
  // it does not fit.
  put(svg, elements) {
    if (svg === null || !this.spend(elements, svg.length)) {
      this.full = true;
      return false;
    }
    if (svg) this.out.push(svg);
    return true;
  }

  // Whether `dots` more of paper fit in the drawing; once they do not, nothing more is drawn.
  fits(dots) {
    if (this.y + dots > LIMITS.height) this.full = true;
    return !this.full;
  }

  // What `make` draws for a code of `content` in `variant` (its settings), made once per drawing.
  // Content and variant are kept apart, so that looking up the same long content again costs
  // nothing (a string keeps its hash).
  code(content, variant, make) {
    let drawn = this.codes.get(content);
    if (!drawn) this.codes.set(content, (drawn = new Map()));
    if (!drawn.has(variant)) drawn.set(variant, make());
    return drawn.get(variant);
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
    const height = l.items.reduce((h, item) => Math.max(h, item.h), 0), advance = Math.max(feed, height);
    if (this.fits(advance) && (!l.items.length || this.put(this.lineSvg(height), 1))) this.y += advance;
    this.newLine();
  }

  // The line's items in place; null when they pass what is left of the characters.
  lineSvg(height) {
    const l = this.line, room = this.charsLeft();
    const offset = Math.floor((l.width - Math.min(l.x, l.width)) * [0, 0.5, 1][l.align]);
    const x = this.margin + l.left + offset;
    const cx = this.margin + l.left + l.width / 2, cy = this.y + height / 2;
    let svg = `<g class="korba-line"${l.upside ? ` transform="rotate(180 ${cx} ${cy})"` : ""}>`;
    for (const item of l.items) {
      const part = item.draw(x + item.x, this.y + height - item.h, room - svg.length);
      if (part === null || svg.length + part.length > room) return null;
      svg += part;
    }
    return svg + "</g>";
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
    const run = this.textRun(s, f, pitch, true);
    if (!run) return;
    run.chars.push(ch);
    this.line.x += pitch;
  }

  // The run that the next character of this style joins: the last one when it ends where the
  // character goes, a new one otherwise (null when the drawing has no room for it).
  textRun(s, f, pitch, decorated) {
    const items = this.line.items, last = items[items.length - 1], was = last && last.style;
    const bold = s.bold || s.strike, underline = decorated ? s.underline : 0, reverse = decorated && s.reverse;
    const { wide, high } = s;
    if (was && was.f === f && was.pitch === pitch && was.wide === wide && was.high === high && was.bold === bold &&
      was.underline === underline && was.reverse === reverse && last.x + last.chars.length * pitch === this.line.x) {
      return last;
    }
    if (!this.spend(1 + (underline ? 1 : 0) + (reverse ? 1 : 0), 0)) return null;
    const style = { f, bold, underline, reverse, wide, high, pitch };
    const run = {
      style, x: this.line.x, h: f.h * high, chars: [],
      draw: (x, y) => textSvg(run, x, y, f, pitch / wide, wide, high, style),
    };
    items.push(run);
    return run;
  }

  tab() {
    const s = this.s, f = FONTS[s.font], pitch = (f.w + s.charSpacing) * s.wide;
    let next = 0;
    while (next < s.tabs.length && s.tabs[next] * pitch <= this.line.x) next++;
    const stop = s.tabs[next] * pitch;
    if (next === s.tabs.length || stop > this.areaWidth()) return;
    const run = this.textRun(s, f, pitch, false);
    if (!run) return;
    while (this.line.x < stop) {
      run.chars.push(" ");
      this.line.x += pitch;
    }
    this.line.x = stop;
  }

  // Something drawn in the line like a character (an ESC * bit image); cut at the line's end.
  // `draw(x, y, width, room)` gives its SVG, or null when it passes `room` characters.
  inline(w, h, draw) {
    const room = this.areaWidth() - this.line.x;
    if (room <= 0 || !this.spend(1, 0)) return;
    const x = this.line.x;
    this.line.items.push({ x, h, draw: (dx, dy, chars) => draw(dx, dy, Math.min(w, room), chars) });
    this.line.x += Math.min(w, room);
  }

  // A block that is printed on its own: `w` dots wide, `h` tall, placed by the alignment.
  // `draw(x, y, area, room)` gives its SVG, how many elements it holds and how tall it is drawn
  // (less than `h` when it was cut where it passed `room` characters, which ends the drawing).
  block(w, h, draw) {
    this.flushPending();
    const area = this.areaWidth(), l = this.line;
    const offset = Math.max(0, Math.floor((area - w) * [0, 0.5, 1][l.align]));
    if (this.fits(h)) {
      const [svg, elements, drawn = h] = draw(this.margin + l.left + offset, this.y, area, this.charsLeft());
      if (this.put(svg, elements)) this.y += drawn;
      if (drawn < h) this.full = true;
    }
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
    const kind = partial ? "partial" : "full", title = partial ? "corte parcial" : "corte total";
    if (this.fits(CUT_GAP) && this.put(`<g class="korba-cut ${kind}"><title>${title}</title>${lines}</g>`, 4)) {
      this.y += CUT_GAP;
    }
  }

  // A drawer pulse on pin 2 or 5, `on` and `off` in milliseconds, marked in the right margin.
  pulse(pin, on, off) {
    const x = this.paper.paper - this.margin + 4, y = this.y, w = this.margin - 8;
    this.put(`<g class="korba-pulse" data-pin="${pin}" data-on="${on}" data-off="${off}">` +
      `<title>pulso del cajon pin ${pin}, ${on}/${off} ms</title>` +
      `<rect x="${x}" y="${y}" width="${w}" height="16" fill="#fff" stroke="#1a5fb4" stroke-width="2"/>` +
      `<rect x="${x + w / 2 - 4}" y="${y + 6}" width="8" height="3" fill="#1a5fb4"/></g>`, 4);
  }

  // A command the drawing does not interpret, one cut short by the end of the ticket, or one
  // that the printer would refuse; `title` says which.
  skipped(bytes, title = `orden desconocida ${hexTitle(bytes)}`) {
    const x = 2 + (this.marks++ % 3) * 8;
    this.put(`<rect class="korba-skip" data-bytes="${hex(bytes.subarray(0, 8))}" x="${x}" y="${this.y}"` +
      ` width="6" height="6" fill="#c01c28"><title>${title}</title></rect>`, 2);
  }

  // Where the drawing stops when the ticket is too large: a red line across the paper, and why.
  tooLarge() {
    const x = this.margin, w = this.paper.print, y = this.y;
    this.out.push(`<g class="korba-too-large" fill="#c01c28"><title>${TOO_LARGE}</title>` +
      `<rect x="${x}" y="${y}" width="${w}" height="4"/>` +
      `<text x="${x + w / 2}" y="${y + 24}" font-size="15" text-anchor="middle">${TOO_LARGE}</text></g>`);
    this.y += 32;
  }

  svg() {
    if (this.line.items.length) this.flush(0);
    if (this.full) this.tooLarge();
    const { paper } = this.paper, height = this.y + BOTTOM;
    const head = `<svg xmlns="http://www.w3.org/2000/svg" class="korba-ticket" width="${paper}" height="${height}"` +
      ` viewBox="0 0 ${paper} ${height}" font-family="monospace"` +
      ` shape-rendering="crispEdges"><rect class="korba-paper" width="${paper}" height="${height}" fill="#fff"/>` +
      `<g fill="#000">`;
    return [head].concat(this.out, "</g></svg>").join("\n");
  }
}

// A run of characters in its cell pitch. The run's length is fixed (textLength) rather than each
// character's place: browsers lay out a position per character ten times slower, and the
// monospace font's own advance is the cell's within a fraction of a dot.
function textSvg(run, x, y, f, pitch, wide, high, { bold, underline, reverse }) {
  const n = run.chars.length, width = n * pitch * wide, h = f.h * high;
  let out = "";
  if (reverse) out += `<rect x="${x}" y="${y}" width="${width}" height="${h}"/>`;
  if (underline) out += `<rect x="${x}" y="${y + h - underline}" width="${width}" height="${underline}"/>`;
  const place = wide !== 1 || high !== 1 ? `transform="translate(${x} ${y}) scale(${wide} ${high})" y="${f.base}"`
    : `x="${x}" y="${y + f.base}"`;
  const adjust = pitch === f.w ? "spacingAndGlyphs" : "spacing";
  // Spaces kept as they are, which browsers do only when each text element says so.
  out += `<text xml:space="preserve" ${place} font-size="${f.size}" textLength="${n * pitch}"` +
    ` lengthAdjust="${adjust}"${bold ? ' font-weight="bold"' : ""}${reverse ? ' fill="#fff"' : ""}>` +
    `${xml(run.chars.join(""))}</text>`;
  return out;
}

// The commands. Each handler gets the ticket, the bytes and the position of its first byte, and
// returns the position after the command, or -1 when the ticket ends before the command does
// (which is marked and ends the drawing).
function lengthOf(data, at, count) {
  return at + count <= data.length ? at + count : -1;
}

// A command of `count` bytes: carried out by `apply` when the ticket holds all of them.
function applied(data, at, count, apply) {
  const end = lengthOf(data, at, count);
  if (end >= 0) apply();
  return end;
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
  const fixed = (count, apply) => applied(data, at, count, apply);
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
    case 0x5a: return escQr(t, data, at);
    default: {
      if (ESC_QUIET[c]) return lengthOf(data, at, ESC_QUIET[c]);
      // The rest of ESC's commands take one parameter byte, or none.
      const count = [0x25, 0x34, 0x3f, 0x54, 0x56, 0x65, 0x72].includes(c) ? 3 : 2;
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
  const bits = data.subarray(at + 5, end);
  const bit = (c, r) => (bits[c * bytes + (r >> 3)] >> (7 - (r & 7))) & 1;
  t.inline(cols * sx, tall * sy, (x, y, w, room) => {
    const { paths, rows } = bitsPaths(x, y, tall, sx, sy, runsOf(Math.ceil(w / sx), bit), room);
    return rows < tall ? null : paths.length ? `<path d="${paths.join("")}"/>` : "";
  });
  return end;
}

// GS v 0 m xL xH yL yH d: a raster image, row by row, printed as a block of its own.
function rasterImage(t, data, at) {
  if (lengthOf(data, at, 8) < 0) return -1;
  const m = data[at + 3], rowBytes = word(data, at + 4), rows = word(data, at + 6);
  const end = lengthOf(data, at, 8 + rowBytes * rows);
  if (end < 0) return -1;
  drawRaster(t, { bits: data.subarray(at + 8, end), cols: rowBytes * 8, rowBytes, rows, sx: m & 1 ? 2 : 1,
    sy: m & 2 ? 2 : 1 });
  return end;
}

// Rows of `rowBytes` bytes, the leftmost dot in the high bit; what passes the printing area is cut.
function drawRaster(t, { bits, cols, rowBytes, rows, sx, sy }) {
  t.block(cols * sx, rows * sy, (x, y, area, room) => {
    const shown = Math.min(cols, Math.floor(area / sx));
    // Room for the rectangles cut where the characters run out, and for each path's element.
    const drawn = bitsPaths(x, y, rows, sx, sy, packedRuns(bits, rowBytes, shown), room - 40 * shown - 1024);
    return [drawn.paths.map((d) => `<path d="${d}"/>`).join("\n"), drawn.paths.length, drawn.rows * sy];
  });
}

// GS ( L pL pH m fn ... and GS 8 L p1 p2 p3 p4 m fn ... (`head` bytes before m): monochrome
// graphics kept in the print buffer (fn 112) and printed (fn 50); what they ask of the printer's
// memory (fn 48, 49) changes nothing on the paper.
function graphicsCommand(t, data, at, head, end) {
  const fn = end - at >= head + 2 ? data[at + head + 1] : -1, p = at + head + 2;
  if (fn === 48 || fn === 49) return end;
  if (fn === 112 && data[p] === 48 && end - p >= 8) {
    const cols = word(data, p + 4), rows = word(data, p + 6), rowBytes = Math.ceil(cols / 8);
    if (p + 8 + rowBytes * rows <= end) {
      t.s.graphics = { bits: data.subarray(p + 8, p + 8 + rowBytes * rows), cols, rowBytes, rows,
        sx: data[p + 1] === 2 ? 2 : 1, sy: data[p + 2] === 2 ? 2 : 1 };
      return end;
    }
  } else if ((fn === 50 || fn === 2) && t.s.graphics) {
    drawRaster(t, t.s.graphics);
    t.s.graphics = null;
    return end;
  }
  t.skipped(data.subarray(at, end));
  return end;
}

function gs(t, data, at) {
  const s = t.s, c = data[at + 1], n = data[at + 2];
  const fixed = (count, apply) => applied(data, at, count, apply);
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
    case 0x28: {
      if (n === 0x6b) return symbolCommand(t, data, at);
      if (n !== 0x4c) return skipSized(t, data, at, 3);
      const end = lengthOf(data, at, 5) < 0 ? -1 : lengthOf(data, at, 5 + word(data, at + 3));
      return end < 0 ? -1 : graphicsCommand(t, data, at, 5, end);
    }
    case 0x2a: return lengthOf(data, at, 4) < 0 ? -1 : skipFixed(t, data, at, 4 + data[at + 2] * data[at + 3] * 8);
    case 0x38: {
      if (lengthOf(data, at, 7) < 0) return -1;
      const size = data[at + 3] + data[at + 4] * 0x100 + data[at + 5] * 0x10000 + data[at + 6] * 0x1000000;
      const end = lengthOf(data, at, 7 + size);
      if (end < 0) return -1;
      if (n === 0x4c) return graphicsCommand(t, data, at, 7, end);
      t.skipped(data.subarray(at, end));
      return end;
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

// Barcodes. Each encoder turns the data into the widths of its bars and spaces, bar first:
// modules ("1" bar, "0" space) for the one-width codes, "n"/"w" elements for the codes of narrow
// and wide elements; null when the printer would refuse the data.
const EAN_L = ["0001101", "0011001", "0010011", "0111101", "0100011", "0110001", "0101111", "0111011", "0110111",
  "0001011"];
const EAN_R = EAN_L.map((code) => Array.from(code, (b) => (b === "1" ? "0" : "1")).join(""));
const EAN_G = EAN_R.map((code) => Array.from(code).reverse().join(""));
// The left half's odd (L) and even (G) parities that an EAN-13's first digit stands for.
const EAN_FIRST = ["LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG", "LGGLLG", "LGGGLG", "LGLGLG", "LGLGGL", "LGGLGL"];
// UPC-E's parities by check digit for number system 0 (E even, O odd); system 1 swaps them.
const UPCE_PARITY = ["EEEOOO", "EEOEOO", "EEOOEO", "EEOOOE", "EOEEOO", "EOOEEO", "EOOOEE", "EOEOEO", "EOEOOE",
  "EOOEOE"];
// Two wide of five: the digits of interleaved 2 of 5, and the bars of Code 39.
const TWO_OF_FIVE = ["nnwwn", "wnnnw", "nwnnw", "wwnnn", "nnwnw", "wnwnn", "nwwnn", "nnnww", "wnnwn", "nwnwn"];
// Code 39 in four rows of ten that share the place of their wide space, in the order of the
// digits' bar patterns (1 to 9, then 0).
const CODE39_ROWS = ["1234567890", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZ-. *"];
const CODE39_SPACES = [1, 2, 3, 0];
const CODE39_WIDE_SPACES = { $: "wwwn", "/": "wwnw", "+": "wnww", "%": "nwww" };
const CODABAR = {
  0: "nnnnnww", 1: "nnnnwwn", 2: "nnnwnnw", 3: "wwnnnnn", 4: "nnwnnwn", 5: "wnnnnwn", 6: "nwnnnnw", 7: "nwnnwnn",
  8: "nwwnnnn", 9: "wnnwnnn", "-": "nnnwwnn", $: "nnwwnnn", ":": "wnnnwnw", "/": "wnwnnnw", ".": "wnwnwnn",
  "+": "nnwnwnw", A: "nnwwnwn", B: "nwnwnnw", C: "nnnwnww", D: "nnnwwwn",
};
// Code 93's 47 characters (the last four are its shifts), their bar and space widths in modules.
const CODE93_CHARS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
const CODE93 = ("131112 111213 111312 111411 121113 121212 121311 111114 131211 141111 211113 211212 211311 221112 " +
  "221211 231111 112113 112212 112311 122112 132111 111123 111222 111321 121122 131121 212112 212211 211122 " +
  "211221 221121 222111 112122 112221 122121 123111 121131 311112 311211 321111 112131 113121 211131 121221 " +
  "312111 311121 122211").split(" ");
const CODE93_START = "111141";
// Code 128's values 0 to 105 and the stop, as bar and space widths in modules.
const CODE128 = ("212222 222122 222221 121223 121322 131222 122213 122312 132212 221213 221312 231212 112232 122132 " +
  "122231 113222 123122 123221 223211 221132 221231 213212 223112 312131 311222 321122 321221 312212 322112 " +
  "322211 212123 212321 232121 111323 131123 131321 112313 132113 132311 211313 231113 231311 112133 112331 " +
  "132131 113123 113321 133121 313121 211331 231131 213113 213311 213131 311123 311321 331121 312113 312311 " +
  "332111 314111 221411 431111 111224 111422 121124 121421 141122 141221 112214 112412 122114 122411 142112 " +
  "142211 241211 221114 413111 241112 134111 111242 121142 121241 114212 124112 124211 411212 421112 421211 " +
  "212141 214121 412121 111143 111341 131141 114113 114311 411113 411311 113141 114131 311141 411131 211412 " +
  "211214 211232 2331112").split(" ");

const digits = (text, ...counts) => /^\d*$/.test(text) && counts.includes(text.length);

// The check digit of the EAN and UPC codes: weights 3 and 1 from the right.
function eanCheck(text) {
  let sum = 0;
  for (let i = 0; i < text.length; i++) sum += Number(text[text.length - 1 - i]) * (i % 2 ? 1 : 3);
  return String((10 - (sum % 10)) % 10);
}

// The data with its check digit: `length` digits without it, or one more with the right one.
function withCheck(text, length) {
  if (digits(text, length)) return text + eanCheck(text);
  return digits(text, length + 1) && eanCheck(text.slice(0, length)) === text[length] ? text : null;
}

function ean13(text) {
  const code = withCheck(text, 12);
  if (!code) return null;
  const left = Array.from(code.slice(1, 7), (d, i) => (EAN_FIRST[code[0]][i] === "L" ? EAN_L : EAN_G)[d]);
  const right = Array.from(code.slice(7), (d) => EAN_R[d]);
  return { modules: `101${left.join("")}01010${right.join("")}101`, hri: code };
}

function ean8(text) {
  const code = withCheck(text, 7);
  if (!code) return null;
  const half = (part, table) => Array.from(part, (d) => table[d]).join("");
  return { modules: `101${half(code.slice(0, 4), EAN_L)}01010${half(code.slice(4), EAN_R)}101`, hri: code };
}

function upcA(text) {
  const code = withCheck(text, 11);
  return code && { ...ean13("0" + code), hri: code };
}

// UPC-E from its six digits (with the number system before them and the check digit after, or
// not), or from the UPC-A number it compresses.
function upcE(text) {
  let system = "0", six = text;
  if (digits(text, 11, 12)) {
    const a = withCheck(text, 11);
    six = a && compressUpc(a);
    if (!six) return null;
    system = a[0];
  } else if (digits(text, 7, 8)) {
    [system, six] = [text[0], text.slice(1, 7)];
  } else if (!digits(text, 6)) {
    return null;
  }
  if (system > "1") return null;
  const check = eanCheck(expandUpcE(system, six));
  if (text.length === 8 && text[7] !== check) return null;
  const parity = UPCE_PARITY[check];
  const bars = Array.from(six, (d, i) => ((parity[i] === "E") === (system === "0") ? EAN_G : EAN_L)[d]);
  return { modules: `101${bars.join("")}010101`, hri: system + six + check };
}

function expandUpcE(system, e) {
  const last = e[5];
  const body = last <= "2" ? e.slice(0, 2) + last + "0000" + e.slice(2, 5)
    : last === "3" ? e.slice(0, 3) + "00000" + e.slice(3, 5)
      : last === "4" ? e.slice(0, 4) + "00000" + e[4]
        : e.slice(0, 5) + "0000" + last;
  return system + body;
}

function compressUpc(a) {
  const m = a.slice(1, 6), p = a.slice(6, 11);
  const six = m[2] <= "2" && m.slice(3) === "00" && p.slice(0, 2) === "00" ? m.slice(0, 2) + p.slice(2) + m[2]
    : m.slice(3) === "00" && p.slice(0, 3) === "000" ? m.slice(0, 3) + p.slice(3) + "3"
      : m[4] === "0" && p.slice(0, 4) === "0000" ? m.slice(0, 4) + p[4] + "4"
        : p.slice(0, 4) === "0000" && p[4] >= "5" ? m + p[4] : null;
  return six && expandUpcE(a[0], six) === a.slice(0, 11) ? six : null;
}

// Code 39, with the start and stop characters (*) added where the data lacks them.
function code39(text) {
  const data = text.replace(/^\*|\*$/g, "");
  if (!data || data.includes("*")) return null;
  const elements = [];
  for (const ch of `*${data}*`) {
    const row = CODE39_ROWS.findIndex((r) => r.includes(ch));
    let bars = "nnnnn", spaces = CODE39_WIDE_SPACES[ch];
    if (row >= 0) {
      bars = TWO_OF_FIVE[(CODE39_ROWS[row].indexOf(ch) + 1) % 10];
      spaces = Array.from("nnnn", (n, i) => (i === CODE39_SPACES[row] ? "w" : n)).join("");
    }
    if (!spaces) return null;
    // Five bars, four spaces and the narrow gap before the next character.
    for (let i = 0; i < 5; i++) elements.push(bars[i], spaces[i] ?? "n");
  }
  elements.pop();
  return { elements: elements.join(""), hri: `*${data}*` };
}

function itf(text) {
  if (!/^\d*$/.test(text) || !text.length || text.length % 2) return null;
  let elements = "nnnn";
  for (let i = 0; i < text.length; i += 2) {
    const bars = TWO_OF_FIVE[text[i]], spaces = TWO_OF_FIVE[text[i + 1]];
    for (let j = 0; j < 5; j++) elements += bars[j] + spaces[j];
  }
  return { elements: elements + "wnn", hri: text };
}

function codabar(text) {
  const data = text.toUpperCase();
  if (!/^[A-D][0-9\-$:/.+]*[A-D]$/.test(data)) return null;
  return { elements: Array.from(data, (ch) => CODABAR[ch]).join("n"), hri: text };
}

// Code 93 over all of ASCII: the characters it lacks are a shift and a letter.
function code93(text) {
  const values = [];
  const shift = (which, letter) => values.push(43 + which, letter.charCodeAt(0) - 55);
  for (const ch of text) {
    const c = ch.charCodeAt(0);
    if (CODE93_CHARS.includes(ch)) values.push(CODE93_CHARS.indexOf(ch));
    else if (c === 0) shift(1, "U");
    else if (c < 27) shift(0, String.fromCharCode(64 + c));
    else if (c < 32) shift(1, String.fromCharCode(65 + c - 27));
    else if (c <= 0x3a) shift(2, String.fromCharCode(c === 0x3a ? 90 : 65 + c - 0x21));
    else if (c < 0x40) shift(1, String.fromCharCode(70 + c - 0x3b));
    else if (c === 0x40) shift(1, "V");
    else if (c < 0x60 && c > 0x5a) shift(1, String.fromCharCode(75 + c - 0x5b));
    else if (c === 0x60) shift(1, "W");
    else if (c < 0x7b) shift(3, String.fromCharCode(c - 32));
    else if (c < 0x80) shift(1, String.fromCharCode(80 + c - 0x7b));
    else return null;
  }
  for (const limit of [20, 15]) {
    let sum = 0;
    for (let i = 0; i < values.length; i++) sum += values[values.length - 1 - i] * ((i % limit) + 1);
    values.push(sum % 47);
  }
  const widths = [CODE93_START, ...values.map((v) => CODE93[v]), CODE93_START, "1"].join("");
  return { modules: widthsToModules(widths), hri: text };
}

function widthsToModules(widths) {
  return Array.from(widths, (w, i) => (i % 2 ? "0" : "1").repeat(Number(w))).join("");
}

// Code 128 as the printer takes it: "{A", "{B" or "{C" first; "{" and a letter switch sets, shift
// one character ("{S"), or give FNC1 to FNC4 ("{1" to "{4"); "{{" is "{". In set C each byte is a
// value from 0 to 99.
function code128(bytes) {
  const start = { A: 103, B: 104, C: 105 }[String.fromCharCode(bytes[1])];
  if (bytes[0] !== 0x7b || !start) return null;
  let set = "ABC"[start - 103], shifted = false, hri = "";
  const values = [start];
  for (let i = 2; i < bytes.length; i++) {
    let c = bytes[i];
    const current = shifted ? (set === "A" ? "B" : "A") : set;
    shifted = false;
    if (c === 0x7b) {
      const code = String.fromCharCode(bytes[++i]);
      const special = { A: set === "A" ? null : 101, B: set === "B" ? null : 100, C: set === "C" ? null : 99,
        S: set === "C" ? null : 98, 1: 102, 2: 97, 3: 96, 4: current === "A" ? 101 : current === "B" ? 100 : null };
      if (code === "{" && current !== "C") {
        c = 0x7b;
      } else {
        if (special[code] == null) return null;
        values.push(special[code]);
        if ("ABC".includes(code)) set = code;
        shifted = code === "S";
        continue;
      }
    }
    const value = current === "C" ? (c < 100 ? c : -1)
      : current === "A" ? (c < 0x20 ? c + 64 : c < 0x60 ? c - 32 : -1) : (c >= 0x20 && c < 0x80 ? c - 32 : -1);
    if (value < 0) return null;
    values.push(value);
    hri += current === "C" ? String(c).padStart(2, "0") : c >= 0x20 ? String.fromCharCode(c) : " ";
  }
  if (values.length < 2) return null;
  values.push(values.reduce((sum, v, i) => sum + v * (i || 1), 0) % 103);
  return { modules: widthsToModules(values.map((v) => CODE128[v]).join("") + CODE128[106]), hri };
}

const SYMBOLOGIES = [
  ["UPC-A", upcA], ["UPC-E", upcE], ["EAN-13", ean13], ["EAN-8", ean8], ["CODE39", code39], ["ITF", itf],
  ["CODABAR", codabar], ["CODE93", code93], ["CODE128", code128],
];

// The widths in dots of the bars and spaces, bar first.
function barWidths(symbol, module) {
  if (symbol.elements) {
    const wide = Math.round(module * 2.5);
    return Array.from(symbol.elements, (e) => (e === "w" ? wide : module));
  }
  return Array.from(symbol.modules.match(/1+|0+/g), (run) => run.length * module);
}

// GS k m d1 ... NUL (m 0 to 6) and GS k m n d1 ... dn (m 65 to 73): a barcode, with its human
// readable digits (GS H) above, below or both in the font GS f selects, GS h dots tall.
function barcodeCommand(t, data, at) {
  if (lengthOf(data, at, 4) < 0) return -1;
  const m = data[at + 2];
  let begin = at + 3, end;
  if (m <= 6) {
    end = data.indexOf(0, begin);
    if (end < 0) return -1;
  } else if (m >= 65 && m <= 79) {
    begin = at + 4;
    end = lengthOf(data, begin, data[at + 3]);
    if (end < 0) return -1;
  } else {
    return skipFixed(t, data, at, 3);
  }
  const next = m <= 6 ? end + 1 : end;
  const [name, encode] = SYMBOLOGIES[m <= 6 ? m : m - 65] ?? [];
  const bytes = data.subarray(begin, end), command = data.subarray(at, next), s = t.s;
  if (!encode) {
    t.skipped(command);
    return next;
  }
  // Every byte of data takes a module at least: more of them than the paper has dots is too wide.
  if (bytes.length > t.paper.print) {
    t.skipped(command, TOO_WIDE_BARCODE);
    return next;
  }
  const bars = t.code(latin1(bytes), `${name} ${s.barWidth} ${s.barHeight}`,
    () => barcodeBars(name, encode, bytes, s.barWidth, s.barHeight));
  if (!bars) t.skipped(command, refused(command));
  else if (!drawBarcode(t, name, bars)) t.skipped(command, TOO_WIDE_BARCODE);
  return next;
}

// A barcode's bars as a path from (0, 0), its width and its readable text; null when the printer
// would refuse the data.
function barcodeBars(name, encode, bytes, module, height) {
  const symbol = encode(name === "CODE128" ? bytes : latin1(bytes));
  if (!symbol) return null;
  let d = "", at = 0, last = 0;
  barWidths(symbol, module).forEach((w, i) => {
    if (i % 2 === 0) {
      d += `${d ? `m${at - last} 0` : `M${at} 0`}h${w}v${height}h${-w}z`;
      last = at;
    }
    at += w;
  });
  return { d, width: at, hri: xml(symbol.hri.replace(/[^\x20-\x7e]/g, " ")) };
}

// Draws the barcode as a block of its own, or nothing (false) when it is wider than the printing
// area.
function drawBarcode(t, name, { d, width, hri }) {
  const s = t.s;
  t.flushPending();
  if (width > t.areaWidth()) return false;
  const f = FONTS[s.hriFont], hriHeight = f.h + 4;
  const above = s.hri & 1 ? hriHeight : 0, below = s.hri & 2 ? hriHeight : 0;
  const label = (x, y) => `<text xml:space="preserve" x="${x + width / 2}" y="${y + f.base}"` +
    ` font-size="${f.size}" text-anchor="middle">${hri}</text>`;
  t.block(width, above + s.barHeight + below, (x, y) => [`<g class="korba-barcode" data-symbology="${name}">` +
    `${above ? label(x, y) : ""}<path d="${moved(d, x, y + above)}"/>` +
    `${below ? label(x, y + above + s.barHeight + 4) : ""}</g>`, 2 + Math.sign(above) + Math.sign(below)]);
  return true;
}

// QR codes, model 2: byte, alphanumeric or numeric data in the smallest version that holds it at
// the error correction level asked, with the mask of the lowest penalty.
const QR_EC_PER_BLOCK = [
  [7, 10, 15, 20, 26, 18, 20, 24, 30, 18, 20, 24, 26, 30, 22, 24, 28, 30, 28, 28, 28, 28, 30, 30, 26, 28, 30, 30, 30,
    30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30],
  [10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28, 26, 26, 26, 26, 28, 28, 28, 28, 28, 28, 28, 28,
    28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28],
  [13, 22, 18, 26, 18, 24, 18, 22, 20, 24, 28, 26, 24, 20, 30, 24, 28, 28, 26, 30, 28, 30, 30, 30, 30, 28, 30, 30, 30,
    30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30],
  [17, 28, 22, 16, 22, 28, 26, 26, 24, 28, 24, 28, 22, 24, 24, 30, 28, 28, 26, 28, 30, 24, 30, 30, 30, 30, 30, 30, 30,
    30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30],
];
const QR_BLOCKS = [
  [1, 1, 1, 1, 1, 2, 2, 2, 2, 4, 4, 4, 4, 4, 6, 6, 6, 6, 7, 8, 8, 9, 9, 10, 12, 12, 12, 13, 14, 15, 16, 17, 18, 19, 19,
    20, 21, 22, 24, 25],
  [1, 1, 1, 2, 2, 4, 4, 4, 5, 5, 5, 8, 9, 9, 10, 10, 11, 13, 14, 16, 17, 17, 18, 20, 21, 23, 25, 26, 28, 29, 31, 33,
    35, 37, 38, 40, 43, 45, 47, 49],
  [1, 1, 2, 2, 4, 4, 6, 6, 8, 8, 8, 10, 12, 16, 12, 17, 16, 18, 21, 20, 23, 23, 25, 27, 29, 34, 34, 35, 38, 40, 43, 45,
    48, 51, 53, 56, 59, 62, 65, 68],
  [1, 1, 2, 4, 4, 4, 5, 6, 8, 8, 11, 11, 16, 16, 18, 16, 19, 21, 25, 25, 25, 34, 30, 32, 35, 37, 40, 42, 45, 48, 51,
    54, 57, 60, 63, 66, 70, 74, 77, 81],
];
// The format information's two bits for L, M, Q and H.
const QR_LEVEL_BITS = [1, 0, 3, 2];
const QR_ALPHANUMERIC = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";

// GF(256) over x^8 + x^4 + x^3 + x^2 + 1.
const GF_EXP = new Uint8Array(512), GF_LOG = new Uint8Array(256);
for (let i = 0, x = 1; i < 255; i++, x = (x << 1) ^ (x & 0x80 ? 0x11d : 0)) {
  GF_EXP[i] = GF_EXP[i + 255] = x;
  GF_LOG[x] = i;
}
const gfMul = (a, b) => (a && b ? GF_EXP[GF_LOG[a] + GF_LOG[b]] : 0);

// The Reed-Solomon error correction codewords of `data`, `count` of them.
function reedSolomon(data, count) {
  let generator = [1];
  for (let i = 0; i < count; i++) {
    const next = new Array(generator.length + 1).fill(0);
    generator.forEach((g, j) => {
      next[j] ^= g;
      next[j + 1] ^= gfMul(g, GF_EXP[i]);
    });
    generator = next;
  }
  const rest = [...data, ...new Array(count).fill(0)];
  for (let i = 0; i < data.length; i++) {
    const factor = rest[i];
    if (factor) generator.forEach((g, j) => { rest[i + j] ^= gfMul(g, factor); });
  }
  return rest.slice(data.length);
}

// The modules a version has for data and error correction, in codewords.
function qrCodewords(version) {
  let modules = (16 * version + 128) * version + 64;
  if (version >= 2) {
    const align = Math.floor(version / 7) + 2;
    modules -= (25 * align - 10) * align - 55;
    if (version >= 7) modules -= 36;
  }
  return Math.floor(modules / 8);
}

function qrAlignment(version) {
  if (version === 1) return [];
  const count = Math.floor(version / 7) + 2;
  const step = version === 32 ? 26 : Math.ceil((version * 4 + 4) / (count * 2 - 2)) * 2;
  const positions = [6];
  for (let at = version * 4 + 10; positions.length < count; at -= step) positions.splice(1, 0, at);
  return positions;
}

class Bits {
  constructor() { this.bits = []; }
  put(value, count) {
    for (let i = count - 1; i >= 0; i--) this.bits.push((value >>> i) & 1);
  }
}

// The data's mode (numeric, alphanumeric or byte), the length field's width by version group, and
// the writing of its data bits.
function qrSegment(bytes) {
  const text = latin1(bytes);
  if (/^\d+$/.test(text)) {
    return { mode: 1, length: text.length, counts: [10, 12, 14], write: (b) => {
      for (let i = 0; i < text.length; i += 3) {
        const group = text.slice(i, i + 3);
        b.put(Number(group), group.length * 3 + 1);
      }
    } };
  }
  if (Array.from(text).every((c) => QR_ALPHANUMERIC.includes(c))) {
    return { mode: 2, length: text.length, counts: [9, 11, 13], write: (b) => {
      for (let i = 0; i < text.length; i += 2) {
        const pair = Array.from(text.slice(i, i + 2), (c) => QR_ALPHANUMERIC.indexOf(c));
        if (pair.length === 2) b.put(pair[0] * 45 + pair[1], 11);
        else b.put(pair[0], 6);
      }
    } };
  }
  return { mode: 4, length: bytes.length, counts: [8, 16, 16], write: (b) => bytes.forEach((byte) => b.put(byte, 8)) };
}

// The smallest version from `from` on that holds `bytes` at `level` (0 L, 1 M, 2 Q, 3 H), with
// what its codewords are made from; null when not even version 40 holds them.
function qrFit(bytes, level, from) {
  // Version 40 holds 7089 digits at the most.
  if (bytes.length > 7089) return null;
  const segment = qrSegment(bytes), body = new Bits();
  segment.write(body);
  for (let version = from; version <= 40; version++) {
    const blocks = QR_BLOCKS[level][version - 1], ec = QR_EC_PER_BLOCK[level][version - 1];
    const total = qrCodewords(version), capacity = (total - blocks * ec) * 8;
    const countBits = segment.counts[version < 10 ? 0 : version < 27 ? 1 : 2];
    if (segment.length < 2 ** countBits && 4 + countBits + body.bits.length <= capacity) {
      return { version, size: version * 4 + 17, level, segment, body, countBits, capacity, blocks, ec, total };
    }
  }
  return null;
}

// The codewords of the symbol `qrFit` found, data and error correction interleaved.
function qrCodewordsFor({ segment, body, countBits, capacity, blocks, ec, total }) {
  const b = new Bits();
  b.put(segment.mode, 4);
  b.put(segment.length, countBits);
  b.bits = b.bits.concat(body.bits);
  b.put(0, Math.min(4, capacity - b.bits.length));
  b.put(0, (8 - (b.bits.length % 8)) % 8);
  const data = [];
  for (let i = 0; i < b.bits.length; i += 8) data.push(parseInt(b.bits.slice(i, i + 8).join(""), 2));
  for (let pad = 0xec; data.length < capacity / 8; pad ^= 0xec ^ 0x11) data.push(pad);
  // Blocks of the same error correction; the later ones hold one data codeword more.
  const short = blocks - (total % blocks), shortLength = Math.floor(total / blocks) - ec;
  const dataBlocks = [];
  for (let i = 0, at = 0; i < blocks; i++) {
    const length = shortLength + (i < short ? 0 : 1);
    dataBlocks.push(data.slice(at, at + length));
    at += length;
  }
  const ecBlocks = dataBlocks.map((block) => reedSolomon(block, ec));
  const out = [];
  for (let i = 0; i <= shortLength; i++) dataBlocks.forEach((block) => i < block.length && out.push(block[i]));
  for (let i = 0; i < ec; i++) ecBlocks.forEach((block) => out.push(block[i]));
  return out;
}

const QR_MASKS = [
  (x, y) => (x + y) % 2 === 0, (x, y) => y % 2 === 0, (x) => x % 3 === 0, (x, y) => (x + y) % 3 === 0,
  (x, y) => (Math.floor(x / 3) + Math.floor(y / 2)) % 2 === 0, (x, y) => ((x * y) % 2) + ((x * y) % 3) === 0,
  (x, y) => (((x * y) % 2) + ((x * y) % 3)) % 2 === 0, (x, y) => (((x + y) % 2) + ((x * y) % 3)) % 2 === 0,
];

// The modules of the symbol `qrFit` found, row by row (1 dark).
function qrSymbol(fit) {
  const { version, size, level } = fit, codewords = qrCodewordsFor(fit);
  const dark = new Uint8Array(size * size), fixed = new Uint8Array(size * size);
  const set = (x, y, on) => {
    if (x < 0 || y < 0 || x >= size || y >= size) return;
    dark[y * size + x] = on ? 1 : 0;
    fixed[y * size + x] = 1;
  };
  for (let i = 0; i < size; i++) {
    set(6, i, i % 2 === 0);
    set(i, 6, i % 2 === 0);
  }
  for (const [cx, cy] of [[3, 3], [size - 4, 3], [3, size - 4]]) {
    for (let dy = -4; dy <= 4; dy++) for (let dx = -4; dx <= 4; dx++) {
      const d = Math.max(Math.abs(dx), Math.abs(dy));
      set(cx + dx, cy + dy, d !== 2 && d !== 4);
    }
  }
  const align = qrAlignment(version), last = align.length - 1;
  align.forEach((cx, i) => align.forEach((cy, j) => {
    if ((i === 0 && j === 0) || (i === 0 && j === last) || (i === last && j === 0)) return;
    for (let dy = -2; dy <= 2; dy++) for (let dx = -2; dx <= 2; dx++) {
      set(cx + dx, cy + dy, Math.max(Math.abs(dx), Math.abs(dy)) !== 1);
    }
  }));
  // The level and mask, twice, and the dark module beside the lower copy.
  const format = (grid, mask) => {
    const put = (x, y, on) => {
      grid[y * size + x] = on ? 1 : 0;
      fixed[y * size + x] = 1;
    };
    const value = (QR_LEVEL_BITS[level] << 3) | mask;
    let rem = value;
    for (let i = 0; i < 10; i++) rem = (rem << 1) ^ ((rem >> 9) * 0x537);
    const bits = ((value << 10) | rem) ^ 0x5412;
    const bit = (i) => (bits >> i) & 1;
    for (let i = 0; i <= 5; i++) put(8, i, bit(i));
    put(8, 7, bit(6));
    put(8, 8, bit(7));
    put(7, 8, bit(8));
    for (let i = 9; i < 15; i++) put(14 - i, 8, bit(i));
    for (let i = 0; i < 8; i++) put(size - 1 - i, 8, bit(i));
    for (let i = 8; i < 15; i++) put(8, size - 15 + i, bit(i));
    put(8, size - 8, 1);
  };
  format(dark, 0);
  if (version >= 7) {
    let rem = version;
    for (let i = 0; i < 12; i++) rem = (rem << 1) ^ ((rem >> 11) * 0x1f25);
    const bits = (version << 12) | rem;
    for (let i = 0; i < 18; i++) {
      const on = (bits >> i) & 1, a = size - 11 + (i % 3), b = Math.floor(i / 3);
      set(a, b, on);
      set(b, a, on);
    }
  }
  // The data in pairs of columns from the right, up and down in turn, around what is fixed.
  let bit = 0;
  for (let right = size - 1; right >= 1; right -= 2) {
    if (right === 6) right = 5;
    for (let v = 0; v < size; v++) {
      for (let j = 0; j < 2; j++) {
        const x = right - j, y = ((right + 1) & 2) === 0 ? size - 1 - v : v;
        if (fixed[y * size + x]) continue;
        dark[y * size + x] = bit < codewords.length * 8 ? (codewords[bit >> 3] >> (7 - (bit & 7))) & 1 : 0;
        bit++;
      }
    }
  }
  let best = null;
  for (let mask = 0; mask < 8; mask++) {
    const candidate = dark.slice(), flip = QR_MASKS[mask];
    for (let y = 0; y < size; y++) {
      for (let x = 0; x < size; x++) if (!fixed[y * size + x] && flip(x, y)) candidate[y * size + x] ^= 1;
    }
    format(candidate, mask);
    const score = qrPenalty(candidate, size);
    if (!best || score < best.score) best = { score, modules: candidate };
  }
  return best.modules;
}

// The four penalty rules that choose the mask: runs of five or more, 2 x 2 blocks, finder-like
// patterns (1:1:3:1:1 with four light modules on one side) and the share of dark modules.
function qrPenalty(modules, size) {
  let score = 0, darkCount = 0;
  for (let across = 0; across < 2; across++) {
    for (let i = 0; i < size; i++) {
      let run = 0, previous = -1, recent = 0;
      for (let j = 0; j < size; j++) {
        const on = across ? modules[i * size + j] : modules[j * size + i];
        if (on === previous) {
          run++;
          if (run === 5) score += 3;
          else if (run > 5) score++;
        } else {
          run = 1;
          previous = on;
        }
        recent = ((recent << 1) | on) & 0x7ff;
        if (j >= 10 && (recent === 0x5d0 || recent === 0x05d)) score += 40;
      }
    }
  }
  for (let y = 0; y < size; y++) {
    for (let x = 0; x < size; x++) {
      const at = y * size + x, on = modules[at];
      darkCount += on;
      if (x && y && on === modules[at - size] && on === modules[at - 1] && on === modules[at - size - 1]) score += 3;
    }
  }
  return score + Math.floor(Math.abs(darkCount * 20 - size * size * 10) / (size * size)) * 10;
}

// GS ( k pL pH cn fn ...: the QR code's (cn 49) model, module size, error correction level, data
// and printing; the other symbols are marked where they would be printed.
function symbolCommand(t, data, at) {
  if (lengthOf(data, at, 5) < 0) return -1;
  const size = word(data, at + 3), end = lengthOf(data, at, 5 + size);
  if (end < 0) return -1;
  const s = t.s, cn = data[at + 5], fn = data[at + 6], n = data[at + 7], command = data.subarray(at, end);
  if (size < 2 || (cn !== 49 && fn === 81)) t.skipped(command);
  else if (cn !== 49 || fn === 65 || fn === 82) return end;
  else if (fn === 67 && n >= 1 && n <= 16) s.qrSize = n;
  else if (fn === 69 && n >= 48 && n <= 51) s.qrLevel = n - 48;
  else if (fn === 80 && size >= 3) s.qrData = { bytes: data.subarray(at + 8, end), text: null };
  else if (fn !== 81) t.skipped(command);
  else if (!s.qrData) t.skipped(command, refused(command));
  else drawQr(t, s.qrData, s.qrLevel, s.qrSize, 1, command);
  return end;
}

// ESC Z m n k dL dH d1 ... dk: a QR code printed at once, of version m or the smallest above it
// that holds the data (0: the smallest), error correction level n (L, M, Q or H, or 0 to 3), k
// dots a module.
function escQr(t, data, at) {
  if (lengthOf(data, at, 7) < 0) return -1;
  const end = lengthOf(data, at, 7 + word(data, at + 5));
  if (end < 0) return -1;
  const version = data[at + 2], n = data[at + 3], module = data[at + 4], command = data.subarray(at, end);
  const level = n < 4 ? n : n >= 48 && n <= 51 ? n - 48 : "LMQH".indexOf(String.fromCharCode(n));
  if (version > 40 || level < 0 || module < 1 || module > 16) t.skipped(command, refused(command));
  else drawQr(t, { bytes: data.subarray(at + 7, end), text: null }, level, module, Math.max(version, 1), command);
  return end;
}

// Draws the QR code of `code.bytes` as a block of its own, or marks `command` when no version
// holds the data or the symbol is wider than the printing area. Each content is encoded once per
// level and version, and drawn once per module size (`code.text` keeps the content as the key).
function drawQr(t, code, level, module, from, command) {
  if (!code.bytes.length || code.bytes.length > 7089) return t.skipped(command, refused(command));
  code.text ??= latin1(code.bytes);
  const fit = t.code(code.text, `qr ${level} ${from}`, () => qrFit(code.bytes, level, from));
  if (!fit) return t.skipped(command, refused(command));
  const width = fit.size * module;
  t.flushPending();
  if (width > t.areaWidth()) return t.skipped(command, TOO_WIDE_QR);
  const d = t.code(code.text, `qr ${level} ${from} ${module}`, () => {
    fit.modules ??= qrSymbol(fit);
    const dark = (c, r) => fit.modules[r * fit.size + c];
    return bitsPaths(0, 0, fit.size, module, module, runsOf(fit.size, dark), Infinity, Infinity).paths.join("");
  });
  t.block(width, width, (x, y) => [`<g class="korba-qr"><path d="${moved(d, x, y)}"/></g>`, 2]);
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
 * @param {Uint8Array | ArrayBuffer} bytes the ticket
 * @param {{paper?: 80 | 58}} [options] paper width in millimetres (80 by default)
 * @returns {string} an SVG document, one unit a printer dot
 */
export function renderTicket(bytes, { paper = 80 } = {}) {
  if (!(bytes instanceof Uint8Array || bytes instanceof ArrayBuffer)) {
    throw new TypeError("a ticket is a Uint8Array or an ArrayBuffer");
  }
  if (!PAPERS[paper]) throw new RangeError("paper must be 58 or 80");
  const data = new Uint8Array(bytes);
  const t = new Ticket(paper);
  for (let at = 0; at < data.length && !t.full;) {
    const b = data[at];
    if (b >= 0x20) {
      const page = t.s.codePage, del = DEL_PAGES.has(page) ? "\ufffd" : "⌂";
      t.char(b < 0x7f ? String.fromCharCode(b) : b === 0x7f ? del : CODE_PAGES[page][b - 0x80]);
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
        t.skipped(data.subarray(at), `orden incompleta ${hexTitle(data.subarray(at))}`);
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
