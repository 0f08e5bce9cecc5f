#!/usr/bin/env bash
# The user's whole road: a client root joined to the server's share with AutoPrint set and
# its resident program running; a sample PDF fed through the capture feeder becomes a
# capture file, the resident program starts ostrane with it, ostrane hands the job over to
# the engine and ends, and the engine prints it. The answer and the printed PDF are shown.
# The client runs as the demo account "alice" (an account database of its own through
# nss_wrapper), so the engine's quota rules apply to a known user.
set -euo pipefail
bin=$1
server_root=$ZELVORA_ROOT
client_root=$(mktemp -d "${TMPDIR:-/tmp}/zelvora-ostrane.XXXXXX")
engine=
resident=
cleanup() {
  [ -n "$resident" ] && kill "$resident" 2>/dev/null && wait "$resident" 2>/dev/null || true
  # The job monitor the resident program started for this client root.
  for pid in $(pgrep -x welmoric || true); do
    if { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "ZELVORA_ROOT=$client_root"; then
      kill "$pid" 2>/dev/null || true
    fi
  done
  if [ -n "$engine" ]; then
    "$bin/hevrasto-demo" close >/dev/null 2>&1 || kill "$engine" 2>/dev/null || true
    wait "$engine" 2>/dev/null || true
  fi
  rm -rf "$client_root"
}
trap cleanup EXIT

echo "== ostrane: client root $client_root, joined to the server's share, AutoPrint on"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=$client_root/xdg
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
ZELVORA_ROOT=$client_root "$bin/ostrane-send" join "$server_root/app/share"
ZELVORA_ROOT=$client_root "$bin/ostrane-send" autoprint on
ln -s "$bin/ostrane" "$client_root/app/ostrane"
printf '[PRINTERS]\r\nOffice=\r\n' > "$server_root/app/share/PrintInfo/printers.lst"

nss=""
if [ -e /usr/lib/x86_64-linux-gnu/libnss_wrapper.so ]; then
  echo "alice:x:$(id -u):$(id -g):Alice:$client_root:/bin/sh" > "$client_root/passwd"
  echo "alice:x:$(id -g):" > "$client_root/group"
  nss="LD_PRELOAD=libnss_wrapper.so NSS_WRAPPER_PASSWD=$client_root/passwd NSS_WRAPPER_GROUP=$client_root/group"
fi
account=$(env $nss id -un)
machine=$(hostname | cut -c1-49)

echo "== server: start the engine again"
"$bin/hevrasto" -ZelvoraPrintService &
engine=$!
for _ in $(seq 100); do
  [ -e "$server_root/app/share/PrintInfo/Wakeup.inf" ] && break
  sleep 0.1
done

echo "== client: the resident program"
env $nss ZELVORA_ROOT="$client_root" HOME="$client_root" "$bin/ulmerith" &
resident=$!
for _ in $(seq 50); do
  ls "$client_root"/run/guard-Ulmerith* >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 0.3

echo "== client: a 2-page PDF fed through the capture road as \"Demo report\""
cat > "$client_root/raw.pdf" <<'PDF'
%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << /Font << /F1 7 0 R >> >> >> endobj
4 0 obj << >> stream
0 0 0 rg 50 692 200 100 re f BT /F1 24 Tf 60 600 Td (Zelvora client demo) Tj ET
endstream endobj
5 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 6 0 R /Resources << /Font << /F1 7 0 R >> >> >> endobj
6 0 obj << >> stream
0.2 0.4 0.8 rg 100 692 200 100 re f BT /F1 24 Tf 100 600 Td (page two) Tj ET
endstream endobj
7 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj
trailer << /Root 1 0 R >>
%%EOF
PDF
qpdf "$client_root/raw.pdf" "$client_root/report.pdf" 2>/dev/null || [ $? -eq 3 ]
answer="$server_root/app/share/Result/$account-$machine.ans"
rm -f "$answer"
before=$(find "$server_root/printers" -name '*.pdf' | wc -l)
env $nss ZELVORA_ROOT="$client_root" HOME="$client_root" "$bin/zelvora-feeder" --title "Demo report" "$client_root/report.pdf"

echo "== client: ostrane prints it unattended; waiting for the engine's answer"
for _ in $(seq 300); do
  grep -q "Result=" "$answer" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q "Result=" "$answer" 2>/dev/null; then
  echo "no answer arrived"; tail -n 20 "$client_root/log/capture.log" 2>/dev/null || true; exit 1
fi
echo "answer for $account on $machine:"
tr -d '\r' < "$answer"
echo "printed PDFs:"
for pdf in $(find "$server_root/printers" -name '*.pdf' | sort -V | tail -n $(( $(find "$server_root/printers" -name '*.pdf' | wc -l) - before ))); do
  echo "$pdf ($(qpdf --show-npages "$pdf" 2>/dev/null || echo '?') pages)"
done
for _ in $(seq 100); do
  pgrep -f "$client_root/app/ostrane" >/dev/null 2>&1 || break
  sleep 0.1
done
echo "ostrane has ended after the hand-over"
