#!/usr/bin/env bash
# Compile speed beside the usual hybrid makers, on one tree in one run:
# 2,000 files of mixed sizes (about 1 GiB) plus 20,000 small files, a project made
# with "quorvel -i", compiled hybrid HFS and hybrid HFS+; then genisoimage (HFS)
# and xorriso (HFS+) on the same tree, and a plain read-and-write copy of the bytes.
# Prints whole-process time, peak memory and MB/s for each, and each compile's
# time over the plain copy's (the copy runs before and after the compiles, with
# the cache as warm for it as for them; the faster of its two runs counts).
# Usage: bench/compile.sh [build folder]   (SCALE=0.1 for a tenth of the tree)
set -euo pipefail
source "$(dirname "$0")/common.sh"
scale="${SCALE:-1}"

echo "making the tree in $work/tree ..."
python3 - "$work/tree" "$scale" <<'PY'
import os, random, sys
root, scale = sys.argv[1], float(sys.argv[2])
random.seed(7)
big = int(2000 * scale); small = int(20000 * scale)
# mixed sizes averaging ~512 KiB: 1 GiB over 2,000 files
sizes = [random.choice([0, 1, 2048, 4096, 30000, 200000, 600000, 1500000, 3000000]) for _ in range(big)]
total = sum(sizes); target = int((1 << 30) * scale)
sizes = [int(s * target / total) for s in sizes] if total else sizes
chunk = os.urandom(1 << 20)
for i, s in enumerate(sizes):
    d = os.path.join(root, "big", "d%02d" % (i % 40)); os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file %04d.bin" % i), "wb") as f:
        while s > 0:
            n = min(s, len(chunk)); f.write(chunk[:n]); s -= n
for i in range(small):
    d = os.path.join(root, "small", "s%03d" % (i % 200)); os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "note %05d.txt" % i), "wb") as f:
        f.write(os.urandom(random.randint(1, 3000)))
PY
bytes=$(du -sb "$work/tree" | cut -f1)
sync

# time and peak memory of one command: "seconds KiB"
measure() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; return 1; }; cat "$work/time"; }
report() {  # name seconds kib
  awk -v n="$1" -v s="$2" -v k="$3" -v b="$bytes" 'BEGIN { printf "%-34s %8.2f s %9.1f MiB %9.1f MB/s\n", n, s, k/1024, (s > 0 ? b/1e6/s : 0) }'
}

cd "$work"
# Each run starts with its output gone and the disk settled, as the next one will.
settle() { rm -f "$@"; sync; }
plain_copy() {
  settle copy.bin
  read -r s k < <(measure sh -c 'find tree -type f -print0 | xargs -0 cat > copy.bin'); report "plain copy (cat) $1" "$s" "$k"
  copy_times+=("$s"); settle copy.bin
}
copy_times=()
read -r s k < <(measure "$quorvel" -i hfs.cvpr tree); report "quorvel -i (project, HFS)" "$s" "$k"
cp hfs.cvpr hfsplus.cvpr
# The HFS+ project: the same items with the target field set to HFS+ (header byte 13).
printf '\x01' | dd of=hfsplus.cvpr bs=1 seek=13 conv=notrunc status=none
plain_copy "before"
settle hfs.iso; read -r hfs_s k < <(measure "$quorvel" -c hfs.cvpr); report "quorvel -c (hybrid HFS)" "$hfs_s" "$k"; settle hfs.iso
settle hfsplus.iso; read -r plus_s k < <(measure "$quorvel" -c hfsplus.cvpr); report "quorvel -c (hybrid HFS+)" "$plus_s" "$k"; settle hfsplus.iso
settle gen.iso; read -r s k < <(measure genisoimage -quiet -J -r -hfs -part -o gen.iso tree); report "genisoimage -J -r -hfs -part" "$s" "$k"; settle gen.iso
settle xor.iso; read -r s k < <(measure xorriso -as mkisofs -quiet -J -r -hfsplus -apm-block-size 2048 -o xor.iso tree); report "xorriso -hfsplus -apm-block-size 2048" "$s" "$k"; settle xor.iso
plain_copy "after"
awk -v a="${copy_times[0]}" -v b="${copy_times[1]}" -v h="$hfs_s" -v p="$plus_s" 'BEGIN {
  c = (a < b ? a : b); if (c <= 0) c = 0.01
  printf "compile / plain copy: hybrid HFS %.2f, hybrid HFS+ %.2f (copy %.2f s)\n", h / c, p / c, c }'
