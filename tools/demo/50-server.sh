#!/usr/bin/env bash
# The server side on the embedded defaults: database, folder printer and shared folder set
# up, the engine started, a sample job document sent as a request, the answer and the
# printed PDF shown, the engine closed.
set -euo pipefail
bin=$1
echo "== server: set up the embedded defaults"
"$bin/hevrasto-demo" setup
echo "== server: start the engine"
"$bin/hevrasto" -ZelvoraPrintService &
engine=$!
for _ in $(seq 100); do
  [ -e "$ZELVORA_ROOT/app/share/PrintInfo/Wakeup.inf" ] && break
  sleep 0.1
done
[ -e "$ZELVORA_ROOT/app/share/PrintInfo/Wakeup.inf" ] || { echo "engine did not start"; kill "$engine"; exit 1; }
echo "== server: send a 3-page sample job as a request"
slot=$("$bin/hevrasto-demo" submit 3)
echo "request placed in slot $slot"
"$bin/hevrasto-demo" wait "$slot"
echo "== server: close the engine"
"$bin/hevrasto-demo" close
wait "$engine"
echo "engine ended; its events:"
# The engine writes its normal stop with the event type its event table gives it (warning);
# here it reads as what it is.
tail -n 4 "$ZELVORA_ROOT/log/events.log" | awk -F'\t' '{
  note = $3
  if ($6 == "実行部が起動しました") note = "started"
  if ($6 == "実行部は終了しました") note = "stopped normally"
  printf "  %s %s: %s (%s)\n", substr($1, 12, 8), $2, $6, note
}' || true
