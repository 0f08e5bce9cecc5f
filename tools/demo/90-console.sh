#!/usr/bin/env bash
# The administration console on the server's embedded database: marks the system set up,
# lists what the console will show, and starts tavolent for a few seconds under xvfb-run
# (when present). To try it by hand: ZELVORA_ROOT=<root> xvfb-run -a <bin>/tavolent, or
# with a display, <bin>/tavolent. Without "mark-set-up" the console starts with its
# first-run wizard, which stores the printers, the limits and the first users.
set -euo pipefail
bin=$1
echo "== console: users and groups the console shows"
"$bin/tavolent-db" mark-set-up
"$bin/tavolent-db" groups
"$bin/tavolent-db" users
if ! command -v xvfb-run >/dev/null; then
  echo "skipped: xvfb-run is not installed"
  exit 0
fi
echo "== console: start tavolent under xvfb-run for 3 seconds"
status=0
# The time limit stops the console inside xvfb-run, so xvfb-run ends by itself and removes
# its display's authority file.
xvfb-run -a timeout 3 "$bin/tavolent" || status=$?
if [ "$status" = 124 ]; then echo "tavolent ran until stopped"; else echo "tavolent ended with $status"; exit 1; fi
