// Client for the korba-vizoza print bridge: one object per bridge, one error class whose `code`
// tells a page what to do. Plain ES module without dependencies, for browsers and Node 20+ (with
// the global crypto that makes the ticket ids).

export { rasterize, textImage } from "./korba-raster.js";

export const DEFAULT_ADDRESS = "http://127.0.0.1:9230";
export const DEFAULT_TIMEOUT = 5000;
export const DEFAULT_PRINT_ONCE_TIMEOUT = 15000;
// Seconds a ticket may wait "queued" before printOnce moves it to its fallback printer.
export const DEFAULT_FALLBACK_AFTER = 20;

// The states a ticket keeps for good once it has one.
const FINAL_STATES = new Set(["sent", "failed", "cancelled", "expired", "unknown"]);
// Failures after which nothing is known of the ticket: sending it again with its id is safe.
const RETRYABLE = new Set(["not-running", "timeout", "busy"]);
// The end of a 500 whose job the spooler had taken: it may print all the same, so its id stays
// taken and its state is final ("unknown").
const MAYBE_PRINTED = " — puede que se haya impreso";
// Milliseconds between two tries of printOnce, and between two looks at its ticket.
const RETRY_PAUSE = 500;
const FOLLOW_PAUSE = 500;
const NO_SUCH_TICKET = "no hay ningun ticket con id ";
const NO_SUCH_PRINTER = "impresora no configurada";
const NOT_CANCELLABLE = /^el ticket .+ ya no se puede cancelar$/;
// A printer alias as the bridge's --printer-for takes it: it goes in the query as it is.
const ALIAS = /^[a-z0-9_-]{1,32}$/;
const MAX_ID = 64;
// The largest body the bridge reads; the JSON form is `{"data_b64":"..."}`.
const MAX_BODY = 8388608;
const JSON_WRAPPER = '{"data_b64":""}'.length;
// The only addresses a bridge answers on: its loopback port, by number or by name.
const ADDRESS = /^http:\/\/(?:127\.0\.0\.1|localhost):([1-9]\d{0,4})\/?$/;

// Chromium's name for the permission that gates calls to 127.0.0.1, then the older names.
const PERMISSION_NAMES = ["loopback-network", "local-network-access", "local-network"];

// A reply comes from the bridge itself or not at all: a redirect (another program on the port while
// the bridge restarts) is a failure, no cookie goes along, and no cache answers for the bridge.
const FETCH_OPTIONS = { redirect: "error", credentials: "omit", cache: "no-store" };

// The refusals are told apart by the bridge's own texts.
const REFUSALS = new Map([
  ["origin no permitido", "origin-refused"],
  ["host no permitido", "host-refused"],
]);

export class BridgeError extends Error {
  constructor(code, message, { status, reply, cause } = {}) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = "BridgeError";
    this.code = code;
    this.status = status;
    this.reply = reply;
  }
}

export class Bridge {
  constructor({ address = DEFAULT_ADDRESS, timeout = DEFAULT_TIMEOUT } = {}) {
    const port = ADDRESS.exec(String(address))?.[1];
    if (!(port <= 65535)) {
      throw new TypeError(`the bridge's address is http://127.0.0.1:PORT or http://localhost:PORT, not ${address}`);
    }
    this.address = String(address).replace(/\/$/, "");
    this.timeout = timeout;
  }

  async status(options = {}) {
    return this.#call("GET", "/status" + printerQuery("?", options.printer), {}, options);
  }

  async printers(options) {
    return this.#call("GET", "/printers", {}, options);
  }

  async queue(options = {}) {
    return this.#call("GET", "/queue" + printerQuery("?", options.printer), {}, options);
  }

  async device(options = {}) {
    return this.#call("GET", "/device" + printerQuery("?", options.printer), {}, options);
  }

  // text/plain keeps the post a simple request: no preflight, no Base64. The JSON form only when asked.
  async print(bytes, { id, expire, printer, json = false, timeout, signal } = {}) {
    const path = rawPath(id, expire, printer);
    return this.#call("POST", path, bodyOf(asBytes(bytes), json), { timeout, signal });
  }

  async printRaw(bytes, options = {}) {
    return this.print(bytes, { ...options, json: false });
  }

  // The preview run's tickets, each with its bytes.
  async preview(options = {}) {
    let reply;
    try {
      reply = await this.#call("GET", "/preview" + printerQuery("?", options.printer), {}, options);
    } catch (error) {
      if (error.code !== "outdated") throw error;
      throw new BridgeError("no-preview", "el vizoza no se arranco con --preview",
        { status: error.status, reply: error.reply });
    }
    const tickets = reply.tickets.map(({ data_b64, ...ticket }) => ({ ...ticket, data: fromBase64(data_b64) }));
    return { ...reply, tickets };
  }

  // No body and no header: a simple request, without preflight.
  async cancel(id, options) {
    return this.#call("POST", `/tickets/cancel?id=${queryValue(id)}`, {}, options);
  }

  async ticket(id, options) {
    return this.#call("GET", `/tickets?id=${queryValue(id)}`, {}, options);
  }

  async tickets(options) {
    return this.#call("GET", "/tickets", {}, options);
  }

  // Sends the ticket until the bridge answers, always under one id, so that a retry after a lost
  // reply is a repeat and not a second print; then follows the ticket until its state is final.
  // With a fallback, a ticket that waits too long is cancelled and sent to the fallback printer
  // under an id made from its own, so that a reload that runs this again finds where it went.
  async printOnce(bytes, { id = newId(), expire, printer, fallback, timeout, onState, signal } = {}) {
    const ticket = asBytes(bytes);
    rawPath(id, expire, printer);
    bodyOf(ticket, false);   // too large: refused before anything is sent or shown
    const moved = fallback === undefined ? undefined : fallbackOf(id, fallback);
    if (onState !== undefined && typeof onState !== "function") throw new TypeError("onState is a function");
    timeout ??= DEFAULT_PRINT_ONCE_TIMEOUT + (moved ? moved.after : 0);
    const run = { deadline: performance.now() + timeout, signal, seen: watcher(onState) };
    if (signal?.aborted) throw aborted(signal);
    await this.#send(ticket, { id, expire, printer }, run);
    if (!moved) return this.#follow(id, run);
    const record = await this.#follow(id, run, moved);
    if (record.state !== "cancelled") return record;
    await this.#send(ticket, { id: moved.id, expire, printer: moved.printer }, run);
    return this.#follow(moved.id, run);
  }

  async #send(ticket, options, run) {
    run.seen(sending(options.id, null));
    for (;;) {
      try {
        await this.print(ticket, { ...options, timeout: this.#callTime(run.deadline), signal: run.signal });
        return;
      } catch (error) {
        // Its id is taken and its record will say what became of it.
        if (error.code === "printer-error" && error.message.includes(MAYBE_PRINTED)) return;
        if (!retryable(error) || timeIsUp(run.deadline, RETRY_PAUSE)) throw error;
        run.seen(sending(options.id, error));
      }
      await sleep(RETRY_PAUSE, run.signal);
    }
  }

  // The ticket once its state is final, or as last seen when the time is up. With `moved`, a ticket
  // still queued `after` milliseconds after the bridge took it is cancelled (and so final) unless
  // it began printing meanwhile (409).
  async #follow(id, run, moved) {
    let last, failure;
    const followed = performance.now();
    const call = () => ({ timeout: this.#callTime(run.deadline), signal: run.signal });
    for (;;) {
      try {
        last = run.seen(await this.ticket(id, call()));
        if (FINAL_STATES.has(last.state)) return last;
        // The bridge's clock is this PC's: `received` counts the wait before a reload too, in whole
        // seconds (the ticket may have come up to one later). The steady clock covers a wall clock
        // set back.
        if (moved && last.state === "queued" && (Date.now() - Date.parse(last.received) >= moved.after + 1000 ||
            performance.now() - followed >= moved.after)) {
          const printers = await this.printers(call());
          // Cancelled, the ticket would print nowhere.
          if (!Object.hasOwn(printers.aliases ?? {}, moved.printer)) {
            throw new BridgeError("no-such-printer", `${NO_SUCH_PRINTER}: ${moved.printer}`,
              { status: 200, reply: printers });
          }
          try {
            return run.seen(await this.cancel(id, call()));
          } catch (error) {
            if (error.code !== "not-cancellable") throw error;
            moved = undefined;
          }
        }
      } catch (error) {
        if (!retryable(error)) throw error;
        failure = error;
      }
      if (timeIsUp(run.deadline, FOLLOW_PAUSE)) {
        if (last) return last;
        throw failure;
      }
      await sleep(FOLLOW_PAUSE, run.signal);
    }
  }

  #callTime(deadline) {
    return Math.max(1, Math.ceil(Math.min(this.timeout, deadline - performance.now())));
  }

  // The pin goes in the query, so the post needs no body and no preflight.
  async pulse(pin = 2, options = {}) {
    if (pin !== 2 && pin !== 5) throw new RangeError("pin must be 2 or 5");
    return this.#call("POST", `/pulse?pin=${pin}` + printerQuery("&", options.printer), {}, options);
  }

  async setStartup(on, options) {
    if (typeof on !== "boolean") throw new TypeError("setStartup takes true or false");
    return this.#call("POST", `/startup?enable=${on ? 1 : 0}`, {}, options);
  }

  async check({ minVersion, printer, timeout, signal } = {}) {
    const status = await this.status({ printer, timeout, signal });
    if (status.app !== "korba-vizoza" || typeof status.version !== "string") {
      throw new BridgeError("bad-reply", `en ${this.address} no responde el vizoza`, { status: 200, reply: status });
    }
    if (minVersion !== undefined && compareVersions(status.version, minVersion) < 0) {
      throw new BridgeError("outdated", `el vizoza ${status.version} es anterior a la version ${minVersion}`,
        { status: 200, reply: status });
    }
    if (!status.printer_ok) {
      const message = status.printer === ""
        ? 'no hay impresora configurada (usa --printer "NOMBRE")'
        : `no se puede abrir la impresora "${status.printer}"`;
      throw new BridgeError("printer-error", message, { status: 200, reply: status });
    }
    return status;
  }

  // `signal`, the caller's, stops the call at once as "aborted".
  async #call(method, path, init, { timeout = this.timeout, signal } = {}) {
    if (signal?.aborted) throw aborted(signal);
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), timeout);
    const stop = () => controller.abort();
    signal?.addEventListener("abort", stop);
    const failed = (error, otherwise) => signal?.aborted ? aborted(signal)
      : controller.signal.aborted ? this.#timedOut(timeout, error) : otherwise();
    try {
      let response;
      try {
        response = await fetch(this.address + path, { ...init, ...FETCH_OPTIONS, method, signal: controller.signal });
      } catch (error) {
        throw await failed(error, () => this.#unreachable(error));
      }
      let text;
      try {
        text = await response.text();
      } catch (error) {
        throw failed(error, () => badReply(response.status, undefined, error));
      }
      return replyOf(response.status, text);
    } finally {
      clearTimeout(timer);
      signal?.removeEventListener("abort", stop);
    }
  }

  #timedOut(timeout, cause) {
    return new BridgeError("timeout", `el vizoza no respondio en ${Math.round(timeout)} ms`, { cause });
  }

  // fetch says no more than "failed": the browser's permission state is the only hint at why.
  async #unreachable(cause) {
    const state = await permissionState();
    if (state === "denied") {
      return new BridgeError("permission-denied",
        "el navegador no deja a esta pagina acceder al vizoza: " +
          "permite el acceso a la red local en los ajustes del sitio", { cause });
    }
    if (state === "prompt") {
      return new BridgeError("permission-prompt",
        "el navegador pide permiso para acceder a la red local: acepta el aviso y vuelve a intentarlo", { cause });
    }
    return new BridgeError("not-running", `el vizoza no responde en ${this.address}`, { cause });
  }
}

async function permissionState() {
  const permissions = globalThis.navigator?.permissions;
  // A page on the PC itself needs no permission to call it, though the browser says "prompt".
  if (!permissions || onLoopback(globalThis.location?.hostname)) return undefined;
  for (const name of PERMISSION_NAMES) {
    try {
      return (await permissions.query({ name })).state;
    } catch {
      // not a name this browser knows
    }
  }
  return undefined;
}

function onLoopback(hostname) {
  return hostname === undefined || hostname === "localhost" || hostname.endsWith(".localhost") ||
    hostname === "[::1]" || /^127\.\d+\.\d+\.\d+$/.test(hostname);
}

function replyOf(status, text) {
  let reply;
  try {
    reply = JSON.parse(text);
  } catch (error) {
    throw badReply(status, undefined, error);
  }
  if (reply === null || typeof reply !== "object" || typeof reply.ok !== "boolean") throw badReply(status, reply);
  if (reply.ok && status === 200) return reply;
  if (reply.ok || typeof reply.error !== "string") throw badReply(status, reply);
  const code = status === 403 ? REFUSALS.get(reply.error)
    // The 400s and 409s are told apart by their texts.
    : status === 400 ? (reply.error === NO_SUCH_PRINTER ? "no-such-printer" : "bad-request")
    : status === 409 ? (NOT_CANCELLABLE.test(reply.error) ? "not-cancellable" : "id-conflict")
    : status === 500 ? "printer-error"
    : status === 503 ? "busy"
    : status === 404 && reply.error.startsWith(NO_SUCH_TICKET) ? "no-such-ticket"
    // A route this client knows and the bridge does not: an older bridge.
    : status === 404 ? "outdated"
    : undefined;
  if (!code) throw badReply(status, reply);
  throw new BridgeError(code, reply.error, { status, reply });
}

function badReply(status, reply, cause) {
  return new BridgeError("bad-reply", `respuesta inesperada del vizoza (HTTP ${status})`, { status, reply, cause });
}

// Every print carries an id: the caller's, or one made here and handed back in the reply.
function rawPath(id = newId(), expire, printer) {
  return `/raw?id=${queryValue(id)}` + (expire === undefined ? "" : `&expire=${queryValue(expire)}`) +
    printerQuery("&", printer);
}

// The bridge does not percent-decode, so an alias it could not have is refused here.
function printerQuery(separator, printer) {
  if (printer === undefined) return "";
  if (typeof printer !== "string") throw new TypeError("a printer is an alias, a string");
  if (!ALIAS.test(printer)) throw new RangeError("a printer alias is 1 to 32 of a-z 0-9 - _");
  return `${separator}printer=${printer}`;
}

function fallbackOf(id, { printer, after = DEFAULT_FALLBACK_AFTER } = {}) {
  printerQuery("", printer ?? null);
  if (typeof after !== "number") throw new TypeError("fallback.after is a number of seconds");
  if (!(after >= 0 && after < Infinity)) throw new RangeError("fallback.after is 0 or more seconds");
  const moved = `${id}~${printer}`;
  if (moved.length > MAX_ID) throw new RangeError(`the fallback's id ${moved} is longer than ${MAX_ID}`);
  return { id: moved, printer, after: after * 1000 };
}

// A page that is not a secure context (plain HTTP, not on the PC) has no randomUUID: there the id
// is 32 random hexadecimal digits.
function newId() {
  const { crypto } = globalThis;
  if (crypto.randomUUID) return crypto.randomUUID();
  return Array.from(crypto.getRandomValues(new Uint8Array(16)), (b) => b.toString(16).padStart(2, "0")).join("");
}

// The bridge reads query values as written: an id's own characters go as they are (":" too),
// anything else percent-encoded, which the bridge then refuses as it should.
function queryValue(value) {
  if (typeof value !== "string" && typeof value !== "number") throw new TypeError("an id or expire is a string or a number");
  return encodeURIComponent(String(value)).replace(/%3A/g, ":");
}

function timeIsUp(deadline, pause) {
  return performance.now() + pause >= deadline;
}

function retryable(error) {
  return error instanceof BridgeError && RETRYABLE.has(error.code);
}

function sleep(ms, signal) {
  return new Promise((resolve, reject) => {
    if (signal?.aborted) return reject(aborted(signal));
    const done = () => { signal?.removeEventListener("abort", stop); resolve(); };
    const timer = setTimeout(done, ms);
    const stop = () => { clearTimeout(timer); reject(aborted(signal)); };
    signal?.addEventListener("abort", stop, { once: true });
  });
}

function aborted(signal) {
  return new BridgeError("aborted", "la pagina dejo de esperar al vizoza", { cause: signal.reason });
}

// What printOnce shows before the bridge has the ticket: its last failure, retried.
function sending(id, failure) {
  return { id, state: "sending", reasons: [], printer: null, job: null, failure };
}

// Calls `onState` with each ticket that differs from the one before in what a page shows; hands it back.
function watcher(onState) {
  let shown;
  return (ticket) => {
    const key = JSON.stringify([ticket.id, ticket.state, ticket.reasons, ticket.printer, ticket.job,
      ticket.failure?.code]);
    if (onState && key !== shown) onState(ticket);
    shown = key;
    return ticket;
  };
}

// A body over the bridge's limit would be cut off unread: refused here, never sent.
function bodyOf(ticket, json) {
  const size = json ? JSON_WRAPPER + 4 * Math.ceil(ticket.length / 3) : ticket.length;
  if (size > MAX_BODY) {
    throw new BridgeError("too-large",
      `el ticket ocupa ${size} bytes${json ? " en Base64" : ""} y el vizoza admite ${MAX_BODY} como mucho`);
  }
  return json
    ? { body: JSON.stringify({ data_b64: toBase64(ticket) }), headers: { "Content-Type": "application/json" } }
    : { body: ticket, headers: { "Content-Type": "text/plain" } };
}

function asBytes(bytes) {
  if (bytes instanceof Uint8Array) return bytes;
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  throw new TypeError("a ticket is a Uint8Array or an ArrayBuffer");
}

// In slices, so that a long ticket does not overflow the argument list.
function toBase64(bytes) {
  let binary = "";
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary);
}

function fromBase64(text) {
  return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
}

function compareVersions(a, b) {
  const left = String(a).split(".").map(Number);
  const right = String(b).split(".").map(Number);
  for (let i = 0; i < Math.max(left.length, right.length); i++) {
    const difference = (left[i] || 0) - (right[i] || 0);
    if (difference) return Math.sign(difference);
  }
  return 0;
}
