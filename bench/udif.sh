#!/usr/bin/env bash
# Times UDIF expansion beside dmg2img on the same images (zlib, bzip2 and ADC,
# 512 MB by default) on sets of cores (taskset: four, one and eight by
# default), and beside writing the same output (cat of the expanded image into
# a new file); checks once that our output, dmg2img's and 7-Zip's are equal.
# Each round runs every command once, in an order that turns by one place from
# round to round; bench/rounds.py gives each command's median and spread and the
# median of the per-round ratios, with the load. Before each round the cores
# left idle by the rest of the machine are sampled over one second from
# /proc/stat ("free"), so a figure on a shared machine says what it ran beside.
# The files live in memory (/dev/shm) when it has room, so the disk does not set
# the pace of all alike; BENCH_DIR chooses another place.
#   bash bench/udif.sh [MEGABYTES]    ROUNDS=5  KINDS="zlib adc bzip2"  CPUSETS="4-7 4 0-7"
#   BEFORE=path/expand_udif   another build's expansion too, in the same rounds
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mb=${1:-512}
rounds=${ROUNDS:-5}
build=${BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j3 --target make_udif expand_udif >/dev/null
expand=$(realpath "${EXPAND:-$build/tests/expand_udif}")
before=${BEFORE:+$(realpath "$BEFORE")}
source "$root/bench/rotation.sh"
make_work_folder $((mb * 5))
echo "files in $base; $(nproc) cores; $(uptime)"
tools=$build/tests

for kind in ${KINDS:-zlib adc bzip2}; do
  "$tools/make_udif" "$work/$kind.dmg" "$mb" "$kind"
  # The three outputs agree, once.
  "$expand" "$work/$kind.dmg" "$work/ours.img"
  dmg2img -s "$work/$kind.dmg" "$work/peer.img" >/dev/null
  7zz e -tDmg -so "$work/$kind.dmg" '*.hfs' >"$work/7z.img" 2>/dev/null
  cmp "$work/ours.img" "$work/peer.img" || { echo "ours and dmg2img's differ for $kind"; exit 1; }
  cmp "$work/ours.img" "$work/7z.img" || { echo "ours and 7-Zip's differ for $kind"; exit 1; }
  rm -f "$work/peer.img" "$work/7z.img"
  for cpus in ${CPUSETS:-4-7 4 0-7}; do
    pin=(taskset -c "$cpus")
    clear="rm -f $work/out.img"
    rows=("ours|$clear|$expand $work/$kind.dmg $work/out.img")
    [ -n "$before" ] && rows+=("before|$clear|$before $work/$kind.dmg $work/out.img")
    rows+=("dmg2img|$clear|dmg2img -s $work/$kind.dmg $work/out.img" "writing|$clear|sh -c 'cat $work/ours.img > $work/out.img'")
    run_rotated "$kind, cores $cpus ($(taskset -c "$cpus" nproc) of them)" "${rows[@]}"
    rm -f "$work/out.img"
  done
  rm -f "$work/$kind.dmg" "$work/ours.img"
done
echo "$(uptime)"
