#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) of its own, so window tests can
# run side by side: the server picks a free display and reports it itself.
set -u
folder=$(mktemp -d "${TMPDIR:-/tmp}/xserver.XXXXXX")
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$folder/display" 2>"$folder/log" &
server=$!
for _ in $(seq 200); do
  [ -s "$folder/display" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$folder/display" ]; then
  echo "xserver.sh: Xvfb did not start" >&2
  cat "$folder/log" >&2
  rm -rf "$folder"
  exit 1
fi
export DISPLAY=":$(head -n 1 "$folder/display")"
"$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$folder"
exit $status
