// Types of the korba-vizoza bridge client. Field names are the bridge's own.

/** The address a bridge listens on unless it was started with --port: `http://127.0.0.1:9230`. */
export declare const DEFAULT_ADDRESS: string;
/** Milliseconds a call waits for the bridge's reply when no `timeout` is given: 5000. */
export declare const DEFAULT_TIMEOUT: number;

/**
 * What went wrong, stable across releases:
 * - `"not-running"`: no reply, and no browser permission explains it (nothing listens on the address). A
 *   redirect counts as no reply: it is never followed, so a program squatting the port cannot send a call elsewhere.
 * - `"permission-prompt"`: no reply; the browser asks the user for local-network access first.
 * - `"permission-denied"`: no reply; the user or the browser refused local-network access to this site.
 * - `"timeout"`: no full reply within the call's time-out. A print may still have reached the spooler.
 * - `"origin-refused"`: the bridge does not admit this page's origin (403).
 * - `"host-refused"`: the bridge does not admit the address's host name (403); call 127.0.0.1 or localhost.
 * - `"bad-request"`: the bridge refused the request (400), for example an empty ticket.
 * - `"printer-error"`: the spooler failed (500; `setStartup` too when the autostart change failed), or
 *   `check()` found no printer it can open.
 * - `"busy"`: the bridge is taking in as many requests as it can hold (503); nothing was done. Retry in a moment.
 * - `"outdated"`: `check()` found a version below `minVersion`, or the bridge lacks the route (404).
 * - `"bad-reply"`: the answer is not the bridge's JSON (another program on the port, a proxy).
 */
export type BridgeErrorCode =
  | "not-running"
  | "permission-prompt"
  | "permission-denied"
  | "timeout"
  | "origin-refused"
  | "host-refused"
  | "bad-request"
  | "printer-error"
  | "busy"
  | "outdated"
  | "bad-reply";

/** Every failure of a bridge call. Nothing is retried: after a `"timeout"` a ticket may have printed. */
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
  /** The bridge's address, default {@link DEFAULT_ADDRESS}. */
  address?: string;
  /** Milliseconds each call waits, default {@link DEFAULT_TIMEOUT}. */
  timeout?: number;
}

export interface CallOptions {
  /** Milliseconds this call waits, instead of the bridge object's `timeout`. */
  timeout?: number;
}

export interface CheckOptions extends CallOptions {
  /** The lowest bridge version the page works with, for example `"1.4.0"`. */
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
  /** The printer the bridge uses (not necessarily the system's default). */
  default: string;
  /** Every installed printer, in the spooler's order. */
  printers: string[];
}

/** `POST /raw`: the spooler has taken the job (the paper may not be out yet; see {@link Bridge.queue}). */
export interface Printed {
  ok: true;
  printer: string;
  /** Bytes handed to the spooler. */
  bytes: number;
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

  /** Whether the bridge runs, its version and printer. */
  status(options?: CallOptions): Promise<Status>;
  /** The installed printers and the one the bridge uses. */
  printers(options?: CallOptions): Promise<Printers>;
  /** Prints a ticket, sent as Base64 in JSON (one preflight in a browser). */
  print(bytes: Ticket, options?: CallOptions): Promise<Printed>;
  /** Prints a ticket sent as the raw body: no Base64 and no preflight, for large tickets. */
  printRaw(bytes: Ticket, options?: CallOptions): Promise<Printed>;
  /** Opens the cash drawer on pin 2 (the standard connector, the default) or pin 5. */
  pulse(pin?: 2 | 5, options?: CallOptions): Promise<Pulsed>;
  /** Switches the per-user autostart entry on or off. */
  setStartup(on: boolean, options?: CallOptions): Promise<Startup>;
  /**
   * The printer's queue. After a print, `jobs` that stay above 0, or a state of `"paused"`,
   * `"offline"` or `"error"`, mean the ticket has not come out: tell the user, do not print again.
   */
  queue(options?: CallOptions): Promise<Queue>;
  /**
   * The printer's own status. With {@link Bridge.queue}: jobs that wait while the state is, say,
   * `"paper-out"` tell the cashier why ("sin papel").
   */
  device(options?: CallOptions): Promise<Device>;
  /**
   * Whether printing can work now: resolves with the status when the bridge answers, is at least
   * `minVersion` and can open its printer; else rejects (`"outdated"`, `"printer-error"`, or the
   * code of the failed call).
   */
  check(options?: CheckOptions): Promise<Status>;
}
