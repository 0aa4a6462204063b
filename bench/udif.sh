#!/usr/bin/env bash
# Times UDIF expansion beside dmg2img on the same images (zlib, bzip2 and ADC,
# 1 GiB by default) on 1, 4 and 8 cores (taskset), and beside writing the same
# output (cat of the expanded image into a new file); checks that our output,
# dmg2img's and 7-Zip's are equal. Each round runs ours, then dmg2img, then the
# plain write, one after the other on the same cores; the ratios come from one
# round each: a rough comparison, not a timed test. The files live in memory
# (/dev/shm) when it has room, so the disk does not set the pace of all alike;
# BENCH_DIR chooses another place. The machine's load is printed before and after.
#   bash bench/udif.sh [MEGABYTES]    ROUNDS=2  KINDS="zlib bzip2 adc"  CORES="1 4 8"
#   EXPAND=path/expand_udif times another build's expansion (an older one, say)
set -euo pipefail
cd "$(dirname "$0")/.."
mb=${1:-1024}
rounds=${ROUNDS:-2}
build=${BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target make_udif expand_udif >/dev/null
expand=$(realpath "${EXPAND:-$build/tests/expand_udif}")
base=${BENCH_DIR:-}
if [ -z "$base" ]; then
  base=${TMPDIR:-/tmp}
  free_kb=$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')
  [ -n "$free_kb" ] && [ "$free_kb" -gt $((mb * 4 * 1024)) ] && base=/dev/shm
fi
work=$(mktemp -d "$base/cvbench-XXXXXX")
echo "files in $base; $(nproc) cores; $(uptime)"
trap 'rm -rf "$work"' EXIT
tools=$build/tests

seconds() {  # wall time of one command, to the millisecond
  local a b
  a=$(date +%s%N)
  "$@" >/dev/null 2>&1
  b=$(date +%s%N)
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 0.001) }'; }

for kind in ${KINDS:-zlib bzip2 adc}; do
  "$tools/make_udif" "$work/$kind.dmg" "$mb" "$kind"
  # The three outputs agree, once.
  "$expand" "$work/$kind.dmg" "$work/ours.img"
  dmg2img -s "$work/$kind.dmg" "$work/peer.img" >/dev/null
  7zz e -tDmg -so "$work/$kind.dmg" '*.hfs' >"$work/7z.img" 2>/dev/null
  cmp "$work/ours.img" "$work/peer.img" || { echo "ours and dmg2img's differ for $kind"; exit 1; }
  cmp "$work/ours.img" "$work/7z.img" || { echo "ours and 7-Zip's differ for $kind"; exit 1; }
  rm -f "$work/peer.img" "$work/7z.img"
  for cores in ${CORES:-1 4 8}; do
    pin=(taskset -c "0-$((cores - 1))")
    for r in $(seq "$rounds"); do
      rm -f "$work/out.img"; o=$(seconds "${pin[@]}" "$expand" "$work/$kind.dmg" "$work/out.img")
      rm -f "$work/out.img"; d=$(seconds "${pin[@]}" dmg2img -s "$work/$kind.dmg" "$work/out.img")
      rm -f "$work/out.img"; w=$(seconds "${pin[@]}" sh -c "cat '$work/ours.img' > '$work/out.img'")
      rm -f "$work/out.img"
      echo "$kind, $cores core(s), round $r: ours $o s, dmg2img $d s, writing the output $w s;" \
           "dmg2img / ours $(ratio "$d" "$o"), ours / writing $(ratio "$o" "$w")"
    done
  done
  rm -f "$work/$kind.dmg" "$work/ours.img"
done
echo "$(uptime)"
