#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) of its own, so window tests can
# run side by side: the server picks a free display and reports it itself.
# The server and the command each run in a process group of their own (and
# read nothing from standard input); however this script ends (the command's
# end, a failure, a signal) both groups are ended and reaped, so nothing the
# test started outlives it and holds its output open. What the command left
# running is named on standard error.
set -u
folder=$(mktemp -d "${TMPDIR:-/tmp}/xserver.XXXXXX")
server=""
command=""
status=1

# The processes of group $1 that still run (zombies have let go of everything).
members() {
  ps -e -o pgid=,stat=,pid=,args= | awk -v g="$1" '$1 == g && $2 !~ /^Z/ { $1 = $2 = ""; sub(/^ +/, ""); print "  " $0; found = 1 }
    END { exit !found }'
}
group_runs() { members "$1" >/dev/null; }

# Ends group $1: TERM, then KILL for what is still there after two seconds;
# comes back once the group is empty (or after five seconds more).
end_group() {
  local i
  kill -TERM -- "-$1" 2>/dev/null || return 0
  for i in $(seq 40); do group_runs "$1" || return 0; sleep 0.05; done
  kill -KILL -- "-$1" 2>/dev/null
  for i in $(seq 100); do group_runs "$1" || return 0; sleep 0.05; done
}

finish() {
  trap - EXIT INT TERM HUP
  if [ -n "$command" ]; then
    # Still its group's leader when a signal cut the wait short; gone otherwise,
    # and what is left of its group half a second later (what was on its way
    # out has gone by then) was started by the test and forgotten.
    if ! kill -0 "$command" 2>/dev/null; then
      for _ in $(seq 10); do group_runs "$command" || break; sleep 0.05; done
      if left=$(members "$command"); then
        printf "xserver.sh: ended what the test left running:\n%s\n" "$left" >&2
      fi
    fi
    { ! group_runs "$command" || end_group "$command"; wait "$command"; } 2>/dev/null
  fi
  if [ -n "$server" ]; then
    { end_group "$server"; wait "$server"; } 2>/dev/null
  fi
  rm -rf "$folder"
  exit "$status"
}
trap finish EXIT
trap 'status=129; exit' HUP
trap 'status=130; exit' INT
trap 'status=143; exit' TERM

# setsid from a background job (never a group leader) does not fork: $! is
# the new group's leader. -noreset: the server does not start over when its
# last client leaves, which would cut off a program connecting at that moment
# (a helper that looks and leaves just as the program under test starts).
setsid Xvfb -displayfd 9 -noreset -screen 0 1280x1024x24 -nolisten tcp 9>"$folder/display" >"$folder/log" 2>&1 </dev/null &
server=$!
for _ in $(seq 200); do
  [ -s "$folder/display" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$folder/display" ]; then
  echo "xserver.sh: Xvfb did not start" >&2
  cat "$folder/log" >&2
  exit 1
fi
export DISPLAY=":$(head -n 1 "$folder/display")"
# No desktop session is behind this display: GTK keeps its settings in memory,
# looks for no accessibility bus and no file system daemons, and finds no
# session bus but one the command brings (dbus-run-session). Nothing starts a
# bus of its own for it, outside the groups ended below, nor reaches the
# desktop of whoever runs the tests.
unset DBUS_SESSION_BUS_ADDRESS
export GSETTINGS_BACKEND=memory GIO_USE_VFS=local NO_AT_BRIDGE=1
setsid "$@" </dev/null &
command=$!
wait "$command"
status=$?
