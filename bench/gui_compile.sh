#!/usr/bin/env bash
# The window's compile beside the console's, on projects of 10,000 and 100,000
# small files (1 to 3,000 bytes, 100 files a folder) made with "quorvel -i".
# For each size the console compile ("quorvel -c", whole process) and the
# window's (the real main window on a private X server, timed from the start
# of its worker to its end, tests/gui/compile/test_compile_timing.cpp) run in turns,
# ROUNDS times (3 by default), so that a load on the machine meets both alike;
# each round prints its own ratio, window over console.
# With A11Y=1 the window runs with the accessibility bridge loaded and a
# listener of its events on the bus, as a screen reader would be.
#   bash bench/gui_compile.sh [build folder]    (SIZES="10000 100000" ROUNDS=3)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath -m "${1:-build/release}")"
for t in quorvel tests/test_gui_windows; do
  [ -x "$build/$t" ] || { echo "build $build first (cmake --build $build)"; exit 1; }
done
quorvel="$build/quorvel"
windows="$build/tests/test_gui_windows"
work=$(mktemp -d "${TMPDIR:-/tmp}/cvbench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work" CORVANE_CONFIG_DIR="$work/config"
mkdir -p "$CORVANE_CONFIG_DIR"
sizes=${SIZES:-"10000 100000"}
rounds=${ROUNDS:-3}

seconds() {  # wall seconds of one command
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$work/out" 2>"$work/err" || { cat "$work/err" >&2; return 1; }
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

window_compile() {  # project image: the window's seconds, as it timed them
  local run=(tests/gui/xserver.sh)
  if [ "${A11Y:-0}" = 1 ]; then
    run+=(dbus-run-session -- env GTK_MODULES=gail:atk-bridge NO_AT_BRIDGE=0
          /usr/bin/python3 "$PWD/bench/a11y_listener.py")
  fi
  CORVANE_BENCH_PROJECT="$1" CORVANE_BENCH_TARGET="$2" \
    "${run[@]}" "$windows" --gtest_filter=GuiCompileTiming.* >"$work/out" 2>"$work/err" ||
    { cat "$work/out" "$work/err" >&2; return 1; }
  awk '/^window-compile-seconds/ {print $2}' "$work/out"
}

printf "%-8s %-6s %10s %10s %8s\n" files round console window ratio
for n in $sizes; do
  tree="$work/tree$n"
  /usr/bin/python3 - "$tree" "$n" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
random.seed(11)
for i in range(count):
    d = os.path.join(root, "d%04d" % (i // 100))
    if i % 100 == 0:
        os.makedirs(d)
    with open(os.path.join(d, "note %06d.txt" % i), "wb") as f:
        f.write(os.urandom(random.randint(1, 3000)))
PY
  project="$work/p$n.cvpr"
  "$quorvel" -f "$project" bench >/dev/null
  "$quorvel" -i "$project" "$tree" >/dev/null
  for r in $(seq "$rounds"); do
    rm -f "$work/p$n.iso" "$work/w$n.iso"; sync
    c=$(seconds "$quorvel" -c "$project")
    rm -f "$work/p$n.iso"; sync
    w=$(window_compile "$project" "$work/w$n.iso")
    [ -s "$work/w$n.iso" ] || { echo "the window wrote no image"; exit 1; }
    rm -f "$work/w$n.iso"
    printf "%-8s %-6s %9.2fs %9.2fs %8.2f\n" "$n" "$r" "$c" "$w" "$(echo "$w / $c" | bc -l)"
  done
  rm -rf "$tree"
done
