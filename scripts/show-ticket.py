#!/usr/bin/env python3
"""Shows a captured ticket readably: its text lines, and the ESC/POS commands as short markers.

Usage: scripts/show-ticket.py [FILE...]   (no file: the newest ticket of the demo printer, in
/var/spool/korba-demo or KORBA_DEMO_FOLDER)"""

import os
import sys
import unicodedata
from pathlib import Path

ESC, GS = 0x1B, 0x1D
ALIGNMENTS = {0: "izquierda", 1: "centro", 2: "derecha"}


def on_off(name, is_on=lambda n: n & 1):
    return lambda args: f"[{name}]" if is_on(args[0]) else f"[/{name}]"


def alignment(args):
    return "[" + ALIGNMENTS.get(args[0] % 48, f"alinear {args[0]}") + "]"


def drawer(args):
    pin = 5 if args[0] % 48 == 1 else 2
    return f"[cajon pin {pin}: {args[1] * 2}/{args[2] * 2} ms]"


def cut(args):
    return "[corte]" if args[0] % 48 == 0 or args[0] == 65 else "[corte parcial]"


# (prefix, command byte) -> (number of argument bytes, marker from the arguments)
COMMANDS = {
    (ESC, ord("@")): (0, lambda args: "[inicio]"),
    (ESC, ord("a")): (1, alignment),
    (ESC, ord("E")): (1, on_off("negrita")),
    (ESC, ord("-")): (1, on_off("subrayado", lambda n: n % 48 in (1, 2))),
    (ESC, ord("!")): (1, lambda args: f"[modo {args[0]}]"),
    (ESC, ord("d")): (1, lambda args: f"[avance {args[0]}]"),
    (ESC, ord("J")): (1, lambda args: f"[avance {args[0]} puntos]"),
    (ESC, ord("t")): (1, lambda args: f"[tabla {args[0]}]"),
    (ESC, ord("p")): (3, drawer),
    (GS, ord("!")): (1, lambda args: f"[tamano {args[0]}]"),
    (GS, ord("V")): (1, cut),
}


def decode(text):
    try:
        return text.decode("utf-8")
    except UnicodeDecodeError:
        return text.decode("cp437")  # the printers' own first code page


def visible(text):
    """The text with every control character but the tab (C0, DEL, C1: U+009B alone is a terminal's
    CSI) written as [XX], so that a ticket cannot drive the terminal that shows it."""
    return "".join(f"[{ord(c):02X}]" if unicodedata.category(c) == "Cc" and c != "\t" else c for c in text)


def render(data):
    """The ticket as text: one line per line feed, commands as [markers] where they stand."""
    out, text, i = [], bytearray(), 0

    def flush():
        out.append(visible(decode(bytes(text))))
        text.clear()

    while i < len(data):
        byte = data[i]
        if byte in (ESC, GS) and i + 1 < len(data):
            count, marker = COMMANDS.get((byte, data[i + 1]), (None, None))
            if count is None:
                flush()
                out.append(f"[{'ESC' if byte == ESC else 'GS'} {data[i + 1]:02X}]")
                i += 2
                continue
            args = data[i + 2:i + 2 + count]
            # GS V 65 and 66 take a feed before the cut.
            if (byte, data[i + 1]) == (GS, ord("V")) and args and args[0] in (65, 66):
                args = data[i + 2:i + 4]
            if len(args) < count:
                break
            flush()
            out.append(marker(args))
            i += 2 + len(args)
        elif byte == 0x0A:
            flush()
            out.append("\n")
            i += 1
        elif byte < 0x20 and byte not in (0x09, 0x0D):
            flush()
            out.append(f"[{byte:02X}]")
            i += 1
        else:
            if byte != 0x0D:
                text.append(byte)
            i += 1
    flush()
    if i < len(data):
        out.append(f"[incompleto: {data[i:].hex(' ')}]")
    rendered = "".join(out)
    return rendered if rendered.endswith("\n") else rendered + "\n"


def newest_ticket():
    folder = Path(os.environ.get("KORBA_DEMO_FOLDER", "/var/spool/korba-demo"))
    tickets = sorted(folder.glob("job-*.data"), key=lambda p: p.stat().st_mtime_ns)
    if not tickets:
        sys.exit(f"no hay tickets en {folder}")
    return tickets[-1]


def main(args):
    files = [Path(a) for a in args] or [newest_ticket()]
    for file in files:
        if len(files) > 1 or not args:
            print(f"== {file}")
        sys.stdout.write(render(file.read_bytes()))


if __name__ == "__main__":
    main(sys.argv[1:])
