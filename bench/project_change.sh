#!/usr/bin/env bash
# One change of a large project as the window makes it (tests/tools/change_project:
# the project held shared and marked, the change one edit, the totals after it):
# a folder made in the root (its run comes first: nearly the whole file moves),
# an item renamed in place and a file of the last folder deleted (little moves).
# The project is made here record by record: ITEMS files (200,000 by default)
# in folders of 100. Each change runs ROUNDS times (5 by default) on a fresh
# copy; prints the milliseconds of each and their median, from this one run.
#   bash bench/project_change.sh [build folder]   (ITEMS=200000 ROUNDS=5)
# With BEFORE=path/to/change_project, the same changes by that build beside
# this one's, in turns.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath -m "${1:-build/release}")"
tool="$build/tests/change_project"
[ -x "$tool" ] || { echo "build change_project in $build first (cmake --build $build --target change_project)"; exit 1; }
items=${ITEMS:-200000}
rounds=${ROUNDS:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/cvbench-XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work/big.cvpr" "$items" <<'PY'
import struct, sys
path, items = sys.argv[1], int(sys.argv[2])
folders = (items + 99) // 100
REC = 756
def text(s, n): b = s.encode(); return b + b"\0" * (n - len(b))
def record(parent, rid, data, rsrc, pc_folder, name, hfs):
    r = struct.pack("<IiI4B3I", parent, rid, 0, 1, 1, 0, 0, data, rsrc, data) + b"\0" * 36
    r += struct.pack("<II", 3000000000, 3000000000) + b"\0" * 30 + b"TEXTttxt" + b"\0\0"
    r += text(pc_folder, 256) + text(name, 244) + name.encode()[:12].ljust(12, b"\0") + text(name, 68) + text(hfs, 64)
    assert len(r) == REC
    return r
head = struct.pack("<IiI4B4I", 0x5A4E5643, 1, 17 + folders, 1, 1, 0, 0, folders, 0, 0, 0)
head += b"\0" * (32 + 128 * 4 + 36) + struct.pack("<IQ", items, 0) + text("BIG", 68) + text("BIG", 64)
head = head.ljust(REC, b"\0")
with open(path, "wb") as f:
    f.write(head)
    for d in range(folders):
        n = min(100, items - d * 100)
        f.write(record(1, 18 + d, 0, n, "/pc/", "d%05d" % d, "d%05d" % d))
    serial = 0
    for d in range(folders):
        for i in range(min(100, items - d * 100)):
            serial += 1
            f.write(record(18 + d, -serial, 1, 0, "/pc/d%05d/" % d, "f%03d.txt" % i, "f%03d.txt" % i))
PY
last_folder=$((17 + (items + 99) / 100))
last_file=$items

run() {  # tool label args...
  local t="$1" label="$2"; shift 2
  cp "$work/big.cvpr" "$work/p.cvpr"; sync
  printf "%s %s\n" "$label" "$("$t" "$work/p.cvpr" "$@")"
}
{
  for r in $(seq "$rounds"); do
    for t in "$tool" ${BEFORE:+"$BEFORE"}; do
      tag=$([ "$t" = "$tool" ] && echo now || echo before)
      run "$t" "$tag folder-in-root" folder "New folder"
      run "$t" "$tag rename-last-file" rename "-$last_file" "zz.txt" 2>/dev/null || true
      run "$t" "$tag delete-folder-last" delete "$last_folder"
    done
  done
} > "$work/times.txt"
awk '{ v[$1 " " $2] = v[$1 " " $2] " " $3 } END { for (k in v) print k ":" v[k] }' "$work/times.txt" | sort |
  while IFS=: read -r k vals; do
    median=$(tr ' ' '\n' <<<"$vals" | grep . | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
    printf "%-34s ms:%s   median %s\n" "$k" "$vals" "$median"
  done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
