#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the layout there: every program in
# bin and executable, the libraries, backends, filter script and data in their folders,
# every ELF file's run path relative to itself ($ORIGIN...), every project library resolved
# inside the prefix, and installed programs running from there.
#
#   install_layout_test.sh BUILD_DIR
# Writes only into its temporary folder (and the install manifest cmake --install keeps in
# BUILD_DIR).
set -euo pipefail
build=$(cd "$1" && pwd -P)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log" >&2; exit 1; }

programs="hevrasto inkarrow hevrasto-setup ostrane ostrane-send ulmerith zelvora-feeder tavolent tavolent-db
          welmoric kelvad zelvora-texttopdf zelvora-install zelvora-ppd jobdoc-tool"
libraries="libsarquen.so liblumbrel.so libquorvel.so libvinteko.so libnebrastol.so libzvemfhandles.so
           libzvlasterror.so libzvgastrelo.so"
for p in $programs lib/cups/backend/zelvora lib/cups/backend/olviport lib/cups/filter/kelvad \
         lib/cups/filter/zelvora-texttopdf lib/cups/filter/zelvora-texttoraster; do
  case $p in */*) f=$prefix/$p ;; *) f=$prefix/bin/$p ;; esac
  [ -f "$f" ] && [ -x "$f" ] || fail "$f is not an executable file"
done
for l in $libraries; do [ -f "$prefix/lib/$l" ] || fail "$prefix/lib/$l is missing"; done
for d in ZvkHelp.html ZvmHelp.html Mirrastel.html ppd/zelvora.ppd ppd/zelvora-raster.ppd install-printer; do
  [ -s "$prefix/share/zelvora/$d" ] || fail "$prefix/share/zelvora/$d is missing"
done
grep -qx "exec \"$prefix/bin/kelvad\" \"\$@\"" "$prefix/lib/cups/filter/kelvad" || fail "the filter script does not run $prefix/bin/kelvad"
grep -qx "exec \"$prefix/bin/zelvora-texttopdf\" \"\$@\"" "$prefix/lib/cups/filter/zelvora-texttopdf" ||
  fail "the text filter script does not run $prefix/bin/zelvora-texttopdf"
grep -q "\"$prefix/bin/zelvora-texttopdf\" \"\$@\" | \"$prefix/bin/kelvad\"" "$prefix/lib/cups/filter/zelvora-texttoraster" ||
  fail "the raster queue's text filter script does not run $prefix/bin/zelvora-texttopdf into kelvad"
# The demo's and developers' tools stay in the build.
for p in hevrasto-demo vinteko-preview; do
  [ ! -e "$prefix/bin/$p" ] || fail "$prefix/bin/$p is installed (a demo or developer's tool)"
done
# Nothing of the tests or benchmarks.
leftover=$(find "$prefix" -name '*_test' -o -name '*_bench' -o -name '*stubconverter*' -o -name '*test_peer*')
[ -z "$leftover" ] || fail "test files installed: $leftover"

# Every ELF file: only relative run paths; every library it needs found, the project's
# own (those the prefix holds) inside the prefix.
elves=0
while IFS= read -r -d '' f; do
  readelf -h "$f" >/dev/null 2>&1 || continue
  elves=$((elves + 1))
  while read -r path; do
    IFS=: read -ra parts <<<"$path"
    for part in "${parts[@]}"; do
      case $part in '$ORIGIN'*) ;; *) fail "$f has the run path entry '$part'" ;; esac
    done
  done < <(readelf -d "$f" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
  ! readelf -d "$f" | grep -qF "$build" || fail "$f names the build folder"
  while read -r name arrow where _; do
    [ "$arrow" = "=>" ] || continue
    if [ "$where" = "not" ]; then fail "$f: $name not found"; continue; fi
    if [ -e "$prefix/lib/$name" ] && [ "$(readlink -f "$where")" != "$(readlink -f "$prefix/lib/$name")" ]; then
      fail "$f: $name resolves to $where, not inside the prefix"
    fi
  done < <(env -u LD_LIBRARY_PATH ldd "$f" 2>/dev/null)
done < <(find "$prefix" -type f -print0)
[ "$elves" -gt 20 ] || fail "only $elves ELF files installed"

# The capture library looks for its converter modules in its own folder, the client for the
# conversion library in <prefix>/lib: both there, each loadable with its libraries.
for l in libsarquen.so liblumbrel.so; do
  env -u LD_LIBRARY_PATH ldd "$prefix/lib/$l" | grep -q "not found" && fail "$l does not load from the prefix"
done
# Installed programs run from the prefix alone: a sample document, and the PPD equal to the
# installed one.
env -u LD_LIBRARY_PATH "$prefix/bin/jobdoc-tool" sample "$tmp/sample.prc" 2 >/dev/null || fail "jobdoc-tool did not run"
env -u LD_LIBRARY_PATH "$prefix/bin/jobdoc-tool" info "$tmp/sample.prc" >/dev/null || fail "jobdoc-tool info failed"
env -u LD_LIBRARY_PATH "$prefix/bin/zelvora-ppd" pass "$tmp/zelvora.ppd" || fail "zelvora-ppd did not run"
cmp -s "$tmp/zelvora.ppd" "$prefix/share/zelvora/ppd/zelvora.ppd" || fail "the installed PPD differs from the program's"

if [ "$failures" -gt 0 ]; then
  echo "install_layout_test: $failures failures" >&2
  exit 1
fi
echo "install_layout_test: $(find "$prefix" -type f | wc -l) files, $elves ELF files, layout as planned"
