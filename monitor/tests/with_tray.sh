#!/bin/sh
# Runs a test program on a private X server (xvfb-run picks a free display). The program
# starts its tray host (trayer) itself, so it can also see a desktop without a tray.
set -u
exec xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$@"
