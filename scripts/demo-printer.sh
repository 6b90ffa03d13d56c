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

# CUPS runs a backend as root only when nobody else may run it.
install -m 0700 scripts/cups/korba-capture /usr/lib/cups/backend/korba-capture
mkdir -p "$folder"
lpadmin -p "$queue" -E -v "korba-capture:$folder"
lpadmin -d "$queue"
echo "CUPS: sin impresoras; creada la impresora de prueba $queue. Cada ticket queda en $folder (verlo: scripts/show-ticket.py)."
