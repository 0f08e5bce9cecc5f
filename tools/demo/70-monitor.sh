#!/usr/bin/env bash
# The job monitor on the client's road: a client root joined to the server's share runs
# welmoric (without a display), sends a job telling the monitor its answer name, and the
# monitor shows the engine's answer.
set -euo pipefail
bin=$1
server_root=$ZELVORA_ROOT
client_root=$(mktemp -d "${TMPDIR:-/tmp}/zelvora-monitor.XXXXXX")
ZELVORA_ROOT=$client_root "$bin/ostrane-send" join "$server_root/app/share" >/dev/null
echo "== server: start the engine again"
"$bin/hevrasto" -ZelvoraPrintService &
engine=$!
for _ in $(seq 100); do
  [ -e "$server_root/app/share/PrintInfo/Wakeup.inf" ] && break
  sleep 0.1
done
echo "== client: start the job monitor"
ZELVORA_ROOT=$client_root QT_QPA_PLATFORM=offscreen "$bin/welmoric" 2>"$client_root/welmoric.log" &
monitor=$!
for _ in $(seq 100); do
  grep -q "トレイアイコン" "$client_root/welmoric.log" 2>/dev/null && break
  sleep 0.1
done
echo "== client: send a job; the monitor shows the answer"
ZELVORA_ROOT=$client_root "$bin/jobdoc-tool" sample "$client_root/job.prc" 1 >/dev/null
status=0
ZELVORA_ROOT=$client_root "$bin/ostrane-send" send --account alice --machine demo-pc --printer Office \
  --monitor "$client_root/job.prc" || status=$?
for _ in $(seq 100); do
  grep -q "^welmoric: \[" "$client_root/welmoric.log" && break
  sleep 0.1
done
grep "^welmoric: \[" "$client_root/welmoric.log" || { echo "the monitor showed no answer"; status=1; }
kill "$monitor" 2>/dev/null || true
wait "$monitor" 2>/dev/null || true
"$bin/hevrasto-demo" close
wait "$engine" || true
rm -rf "$client_root"
exit $status
