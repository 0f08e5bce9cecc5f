#!/usr/bin/env bash
# The demo's summary: each job the engine printed (from the print log), whose it was, the
# answers in the share, and the files to look at.
set -euo pipefail
bin=$1
root=$ZELVORA_ROOT
echo
echo "== summary"
db="$root/db/zelvora.db"
if [ -e "$db" ]; then
  echo "printed (the print log):"
  /usr/bin/python3 - "$db" <<'PY'
import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
rows = c.execute("""SELECT p.ID, COALESCE(m.Account, '?'), p.JobName, p.Pages, pr.PrinterName, p.PDate, p.PTime
                    FROM PrintLog p LEFT JOIN Main m ON m.UID = p.UID LEFT JOIN Printers pr ON pr.PID = p.PID
                    ORDER BY p.ID""").fetchall()
for r in rows:
    print(f"  #{r[0]}  {r[1]:<8} \"{r[2]}\"  {r[3]} page(s) on {r[4]}  {str(r[5])[:10]} {str(r[6])[-8:]}")
if not rows:
    print("  nothing")
PY
fi
echo "answers (Result: 0 printed, 4 over the monochrome limit, 8 a duplicate; see README):"
for a in "$root"/app/share/Result/*-*.ans; do
  [ -e "$a" ] || continue
  case "$a" in *-.ans) continue ;; esac
  result=$(tr -d '\r' < "$a" | sed -n 's/^Result=//p' | head -n 1)
  echo "  $(basename "$a" .ans): Result=$result"
done
echo "files to look at:"
echo "  printed PDFs:  $root/printers/*/jobs/"
echo "  answers:       $root/app/share/Result/"
echo "  event log:     $root/log/events.log"
echo "  database:      $db"
