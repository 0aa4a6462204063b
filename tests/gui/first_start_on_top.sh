#!/usr/bin/env bash
# A new user's first start, with the default signature table installed: the
# offer to select a signature file opens above the main window, under no
# window manager (in English) and under openbox (in French, the language chosen
# before), and is the window the manager makes active. A picture of the screen
# is kept for each. Run inside xserver.sh:
#   first_start_on_top.sh CORVANE DEFAULT_SIG SCREENSHOT_DIR
set -u
corvane=$1
sig=$2
shots=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/first_start.XXXXXX")
manager=""
program=""
finish() {
  [ -z "$program" ] || { kill "$program" 2>/dev/null; wait "$program" 2>/dev/null; }
  [ -z "$manager" ] || { kill "$manager" 2>/dev/null; wait "$manager" 2>/dev/null; }
  rm -rf "$work"
}
trap finish EXIT
mkdir -p "$work/prefix/bin" "$work/prefix/share/corvane" "$shots"
# Installed as a package lays it out: the program finds its table beside it.
cp "$corvane" "$work/prefix/bin/corvane" && cp "$sig" "$work/prefix/share/corvane/default.sig" || exit 1

status=0
for run in none:en:"Select a signature file" openbox:fr:"Choisir un fichier de signatures"; do
  IFS=: read -r wm language title <<<"$run"
  home=$work/home-$wm
  mkdir -p "$home/data" "$home/config/corvane" "$home/run"
  chmod 700 "$home/run"
  [ $language = en ] || printf '[HKEY_CURRENT_USER\\Software\\Veltron\\Corvane\\Lang]\n@=10000\n' \
    >"$home/config/corvane/settings.reg"
  if [ $wm = openbox ]; then
    command -v openbox >/dev/null || { echo "openbox is not installed (scripts/setup)" >&2; exit 1; }
    HOME=$home XDG_CONFIG_HOME=$home/config openbox --sm-disable >/dev/null 2>&1 &
    manager=$!
    # Managing the screen once it has said so on the root window.
    /usr/bin/python3 -c '
import sys, time
from Xlib import Xatom, display
d = display.Display()
check = d.intern_atom("_NET_SUPPORTING_WM_CHECK")
end = time.time() + 10
while time.time() < end:
    if d.screen().root.get_full_property(check, Xatom.WINDOW):
        sys.exit(0)
    time.sleep(0.05)
sys.exit("openbox did not start")' || exit 1
  fi
  HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run \
    CORVANE_CONFIG_DIR=$home/config/corvane "$work/prefix/bin/corvane" &
  program=$!
  /usr/bin/python3 "$here/offer_on_top.py" "$program" "$title" "Corvane" \
    "$shots/first_start_offer_${wm}_$language.png" || status=1
  kill "$program" 2>/dev/null
  wait "$program" 2>/dev/null
  program=""
done
exit $status
