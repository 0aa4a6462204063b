#!/usr/bin/env bash
# Inclusion speed within one folder: "quorvel -i" of 20,000 files in one folder,
# and of 10,100 files whose names share a stem longer than the ISO and HFS+ name
# limits (every name then needs its own "-NNN" suffix in both views).
# Prints the time of each run. With REFERENCE=path-to-another-quorvel the same
# trees are also added by that program, its times printed, and the two projects
# compared byte for byte (the names given must be the same).
# Usage: bench/inclusion_names.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/common.sh"
export CORVANE_CONFIG_DIR="$work/cfg"

python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
flat = os.path.join(work, "flat"); os.makedirs(flat)
for i in range(20000):
    open(os.path.join(flat, "file_%05d.txt" % i), "w").close()
stem = os.path.join(work, "stem"); os.makedirs(stem)
common = "A report whose title is longer than any view allows for one name"
for i in range(10100):
    open(os.path.join(stem, "%s %05d.txt" % (common, i)), "w").close()
PY

run() {  # program, project, tree: prints seconds
  local start end
  start=$(date +%s.%N)
  "$1" -i "$2" "$3" || echo "exit $? from $1 -i $3" >&2
  end=$(date +%s.%N)
  python3 -c "print('%.2f' % ($end - $start))"
}

for tree in flat stem; do
  t=$(run "$quorvel" "$work/$tree.cvpr" "$work/$tree")
  line="$tree: $t s"
  if [ -n "${REFERENCE:-}" ]; then
    r=$(run "$REFERENCE" "$work/$tree-ref.cvpr" "$work/$tree")
    same=different
    cmp -s "$work/$tree.cvpr" "$work/$tree-ref.cvpr" && same=identical
    line="$line; reference $r s; projects $same"
  fi
  echo "$line"
done
