// Types of the raster images: pixels to ESC/POS GS v 0.

/** RGBA pixels, 4 values a pixel, row by row (an `ImageData` is one). */
export interface RgbaImage {
  width: number;
  height: number;
  data: ArrayLike<number>;
}

/**
 * Anywhere RGBA pixels; in the browser also an `HTMLCanvasElement`, an `OffscreenCanvas`, an `ImageBitmap` or a
 * loaded `HTMLImageElement` (named by their shape, so that these types need no DOM library).
 */
export type ImageSource = RgbaImage | { readonly width: number; readonly height: number };

export interface RasterOptions {
  /** The paper in millimetres: 80 (576 dots a line, the default) or 58 (384 dots). */
  paper?: 80 | 58;
  /** The image's width in dots, at most the paper's; default the image's own, scaled down to fit the paper. */
  width?: number;
  /** Where the image sits on the line: `ESC a` before it, and back to `"left"` after it. Default: as the printer stands. */
  align?: "left" | "center" | "right";
  /** How grey becomes black and white dots; default `"atkinson"`. */
  dither?: "atkinson" | "floyd-steinberg" | "threshold";
  /** 0 to 255, default 128: the grey (sRGB) below which a pixel is black before its error is shared. */
  threshold?: number;
}

/**
 * ESC/POS bytes that print the image: GS v 0 in bands of at most 255 rows, transparent pixels white. A wrong
 * source is a `TypeError`, a wrong option a `RangeError`.
 */
export function rasterize(source: ImageSource, options?: RasterOptions): Uint8Array;

export interface TextImageOptions extends Omit<RasterOptions, "width" | "align"> {
  /** A CSS font family the page has, default `"sans-serif"`. */
  font?: string;
  /** The font's size in dots (pixels), default 24. */
  size?: number;
  /** The line's alignment across the paper, default `"left"`. */
  align?: "left" | "center" | "right";
}

/**
 * In the browser: the text drawn with the page's fonts (lines split at `\n` and wrapped to the paper), as wide
 * as the paper, rasterized (`dither` default `"threshold"`). Any script the browser can show.
 */
export function textImage(text: string, options?: TextImageOptions): Promise<Uint8Array>;
