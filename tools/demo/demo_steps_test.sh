#!/usr/bin/env bash
# The demo's steps as a newcomer's scripts/demo runs them after its build, here against the
# suite's build, in a runtime root of their own that is removed afterwards. Passes when every
# step succeeded and the demo ended with its summary and the files to look at.
# $1 is the source tree, $2 the build tree.
set -uo pipefail
top=$1
build=$2
root=$(mktemp -d /tmp/zelvora-demo-test.XXXXXX)
out=$root.out
trap 'rm -rf "$root" "$out"' EXIT
ZELVORA_ROOT=$root XDG_RUNTIME_DIR= QT_QPA_PLATFORM=offscreen "$top/tools/demo/run-steps" "$build/bin" >"$out" 2>&1
status=$?
cat "$out"
if [ $status -ne 0 ]; then
  echo "demo_steps_test: a demo step failed with status $status" >&2
  exit 1
fi
for line in "== summary" "files to look at:" "  printed PDFs:"; do
  if ! grep -qxF -- "$line" "$out" && ! grep -qF -- "$line" "$out"; then
    echo "demo_steps_test: the demo did not print \"$line\"" >&2
    exit 1
  fi
done
# Every step that prints a job must have put one into the print log.
if ! grep -q '^  #[0-9]' "$out"; then
  echo "demo_steps_test: the summary lists no printed job" >&2
  exit 1
fi
