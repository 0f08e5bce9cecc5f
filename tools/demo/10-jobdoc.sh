#!/usr/bin/env bash
# Job documents: build a sample document, unpack it to its image, pack it again and show
# what it holds. $1 is the build's bin folder; files go under $ZELVORA_ROOT/demo/jobdoc.
set -euo pipefail
bin=$1
work="$ZELVORA_ROOT/demo/jobdoc"
mkdir -p "$work"
echo "== job documents"
"$bin/jobdoc-tool" sample "$work/sample.prc" 5
"$bin/jobdoc-tool" unpack "$work/sample.prc" "$work/sample.img"
"$bin/jobdoc-tool" pack "$work/sample.img" "$work/repacked.prc"
cmp -s "$work/sample.prc" "$work/repacked.prc" && echo "repacked file is identical to the original"
"$bin/jobdoc-tool" info "$work/repacked.prc"
