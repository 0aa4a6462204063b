#!/usr/bin/env bash
# Times mounting a volume of 20,000 files and walking its whole catalog beside
# sleuthkit's `fls -r` on the same image (HFS+ made by xorriso), and checks that
# both see the same number of files.
#   bash bench/mount.sh [FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-20000}
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target walk_volume >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/cvbench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# 200 folders of count/200 small files each
mkdir -p "$work/src"
per=$(( (count + 199) / 200 ))
python3 - "$work/src" "$count" "$per" <<'PY'
import os, sys
root, count, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    d = os.path.join(root, "folder%03d" % (i // per))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file%05d.txt" % i), "w") as f:
        f.write("%d\n" % i)
PY
xorriso -as mkisofs -hfsplus -apm-block-size 2048 -J -r -V BENCH -o "$work/bench.iso" "$work/src" 2>/dev/null
start=$(mmls -t mac -b 2048 "$work/bench.iso" | awk '/Apple_HFS/ {print $3 * 4}')

timeit() {  # seconds of one command, its stdout kept
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$work/out" 2>/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l | cut -c1-6
}

ours=$(timeit build/release/tests/walk_volume "$work/bench.iso")
ours_files=$(awk '{print $3}' "$work/out")
peer=$(timeit fls -f hfsp -r -o "$start" "$work/bench.iso")
peer_files=$(grep -c 'r/r .*file[0-9]*\.txt$' "$work/out" || true)
printf "%-12s %9s %8s\n" tool seconds files
printf "%-12s %9s %8s\n" walk_volume "$ours" "$ours_files"
printf "%-12s %9s %8s\n" "fls -r" "$peer" "$peer_files"
[ "$ours_files" = "$peer_files" ] || { echo "file counts differ"; exit 1; }
echo "ours is $(echo "$peer / ($ours + 0.0001)" | bc -l | cut -c1-5) times as fast"
