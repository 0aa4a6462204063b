#!/usr/bin/env bash
# Compile time beside a plain copy of the same bytes (find -print0 | xargs -0 cat)
# on trees of small files (1-3000 bytes, 100 to a folder: 10k, 50k and 200k by
# default) and on a tree of 2,000 large files of about 1 GiB in all. A project
# per tree by "quorvel -i"; then, in each round, the plain copy, the hybrid HFS+
# compile, the hybrid HFS compile (trees HFS can hold) and the plain copy again,
# one after the other on the same cores (taskset), each compile over the faster
# of the two copies around it. Ratios from one run; the load of the machine is
# printed before and after.
# Usage: bench/compile-small.sh [build folder]
#   SIZES="10000 50000"  trees of small files ("" for none); LARGE=0 no large tree
#   ROUNDS=3             rounds per tree;  CPUS=2,3 the cores (taskset -c)
#   BEFORE=path/quorvel  another build's compiles too, in the same rounds (an older one, say)
set -euo pipefail
source "$(dirname "$0")/common.sh"
sizes="${SIZES-10000 50000 200000}"
rounds="${ROUNDS:-3}"
cpus="${CPUS:-2,3}"
pin=(taskset -c "$cpus")
cd "$work"
echo "cores $cpus of $(nproc); $(uptime)"

# Wall time of one command in seconds (to the millisecond).
seconds() {
  local a b
  a=$(date +%s%N)
  "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
  b=$(date +%s%N)
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}
settle() { rm -f "$@"; sync; }

run_tree() {  # name tree
  local name="$1" tree="$2" files bytes
  files=$(find "$tree" -type f | wc -l)
  bytes=$(du -sb "$tree" | cut -f1)
  settle plus.cvpr hfs.cvpr
  "$quorvel" -i hfs.cvpr "$tree"
  cp hfs.cvpr plus.cvpr
  printf '\x00' | dd of=hfs.cvpr bs=1 seek=13 conv=notrunc status=none
  printf '\x01' | dd of=plus.cvpr bs=1 seek=13 conv=notrunc status=none
  local hfs=1
  [ "$files" -gt 60000 ] && hfs=0  # more files than an HFS volume holds blocks
  find "$tree" -type f -print0 | xargs -0 cat >/dev/null  # every source in the cache
  for r in $(seq "$rounds"); do
    settle copy.bin; c1=$(seconds "${pin[@]}" sh -c "find '$tree' -type f -print0 | xargs -0 cat > copy.bin"); settle copy.bin
    settle plus.iso; p=$(seconds "${pin[@]}" "$quorvel" -c plus.cvpr); settle plus.iso
    h=0
    if [ "$hfs" = 1 ]; then settle hfs.iso; h=$(seconds "${pin[@]}" "$quorvel" -c hfs.cvpr); settle hfs.iso; fi
    bp=0 bh=0
    if [ -n "${BEFORE:-}" ]; then
      settle plus.iso; bp=$(seconds "${pin[@]}" "$BEFORE" -c plus.cvpr); settle plus.iso
      if [ "$hfs" = 1 ]; then settle hfs.iso; bh=$(seconds "${pin[@]}" "$BEFORE" -c hfs.cvpr); settle hfs.iso; fi
    fi
    settle copy.bin; c2=$(seconds "${pin[@]}" sh -c "find '$tree' -type f -print0 | xargs -0 cat > copy.bin"); settle copy.bin
    awk -v n="$name" -v f="$files" -v b="$bytes" -v r="$r" -v c1="$c1" -v c2="$c2" -v p="$p" -v h="$h" -v bp="$bp" -v bh="$bh" 'BEGIN {
      c = (c1 < c2 ? c1 : c2); if (c <= 0) c = 0.01
      printf "%-12s %7d files %7.1f MB  round %d: copy %.3f s, HFS+ %.3f s (%.2f)", n, f, b / 1e6, r, c, p, p / c
      if (h > 0) printf ", HFS %.3f s (%.2f)", h, h / c
      if (bp > 0) printf "; before: HFS+ %.2f", bp / c
      if (bh > 0) printf ", HFS %.2f", bh / c
      printf "\n" }'
  done
}

for n in $sizes; do
  python3 - "small$n" "$n" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
random.seed(3)
for i in range(n):
    d = os.path.join(root, "s%05d" % (i // 100))
    if i % 100 == 0: os.makedirs(d)
    with open(os.path.join(d, "note %06d.txt" % i), "wb") as f: f.write(os.urandom(random.randint(1, 3000)))
PY
  run_tree "small $n" "small$n"
  rm -rf "small$n"
done

if [ "${LARGE:-1}" != 0 ]; then
  python3 - large <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(7)
sizes = [random.choice([0, 1, 2048, 4096, 30000, 200000, 600000, 1500000, 3000000]) for _ in range(2000)]
total = sum(sizes); sizes = [int(s * (1 << 30) / total) for s in sizes]
chunk = os.urandom(1 << 20)
for i, s in enumerate(sizes):
    d = os.path.join(root, "d%02d" % (i % 40)); os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file %04d.bin" % i), "wb") as f:
        while s > 0:
            k = min(s, len(chunk)); f.write(chunk[:k]); s -= k
PY
  run_tree "large 1 GiB" large
  rm -rf large
fi
echo "$(uptime)"
