// Every method of the client and the renderer, as a page would use them; tsc --noEmit checks them against the types.
import { Bridge, BridgeError, DEFAULT_ADDRESS, DEFAULT_FALLBACK_AFTER, type BridgeErrorCode, type Device,
  type Queue, type Status, type TicketRecord, type TicketState, rasterize, textImage } from "korba-vizoza";
import { renderTicket } from "korba-vizoza/render";

const bridge = new Bridge({ address: DEFAULT_ADDRESS, timeout: 3000 });

// What the page tells the shop for each failure; a code missing here fails the check.
function advice(code: BridgeErrorCode): string {
  switch (code) {
    case "not-running": return "Arranca el vizoza en este PC.";
    case "permission-prompt": return "Acepta el aviso del navegador.";
    case "permission-denied": return "Permite la red local en los ajustes del sitio.";
    case "timeout": return "El vizoza tarda en responder: repite con el mismo id.";
    case "origin-refused": return "Esta pagina no puede usar el vizoza.";
    case "host-refused": return "Llama a 127.0.0.1, no a otro nombre.";
    case "bad-request": return "El ticket esta vacio o su id no vale.";
    case "no-such-printer": return "Esa impresora no esta configurada en el vizoza.";
    case "id-conflict": return "Ese id ya se uso para otro ticket.";
    case "not-cancellable": return "El ticket ya se esta imprimiendo.";
    case "no-such-ticket": return "El vizoza no conoce ese ticket.";
    case "printer-error": return "Revisa la impresora.";
    case "busy": return "Vuelve a intentarlo en un momento.";
    case "outdated": return "Actualiza el vizoza.";
    case "bad-reply": return "En ese puerto responde otro programa.";
    case "too-large": return "El ticket es demasiado grande para el vizoza.";
    case "aborted": return "Se dejo de esperar al ticket.";
    case "no-preview": return "Arranca el vizoza con --preview.";
    default: {
      const unknown: never = code;
      return unknown;
    }
  }
}

// What the page shows for each state; a state missing here fails the check.
function shown(state: TicketState): string {
  switch (state) {
    case "queued": return "en cola";
    case "printing": return "imprimiendo";
    case "sent": return "enviado";
    case "failed": return "fallido";
    case "cancelled": return "cancelado";
    case "expired": return "caducado";
    case "unknown": return "desconocido";
    default: {
      const unknown: never = state;
      return unknown;
    }
  }
}

export async function sell(ticket: Uint8Array, raw: ArrayBuffer): Promise<string> {
  try {
    const status: Status = await bridge.check({ minVersion: "1.5.0", timeout: 2000 });
    const again: Status = await bridge.status();
    const { default: used, printers } = await bridge.printers();
    const printed = await bridge.print(ticket, { id: "venta-41", expire: 600 });
    const big = await bridge.printRaw(raw, { timeout: 20000 });
    const repeated: boolean = (await bridge.printRaw(raw, { id: big.id })).repeat;
    const once: TicketRecord = await bridge.printOnce(ticket, { id: "venta-42", expire: 120, timeout: 10000 });
    const record = await bridge.ticket(printed.id);
    const last = (await bridge.tickets()).tickets.map((t) => `${t.received} ${t.id ?? "-"} ${t.bytes} ${shown(t.state)}`);
    const drawer = await bridge.pulse(5);
    const standard = await bridge.pulse();
    const startup = await bridge.setStartup(!again.startup);
    const queue: Queue = await bridge.queue();
    const waiting: boolean = queue.jobs > 0 || ["paused", "offline", "error"].includes(queue.state);
    const device: Device = await bridge.device();
    const out: boolean = device.state === "paper-out" || device.paper === "out";
    const warning: string | null = startup.warning;
    const kitchen = { printer: "cocina" };
    const aliases: string = Object.entries((await bridge.printers()).aliases ?? {}).map(([a, p]) => `${a}=${p}`).join();
    const ready: boolean = (await bridge.check({ ...kitchen, timeout: 2000 })).printer_ok &&
      (await bridge.status(kitchen)).printer_ok && (await bridge.queue(kitchen)).state === "ready" &&
      (await bridge.device(kitchen)).state === "ready";
    await bridge.print(ticket, { ...kitchen, id: "comanda-7" });
    await bridge.printRaw(raw, { ...kitchen, expire: 60 });
    await bridge.pulse(2, kitchen);
    const cancelled: TicketRecord = await bridge.cancel("comanda-7", { timeout: 1000 });
    const order: TicketRecord = await bridge.printOnce(ticket, { id: "comanda-8", expire: 600, ...kitchen,
      fallback: { printer: "barra", after: DEFAULT_FALLBACK_AFTER / 2 } });
    const moved: TicketRecord = await bridge.printOnce(raw, { fallback: { printer: "barra" } });
    // Watched and stopped by the page, under a numeric id.
    const stop = new AbortController();
    const seen: string[] = [];
    await bridge.printOnce(ticket, { id: 43, signal: stop.signal, timeout: 30000,
      onState: (t) => seen.push(t.state === "sending" ? t.failure?.code ?? "enviando" : shown(t.state)) });
    await bridge.print(ticket, { json: true, signal: stop.signal });
    await bridge.ticket(43, { signal: stop.signal });
    const drawn: string = (await bridge.preview()).tickets.map((t) => renderTicket(t.data)).join("");
    return [status.version, used, printers.join(","), aliases, ready, shown(cancelled.state), order.printer,
            moved.id, printed.bytes + big.bytes, drawer.pin + standard.pin,
            waiting, warning ?? "", queue.reasons.join(","), out, device.address ?? "", device.errors.join(","),
            printed.job ?? "", repeated, shown(once.state),
            once.reasons.join(","), record.error ?? "", last.join("\n"), seen.join(), drawn].join(" ");
  } catch (error) {
    if (error instanceof BridgeError) return `${error.code} (${error.status ?? "sin respuesta"}): ${error.message} ${advice(error.code)}`;
    throw error;
  }
}

// The ticket as it would come out, for a page's own preview.
export const preview: string = renderTicket(new Uint8Array([0x1b, 0x40, 0x41, 0x0a]), { paper: 58 }) +
  renderTicket(Uint8Array.of(0x41)) + renderTicket(new ArrayBuffer(1));

// A logo from a canvas and from pixels, and a line of Arabic in the page's own font.
export function logo(canvas: HTMLCanvasElement, pixels: ImageData, bitmap: ImageBitmap): Uint8Array[] {
  return [rasterize(canvas, { paper: 58, align: "center" }), rasterize(pixels, { width: 200, dither: "floyd-steinberg" }),
    rasterize(bitmap, { threshold: 100, dither: "threshold" }), rasterize({ width: 1, height: 1, data: [0, 0, 0, 255] })];
}
export const arabic: Promise<Uint8Array> = textImage("مرحبا", { font: "serif", size: 32, align: "right", paper: 58 });
