#!/usr/bin/env bash
# Where the set-up puts the share's bound: the choice over a table of cases (the share on
# the database's file system or apart, quotas enforced or not), and the message the set-up
# gives for a share, database and event log in one folder of this machine's file system.
#
#   share_place_test.sh SOURCE_DIR        exit 0 passed, 1 failed
set -euo pipefail
src=$1
# shellcheck source=scripts/share_place.sh
. "$src/scripts/share_place.sh"
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

# mount options -> the quota they enforce
while read -r opts want; do
  got=$(zv_share_quota_kind "$opts")
  [ "$got" = "$want" ] || fail "options $opts gave $got, not $want"
done <<'TABLE'
rw,relatime none
rw,relatime,usrquota none
rw,relatime,grpquota group
rw,attr2,inode64,gquota group
rw,grpjquota=aquota.group,jqfmt=vfsv1 group
rw,relatime,prjquota project
rw,attr2,pquota,gquota project
rw,pqnoenforce none
TABLE

# where the share lies, the quota there -> what the set-up does
while read -r where kind want; do
  got=$(zv_share_choice "$where" "$kind")
  [ "$got" = "$want" ] || fail "$where with $kind quota gave $got, not $want"
done <<'TABLE'
apart none apart
apart group apart
apart project apart
same none advise
same group group
same project project
TABLE

# This machine: the share, the database and the event log in one temporary folder.
t=$(mktemp -d /tmp/zelvora-share-place.XXXXXX)
trap 'rm -rf "$t"' EXIT
mkdir -p "$t/share" "$t/db" "$t/log"
if [ "$(zv_share_quota_kind "$(findmnt -n -o OPTIONS --target "$t")")" = none ]; then
  out=$(zv_place_share "$t/share" "$t/db" "$t/log" zelvora 999 4096)
  mnt=$(findmnt -n -o TARGET --target "$t")
  grep -qF "install: warning: the share $t/share lies on the file system of the database and the event log" <<<"$out" ||
    fail "no warning for a share beside the database: $out"
  grep -qF "($mnt), and that file system has no quotas enabled" <<<"$out" || fail "the mount point or the cause: $out"
  grep -qF "mkfs.ext4 -q /var/lib/zelvora-share.img" <<<"$out" || fail "no command for a file system of its own: $out"
  grep -qF "Nothing was changed." <<<"$out" || fail "does not say what it did: $out"
else
  echo "this machine's /tmp enforces quotas: its message is not checked"
fi
[ "$failed" = 0 ] && echo "share_place_test: passed"
exit "$failed"
