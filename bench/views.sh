#!/usr/bin/env bash
# Times opening an HFS+ image whose one folder holds 100,000 files and listing
# that folder through the browse view model, beside sleuthkit's `fls -r` on the
# same image, and checks that both see every file. Peak memory of ours too.
#   bash bench/views.sh [FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-100000}
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target view_folder >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/cvbench-XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src/big"
python3 - "$work/src/big" "$count" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    with open(os.path.join(root, "file%06d.txt" % i), "w") as f:
        f.write("%d\n" % i)
PY
xorriso -as mkisofs -hfsplus -apm-block-size 2048 -J -r -V BENCH -o "$work/bench.iso" "$work/src" 2>/dev/null
start=$(mmls -t mac -b 2048 "$work/bench.iso" | awk '/Apple_HFS/ {print $3 * 4}')
big=$(fls -f hfsp -o "$start" "$work/bench.iso" | awk -F'[ :\t]+' '$NF == "big" {print $2}')

timeit() {  # seconds of one command, its stdout kept
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$work/out" 2>/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l | cut -c1-6
}

ours=$(timeit build/release/tests/view_folder "$work/bench.iso" "$big")
ours_files=$(awk '/files$/ {print $3}' "$work/out")
inner=$(awk '/^seconds/ {print $2}' "$work/out")
peak=$( { /usr/bin/time -f %M build/release/tests/view_folder "$work/bench.iso" "$big" >/dev/null; } 2>&1 | tail -1)
peer=$(timeit fls -f hfsp -r -o "$start" "$work/bench.iso")
peer_files=$(grep -c 'r/r .*file[0-9]*\.txt$' "$work/out" || true)
printf "%-12s %9s %8s\n" tool seconds files
printf "%-12s %9s %8s   (open + list %s s, peak %s KiB)\n" view_folder "$ours" "$ours_files" "$inner" "$peak"
printf "%-12s %9s %8s\n" "fls -r" "$peer" "$peer_files"
[ "$ours_files" = "$peer_files" ] || { echo "file counts differ"; exit 1; }
