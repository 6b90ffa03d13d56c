// Types of the korba-vizoza bridge client. Field names are the bridge's own.

export { rasterize, textImage, RasterOptions, TextImageOptions, RgbaImage, ImageSource } from "./korba-raster.js";

/** The address a bridge listens on unless it was started with --port: `http://127.0.0.1:9230`. */
export declare const DEFAULT_ADDRESS: string;
/** Milliseconds a call waits for the bridge's reply when no `timeout` is given: 5000. */
export declare const DEFAULT_TIMEOUT: number;
/** Milliseconds {@link Bridge.printOnce} keeps sending and following a ticket when no `timeout` is given: 15000. */
export declare const DEFAULT_PRINT_ONCE_TIMEOUT: number;
/** Seconds a ticket may wait `"queued"` before {@link Bridge.printOnce} moves it to its fallback printer: 20. */
export declare const DEFAULT_FALLBACK_AFTER: number;

/**
 * What went wrong, stable across releases:
 * - `"not-running"`: no reply, and no browser permission explains it (nothing listens on the address). A
 *   redirect counts as no reply: it is never followed, so a program squatting the port cannot send a call elsewhere.
 * - `"permission-prompt"`: no reply; the browser asks the user for local-network access first.
 * - `"permission-denied"`: no reply; the user or the browser refused local-network access to this site.
 * - `"timeout"`: no full reply within the call's time-out. A print may still have reached the spooler: send it
 *   again with the same `id` (a repeat prints nothing), or let {@link Bridge.printOnce} do it.
 * - `"origin-refused"`: the bridge does not admit this page's origin (403).
 * - `"host-refused"`: the bridge does not admit the address's host name (403); call 127.0.0.1 or localhost.
 * - `"bad-request"`: the bridge refused the request (400), for example an empty ticket, an invalid ticket id or
 *   `expire`.
 * - `"no-such-printer"`: the bridge has no printer under the alias given as `printer` (400), or a
 *   {@link Bridge.printOnce} fallback names one it does not have; nothing was printed or cancelled.
 * - `"id-conflict"`: the ticket id was already used for a ticket with other bytes (409); nothing was printed.
 * - `"not-cancellable"`: {@link Bridge.cancel} of a ticket that is no longer queued (409); nothing changed.
 * - `"no-such-ticket"`: the bridge has no ticket with that id (404 of `GET /tickets`).
 * - `"printer-error"`: the spooler failed, or the ticket record could not be written (500; nothing printed,
 *   the id is free again; `setStartup` too when the autostart change failed), or `check()` found no printer
 *   it can open.
 * - `"busy"`: the bridge is taking in as many requests as it can hold (503); nothing was done. Retry in a moment.
 * - `"outdated"`: `check()` found a version below `minVersion`, or the bridge lacks the route (404; ticket
 *   ids and `GET /tickets` need 1.5.0).
 * - `"bad-reply"`: the answer is not the bridge's JSON (another program on the port, a proxy).
 * - `"too-large"`: the ticket's body would be over the bridge's 8388608 bytes (8 MiB; in Base64 with
 *   `json: true`); refused before anything is sent, never retried.
 * - `"aborted"`: the call's `signal` aborted; a ticket the bridge had taken stays as it is.
 * - `"no-preview"`: {@link Bridge.preview} of a bridge that was not started with `--preview` (404).
 */
export type BridgeErrorCode =
  | "not-running"
  | "permission-prompt"
  | "permission-denied"
  | "timeout"
  | "origin-refused"
  | "host-refused"
  | "bad-request"
  | "no-such-printer"
  | "id-conflict"
  | "not-cancellable"
  | "no-such-ticket"
  | "printer-error"
  | "busy"
  | "outdated"
  | "bad-reply"
  | "too-large"
  | "aborted"
  | "no-preview";

/**
 * Every failure of a bridge call. Only {@link Bridge.printOnce} retries; after a `"timeout"` of another call a
 * ticket may have printed.
 */
export declare class BridgeError extends Error {
  constructor(code: BridgeErrorCode, message: string, details?: { status?: number; reply?: unknown; cause?: unknown });
  readonly name: "BridgeError";
  /** What went wrong; see {@link BridgeErrorCode}. */
  readonly code: BridgeErrorCode;
  /** The bridge's Spanish `error` text when it sent one, else a Spanish text of the client, meant for the user. */
  readonly message: string;
  /** The HTTP status of the reply; `undefined` when none arrived. */
  readonly status: number | undefined;
  /** The parsed reply body, when there was one. */
  readonly reply: unknown;
}

/** A ticket: the ESC/POS bytes, sent to the printer untouched. */
export type Ticket = Uint8Array | ArrayBuffer;

export interface BridgeOptions {
  /**
   * The bridge's address, default {@link DEFAULT_ADDRESS}: `http://127.0.0.1:PORT` or `http://localhost:PORT`,
   * optionally with a trailing `/`. Any other is a `TypeError`.
   */
  address?: string;
  /** Milliseconds each call waits, default {@link DEFAULT_TIMEOUT}. */
  timeout?: number;
}

export interface CallOptions {
  /** Milliseconds this call waits, instead of the bridge object's `timeout`. */
  timeout?: number;
  /** Aborting it stops the call at once with `"aborted"`. */
  signal?: AbortSignalLike;
}

/** An `AbortSignal`, the browser's or Node's (named by its shape, so that these types need no DOM library). */
export interface AbortSignalLike {
  readonly aborted: boolean;
  readonly reason?: unknown;
  addEventListener(type: "abort", listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: "abort", listener: () => void): void;
}

/** A ticket id: 1 to 64 of `A-Z a-z 0-9 . _ ~ : -`; a number is sent as its decimal text. */
export type TicketId = string | number;

export interface PrinterOptions extends CallOptions {
  /**
   * The alias of one of the bridge's printers (`--printer-for cocina=...`): 1 to 32 of `a-z 0-9 - _`.
   * Leave it out for the bridge's main printer. An alias the bridge does not have is a `"no-such-printer"`.
   */
  printer?: string;
}

export interface PrintOptions extends PrinterOptions {
  /**
   * The ticket's id: 1 to 64 of `A-Z a-z 0-9 . _ ~ : -`. The same id with the same bytes again prints nothing
   * (the reply says `repeat: true`); with other bytes it is an `"id-conflict"`. Default: a new
   * `crypto.randomUUID()` (32 random hexadecimal digits on a page that is not a secure context).
   */
  id?: TicketId;
  /** Seconds, 1 to 86400: the ticket must begin printing within them, or the bridge deletes it ("expired"). */
  expire?: number;
  /**
   * `true` sends the ticket as `{"data_b64":...}` JSON instead of its bytes: a third larger, a preflight in a
   * browser, and from a refused origin a failure that reads as an unreachable bridge. Only for a caller that
   * needs the body to be text.
   */
  json?: boolean;
}

export interface Fallback {
  /** The alias of the printer that prints the ticket instead. */
  printer: string;
  /**
   * Seconds, counted from when the bridge took the ticket, that it may wait `"queued"` before it is cancelled and
   * sent to `printer`; default {@link DEFAULT_FALLBACK_AFTER}.
   */
  after?: number;
}

/** What {@link Bridge.printOnce} shows before the bridge has taken the ticket. */
export interface TicketSending {
  id: TicketId;
  state: "sending";
  reasons: [];
  printer: null;
  job: null;
  /** The last try's failure, which is being retried (`"not-running"`, `"timeout"`, `"busy"`); `null` at first. */
  failure: BridgeError | null;
}

export interface PrintOnceOptions {
  /** As in {@link PrintOptions}; default a new one. With a `fallback`, at most 63 characters less the alias's. */
  id?: TicketId;
  /** As in {@link PrintOptions}. */
  expire?: number;
  /** As in {@link PrinterOptions}. */
  printer?: string;
  /**
   * Where the ticket goes when it is still `"queued"` `after` seconds after the bridge took it: it is cancelled
   * and sent to the fallback's printer under the id `ID~ALIAS`. When the cancel comes too late (it began
   * printing) the ticket is followed where it is.
   */
  fallback?: Fallback;
  /**
   * Milliseconds to keep sending and following the ticket, default {@link DEFAULT_PRINT_ONCE_TIMEOUT} (plus the
   * fallback's `after`); each request waits at most the bridge object's `timeout`.
   */
  timeout?: number;
  /**
   * Called whenever what the client sees of the ticket changes (its `state`, `reasons`, `printer` or `job`, or
   * the failure retried while `"sending"`): first `"sending"`, then the records the bridge gives.
   */
  onState?: (ticket: TicketSending | TicketRecord) => void;
  /**
   * Aborting it stops the retries and the following at once: `printOnce` rejects with `"aborted"`. A ticket the
   * bridge took stays as it is; {@link Bridge.cancel} takes it out of its queue while it is `"queued"`.
   */
  signal?: AbortSignalLike;
}

export interface CheckOptions extends PrinterOptions {
  /** The lowest bridge version the page works with, for example `"1.5.0"` (the first with ticket ids). */
  minVersion?: string;
}

/** `GET /status`. */
export interface Status {
  ok: true;
  /** Always `"korba-vizoza"`. */
  app: string;
  version: string;
  /** The printer chosen when the bridge started; `""` when the PC had none. */
  printer: string;
  /** Whether that printer can be opened now. */
  printer_ok: boolean;
  port: number;
  /** Whether the per-user autostart entry ("modo simple") is on. */
  startup: boolean;
  /** The full path of the running program. */
  exe: string;
}

/** `GET /printers`. */
export interface Printers {
  ok: true;
  /** The bridge's main printer (not necessarily the system's default). */
  default: string;
  /** Every installed printer, in the spooler's order. */
  printers: string[];
  /** Alias to printer name, in the order the bridge was given them; absent when it has none. */
  aliases?: Record<string, string>;
}

/** `POST /raw`: the spooler has taken the job (the paper may not be out yet; see {@link Bridge.ticket}). */
export interface Printed {
  ok: true;
  printer: string;
  /** Bytes handed to the spooler. */
  bytes: number;
  /** The ticket's id, the caller's or the one the client made. */
  id: string;
  /** The spooler's job number; `null` when it gave none. */
  job: number | null;
  /** `true` when the id had come before with these bytes: nothing was printed now, the rest is the record's. */
  repeat: boolean;
}

/**
 * What became of a ticket:
 * - `"queued"`: in the spooler's queue, not printing yet (paused queue, printer off line, paper out: see `reasons`);
 * - `"printing"`: the spooler is sending it;
 * - `"sent"`: the spooler handed all of it to the printer (the paper is not confirmed);
 * - `"failed"`: its print answered 500 (`error` says why), or the spooler aborted it;
 * - `"cancelled"`: someone deleted it from the queue, or {@link Bridge.cancel} did;
 * - `"expired"`: the bridge deleted it because it had not begun printing before its `expire`;
 * - `"unknown"`: the spooler no longer knows the job and the bridge did not see its end.
 * All but `"queued"` and `"printing"` are final: they never change.
 */
export type TicketState = "queued" | "printing" | "sent" | "failed" | "cancelled" | "expired" | "unknown";

/** One ticket in the bridge's record, as `GET /tickets` lists it. */
export interface TicketEntry {
  /** `null` for a ticket printed without an id. */
  id: string | null;
  printer: string;
  bytes: number;
  /** The spooler's job number; `null` when there is none. */
  job: number | null;
  /** When the bridge received it, UTC, for example `"2026-12-09T13:05:01Z"`. */
  received: string;
  state: TicketState;
  /** The job's and then the printer's reasons while it waits or prints (`"paper-out"`, ...); once final the last seen. */
  reasons: string[];
  /** The message of its failed print, else `null`. */
  error: string | null;
}

/** `GET /tickets?id=`. */
export interface TicketRecord extends TicketEntry {
  ok: true;
}

/** One ticket of a preview run. */
export interface PreviewTicket {
  /** `null` for a ticket printed without an id. */
  id: string | null;
  /** When the bridge received it, UTC, for example `"2026-12-09T13:05:01Z"`. */
  received: string;
  bytes: number;
  /** The ticket's bytes, for `renderTicket` of `korba-vizoza/render`. */
  data: Uint8Array;
}

/** `GET /preview`, with each ticket's bytes decoded. */
export interface Preview {
  ok: true;
  /** The roll's width in millimetres. */
  paper: 80 | 58;
  /** The newest 50 at most, newest first. */
  tickets: PreviewTicket[];
}

/** `GET /tickets`: the newest 50, newest first. */
export interface Tickets {
  ok: true;
  tickets: TicketEntry[];
}

/** `POST /pulse`. */
export interface Pulsed {
  ok: true;
  printer: string;
  pin: 2 | 5;
}

/** `POST /startup`. */
export interface Startup {
  ok: true;
  /** The entry's state, read back after the change. */
  startup: boolean;
  exe: string;
  /** A Spanish warning when the program runs from a downloads or temporary folder, else `null`. */
  warning: string | null;
}

/** `GET /queue`: the printer's queue as the spooler sees it now. */
export interface Queue {
  ok: true;
  printer: string;
  /** `"unavailable"`, `"paused"`, `"offline"`, `"error"`, `"printing"` or `"ready"`. */
  state: "unavailable" | "paused" | "offline" | "error" | "printing" | "ready";
  /** Jobs in the printer's queue that have not finished, the bridge's and others'. */
  jobs: number;
  /** The spooler's reasons, for example `"paper-out"` or `"paused"`. */
  reasons: string[];
}

/**
 * `GET /device`: what a network receipt printer says of itself, asked on its raw TCP port (at most
 * once a second whoever asks). The fields after `state` are `null` (and `errors` empty) for
 * `"not-network"`, `"unreachable"` and `"no-answer"`.
 */
export interface Device {
  ok: true;
  printer: string;
  /** `"host:port"` of the printer's port, as its administrator set it; `null` for `"not-network"`. */
  address: string | null;
  /**
   * The first that applies: `"not-network"` (no raw TCP port: a USB printer, for one), `"unreachable"`
   * (no connection within a second), `"no-answer"` (connected, but no status within a second, as when the
   * printer serves another connection), `"cover-open"`, `"paper-out"`, `"error"`, `"offline"`,
   * `"paper-near-end"`, `"ready"`.
   */
  state: "not-network" | "unreachable" | "no-answer" | "cover-open" | "paper-out" | "error" | "offline" |
    "paper-near-end" | "ready";
  paper: "ok" | "near-end" | "out" | null;
  cover: "closed" | "open" | null;
  /** The drawer connector's pin 3 as it is; whether `"high"` means open depends on the drawer. */
  drawer_signal: "high" | "low" | null;
  errors: ("cutter" | "unrecoverable" | "auto-recoverable")[];
}

/**
 * One bridge. Every method sends one request and resolves with the bridge's reply as a plain
 * object, or rejects with a {@link BridgeError}. Wrong arguments reject with a `TypeError` or
 * `RangeError` and send nothing.
 */
export declare class Bridge {
  constructor(options?: BridgeOptions);
  /** The address without a trailing slash. */
  readonly address: string;
  /** Milliseconds each call waits unless it says otherwise. */
  timeout: number;

  /** Whether the bridge runs, its version and printer (the main one, or the one named by `printer`). */
  status(options?: PrinterOptions): Promise<Status>;
  /** The installed printers, the main one and the aliases. */
  printers(options?: CallOptions): Promise<Printers>;
  /**
   * Prints a ticket under its id, its bytes as the body (`text/plain`: no preflight in a browser); with
   * `json: true` as Base64 in JSON. `"too-large"` over the bridge's limit, before anything is sent.
   */
  print(bytes: Ticket, options?: PrintOptions): Promise<Printed>;
  /** The same as {@link Bridge.print} without `json`: the bytes as they are. */
  printRaw(bytes: Ticket, options?: PrintOptions): Promise<Printed>;
  /** A preview run's tickets (`--preview`), each with its bytes; `"no-preview"` from a bridge with a printer. */
  preview(options?: PrinterOptions): Promise<Preview>;
  /**
   * Prints a ticket at most once: sends it under one id, again after `"not-running"`, `"timeout"` or
   * `"busy"`, then follows it. Resolves with its record once its state is final, or as last seen when the time
   * is up (then still `"queued"` or `"printing"`: show its `reasons`). Rejects with the first other failure,
   * or with the last failure when the time is up before the bridge answered. With a `fallback`, the record is
   * the fallback ticket's when the ticket moved (its `printer` says which printed), and run again with the same
   * id (after a reload) it goes on where the first run left: never two prints.
   */
  printOnce(bytes: Ticket, options?: PrintOnceOptions): Promise<TicketRecord>;
  /** The record of one ticket; `"no-such-ticket"` when the bridge never saw the id. */
  ticket(id: TicketId, options?: CallOptions): Promise<TicketRecord>;
  /** The newest 50 tickets, newest first. */
  tickets(options?: CallOptions): Promise<Tickets>;
  /**
   * Takes a ticket that has not begun printing out of its queue: resolves with its record, now `"cancelled"`
   * (also when it already was); `"not-cancellable"` once it began printing or ended, `"no-such-ticket"` for an
   * id the bridge never saw. A cancelled id sent again prints nothing: send the ticket under a new id.
   */
  cancel(id: TicketId, options?: CallOptions): Promise<TicketRecord>;
  /** Opens the cash drawer on pin 2 (the standard connector, the default) or pin 5. */
  pulse(pin?: 2 | 5, options?: PrinterOptions): Promise<Pulsed>;
  /** Switches the per-user autostart entry on or off. */
  setStartup(on: boolean, options?: CallOptions): Promise<Startup>;
  /** The printer's queue: its state, its unfinished jobs and the spooler's reasons. */
  queue(options?: PrinterOptions): Promise<Queue>;
  /**
   * The printer's own status. With {@link Bridge.queue}: jobs that wait while the state is, say,
   * `"paper-out"` tell the cashier why ("sin papel").
   */
  device(options?: PrinterOptions): Promise<Device>;
  /**
   * Whether printing can work now: resolves with the status when the bridge answers, is at least
   * `minVersion` and can open its printer; else rejects (`"outdated"`, `"printer-error"`, or the
   * code of the failed call).
   */
  check(options?: CheckOptions): Promise<Status>;
}
