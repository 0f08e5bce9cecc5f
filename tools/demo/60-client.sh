#!/usr/bin/env bash
# The client's road: a client with its own runtime root joined to the server's share sends
# a job document through the client core to the running engine and prints the answer.
set -euo pipefail
bin=$1
server_root=$ZELVORA_ROOT
client_root=$(mktemp -d "${TMPDIR:-/tmp}/zelvora-client.XXXXXX")
echo "== client: own root $client_root, joined to the server's share"
ZELVORA_ROOT=$client_root "$bin/ostrane-send" join "$server_root/app/share"
echo "== server: start the engine again"
"$bin/hevrasto" -ZelvoraPrintService &
engine=$!
for _ in $(seq 100); do
  [ -e "$server_root/app/share/PrintInfo/Wakeup.inf" ] && break
  sleep 0.1
done
echo "== client: send a 2-page job document twice and print the answers"
ZELVORA_ROOT=$client_root "$bin/jobdoc-tool" sample "$client_root/job.prc" 2 >/dev/null
status=0
ZELVORA_ROOT=$client_root "$bin/ostrane-send" send --account alice --machine demo-pc --printer Office \
  --count 2 "$client_root/job.prc" || status=$?
echo "== client: the account's quota file on the server"
cat "$server_root/app/share/Result/alice-.ans" | tr -d '\r' || true
"$bin/hevrasto-demo" close
wait "$engine" || true
rm -rf "$client_root"
exit $status
