# Removal steps shared by the role set-up script (install --remove [--purge]) and the Debian
# package's postrm. The postrm runs after the package's files are gone, so the package build
# writes a copy of these functions into it (cmake/Install.cmake); the set-up script sources
# this file. POSIX sh: dpkg runs the postrm with /bin/sh.
#
# What the server set-up records for its removal lies in the installation's P/etc:
#   server-roots  the runtime roots it set up, one a line
#   group-made    present when the set-up created the group "zelvora" itself

# zv_stop_programs BIN NAME...: ends every process, of any user, whose program is BIN/NAME
# (a program still running from files being removed, or already removed): SIGTERM, then
# SIGKILL for those still there after 5 s. The kernel's own record of each process's program
# (/proc/PID/exe) decides, so nothing a user wrote can name a process to end. Prints what it
# ended.
zv_stop_programs() {
  # The folder itself may be gone already (the package's files are removed before its postrm).
  zv_bin=$(cd "$1" 2>/dev/null && pwd -P) || zv_bin=$1
  shift
  zv_pids=""
  for zv_exe in /proc/[0-9]*/exe; do
    zv_target=$(readlink "$zv_exe" 2>/dev/null) || continue
    zv_target=${zv_target% (deleted)}
    for zv_name in "$@"; do
      if [ "$zv_target" = "$zv_bin/$zv_name" ]; then
        zv_pid=${zv_exe#/proc/}
        zv_pids="$zv_pids ${zv_pid%/exe}"
      fi
    done
  done
  [ -n "$zv_pids" ] || return 0
  # shellcheck disable=SC2086
  kill -TERM $zv_pids 2>/dev/null || true
  zv_left=$zv_pids
  zv_tries=0
  while [ -n "$zv_left" ] && [ "$zv_tries" -lt 50 ]; do
    sleep 0.1
    zv_tries=$((zv_tries + 1))
    zv_still=""
    # A process that ended but was not reaped yet has no program any more.
    for zv_pid in $zv_left; do readlink "/proc/$zv_pid/exe" >/dev/null 2>&1 && zv_still="$zv_still $zv_pid"; done
    zv_left=$zv_still
  done
  # shellcheck disable=SC2086
  [ -z "$zv_left" ] || kill -KILL $zv_left 2>/dev/null || true
  echo "zelvora: ended the programs still running from $zv_bin (processes$zv_pids)"
}

# zv_remove_owner_block CUPSD_CONF: takes CUPS's cupsd.conf out of the job-owner block the
# printer's set-up added (PeerCred and the default authentication type stay, as CUPS's own
# settings). Gives 0 when it removed one, 1 when there was none.
zv_remove_owner_block() {
  grep -q '# zelvora: job owners' "$1" 2>/dev/null || return 1
  awk '/# zelvora: job owners/ {skip = 1; next} skip && /<\/Limit>/ {skip = 0; next} !skip {print}' "$1" > "$1.new"
  cat "$1.new" > "$1"
  rm -f "$1.new"
  return 0
}

# zv_record_root PREFIX ROOT: notes a runtime root the server set-up made, for the purge.
zv_record_root() {
  mkdir -p "$1/etc"
  grep -qxF "$2" "$1/etc/server-roots" 2>/dev/null || printf '%s\n' "$2" >> "$1/etc/server-roots"
}

# zv_recorded_roots PREFIX: prints the runtime roots the server set-up recorded.
zv_recorded_roots() {
  [ -f "$1/etc/server-roots" ] && cat "$1/etc/server-roots"
  return 0
}

# zv_purge_root PREFIX ROOT: deletes a runtime root with its data and its record, then says
# what was removed and where the print log was (a print log kept in an outside data source,
# PostgreSQL say, is left as it is).
zv_purge_root() {
  zv_root=$2
  if [ -d "$zv_root" ]; then
    zv_db=$(sed -n 's/^Database *= *//p' "$zv_root/odbc/odbc.ini" 2>/dev/null | head -n 1)
    zv_driver=$(sed -n 's/^Driver *= *//p' "$zv_root/odbc/odbc.ini" 2>/dev/null | head -n 1)
    rm -rf "$zv_root"
    case "$zv_driver" in
      *SQLite*|*sqlite*) echo "zelvora: removed $zv_root with its print log ${zv_db:-$zv_root/db/zelvora.db}" ;;
      "") echo "zelvora: removed $zv_root (a print log kept in an outside data source is left as it is)" ;;
      *) echo "zelvora: removed $zv_root; the print log in the data source ($zv_driver, database ${zv_db:-?}) is left as it is" ;;
    esac
  fi
  if [ -f "$1/etc/server-roots" ]; then
    grep -vxF "$zv_root" "$1/etc/server-roots" > "$1/etc/server-roots.new" || true
    if [ -s "$1/etc/server-roots.new" ]; then mv "$1/etc/server-roots.new" "$1/etc/server-roots"
    else rm -f "$1/etc/server-roots.new" "$1/etc/server-roots"; fi
  fi
}

# zv_remove_group PREFIX: removes the group "zelvora", with its members, when the server
# set-up made it (a group that was there before, a directory's say, stays).
zv_remove_group() {
  [ -e "$1/etc/group-made" ] || return 0
  rm -f "$1/etc/group-made"
  getent group zelvora >/dev/null 2>&1 || return 0
  if groupdel zelvora; then
    echo "zelvora: removed the group zelvora and with it its members' membership"
  else
    echo "zelvora: the group zelvora could not be removed" >&2
  fi
}
