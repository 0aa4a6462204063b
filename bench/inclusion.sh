#!/usr/bin/env bash
# Inclusion speed ("quorvel -i" of a whole tree into a new project) beside two
# makers reading the same tree into an image written to /dev/null: genisoimage
# (-r -J) and xorriso (-as mkisofs -r -J). Trees of 10k, 50k and 200k one-byte
# files in folders of 100, and a tree 1,100 folders deep with a file at each level.
# Prints whole-process time and peak memory of each, microseconds per item for
# quorvel, and quorvel's time over each reference's, from this one run.
# COLD=1 also times "quorvel -i" of each tree with the caches dropped first
# (echo 3 > /proc/sys/vm/drop_caches, when this shell may), so that every
# folder, inode and file is read from the disk.
# Usage: bench/inclusion.sh [build folder]   (SIZES="10000 50000" for fewer trees)
set -euo pipefail
source "$(dirname "$0")/common.sh"
sizes="${SIZES:-10000 50000 200000}"
cd "$work"

# "seconds KiB" of one command (its output thrown away); "0 0" when it fails,
# with its first error line on stderr.
measure() {
  if /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null 2>err.txt; then cat time.txt
  else echo "  ($1 failed: $(grep -v '^Command exited' err.txt | head -1))" >&2; echo "0 0"; fi
}
line() { printf "%-44s %8.2f s %8.1f MiB\n" "$1" "$2" "$(awk -v k="$3" 'BEGIN { print k / 1024 }')"; }

drop_caches() { sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; }

run_tree() {  # name tree items
  local name="$1" tree="$2" items="$3" q g x k
  if [ "${COLD:-0}" = 1 ]; then
    rm -f p.cvpr
    if drop_caches; then read -r q k < <(measure "$quorvel" -i p.cvpr "$tree"); line "quorvel -i cold   $name" "$q" "$k"
    else echo "  (the caches cannot be dropped here: no cold run)"; fi
  fi
  rm -f p.cvpr; sync
  read -r q k < <(measure "$quorvel" -i p.cvpr "$tree"); line "quorvel -i        $name" "$q" "$k"
  read -r g k < <(measure genisoimage -quiet -r -J -D -l -o /dev/null "$tree"); line "genisoimage -r -J $name" "$g" "$k"
  read -r x k < <(measure xorriso -as mkisofs -quiet -r -J -o /dev/null "$tree"); line "xorriso -r -J     $name" "$x" "$k"
  awk -v n="$name" -v q="$q" -v g="$g" -v x="$x" -v i="$items" -v s="$(stat -c %s p.cvpr)" 'BEGIN {
    printf "  %s: %d records, %.1f us per item", n, s / 756 - 1, q * 1e6 / i
    if (g > 0) printf "; quorvel / genisoimage %.2f", q / g
    if (x > 0) printf "; quorvel / xorriso %.2f", q / x
    printf "\n" }'
}

for n in $sizes; do
  make_file_tree "tree$n" "$n"
  run_tree "$n files" "tree$n" $((n + n / 100))
  rm -rf "tree$n"
done

# 1,100 folders deep, one file at each level.
python3 - deep 1100 <<'PY'
import os, sys
root, depth = sys.argv[1], int(sys.argv[2])
os.mkdir(root)
fd = os.open(root, os.O_RDONLY)
for i in range(depth):
    os.mkdir("d", dir_fd=fd)
    with open(os.open("f.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as f: f.write(b"x")
    nfd = os.open("d", os.O_RDONLY, dir_fd=fd); os.close(fd); fd = nfd
PY
run_tree "1100 deep" deep 2200
