// The client against running bridges, started by tests/e2e/js_client.py, which passes them in:
// KORBA_BRIDGE (printer KORBA_PRINTER), KORBA_BRIDGE_MISSING (a printer that does not exist), KORBA_EXE,
// KORBA_TICKET_HEX (the ticket to print; the harness checks the queue's jobs afterwards).
import assert from "node:assert/strict";
import { randomUUID } from "node:crypto";
import { readFileSync } from "node:fs";
import http from "node:http";
import net from "node:net";
import { test } from "node:test";

import { Bridge, BridgeError, DEFAULT_ADDRESS } from "../korba-vizoza.js";

const env = process.env;
const bridge = new Bridge({ address: env.KORBA_BRIDGE });
const missing = new Bridge({ address: env.KORBA_BRIDGE_MISSING });
const port = Number(new URL(env.KORBA_BRIDGE).port);
const printer = env.KORBA_PRINTER;
const ticket = Uint8Array.from(Buffer.from(env.KORBA_TICKET_HEX, "hex"));
const constants = readFileSync(new URL("../../src/common/constants.h", import.meta.url), "utf8");
const VERSION = /APP_VERSION = "([^"]+)"/.exec(constants)[1];
const BUSY = "el vizoza esta ocupado, vuelve a intentarlo";
const UUID = /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/;
const UTC_TIME = /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/;
const BAD_ID = "id de ticket invalido (1 a 64 letras, cifras o . _ ~ : -)";

async function rejects(promise, code, message, status) {
  const error = await promise.then(() => assert.fail("resolved"), (e) => e);
  assert.ok(error instanceof BridgeError, String(error));
  assert.deepEqual({ code: error.code, message: error.message, status: error.status }, { code, message, status });
  return error;
}

// A server of the test's own on a free port; `listener` answers (or not) each connection.
async function server(listener) {
  const s = net.createServer(listener);
  await new Promise((resolve) => s.listen(0, "127.0.0.1", resolve));
  return { address: `http://127.0.0.1:${s.address().port}`, close: () => new Promise((r) => s.close(r)), server: s };
}

// An HTTP server of the test's own on a free port.
async function httpServer(handler) {
  const h = http.createServer(handler);
  await new Promise((resolve) => h.listen(0, "127.0.0.1", resolve));
  return { address: `http://127.0.0.1:${h.address().port}`, close: () => new Promise((r) => h.close(r)) };
}

test("the package is numbered from the bridge it was made for", () => {
  const pkg = JSON.parse(readFileSync(new URL("../package.json", import.meta.url)));
  const [major, minor] = pkg.version.split(".").map(Number);
  const [bridgeMajor, bridgeMinor] = VERSION.split(".").map(Number);
  assert.ok(major === bridgeMajor && minor >= bridgeMinor, `${pkg.version} for the bridge ${VERSION}`);
  assert.equal(DEFAULT_ADDRESS, "http://127.0.0.1:9230");
});

test("every method answers with the bridge's reply", async () => {
  const status = {
    ok: true, app: "korba-vizoza", version: VERSION, printer, printer_ok: true, port, startup: false,
    exe: env.KORBA_EXE,
  };
  // A queue of the harness's own, fresh: nothing printed to it yet.
  assert.deepEqual(await bridge.queue(), { ok: true, printer, state: "ready", jobs: 0, reasons: [] });
  assert.deepEqual(await missing.queue(), { ok: true, printer: "NOPE", state: "unavailable", jobs: 0, reasons: [] });
  // Neither a capture queue nor a missing printer is a network printer.
  const notNetwork = { address: null, state: "not-network", paper: null, cover: null, drawer_signal: null, errors: [] };
  assert.deepEqual(await bridge.device(), { ok: true, printer, ...notNetwork });
  assert.deepEqual(await missing.device(), { ok: true, printer: "NOPE", ...notNetwork });
  assert.deepEqual(await bridge.status(), status);
  assert.deepEqual(await bridge.check({ minVersion: VERSION }), status);
  const printers = await bridge.printers();
  assert.equal(printers.default, printer);
  assert.ok(printers.printers.includes(printer));
  // The jobs' bytes are compared by the harness, in this order: three tickets, two pulses.
  const sale = `venta:${randomUUID()}`;
  // The JSON form, asked for; the others send the bytes as they are.
  const printed = await bridge.print(ticket, { id: sale, expire: 600, json: true });
  assert.ok(Number.isInteger(printed.job), String(printed.job));
  assert.deepEqual(printed, { ok: true, printer, bytes: ticket.length, id: sale, job: printed.job, repeat: false });
  const raw = await bridge.printRaw(ticket.buffer);
  assert.match(raw.id, UUID);
  // Job numbers are the scheduler's, which other queues' jobs may take in between.
  assert.ok(raw.job > printed.job, `${raw.job} after ${printed.job}`);
  assert.deepEqual(raw, { ok: true, printer, bytes: ticket.length, id: raw.id, job: raw.job, repeat: false });
  // Sent again, as after a lost reply: the record's answer and no job.
  assert.deepEqual(await bridge.printRaw(ticket, { id: sale }), { ...printed, repeat: true });
  await rejects(bridge.printRaw(ticket.subarray(1), { id: sale }), "id-conflict",
    `el ticket ${sale} ya se recibio con otro contenido`, 409);
  const once = await bridge.printOnce(ticket, { timeout: 30000 });
  assert.match(once.id, UUID);
  assert.match(once.received, UTC_TIME);
  assert.ok(Array.isArray(once.reasons));
  assert.ok(once.job > raw.job, `${once.job} after ${raw.job}`);
  assert.deepEqual(once, { ok: true, id: once.id, printer, bytes: ticket.length, job: once.job,
    received: once.received, state: "sent", reasons: once.reasons, error: null });
  // A final record never changes.
  assert.deepEqual(await bridge.ticket(once.id), once);
  const { ok, tickets } = await bridge.tickets();
  assert.equal(ok, true);
  assert.deepEqual(tickets.slice(0, 3).map((t) => [t.id, t.job]),
    [[once.id, once.job], [raw.id, raw.job], [sale, printed.job]]);
  assert.deepEqual(await bridge.pulse(), { ok: true, printer, pin: 2 });
  assert.deepEqual(await bridge.pulse(5), { ok: true, printer, pin: 5 });
  assert.deepEqual(await bridge.setStartup(false), { ok: true, startup: false, exe: env.KORBA_EXE, warning: null });
});

test("the bridge's refusals keep its Spanish text", async () => {
  await rejects(bridge.print(new Uint8Array(), { json: true }), "bad-request", "cuerpo vacio", 400);
  await rejects(bridge.printRaw(new ArrayBuffer(0)), "bad-request", "cuerpo vacio", 400);
  // No reg on this system: the autostart change fails with a 500.
  await rejects(bridge.setStartup(true), "printer-error", "program not found", 500);
  const cups = "(The printer or class does not exist. (cups error 0x0406))";
  const cannotOpen = `no se pudo abrir la impresora "NOPE" ${cups}`;
  const lost = randomUUID();
  await rejects(missing.print(ticket, { id: lost }), "printer-error", cannotOpen, 500);
  const failed = await missing.ticket(lost);
  assert.deepEqual(failed, { ok: true, id: lost, printer: "NOPE", bytes: ticket.length, job: null,
    received: failed.received, state: "failed", reasons: [], error: cannotOpen });
  await rejects(missing.ticket(`${lost}x`), "no-such-ticket", `no hay ningun ticket con id ${lost}x`, 404);
  // The bridge reads the query as written: what an id may not hold arrives percent-encoded.
  await rejects(bridge.print(ticket, { id: "caja 1" }), "bad-request", BAD_ID, 400);
  await rejects(bridge.ticket("x".repeat(65)), "bad-request", BAD_ID, 400);
  await rejects(bridge.printRaw(ticket, { expire: 86401 }), "bad-request",
    "expire invalido (segundos de 1 a 86400, junto con id)", 400);
  await rejects(missing.pulse(2), "printer-error", `no se pudo abrir la impresora "NOPE" ${cups}`, 500);
  await rejects(missing.check(), "printer-error", 'no se puede abrir la impresora "NOPE"', 200);
  // A bridge without aliases knows no printer by name, and prints nothing.
  await rejects(bridge.printRaw(ticket, { printer: "cocina" }), "no-such-printer", "impresora no configurada", 400);
  await rejects(missing.cancel(lost), "not-cancellable", `el ticket ${lost} ya no se puede cancelar`, 409);
  await rejects(missing.cancel(`${lost}x`), "no-such-ticket", `no hay ningun ticket con id ${lost}x`, 404);
});

test("a refused origin", async (t) => {
  const fetch = globalThis.fetch;
  t.after(() => { globalThis.fetch = fetch; });
  const origin = { Origin: "https://tienda.example" };
  globalThis.fetch = (url, init) => fetch(url, { ...init, headers: { ...init.headers, ...origin } });
  await rejects(bridge.status(), "origin-refused", "origin no permitido", 403);
  await rejects(bridge.pulse(5), "origin-refused", "origin no permitido", 403);
});

test("a host name the bridge does not admit", async (t) => {
  // The client takes no such address, so the request is sent to the IPv4-mapped IPv6 form, which
  // reaches the same listener under another Host header (Node's fetch does not let a caller set one).
  const fetch = globalThis.fetch;
  t.after(() => { globalThis.fetch = fetch; });
  globalThis.fetch = (url, init) => fetch(url.replace("127.0.0.1", "[::ffff:127.0.0.1]"), init);
  await rejects(bridge.status(), "host-refused", "host no permitido", 403);
  await rejects(bridge.print(ticket), "host-refused", "host no permitido", 403);
});

test("only the bridge's loopback addresses make a client", () => {
  for (const address of ["http://127.0.0.1:9230", "http://localhost:1/", "http://127.0.0.1:65535"]) {
    assert.equal(new Bridge({ address }).address, address.replace(/\/$/, ""));
  }
  for (const address of ["http://127.0.0.1:9230/api", "http://127.0.0.1", "https://127.0.0.1:9230",
    "http://[::ffff:127.0.0.1]:9230", "http://127.0.0.2:9230", "http://127.0.0.1:65536", "http://127.0.0.1:0",
    "http://localhost:9230//", " http://localhost:9230", 9230]) {
    assert.throws(() => new Bridge({ address }), TypeError, String(address));
  }
});

test("versions are compared number by number", async () => {
  const [major, minor] = VERSION.split(".").map(Number);
  const error = await rejects(bridge.check({ minVersion: `${major}.${minor + 10}` }), "outdated",
    `el vizoza ${VERSION} es anterior a la version ${major}.${minor + 10}`, 200);
  assert.equal(error.reply.version, VERSION);
  assert.equal((await bridge.check({ minVersion: `${major}.${minor - 1}.99` })).version, VERSION);
});

test("nothing listening", async () => {
  const s = await server(() => {});
  await s.close();
  const error = await rejects(new Bridge({ address: s.address }).status(), "not-running",
    `el vizoza no responde en ${s.address}`, undefined);
  assert.ok(error.cause instanceof TypeError);
});

test("a server that never answers: one time-out, no second attempt", async (t) => {
  const sockets = [];
  const requests = [];
  const s = await server((socket) => {
    sockets.push(socket);
    socket.once("data", (head) => requests.push(head.toString().split(/[ ?]/, 2).join(" ")));
  });
  t.after(() => { sockets.forEach((c) => c.destroy()); return s.close(); });
  const silent = new Bridge({ address: s.address, timeout: 500 });
  await rejects(silent.print(ticket), "timeout", "el vizoza no respondio en 500 ms", undefined);
  await rejects(silent.status({ timeout: 200 }), "timeout", "el vizoza no respondio en 200 ms", undefined);
  // The time left of printOnce's, in whole milliseconds.
  const error = await silent.printOnce(ticket, { id: "t", timeout: 400 }).catch((e) => e);
  assert.match(error.message, /^el vizoza no respondio en \d+ ms$/);
  assert.deepEqual(requests, ["POST /raw", "GET /status", "POST /raw"]);
});

test("replies that are not the bridge's", async (t) => {
  const replies = [
    [200, "text/html", "<h1>hola</h1>"],
    [200, "application/json", '{"ok":false,"error":"x"}'],
    [502, "application/json", '{"ok":false,"error":"bad gateway"}'],
    [403, "application/json", '{"ok":false,"error":"constructor"}'],
    [200, "application/json", '{"ok":true,"app":"otra"}'],
    // An older bridge, without the route.
    [404, "application/json; charset=utf-8", '{"ok":false,"error":"ruta no encontrada"}'],
    [404, "application/json; charset=utf-8", '{"ok":false,"error":"ruta no encontrada"}'],
    [503, "application/json; charset=utf-8", `{"ok":false,"error":"${BUSY}"}`],
    [404, "application/json; charset=utf-8", '{"ok":false,"error":"ruta no encontrada"}'],
  ];
  const h = await httpServer((request, response) => {
    const [status, type, body] = replies.shift();
    response.writeHead(status, { "Content-Type": type }).end(body);
  });
  t.after(h.close);
  const other = new Bridge({ address: `${h.address}/` });
  for (const status of [200, 200, 502, 403]) {
    await rejects(other.status(), "bad-reply", `respuesta inesperada del vizoza (HTTP ${status})`, status);
  }
  await rejects(other.check(), "bad-reply", `en ${other.address} no responde el vizoza`, 200);
  await rejects(other.queue(), "outdated", "ruta no encontrada", 404);
  await rejects(other.device(), "outdated", "ruta no encontrada", 404);
  await rejects(other.print(ticket), "busy", BUSY, 503);
  await rejects(other.tickets(), "outdated", "ruta no encontrada", 404);
});

// A bridge of the test's own that gives these replies in turn: [status, body], or a function that
// does something else with the response (and may read the request). It records each request's method and
// target.
async function scripted(replies) {
  const seen = [];
  const h = await httpServer((request, response) => {
    seen.push(`${request.method} ${request.url}`);
    const reply = replies.length > 1 ? replies.shift() : replies[0];
    if (typeof reply === "function") return reply(response, request);
    response.writeHead(reply[0], { "Content-Type": "application/json" }).end(JSON.stringify(reply[1]));
  });
  return { ...h, seen };
}

function record(id, state, reasons = []) {
  return { ok: true, id, printer: "P", bytes: 3, job: 12, received: "2026-12-09T13:05:01Z", state, reasons,
    error: null };
}

test("printOnce sends under one id until the bridge answers, then follows the ticket to its end", async (t) => {
  const hanging = [];
  const h = await scripted([
    (response) => response.socket.destroy(),
    (response) => hanging.push(response),
    [503, { ok: false, error: BUSY }],
    [200, { ok: true, printer: "P", bytes: 3, id: "venta-7", job: 12, repeat: true }],
    [200, record("venta-7", "queued", ["paper-out"])],
    [200, record("venta-7", "printing")],
    [200, record("venta-7", "sent")],
  ]);
  t.after(() => { hanging.forEach((r) => r.socket.destroy()); return h.close(); });
  const once = new Bridge({ address: h.address, timeout: 300 });
  const states = [];
  const onState = (t) => states.push([t.state, t.failure === undefined ? t.reasons : t.failure?.code ?? null]);
  assert.deepEqual(await once.printOnce(new Uint8Array([1, 2, 3]), { id: "venta-7", expire: 60, onState }),
    record("venta-7", "sent"));
  assert.deepEqual(h.seen, [...Array(4).fill("POST /raw?id=venta-7&expire=60"), ...Array(3).fill("GET /tickets?id=venta-7")]);
  assert.deepEqual(states, [["sending", null], ["sending", "not-running"], ["sending", "timeout"], ["sending", "busy"],
    ["queued", ["paper-out"]], ["printing", []], ["sent", []]]);
});

test("printOnce stops at once when its signal aborts, while it retries and while it follows", async (t) => {
  const hanging = [];
  const h = await scripted([
    (response) => response.socket.destroy(),
    (response) => hanging.push(response),
    [200, { ok: true, printer: "P", bytes: 3, id: "a", job: 12, repeat: false }],
    [200, record("a", "queued", ["paused"])],
  ]);
  t.after(() => { hanging.forEach((r) => r.socket.destroy()); return h.close(); });
  const page = new Bridge({ address: h.address });
  const order = new Uint8Array([1, 2, 3]);
  // Aborted before: nothing is sent.
  await rejects(page.printOnce(order, { signal: AbortSignal.abort() }), "aborted", "la pagina dejo de esperar al vizoza",
    undefined);
  // While it retries: in its pause after a failure, and in a request that hangs.
  const first = new AbortController();
  await rejects(page.printOnce(order, { id: "a", signal: first.signal, onState: (s) => s.failure && first.abort() }),
    "aborted", "la pagina dejo de esperar al vizoza", undefined);
  const second = new AbortController();
  const waiting = page.printOnce(order, { id: "a", signal: second.signal });
  (function wait() { hanging.length ? second.abort() : setImmediate(wait); })();
  await rejects(waiting, "aborted", "la pagina dejo de esperar al vizoza", undefined);
  // While it follows: the first look finds it queued.
  const stop = new AbortController();
  const onState = (s) => { if (s.state === "queued") stop.abort(); };
  await rejects(page.printOnce(order, { id: "a", onState, signal: stop.signal, timeout: 60000 }), "aborted",
    "la pagina dejo de esperar al vizoza", undefined);
  assert.deepEqual(h.seen, [...Array(3).fill("POST /raw?id=a"), "GET /tickets?id=a"]);
});

test("a ticket over the bridge's limit is refused before it is sent, and never retried", async (t) => {
  const h = await scripted([[200, record("x", "sent")]]);
  t.after(h.close);
  const page = new Bridge({ address: h.address });
  const limit = 8388608;
  const big = new Uint8Array(limit + 1);
  const tooLarge = (n, base64 = "") => `el ticket ocupa ${n} bytes${base64} y el vizoza admite ${limit} como mucho`;
  await rejects(page.print(big), "too-large", tooLarge(limit + 1), undefined);
  await rejects(page.printOnce(big.buffer), "too-large", tooLarge(limit + 1), undefined);
  // In Base64 a third larger, with the JSON around it.
  await rejects(page.print(big.subarray(0, limit * 3 / 4), { json: true }), "too-large",
    tooLarge(limit + 15, " en Base64"), undefined);
  assert.deepEqual(h.seen, []);
});

test("printOnce: the ticket as last seen when the time is up; other failures at once", async (t) => {
  const h = await scripted([
    [200, { ok: true, printer: "P", bytes: 3, id: "x", job: 12, repeat: false }],
    (response) => response.socket.destroy(),
    [200, record("x", "queued", ["paused"])],
    (response) => response.socket.destroy(),
  ]);
  t.after(h.close);
  const once = new Bridge({ address: h.address });
  const started = performance.now();
  assert.deepEqual(await once.printOnce(new Uint8Array([1, 2, 3]), { timeout: 1600 }), record("x", "queued", ["paused"]));
  assert.ok(performance.now() - started < 2600);
  const [post, ...follow] = h.seen;
  const id = post.slice("POST /raw?id=".length);
  assert.match(id, UUID);
  assert.ok(follow.length >= 3 && follow.every((line) => line === `GET /tickets?id=${id}`), follow.join());

  const conflict = await scripted([[409, { ok: false, error: "el ticket a ya se recibio con otro contenido" }]]);
  t.after(conflict.close);
  await rejects(new Bridge({ address: conflict.address }).printOnce(new Uint8Array([1]), { id: "a" }), "id-conflict",
    "el ticket a ya se recibio con otro contenido", 409);
  assert.deepEqual(conflict.seen, ["POST /raw?id=a"]);

  // A 500 that may have printed: its id is taken and its record final, never sent again.
  const maybe = "EndDocPrinter: sin papel (os error 28) — puede que se haya impreso; consulta /tickets?id=b";
  const unknown = { ...record("b", "unknown"), error: maybe };
  const uncertain = await scripted([[500, { ok: false, error: maybe }], [200, unknown]]);
  t.after(uncertain.close);
  assert.deepEqual(await new Bridge({ address: uncertain.address }).printOnce(new Uint8Array([1]), { id: "b" }), unknown);
  assert.deepEqual(uncertain.seen, ["POST /raw?id=b", "GET /tickets?id=b"]);
});

test("a printer named by its alias, a cancel, and the refusals of both", async (t) => {
  const status = { ok: true, app: "korba-vizoza", version: VERSION, printer: "COCINA 1", printer_ok: true };
  const h = await scripted([
    ...Array(8).fill([200, status]),
    [400, { ok: false, error: "impresora no configurada" }],
    [409, { ok: false, error: "el ticket mesa-4 ya no se puede cancelar" }],
  ]);
  const fetch = globalThis.fetch;
  const inits = [];
  globalThis.fetch = (url, init) => { inits.push(init); return fetch(url, init); };
  t.after(() => { globalThis.fetch = fetch; return h.close(); });
  const page = new Bridge({ address: h.address });
  const cocina = { printer: "cocina" };
  assert.deepEqual(await page.check(cocina), status);
  for (const call of [() => page.status(cocina), () => page.queue(cocina), () => page.device(cocina),
    () => page.print(ticket, { id: "a", ...cocina }), () => page.printRaw(ticket, { id: "b", expire: 9, ...cocina }),
    () => page.pulse(5, cocina), () => page.cancel("mesa-4")]) {
    assert.deepEqual(await call(), status);
  }
  await rejects(page.status({ printer: "barra" }), "no-such-printer", "impresora no configurada", 400);
  await rejects(page.cancel("mesa-4"), "not-cancellable", "el ticket mesa-4 ya no se puede cancelar", 409);
  assert.deepEqual(h.seen, [
    ...Array(2).fill("GET /status?printer=cocina"), "GET /queue?printer=cocina", "GET /device?printer=cocina",
    "POST /raw?id=a&printer=cocina", "POST /raw?id=b&expire=9&printer=cocina", "POST /pulse?pin=5&printer=cocina",
    "POST /tickets/cancel?id=mesa-4", "GET /status?printer=barra", "POST /tickets/cancel?id=mesa-4"]);
  // Without a body or a header of its own a cancel is a simple request: no preflight.
  assert.deepEqual([inits[7].body, inits[7].headers], [undefined, undefined]);
});

// A bridge with a kitchen printer that never begins printing and a bar printer that prints at once. Each
// ticket was received at `received`; a cancel finds a queued ticket `onCancel`: "cancelled", or "sent"
// when it began printing just then (409). `printed` lists the ids the bridge printed, repeats not.
function kitchenAndBar(received, onCancel = "cancelled") {
  const aliases = { cocina: "COCINA", barra: "BARRA" };
  const records = new Map();
  const printed = [];
  const reply = (response, request) => {
    const send = (status, body) =>
      response.writeHead(status, { "Content-Type": "application/json" }).end(JSON.stringify(body));
    const url = new URL(request.url, "http://bridge");
    const id = url.searchParams.get("id");
    const known = records.get(id);
    if (url.pathname === "/printers") return send(200, { ok: true, default: "CAJA", printers: ["CAJA"], aliases });
    if (url.pathname === "/tickets") return send(200, known);
    if (url.pathname === "/raw") {
      const printer = aliases[url.searchParams.get("printer")];
      if (!known) {
        records.set(id, { ...record(id, printer === "BARRA" ? "sent" : "queued"), printer, received });
        printed.push(id);
      }
      return send(200, { ok: true, printer, bytes: 3, id, job: 12, repeat: Boolean(known) });
    }
    if (known.state === "queued") known.state = onCancel;
    if (known.state === "cancelled") return send(200, known);
    send(409, { ok: false, error: `el ticket ${id} ya no se puede cancelar` });
  };
  return { reply, printed };
}

test("printOnce moves a ticket that waits too long to its fallback printer, once, a reload included", async (t) => {
  const now = new Date().toISOString().replace(/\.\d+/, "");
  const bar = kitchenAndBar(now);
  const h = await scripted([bar.reply]);
  t.after(h.close);
  const page = new Bridge({ address: h.address });
  const order = new Uint8Array([1, 2, 3]);
  const options = { id: "mesa-4", expire: 60, printer: "cocina", fallback: { printer: "barra", after: 1 } };
  const moved = { ...record("mesa-4~barra", "sent"), printer: "BARRA", received: now };
  assert.deepEqual(await page.printOnce(order, options), moved);
  // Looks repeat while the ticket waits.
  assert.deepEqual(h.seen.filter((line, i) => line !== h.seen[i - 1]), [
    "POST /raw?id=mesa-4&expire=60&printer=cocina", "GET /tickets?id=mesa-4", "GET /printers",
    "POST /tickets/cancel?id=mesa-4", "POST /raw?id=mesa-4~barra&expire=60&printer=barra",
    "GET /tickets?id=mesa-4~barra"]);
  h.seen.length = 0;
  assert.deepEqual(await page.printOnce(order, options), moved);
  assert.deepEqual(h.seen, ["POST /raw?id=mesa-4&expire=60&printer=cocina", "GET /tickets?id=mesa-4",
    "POST /raw?id=mesa-4~barra&expire=60&printer=barra", "GET /tickets?id=mesa-4~barra"]);
  assert.deepEqual(bar.printed, ["mesa-4", "mesa-4~barra"]);

  // Received long ago, as before a reload: the default 20 s are over at the first look, well within the
  // 3 s given. The ticket began printing as the cancel came: it is followed where it is.
  const kitchen = kitchenAndBar("2000-01-01T00:00:00Z", "sent");
  const k = await scripted([kitchen.reply]);
  t.after(k.close);
  const late = new Bridge({ address: k.address });
  assert.deepEqual(await late.printOnce(order, { id: "mesa-5", printer: "cocina", fallback: { printer: "barra" },
    timeout: 3000 }), { ...record("mesa-5", "sent"), printer: "COCINA", received: "2000-01-01T00:00:00Z" });
  // A fallback the bridge does not have: the ticket is left where it waits.
  await rejects(late.printOnce(order, { id: "mesa-6", printer: "cocina", fallback: { printer: "terraza" } }),
    "no-such-printer", "impresora no configurada: terraza", 200);
  assert.deepEqual(k.seen, ["POST /raw?id=mesa-5&printer=cocina", "GET /tickets?id=mesa-5", "GET /printers",
    "POST /tickets/cancel?id=mesa-5", "GET /tickets?id=mesa-5",
    "POST /raw?id=mesa-6&printer=cocina", "GET /tickets?id=mesa-6", "GET /printers"]);
});

test("a redirect is never followed, and no call sends cookies or takes a cached reply", async (t) => {
  const reached = [];
  const elsewhere = await httpServer((request, response) => { reached.push(request.url); response.end("{}"); });
  const squatter = await httpServer((request, response) => {
    response.writeHead(307, { Location: elsewhere.address + request.url }).end();
  });
  const fetch = globalThis.fetch;
  const sent = [];
  globalThis.fetch = (url, init) => { sent.push([init.redirect, init.credentials, init.cache]); return fetch(url, init); };
  t.after(() => { globalThis.fetch = fetch; return Promise.all([elsewhere.close(), squatter.close()]); });
  const bounced = new Bridge({ address: squatter.address });
  const calls = [() => bounced.status(), () => bounced.printers(), () => bounced.queue(), () => bounced.device(),
    () => bounced.print(ticket),
    () => bounced.printRaw(ticket), () => bounced.pulse(5), () => bounced.setStartup(true), () => bounced.ticket("a"),
    () => bounced.tickets(), () => bounced.cancel("a")];
  for (const call of calls) await rejects(call(), "not-running", `el vizoza no responde en ${squatter.address}`, undefined);
  assert.deepEqual(reached, []);
  assert.deepEqual(sent, calls.map(() => ["error", "omit", "no-store"]));
});

test("wrong arguments send nothing", async () => {
  await assert.rejects(missing.print("texto"), TypeError);
  await assert.rejects(missing.printOnce(ticket, { id: null }), TypeError);
  await assert.rejects(missing.ticket(), TypeError);
  await assert.rejects(missing.pulse(3), RangeError);
  await assert.rejects(missing.setStartup(1), TypeError);
  // Printer aliases are 1 to 32 of a-z 0-9 - _, sent as they are.
  await assert.rejects(missing.status({ printer: "Cocina" }), RangeError);
  await assert.rejects(missing.pulse(2, { printer: "cocina 1" }), RangeError);
  await assert.rejects(missing.printRaw(ticket, { printer: "" }), RangeError);
  await assert.rejects(missing.queue({ printer: 7 }), TypeError);
  await assert.rejects(missing.printOnce(ticket, { fallback: {} }), TypeError);
  await assert.rejects(missing.printOnce(ticket, { fallback: { printer: "barra", after: -1 } }), RangeError);
  // The fallback's id, "ID~barra", would be 65 characters.
  await assert.rejects(missing.printOnce(ticket, { id: "x".repeat(59), fallback: { printer: "barra" } }), RangeError);
});
