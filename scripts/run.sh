#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is needed, builds Tavrel Lite, starts the reference service with
# the demo data on 127.0.0.1:8765 (kept under ~/.local/share/TavrelLite/refservice)
# and runs the client against it. Without a display the client runs under Xvfb.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVREL_BUILD_DIR:-$here/build}"
port="${TAVREL_PORT:-8765}"

bash "$here/scripts/install-deps.sh"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTAVREL_BUILD_TESTS=OFF -DTAVREL_SERVICE_URL="http://127.0.0.1:$port"
cmake --build "$build" -j"$(nproc)"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

service="$build/refservice/tavrel-refservice"
if [ -x "$service" ]; then
  data="${XDG_DATA_HOME:-$HOME/.local/share}/TavrelLite/refservice"
  mkdir -p "$data"
  if curl -fsS "http://127.0.0.1:$port/kvshop/Help/" >/dev/null 2>&1; then
    echo "run: a service already answers on 127.0.0.1:$port, using it"
  else
    "$service" --listen "127.0.0.1:$port" --data "$data" &
    pids+=($!)
    for _ in $(seq 1 100); do
      curl -fsS "http://127.0.0.1:$port/kvshop/Help/" >/dev/null 2>&1 && break
      sleep 0.1
    done
    echo "run: reference service on http://127.0.0.1:$port (data in $data)"
    echo "run: demo accounts: demo / Tavrel2026, verdi / Archivio2026"
  fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Display :99 unless another server holds it, then the first free one.
  # Xvfb writes the number once it accepts clients, so the client never races
  # it nor meets another server.
  display=()
  [ -e /tmp/.X99-lock ] || display=(:99)
  number="$(mktemp)"
  Xvfb "${display[@]}" -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    [ -s "$number" ] && break
    sleep 0.1
  done
  if [ ! -s "$number" ]; then
    echo "run: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$(head -n 1 "$number")"
  rm -f "$number"
  echo "run: no display found, running the client under Xvfb (display $DISPLAY)"
  echo "run: there is no tray there: \"Esci\" on the window (or Ctrl+C here) ends the client"
fi

"$build/tavrellite" "$@"
