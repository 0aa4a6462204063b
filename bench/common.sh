# Sourced by the bench scripts: the quorvel to time (built in Release into the
# folder given as first argument, build-release by default, when missing) and a
# private work folder, removed at exit, that is also HOME.
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-release}")"
if [ ! -x "$build/quorvel" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_GUI=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target quorvel
fi
quorvel="$build/quorvel"
work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export HOME="$work"

# A tree of n one-byte files in folders of 100: make_file_tree FOLDER N.
make_file_tree() {
  python3 - "$1" "$2" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%05d" % (i // 100))
    if i % 100 == 0: os.makedirs(d)
    with open(os.path.join(d, "file %03d.txt" % (i % 100)), "wb") as f: f.write(b"x")
PY
}
