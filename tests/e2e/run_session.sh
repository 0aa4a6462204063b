#!/usr/bin/env bash
# Runs a user session of the GUI program over the accessibility bus on a
# private display: run_session.sh CORVANE SCENARIO.py [SIZE] (inside
# xserver.sh and dbus-run-session), on an image of SIZE (8M by default) that
# the program opens. The scenario checks the image with hfsutils once the
# program has ended.
set -u
corvane=$1
scenario=$2
size=${3:-8M}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/session.XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run CORVANE_CONFIG_DIR=$work/config
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$CORVANE_CONFIG_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export GTK_MODULES=gail:atk-bridge NO_AT_BRIDGE=0 HOME=$work

image=$work/session.hfs
# An HFS volume made by hfsutils in the first partition of a map made by parted.
truncate -s "$size" "$image"
parted -s "$image" mklabel mac mkpart p1 hfs 1MiB 100% 2>/dev/null || exit 1
hformat -l "Session" "$image" 1 >/dev/null || exit 1

"$corvane" "$image" &
program=$!
timeout 90 /usr/bin/python3 "$here/$scenario" "$image"
driven=$?
for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program" 2>/dev/null; then
  echo "the program did not end when told to" >&2
  kill "$program"
  exit 1
fi
[ $driven -eq 0 ] || exit 1
