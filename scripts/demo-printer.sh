#!/usr/bin/env bash
# Gives a machine without printers one to print to: when CUPS has no queue, starts the scheduler if
# none runs and adds the raw queue KORBA_DEMO (the default destination), which keeps every job as a
# file in /var/spool/korba-demo (KORBA_DEMO_FOLDER), shown by scripts/show-ticket.py. A machine
# that already has queues is left as it is. Says what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
queue=KORBA_DEMO
folder=${KORBA_DEMO_FOLDER:-/var/spool/korba-demo}
# The scheduler's configuration folder, the same that the CUPS tools read.
config=${CUPS_SERVERROOT:-/etc/cups}

scheduler_running() { [[ $(lpstat -r 2>/dev/null) == "scheduler is running" ]]; }

if ! scheduler_running; then
  cupsd -c "$config/cupsd.conf" -s "$config/cups-files.conf"
  for _ in $(seq 300); do scheduler_running && break; sleep 0.1; done
  scheduler_running || { echo "FALLO: el planificador de CUPS no arranca" >&2; exit 1; }
  echo "CUPS: planificador arrancado."
fi

queues=$(lpstat -e)
if [[ -n $queues ]]; then
  echo "CUPS: impresoras ya instaladas ($(echo $queues | sed 's/ /, /g')); no se cambia nada."
  exit 0
fi

# The tickets are kept by lp, for lp and its group: a folder planted in advance, or a link in its
# place, would hand them to someone else.
if [[ -L $folder ]] || { [[ -e $folder ]] && [[ $(stat -c %U "$folder") != lp ]]; }; then
  echo "FALLO: $folder es un enlace simbolico o no es de lp; borrala o elige otra con KORBA_DEMO_FOLDER" >&2
  exit 1
fi
install -d -o lp -g lp -m 0750 "$folder"
# A backend that others may run is run as the scheduler's user (lp), not as root. It has a name of
# its own, apart from the tests' capture backend, which runs as root.
install -m 0755 scripts/cups/korba-capture /usr/lib/cups/backend/korba-demo
lpadmin -p "$queue" -E -v "korba-demo:$folder"
lpadmin -d "$queue"
echo "CUPS: sin impresoras; creada la impresora de prueba $queue. Cada ticket queda en $folder (verlo: scripts/show-ticket.py)."
