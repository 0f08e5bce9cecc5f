#!/usr/bin/env bash
# The virtual printer: a private cupsd with the "Zelvora" queue installed by
# scripts/install-printer, the resident program of this user watching its spool folder, and
# a two-page PDF printed with lp arriving as a capture file (no client window runs yet, so
# the resident program keeps the job in its kept/ folder for the next client; its pages are
# shown with jobdoc-tool).
# $1 is the build's bin folder; files go under $ZELVORA_ROOT/demo/capture.
set -euo pipefail
bin=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
echo "== virtual printer"
if [ "$(id -u)" != 0 ] || [ ! -x /usr/sbin/cupsd ]; then
  echo "skipped: needs root and cupsd (a private cupsd runs as root)"
  exit 0
fi
work="$ZELVORA_ROOT/demo/capture"
mkdir -p "$work"
cups=$(mktemp -d /tmp/zelvora-demo-cups.XXXXXX)
chmod 0755 "$cups"
cupsd_pid=
resident_pid=
cleanup() {
  [ -n "$resident_pid" ] && kill "$resident_pid" 2>/dev/null && wait "$resident_pid" 2>/dev/null || true
  [ -n "$cupsd_pid" ] && kill "$cupsd_pid" 2>/dev/null && wait "$cupsd_pid" 2>/dev/null || true
  rm -rf "$cups"
}
trap cleanup EXIT

mkdir -p "$cups"/{etc/ppd,cache,state,log,serverbin,spool/tmp}
chown root:lp "$cups/spool" "$cups/spool/tmp"
chmod 0710 "$cups/spool"
chmod 1770 "$cups/spool/tmp"
for d in daemon notifier cgi-bin monitor driver; do
  [ -e "/usr/lib/cups/$d" ] && ln -s "/usr/lib/cups/$d" "$cups/serverbin/$d"
done
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
capture_template="$work/cap%h"
capture_root="$work/cap$HOME"
cat > "$cups/etc/cups-files.conf" <<CONF
ServerRoot $cups/etc
RequestRoot $cups/spool
TempDir $cups/spool/tmp
CacheDir $cups/cache
StateDir $cups/state
ServerBin $cups/serverbin
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
User lp
Group lp
SystemGroup root
Sandboxing Relaxed
SetEnv ZELVORA_CAPTURE_ROOT $capture_template
CONF
cat > "$cups/etc/cupsd.conf" <<CONF
Listen $cups/cups.sock
Listen 127.0.0.1:$port
Browsing No
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
export CUPS_SERVER="$cups/cups.sock"
/usr/sbin/cupsd -f -c "$cups/etc/cupsd.conf" -s "$cups/etc/cups-files.conf" &
cupsd_pid=$!
for _ in $(seq 1 100); do lpstat -r >/dev/null 2>&1 && break; sleep 0.05; done
"$top/scripts/install-printer" --bin "$bin" --program-dir "$work/programs" --serverbin "$cups/serverbin" \
  --cups-files "$cups/etc/cups-files.conf" --cupsd-conf "$cups/etc/cupsd.conf" \
  --autostart-dir "$work/autostart" --restart-command "kill -HUP $cupsd_pid"
lpstat -v Zelvora

# The resident program of this user, its runtime root the capture root.
mkdir -p "$capture_root"
ZELVORA_ROOT="$capture_root" ZELVORA_CAPTURE_ROOT="$capture_template" "$work/programs/ulmerith" &
resident_pid=$!
sleep 0.5

# A two-page PDF (A4 portrait, then landscape), its cross-reference table rebuilt by qpdf.
cat > "$work/raw.pdf" <<'PDF'
%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << /Font << /F1 7 0 R >> >> >> endobj
4 0 obj << >> stream
0 0 0 rg 50 692 200 100 re f BT /F1 24 Tf 60 600 Td (Zelvora capture demo) Tj ET
endstream endobj
5 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 842 595] /Contents 6 0 R /Resources << /Font << /F1 7 0 R >> >> >> endobj
6 0 obj << >> stream
0.2 0.4 0.8 rg 100 395 200 100 re f BT /F1 24 Tf 100 300 Td (a landscape page) Tj ET
endstream endobj
7 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj
trailer << /Root 1 0 R >>
%%EOF
PDF
qpdf "$work/raw.pdf" "$work/report.pdf" 2>/dev/null || [ $? -eq 3 ]
chmod 0644 "$work/report.pdf"
lp -d Zelvora -t "Microsoft Word - report.DOC" "$work/report.pdf"

# The capture file appears once the feeder has passed the pages through the exports; with
# no client to take it, the resident program moves it into kept/.
capture=
for _ in $(seq 1 300); do
  capture=$(ls "$capture_root"/kept/WXQ*.tmp 2>/dev/null | head -1 || true)
  if [ -n "$capture" ] && [ -z "$(ls -A "$capture_root/spool" 2>/dev/null | grep -v '^failed$' || true)" ]; then break; fi
  sleep 0.1
done
if [ -z "$capture" ]; then
  echo "no capture file arrived"; cat "$capture_root/log/capture.log" 2>/dev/null || true; exit 1
fi
echo "capture file: $capture"
"$bin/jobdoc-tool" info "$capture"
echo "capture log (this step installs no client program, so the job is kept for the next client window; the next steps run the client):"
sed 's/^/  /' "$capture_root/log/capture.log" 2>/dev/null || true
