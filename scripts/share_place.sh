# Where the share lies, and what bounds it, so that a member who fills the share cannot stop
# the server: the set-up script sources this. The first two functions are pure (their
# answers depend on their arguments alone) so that a test can run them over a table.
# shellcheck shell=bash

# Takes a file system's mount options (findmnt's OPTIONS); gives the quota it enforces:
# "project" (prjquota, pquota, prjjquota=...), "group" (grpquota, gquota, grpjquota=...) or
# "none". A project quota is preferred: it bounds the folder whatever group a member gives
# a file (a member may move its own files to another of its groups).
zv_share_quota_kind() {
  local o project=0 group=0 IFS=,
  for o in $1; do
    case "$o" in
      prjquota | pquota | prjjquota=*) project=1 ;;
      grpquota | gquota | grpjquota=*) group=1 ;;
    esac
  done
  if [ "$project" = 1 ]; then
    echo project
  elif [ "$group" = 1 ]; then
    echo group
  else
    echo none
  fi
}

# Takes whether the share lies on the file system of the database or the event log ("same"
# or "apart") and the quota that file system enforces (zv_share_quota_kind); gives what the
# set-up does: "apart" (nothing is needed), "project" or "group" (a quota on the share), or
# "advise" (nothing can bound it here: the administrator is told how).
zv_share_choice() {
  if [ "$1" = apart ]; then
    echo apart
  elif [ "$2" = project ] || [ "$2" = group ]; then
    echo "$2"
  else
    echo advise
  fi
}

# Takes the share, its mount point and why nothing could bound it; prints what to do.
zv_share_advice() {
  cat <<EOF
install: warning: the share $1 lies on the file system of the database and the event log
  ($2), and $3: a member who fills the share fills that file system, and the server stops.
  Nothing was changed. Recommended: a file system of its own for the share, then run
  install --server again. For example, with a file as its disk:
    truncate -s 4G /var/lib/zelvora-share.img && mkfs.ext4 -q /var/lib/zelvora-share.img
    echo '/var/lib/zelvora-share.img $1 ext4 loop,nosuid,nodev 0 2' >> /etc/fstab
    mount $1
  Or mount $2 with prjquota (ext4, xfs) or grpquota and run install --server again: the
  share then gets a quota of its own.
EOF
}

# Takes the share, the folders of the database and of the event log, the group, its id and
# the quota in MiB; looks at where they lie and bounds the share where it can; says what it
# did. Never makes a file system, a loop device or a mount.
zv_place_share() {
  local share=$1 db=$2 log=$3 group=$4 gid=$5 mib=$6 mnt opts same=apart kind choice d
  mnt=$(findmnt -n -o TARGET --target "$share" 2>/dev/null) || mnt=$(df -P "$share" | awk 'NR==2 {print $6}')
  opts=$(findmnt -n -o OPTIONS --target "$share" 2>/dev/null) || opts=
  for d in "$db" "$log"; do
    [ -e "$d" ] || continue
    [ "$(stat -c %d "$d")" != "$(stat -c %d "$share")" ] || same=same
  done
  kind=$(zv_share_quota_kind "$opts")
  choice=$(zv_share_choice "$same" "$kind")
  local fstype kb=$((mib * 1024))
  fstype=$(findmnt -n -o FSTYPE --target "$share" 2>/dev/null) || fstype=
  case "$choice" in
    apart)
      echo "install: the share $share has a file system of its own ($mnt), apart from the database and" \
        "the event log: a full share cannot stop the server"
      ;;
    project)
      if [ "$fstype" = xfs ] && command -v xfs_quota >/dev/null; then
        xfs_quota -x -c "project -s -p $share $gid" -c "limit -p bhard=${mib}m $gid" "$mnt" >/dev/null
      elif [ "$fstype" != xfs ] && command -v setquota >/dev/null && chattr -R -p "$gid" +P "$share"; then
        setquota -P "$gid" 0 "$kb" 0 0 "$mnt"
      else
        zv_share_advice "$share" "$mnt" "its project quota cannot be set here (xfs_quota or setquota and chattr are missing: the packages xfsprogs or quota)"
        return 0
      fi
      echo "install: the share $share lies on $mnt with the database and the event log; a project quota" \
        "of $mib MiB (project $gid) bounds it"
      ;;
    group)
      if ! command -v setquota >/dev/null; then
        zv_share_advice "$share" "$mnt" "its group quota cannot be set here (setquota is missing: the package quota)"
        return 0
      fi
      setquota -g "$group" 0 "$kb" 0 0 "$mnt"
      echo "install: the share $share lies on $mnt with the database and the event log; a group quota" \
        "of $mib MiB for the group $group bounds what members write there"
      ;;
    advise)
      zv_share_advice "$share" "$mnt" "that file system has no quotas enabled"
      ;;
  esac
}
