#!/usr/bin/env bash
# Times copying PC files onto a blank volume and copying a volume back to the
# PC beside the peers, on the same cores (taskset), from identical blank images:
#   onto HFS:  ours (tests/tools/copy_onto_volume, what the window's Paste and
#              drop call, given the files) beside `hcopy -r FILES... :`
#   onto HFS+: ours beside a plain copy of the same bytes (cat of every file)
#   off HFS:   ours (tests/tools/copy_off_volume, the window's copy to the PC)
#              beside `hcopy -r ':*' FOLDER`
#   off HFS+:  ours beside `7zz x -tHFS`
# for a tree of small files (1-3000 bytes, one folder: hcopy does not recurse)
# and a tree of large files (1 GiB by default). Each round runs every command
# once, in an order that turns by one place from round to round; the table
# gives each command's median and spread (max - min) and the median of the
# per-round ratios ours / peer (bench/rounds.py), with the machine's load in
# each round. Every
# output is checked with an outside reader once: hcopy back out (HFS), 7-Zip
# (HFS+), and diff against the source tree.
#   bash bench/transfer.sh        ROUNDS=5 CPUS=4-7 FILES=10000 LARGE_MB=1024
#   TREES="small large"  DIRS="onto off"  BEFORE=other-build/tests (an older build's tools too)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${ROUNDS:-5}
cpus=${CPUS:-4-7}
files=${FILES:-10000}
large_mb=${LARGE_MB:-1024}
build=${BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j3 --target copy_onto_volume copy_off_volume new_image >/dev/null
tools=$(realpath "$build/tests")
before=${BEFORE:+$(realpath "$BEFORE")}
source "$root/bench/rotation.sh"
make_work_folder $((large_mb * 8))
export HOME="$work"  # hfsutils keeps its current volume there
pin=(taskset -c "$cpus")
echo "files in $base; cores $cpus of $(nproc); $(uptime)"


make_tree() {  # folder kind
  python3 - "$1" "$2" "$files" "$large_mb" <<'PY'
import os, random, sys
root, kind, n, mb = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
os.makedirs(root)
rnd = random.Random(7)
if kind == "small":
    for i in range(n):
        with open(os.path.join(root, "file_%05d.txt" % i), "wb") as f:
            f.write(rnd.randbytes(rnd.randint(1, 3000)))
else:
    per = 8 << 20
    for i in range((mb << 20) // per):
        with open(os.path.join(root, "large_%03d.bin" % i), "wb") as f:
            f.write(rnd.randbytes(per - rnd.randint(0, 4095)))
PY
}

# Ours and the peer's outputs, checked with outside readers.
check_onto() {  # image fs tree
  local img=$1 fs=$2 tree=$3 out="$work/check"
  rm -rf "$out"; mkdir "$out"
  if [ "$fs" = hfs ]; then
    hmount "$img" >/dev/null && hcopy -r ':*' "$out/" && humount >/dev/null
  else
    7zz x -tHFS -o"$out" "$img" >/dev/null
    local v; v=$(ls "$out"); mv "$out/$v" "$out.v"; rm -rf "$out"; mv "$out.v" "$out"
  fi
  diff -r "$tree" "$out" >/dev/null || { echo "copy onto $fs: what the peer reads back differs from the tree" >&2; exit 1; }
}
check_off() {  # folder tree
  diff -r "$2" "$1" >/dev/null || { echo "copy off: $1 differs from the tree" >&2; exit 1; }
}

for tree_kind in ${TREES:-small large}; do
  tree="$work/tree-$tree_kind"
  make_tree "$tree" "$tree_kind"
  bytes=$(du -sb "$tree" | cut -f1)
  count=$(find "$tree" -type f | wc -l)
  if [ "$tree_kind" = small ]; then mb=100; else mb=$((large_mb * 5 / 4 + 64)); fi
  [ "$mb" -gt 2047 ] && mb=2047
  echo "== tree $tree_kind: $count files, $((bytes / 1048576)) MiB; volumes of $mb MB"
  for fs in hfs hfsplus; do
    "$tools/new_image" "$work/blank-$fs.img" "$fs" "$mb"
    # A new HFS image has at most 8192 blocks, too few for 10,000 files: the
    # blank HFS volume is hfsutils' own, in our partition map.
    [ "$fs" = hfs ] && hformat -l Bench "$work/blank-$fs.img" 1 >/dev/null
    for dir in ${DIRS:-onto off}; do
      if [ "$dir" = onto ]; then
        # Ours and the peer from the same blank image; both checked once.
        cp "$work/blank-$fs.img" "$work/ours.img"
        "$tools/copy_onto_volume" "$work/ours.img" "$tree"/*
        check_onto "$work/ours.img" "$fs" "$tree"
        rows=("ours|cp $work/blank-$fs.img $work/t.img|$tools/copy_onto_volume $work/t.img $tree/*")
        [ -n "$before" ] && rows+=("before|cp $work/blank-$fs.img $work/t.img|$before/copy_onto_volume $work/t.img $tree/*")
        if [ "$fs" = hfs ]; then
          cp "$work/blank-$fs.img" "$work/peer.img"
          hmount "$work/peer.img" >/dev/null; hcopy -r "$tree"/* : ; humount >/dev/null
          check_onto "$work/peer.img" hfs "$tree"
          rows+=("hcopy_-r|cp $work/blank-$fs.img $work/t.img; hmount $work/t.img >/dev/null|hcopy -r $tree/* :")
        fi
        rows+=("cat_same_bytes|rm -f $work/cat.bin|sh -c 'cat $tree/* > $work/cat.bin'")
        run_rotated "copy onto $fs, tree $tree_kind" "${rows[@]}"
      else
        # A volume holding the tree (written by us, checked above), copied out.
        cp "$work/blank-$fs.img" "$work/full.img"
        "$tools/copy_onto_volume" "$work/full.img" "$tree"/*
        rm -rf "$work/o"; mkdir "$work/o"; "$tools/copy_off_volume" "$work/full.img" "$work/o"; check_off "$work/o" "$tree"
        rows=("ours|rm -rf $work/o; mkdir $work/o|$tools/copy_off_volume $work/full.img $work/o")
        [ -n "$before" ] && rows+=("before|rm -rf $work/o; mkdir $work/o|$before/copy_off_volume $work/full.img $work/o")
        if [ "$fs" = hfs ]; then
          rm -rf "$work/o"; mkdir "$work/o"; hmount "$work/full.img" >/dev/null; hcopy -r ':*' "$work/o/"; check_off "$work/o" "$tree"
          rows+=("hcopy_-r|rm -rf $work/o; mkdir $work/o; hmount $work/full.img >/dev/null|hcopy -r ':*' $work/o/")
        else
          rm -rf "$work/o"; mkdir "$work/o"; 7zz x -tHFS -o"$work/o" "$work/full.img" >/dev/null
          check_off "$work/o/$(ls "$work/o")" "$tree"
          rows+=("7zz_x|rm -rf $work/o; mkdir $work/o|7zz x -tHFS -o$work/o $work/full.img")
        fi
        run_rotated "copy off $fs, tree $tree_kind" "${rows[@]}"
        rm -rf "$work/o" "$work/full.img"
      fi
      rm -f "$work/t.img" "$work/ours.img" "$work/peer.img" "$work/cat.bin"
    done
    rm -f "$work/blank-$fs.img"
  done
  rm -rf "$tree"
done
echo "$(uptime)"
