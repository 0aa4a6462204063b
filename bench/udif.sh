#!/usr/bin/env bash
# Times UDIF expansion beside dmg2img on the same images (zlib and bzip2, 1 GiB
# by default), on every core this shell may use and pinned to one core
# (taskset -c 0), and checks that both outputs are equal. The ratios come from
# one run of each: a rough comparison, not a timed test. The files live in
# memory (/dev/shm) when it has room, so the disk does not set the pace of
# both tools alike; BENCH_DIR chooses another place.
#   bash bench/udif.sh [MEGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
mb=${1:-1024}
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target make_udif expand_udif >/dev/null
base=${BENCH_DIR:-}
if [ -z "$base" ]; then
  base=${TMPDIR:-/tmp}
  free_kb=$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')
  [ -n "$free_kb" ] && [ "$free_kb" -gt $((mb * 3 * 1024)) ] && base=/dev/shm
fi
work=$(mktemp -d "$base/cvbench-XXXXXX")
echo "files in $base; $(nproc) cores usable"
trap 'rm -rf "$work"' EXIT
tools=build/release/tests

timeit() {  # seconds and peak KiB of one command
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
  cat "$work/time"
}
ratio() { echo "$1 / ($2 + 0.001)" | bc -l | cut -c1-5; }

printf "%-6s %-6s %-8s %9s %10s %8s\n" kind cores tool seconds "peak KiB" "MB/s"
for kind in zlib bzip2; do
  "$tools/make_udif" "$work/$kind.dmg" "$mb" "$kind"
  for pin in all one; do
    run=()
    [ "$pin" = one ] && run=(taskset -c 0)
    read -r ours_s ours_m < <(timeit "${run[@]}" "$tools/expand_udif" "$work/$kind.dmg" "$work/ours.img")
    read -r peer_s peer_m < <(timeit "${run[@]}" dmg2img -s "$work/$kind.dmg" "$work/peer.img")
    cmp "$work/ours.img" "$work/peer.img" || { echo "outputs differ for $kind"; exit 1; }
    for row in "ours $ours_s $ours_m" "dmg2img $peer_s $peer_m"; do
      set -- $row
      printf "%-6s %-6s %-8s %9s %10s %8.0f\n" "$kind" "$pin" "$1" "$2" "$3" "$(echo "$mb / ($2 + 0.001)" | bc -l)"
    done
    echo "$kind, $pin core(s): ours is $(ratio "$peer_s" "$ours_s") times as fast," \
         "with $(ratio "$ours_m" "$peer_m") times the memory"
    rm -f "$work/ours.img" "$work/peer.img"
  done
  rm -f "$work/$kind.dmg"
done
