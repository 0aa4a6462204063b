#!/usr/bin/env bash
# Compile memory per item beside genisoimage and xorriso, on trees of 10k, 50k
# and 200k items (small files of 1-3000 bytes, 100 to a folder), in one run.
# For each tree: a project by "quorvel -i", then hybrid HFS and hybrid HFS+
# compiles, genisoimage (HFS) and xorriso (HFS+) on the same tree. Prints time,
# peak memory (max RSS), bytes of peak memory per item, and our peak over the
# peer's. HFS holds at most 65,535 allocation blocks, one or more per file, so
# the 200k tree does not fit an HFS volume: that compile refuses it.
# Usage: bench/compile-memory.sh [build folder]   (SIZES="10000 50000" to choose)
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$work"

# time and peak memory of one command: "seconds KiB rc"
measure() {
  local rc=0
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || rc=$?
  echo "$(cat "$work/time" | tail -1) $rc"
}
line() {  # name items seconds kib rc [peer kib]
  awk -v n="$1" -v i="$2" -v s="$3" -v k="$4" -v rc="$5" -v p="${6:-0}" 'BEGIN {
    r = (p > 0 ? sprintf("%.2f", k / p) : "-")
    printf "%-30s %7d items %7.2f s %8.1f MiB %7.0f B/item  vs peer %s%s\n", n, i, s, k / 1024, k * 1024 / i, r,
           (rc != 0 ? "  (refused, exit " rc ")" : "") }'
}

for items in ${SIZES:-10000 50000 200000}; do
  python3 - "tree$items" "$items" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
random.seed(5)
folders = max(1, n // 100)
for d in range(folders): os.makedirs(os.path.join(root, "folder %04d" % d), exist_ok=True)
for i in range(n - folders):
    with open(os.path.join(root, "folder %04d" % (i % folders), "note number %06d.txt" % i), "wb") as f:
        f.write(os.urandom(random.randint(1, 3000)))
PY
  read -r s k rc < <(measure "$quorvel" -i hfs.cvpr "tree$items"); line "quorvel -i" "$items" "$s" "$k" "$rc"
  printf '\x00' | dd of=hfs.cvpr bs=1 seek=13 conv=notrunc status=none
  cp hfs.cvpr plus.cvpr
  printf '\x01' | dd of=plus.cvpr bs=1 seek=13 conv=notrunc status=none
  read -r gs gk grc < <(measure genisoimage -quiet -J -r -hfs -part -o gen.iso "tree$items"); rm -f gen.iso
  read -r xs xk xrc < <(measure xorriso -as mkisofs -quiet -J -r -hfsplus -apm-block-size 2048 -o xor.iso "tree$items"); rm -f xor.iso
  read -r s k rc < <(measure "$quorvel" -c hfs.cvpr); rm -f hfs.iso; line "quorvel -c (hybrid HFS)" "$items" "$s" "$k" "$rc" "$gk"
  line "genisoimage -hfs" "$items" "$gs" "$gk" "$grc"
  read -r s k rc < <(measure "$quorvel" -c plus.cvpr); rm -f plus.iso; line "quorvel -c (hybrid HFS+)" "$items" "$s" "$k" "$rc" "$xk"
  line "xorriso -hfsplus" "$items" "$xs" "$xk" "$xrc"
  rm -rf "tree$items" hfs.cvpr plus.cvpr
done
