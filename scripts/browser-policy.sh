#!/usr/bin/env bash
# Lets the application's own pages call the bridge on 127.0.0.1 without the browsers' local-network
# prompt: a managed policy file for Chromium and Chrome on Linux (what the Windows install writes
# into the registry). Usage, as root: scripts/browser-policy.sh install|remove
# The patterns come from the build options of build/native (the defaults when it is not configured).
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(/etc/chromium/policies/managed /etc/opt/chrome/policies/managed)
file=korba-vizoza.json

option() {
  local value
  value=$(sed -n "s/^$1:STRING=//p" build/native/CMakeCache.txt 2>/dev/null || true)
  [[ -n $value ]] || value=$(sed -n "s/^set($1 \"\([^\"]*\)\".*/\1/p" CMakeLists.txt)
  printf '%s' "$value"
}

case ${1:-} in
  install)
    app=$(option KORBA_APP_DOMAIN)
    hosting="$(option KORBA_HOSTING_PROJECT).$(option KORBA_HOSTING_DOMAIN)"
    # Loopback only: the broader LocalNetworkAccessAllowedForUrls would open the local network too.
    policy="{\"LoopbackNetworkAllowedForUrls\": [\"https://$app\", \"[*.]$app\", \"[*.]$hosting\"]}"
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
