export interface RenderOptions {
  /** Paper width in millimetres: 80 (576 dots a line, the default) or 58 (384 dots). */
  paper?: 80 | 58;
}

/**
 * Draws an ESC/POS ticket as a 203 dpi thermal printer prints it: an SVG document whose unit is
 * one printer dot. Text is SVG text; cuts, drawer pulses and commands the drawing skips are marked
 * by elements of the classes korba-cut, korba-pulse and korba-skip, each with a <title> that says
 * what it stands for, and a ticket too large to draw ends in one korba-too-large mark. Never throws
 * on the ticket's bytes; a ticket that is not a Uint8Array or an ArrayBuffer is a TypeError, a
 * paper other than 58 or 80 a RangeError.
 */
export function renderTicket(bytes: Uint8Array | ArrayBuffer, options?: RenderOptions): string;
