#!/usr/bin/env bash
# "quorvel -i p.cvpr TREE" of this build beside another build's (an older one,
# say), in turns on the same trees: 5,000 and 200,000 one-byte files in folders
# of 100, each included into a new project ROUNDS times (3 by default). Prints
# each build's seconds, their medians and this build's median over the other's,
# from this one run.
#   BEFORE=path/to/quorvel bash bench/inclusion_before.sh [build folder]
#   SIZES="5000 200000"  ROUNDS=3
set -euo pipefail
source "$(dirname "$0")/common.sh"
before="${BEFORE:?BEFORE=path/to/the other quorvel}"
sizes="${SIZES:-5000 200000}"
rounds="${ROUNDS:-3}"
cd "$work"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

seconds() {  # quorvel project tree
  local a b
  rm -f "$2" "$2.undo"
  sync
  a=$(date +%s%N)
  "$1" -i "$2" "$3" >/dev/null 2>err.txt || { echo "  ($1 failed: $(head -1 err.txt))" >&2; echo 0; return; }
  b=$(date +%s%N)
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for n in $sizes; do
  make_file_tree "tree$n" "$n"
  now="" old=""
  for r in $(seq "$rounds"); do
    now="$now $(seconds "$quorvel" now.cvpr "tree$n")"
    old="$old $(seconds "$before" old.cvpr "tree$n")"
  done
  cmp -s <(stat -c %s now.cvpr) <(stat -c %s old.cvpr) || echo "  (the two projects differ in length)"
  mn=$(median <<<"$now") mo=$(median <<<"$old")
  printf "%7d files  now s:%s  median %s\n" "$n" "$now" "$mn"
  printf "%7d files  before s:%s  median %s\n" "$n" "$old" "$mo"
  awk -v a="$mn" -v b="$mo" -v n="$n" 'BEGIN { printf "%7d files  now / before %.2f\n", n, (b > 0 ? a / b : 0) }'
  rm -rf "tree$n"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
