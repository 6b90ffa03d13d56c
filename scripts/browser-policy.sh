#!/usr/bin/env bash
# Lets the application's own pages call the bridge on 127.0.0.1 without the browsers' local-network
# prompt: a managed policy file for Chromium and Chrome on Linux (what the Windows install writes
# into the registry). Usage, as root: scripts/browser-policy.sh install|remove
# The patterns come from the build options of build/native (the defaults when it is not configured);
# KORBA_POLICY_ROOT, when set, is a folder that stands for / (for trying the script out).
set -euo pipefail
cd "$(dirname "$0")/.."

root=${KORBA_POLICY_ROOT:-}
folders=("$root/etc/chromium/policies/managed" "$root/etc/opt/chrome/policies/managed")
file=korba-vizoza.json

option() {
  local value
  value=$(sed -n "s/^$1:STRING=//p" build/native/CMakeCache.txt 2>/dev/null || true)
  [[ -n $value ]] || value=$(sed -n "s/^set($1 \"\([^\"]*\)\".*/\1/p" CMakeLists.txt)
  # The file applies to every user of the machine: a value is a domain name and nothing else.
  if [[ ! $value =~ ^[a-z0-9.-]+$ ]]; then
    echo "FALLO: $1 no es un nombre de dominio: $value" >&2
    exit 1
  fi
  printf '%s' "$value"
}

case ${1:-} in
  install)
    # One option per assignment, so that a refused one ends the script.
    app=$(option KORBA_APP_DOMAIN)
    project=$(option KORBA_HOSTING_PROJECT)
    hosting=$project.$(option KORBA_HOSTING_DOMAIN)
    # Loopback only: the broader LocalNetworkAccessAllowedForUrls would open the local network too.
    policy=$(python3 -c 'import json, sys; print(json.dumps({"LoopbackNetworkAllowedForUrls": sys.argv[1:]}))' \
             "https://$app" "[*.]$app" "[*.]$hosting")
    for folder in "${folders[@]}"; do
      mkdir -p "$folder"
      printf '%s\n' "$policy" >"$folder/$file"
    done
    ;;
  remove)
    for folder in "${folders[@]}"; do rm -f "$folder/$file"; done
    ;;
  *)
    echo "usage: $0 install|remove" >&2
    exit 2
    ;;
esac
