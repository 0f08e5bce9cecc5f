#!/usr/bin/env bash
# Runs the role set-up as installed (P/share/zelvora/install) for both roles twice, checks what
# it set up and that the second run changed nothing, then removes it and checks that it is
# gone. Everything lies in one temporary folder: the prefix, the runtime root, a private
# cupsd, the autostart and unit folders, and the account database (nss_wrapper: root, lp and
# the group "zelvora", so groupadd never runs on this machine).
#
#   install_roles_test.sh SOURCE_DIR BUILD_DIR        exit 0 passed, 1 failed, 77 skipped
set -euo pipefail
src=$1 build=$2
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
[ -x /usr/sbin/cupsd ] || skip "needs cupsd"
command -v lpstat >/dev/null || skip "needs the CUPS clients"
nss=$(ls /usr/lib/*/libnss_wrapper.so 2>/dev/null | head -n 1) || true
[ -n "$nss" ] || skip "needs libnss-wrapper"
[ -x "$build/bin/hevrasto" ] || { echo "no programs in $build/bin" >&2; exit 1; }

t=$(mktemp -d /tmp/zelvora-install-roles.XXXXXX)
chmod 0755 "$t"
P=$t/prefix root=$t/root cups=$t/cups
cupsd_pid=
fail() { echo "FAILED: $*" >&2; [ -f "$cups/log/error_log" ] && tail -n 20 "$cups/log/error_log" >&2; exit 1; }
# Stops what the test started (the engine service through the script, the scheduler by its
# id) and deletes the folder.
cleanup() {
  set +e
  if [ -f "$root/services/Zelvora%20Service.svc" ]; then
    pid=$(sed -n 's/^Pid=//p' "$root/services/Zelvora%20Service.state" 2>/dev/null | head -n 1)
    run_install --remove --server >/dev/null 2>&1
    [ -n "$pid" ] && [ "$pid" != 0 ] && kill "$pid" 2>/dev/null
  fi
  if [ -n "$cupsd_pid" ]; then
    kill -TERM "$cupsd_pid" 2>/dev/null
    for _ in $(seq 1 100); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  [ -n "${ZELVORA_KEEP_TEST_ROOT:-}" ] || rm -rf "$t"
}
trap cleanup EXIT

# The account database of the test.
mkdir -p "$t/nss"
cat > "$t/nss/passwd" <<EOF
root:x:0:0:root:/root:/bin/bash
lp:x:7:7:lp:/var/spool/lpd:/usr/sbin/nologin
alice:x:4101:4101:Alice:$t/home/alice:/bin/bash
EOF
cat > "$t/nss/group" <<EOF
root:x:0:
lp:x:7:
alice:x:4101:
zelvora:x:4100:alice
EOF

# The installation: cmake --install where the build has install rules, else filled by hand
# from the build's bin and lib folders; the set-up script of this source tree either way.
cmake --install "$build" --prefix "$P" >/dev/null 2>&1 || true
if ! [ -x "$P/bin/hevrasto" ]; then
  mkdir -p "$P/bin" "$P/lib/cups/backend"
  for p in hevrasto inkarrow hevrasto-setup tavolent ostrane ostrane-send ulmerith zelvora-feeder welmoric \
           kelvad zelvora-install zelvora-ppd jobdoc-tool; do
    [ -e "$build/bin/$p" ] && cp -a "$build/bin/$p" "$P/bin/"
  done
  cp -a "$build/bin/zelvora" "$build/bin/olviport" "$P/lib/cups/backend/"
  cp -a "$build"/lib/*.so "$P/lib/" 2>/dev/null || true
  cp -a "$build"/bin/*.so "$P/lib/" 2>/dev/null || true
fi
mkdir -p "$P/share/zelvora"
cp "$src/scripts/install" "$src/scripts/install-printer" "$src/scripts/removal.sh" "$src/scripts/share_place.sh" \
  "$P/share/zelvora/"
chmod -R go+rX "$P"

# A private scheduler configured like the distribution's (job files root-only).
for d in etc/ppd cache state log serverbin/backend serverbin/filter spool/tmp; do mkdir -p "$cups/$d"; done
chown root:lp "$cups/spool" "$cups/spool/tmp"
chmod 0710 "$cups/spool"
chmod 01770 "$cups/spool/tmp"
for d in daemon notifier cgi-bin monitor driver; do
  [ -e "/usr/lib/cups/$d" ] && ln -s "/usr/lib/cups/$d" "$cups/serverbin/$d"
done
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$cups/etc/cups-files.conf" <<EOF
ServerRoot $cups/etc
RequestRoot $cups/spool
TempDir $cups/spool/tmp
CacheDir $cups/cache
StateDir $cups/state
ServerBin $cups/serverbin
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
FileDevice No
User lp
Group lp
SystemGroup root
PeerCred off
Sandboxing Relaxed
EOF
cat > "$cups/etc/cupsd.conf" <<EOF
Listen $cups/cups.sock
Listen 127.0.0.1:$port
Browsing No
WebInterface No
PreserveJobHistory Yes
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
/usr/sbin/cupsd -f -c "$cups/etc/cupsd.conf" -s "$cups/etc/cups-files.conf" > "$cups/log/cupsd.out" 2>&1 &
cupsd_pid=$!
export CUPS_SERVER=$cups/cups.sock
for _ in $(seq 1 100); do lpstat -r >/dev/null 2>&1 && break; sleep 0.05; done
lpstat -r >/dev/null 2>&1 || fail "cupsd did not come up"

# The set-up script as installed, with every path option inside the test's folder.
run_install() {
  env LD_PRELOAD="$nss" NSS_WRAPPER_PASSWD="$t/nss/passwd" NSS_WRAPPER_GROUP="$t/nss/group" \
    "$P/share/zelvora/install" --root "$root" --cups-files "$cups/etc/cups-files.conf" \
    --cupsd-conf "$cups/etc/cupsd.conf" --serverbin "$cups/serverbin" --cups-server "$cups/cups.sock" \
    --autostart-dir "$t/autostart" --systemd-dir "$t/systemd" --samba-conf "$t/smb.conf" \
    --restart-command "kill -HUP $cupsd_pid" "$@"
}
# What the set-up leaves: path, type, mode, owner, group, link target and content digest of
# every file in the folders it writes (the logs, the engine's run-time files and the files
# cupsd keeps for itself aside).
snapshot() {
  (cd "$t" && find prefix/etc root/app root/registry root/services root/odbc autostart systemd \
      cups/serverbin/backend cups/serverbin/filter cups/etc/cupsd.conf cups/etc/cups-files.conf \
      -name '*.state' -prune -o -name '*.lock' -prune -o -printf '%p %y %m %u %g %l\n' | sort)
  (cd "$t" && find prefix/etc root/registry root/services systemd autostart cups/etc/cupsd.conf \
      cups/etc/cups-files.conf -type f ! -name '*.state' ! -name '*.lock' -exec md5sum {} + | sort -k 2)
}

out=$(run_install --help) || fail "--help failed"
grep -q -- '--purge' <<<"$out" || fail "--help does not name --purge"
code=0; run_install --bogus >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] || fail "an unknown option gave $code, not 2"

out=$(run_install --server --client) || { echo "$out"; fail "the first set-up failed"; }
echo "$out"
# The share lies beside the database and the event log here, on a file system without
# quotas: the set-up says so, how to give the share its own, and that it changed nothing.
grep -qF "install: warning: the share $root/app/share lies on the file system of the database" <<<"$out" ||
  fail "the set-up does not say where the share lies"
grep -qF "Nothing was changed." <<<"$out" || fail "the set-up does not say what it did about the share"
first=$(snapshot)
run_install --server --client || fail "the second set-up failed"
second=$(snapshot)
[ "$first" = "$second" ] || { diff <(echo "$first") <(echo "$second") >&2; fail "the second set-up changed files"; }

# The queues and the backends CUPS runs as root.
lpstat -p Zelvora >/dev/null || fail "no queue Zelvora"
lpstat -p Zelvora-Raster >/dev/null || fail "no queue Zelvora-Raster"
for b in zelvora olviport; do
  [ "$(stat -c '%U %a' "$cups/serverbin/backend/$b")" = "root 700" ] || fail "backend $b is not root's, 0700"
done
grep -qx "Exec=$P/bin/ulmerith" "$t/autostart/ulmerith.desktop" || fail "autostart entry"

# The share: members of zelvora place requests and job files and read answers; others nothing.
# The database, its data sources and the printed output are root's alone.
while read -r path want; do
  got=$(env LD_PRELOAD="$nss" NSS_WRAPPER_PASSWD="$t/nss/passwd" NSS_WRAPPER_GROUP="$t/nss/group" \
        stat -c '%U:%G %a' "$root/$path")
  [ "$got" = "$want" ] || fail "$path is $got, not $want"
done <<EOF
. root:zelvora 750
app root:zelvora 750
app/share root:zelvora 2750
app/share/PrintInfo root:zelvora 3770
app/share/PrintInfo/Sequence.seq root:zelvora 640
app/share/Jobs root:zelvora 3730
app/share/Result root:zelvora 3770
db root:root 700
db/zelvora.db root:root 600
odbc root:root 700
printers root:root 700
EOF
[ -f "$root/db/zelvora.db" ] || fail "no embedded database"
# The engine prints through the machine's CUPS queues.
[ "$(cat "$root/printers/backend")" = cups ] || fail "the engine's spooler is not cups"

# The machine-wide client settings: the server as this host's name, the share linked.
host=$(hostname -s)
reg=$P/etc/machine.reg
for v in "\"ServerName\" sz \"\\\\$host%00\"" '"ShareName" sz "ZELVORA%00"' '"PrintInfoDir" sz "PrintInfo%00"' \
         '"JobsDir" sz "Jobs%00"' '"ResultDir" sz "Result%00"' '"SpoolDir" sz "Spool%00"'; do
  grep -qF "value $v" "$reg" || { cat "$reg" >&2; fail "machine.reg lacks $v"; }
done
[ "$(stat -c %a "$reg")" = 644 ] || fail "machine.reg is not 0644"
[ "$(readlink "$P/etc/net/$host/ZELVORA")" = "$root/app/share" ] || fail "net/$host/ZELVORA does not name the share"

# The engine as a service of the root: the table's entry, the unit, running.
svc=$root/services/Zelvora%20Service.svc
grep -qF "Program=\"$P/bin/inkarrow\"" "$svc" || fail "service entry does not run $P/bin/inkarrow"
grep -qF "Environment=\"ZELVORA_ROOT=$root\"" "$t/systemd/zelvora-Zelvora\\x20Service.service" || fail "unit"
grep -qx 'State=4' "$root/services/Zelvora%20Service.state" || fail "the service does not run"
engine_pid=$(sed -n 's/^Pid=//p' "$root/services/Zelvora%20Service.state")

run_install --remove || fail "--remove failed"
! lpstat -p Zelvora >/dev/null 2>&1 || fail "queue Zelvora left"
! lpstat -p Zelvora-Raster >/dev/null 2>&1 || fail "queue Zelvora-Raster left"
for f in "$cups/serverbin/backend/zelvora" "$cups/serverbin/backend/olviport" "$cups/serverbin/filter/kelvad" \
         "$t/autostart/ulmerith.desktop" "$P/etc/machine.reg" "$P/etc/net" "$svc" \
         "$t/systemd/zelvora-Zelvora\\x20Service.service"; do
  [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f left after --remove"
done
if [ -d "/proc/$engine_pid" ] && ! grep -q '^State:.*Z' "/proc/$engine_pid/status"; then fail "service host still runs"; fi
[ -f "$root/db/zelvora.db" ] || fail "--remove deleted the database"
run_install --remove --purge >/dev/null || fail "--remove --purge failed"
[ ! -e "$root" ] || fail "--purge left the runtime root"
echo "install_roles_test: passed"
