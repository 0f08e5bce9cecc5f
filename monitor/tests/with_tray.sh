#!/bin/sh
# Runs a test program on a private X server (xvfb-run picks a free display) with a tray host.
set -u
[ -n "${TRAY_INNER:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24" env TRAY_INNER=1 "$0" "$@"
trayer --edge top --align right --widthtype pixel --width 100 --height 24 >/dev/null 2>&1 &
tray=$!
QT_QPA_PLATFORM=xcb "$@"
rc=$?
kill "$tray" 2>/dev/null
wait "$tray" 2>/dev/null
exit $rc
