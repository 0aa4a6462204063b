#!/usr/bin/env bash
# Catalog size beside xorriso's, and the outside readers' verdicts, on trees of
# 5k, 60k and 200k items (one-byte files, 100 to a folder). For each tree: a
# project by "quorvel -i", a hybrid HFS+ compile and, when HFS can hold the tree,
# a hybrid HFS one; xorriso (HFS+) on the same tree. Prints each HFS+ catalog's
# bytes, nodes and free nodes, ours over xorriso's; then what sleuthkit (fls -r,
# fsstat), 7-Zip (its own partition-map reader takes the volume out, then 7zz t)
# and, for HFS, hfsutils (hls -R) list, against the items of the tree.
# Usage: bench/catalog.sh [build folder]   (SIZES="5000 60000" to choose)
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$work"

# Catalog file of the first Apple_HFS partition: "bytes nodes free depth".
catalog() {
  python3 - "$1" <<'PY'
import struct, sys
f = open(sys.argv[1], 'rb'); head = f.read(1 << 16)
bs = struct.unpack('>H', head[2:4])[0]
for i in range(1, 64):
    e = head[i * bs:i * bs + 512]
    if e[:2] == b'PM' and e[48:80].split(b'\0')[0] == b'Apple_HFS':
        off = struct.unpack('>I', e[8:12])[0] * bs
        break
f.seek(off + 1024); vh = f.read(512)
if vh[:2] == b'BD':  # HFS: the catalog's extent and the node count in the MDB
    block = struct.unpack('>I', vh[20:24])[0]; first = struct.unpack('>H', vh[28:30])[0]
    size = struct.unpack('>I', vh[146:150])[0]; start = struct.unpack('>H', vh[150:152])[0]
    f.seek(off + first * 512 + start * block)
else:
    block = struct.unpack('>I', vh[40:44])[0]
    size = struct.unpack('>Q', vh[0x110:0x118])[0]; start = struct.unpack('>I', vh[0x120:0x124])[0]
    f.seek(off + start * block)
h = f.read(512)
depth, root, leafrec, first, last, ns, maxk, total, free = struct.unpack('>HIIIIHHII', h[14:44])
print(size, total, free, depth)
PY
}
offset() { mmls -t mac -b 2048 "$1" | awk '/Apple_HFS/ { print $3 * 4; exit }'; }

for items in ${SIZES:-5000 60000 200000}; do
  python3 - "tree$items" "$items" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
folders = max(1, n // 101)
for d in range(folders): os.makedirs(os.path.join(root, "folder %04d" % d))
for i in range(n - folders):
    with open(os.path.join(root, "folder %04d" % (i % folders), "item number %06d.txt" % i), "wb") as f: f.write(b"x")
PY
  files=$(find "tree$items" -type f | wc -l)
  want=$((items + 1))  # and the tree's own folder, an item of the project's root
  "$quorvel" -i hfs.cvpr "tree$items"
  cp hfs.cvpr plus.cvpr
  printf '\x00' | dd of=hfs.cvpr bs=1 seek=13 conv=notrunc status=none
  printf '\x01' | dd of=plus.cvpr bs=1 seek=13 conv=notrunc status=none
  "$quorvel" -c plus.cvpr
  xorriso -as mkisofs -quiet -J -r -hfsplus -apm-block-size 2048 -o xor.iso "tree$items" 2>/dev/null
  read -r ob on of od < <(catalog plus.iso)
  read -r xb xn xf xd < <(catalog xor.iso)
  awk -v i="$items" -v ob="$ob" -v on="$on" -v of="$of" -v od="$od" -v xb="$xb" -v xn="$xn" -v xf="$xf" -v xd="$xd" 'BEGIN {
    printf "%6d items: HFS+ catalog %.1f MB, %d nodes (%d free, depth %d); xorriso %.1f MB, %d nodes (%d free, depth %d); ours / xorriso %.2f\n",
           i, ob / 1e6, on, of, od, xb / 1e6, xn, xf, xd, ob / xb }'
  o=$(offset plus.iso)
  listed=$(fls -f hfsp -r -p -o "$o" plus.iso | grep -v '\$' | grep -c '^[rd]/[rd]' || true)
  counted=$(fsstat -f hfsp -o "$o" plus.iso | awk -F': ' '/Number of files/ { f = $2 } /Number of folders/ { d = $2 } END { print f "/" d }')
  7zz e -tAPM -so plus.iso '*.hfs' >part.hfs 2>/dev/null
  zip=$(7zz t -tHFS part.hfs | awk '/Everything is Ok/ { ok = 1 } /^Files:/ { f = $2 } /^Folders:/ { d = $2 } END { print (ok ? "ok" : "FAILED") ", " f " files, " d " folders" }')
  echo "        fls -r lists $listed of $want items; fsstat counts $counted files/folders; 7zz t: $zip"
  rm -f part.hfs plus.iso xor.iso
  if [ "$files" -le 60000 ]; then
    "$quorvel" -c hfs.cvpr
    read -r hb hn hf hd < <(catalog hfs.iso)
    hl=$(hmount hfs.iso 1 >/dev/null && hls -R -1 -a 2>/dev/null | grep -cv -e '^$' -e ':$' || true)
    humount >/dev/null 2>&1 || true
    echo "        HFS catalog $(awk -v b="$hb" 'BEGIN { printf "%.1f", b / 1e6 }') MB, $hn nodes ($hf free, depth $hd); hls -R lists $hl of $want items"
    rm -f hfs.iso
  fi
  rm -rf "tree$items" hfs.cvpr plus.cvpr
done
