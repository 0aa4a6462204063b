# Sourced by the benches that time commands in rotated rounds (udif.sh,
# transfer.sh): the folder to work in, timing and the machine's load.

# A new work folder, removed at exit: in memory (/dev/shm) when it has room for
# the megabytes given, so the disk does not set the pace of all alike, else in
# TMPDIR; BENCH_DIR chooses the place. Sets `work` and `base`.
make_work_folder() {  # megabytes needed
  base=${BENCH_DIR:-}
  if [ -z "$base" ]; then
    base=${TMPDIR:-/tmp}
    local free_kb
    free_kb=$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')
    [ -n "$free_kb" ] && [ "$free_kb" -gt $(($1 * 1024)) ] && base=/dev/shm
  fi
  work=$(mktemp -d "$base/cvbench-XXXXXX")
  trap 'rm -rf "$work"' EXIT
}

seconds() {  # wall time of one command, to the millisecond; a failure is said and fatal
  local a b
  a=$(date +%s%N)
  "$@" >/dev/null 2>"$work/err" || { echo "failed: $*" >&2; cat "$work/err" >&2; return 1; }
  b=$(date +%s%N)
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}

load() { awk '{print $1}' /proc/loadavg; }

# Cores the rest of the machine left idle over one second (from /proc/stat).
idle_cores() {
  local a b
  a=$(awk '/^cpu / {print $5 + $6, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9}' /proc/stat)
  sleep 1
  b=$(awk '/^cpu / {print $5 + $6, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9}' /proc/stat)
  awk -v a="$a" -v b="$b" -v n="$(nproc)" 'BEGIN { split(a, x, " "); split(b, y, " ");
    printf "%.1f", n * (y[1] - x[1]) / (y[2] - x[2]) }'
}

# Times the commands of one table in `rounds` rounds on the cores of `pin`
# (taskset), each round in an order turned by one place from the round before,
# and prints the table (bench/rounds.py) under the title, with the cores left
# idle before each round. Each row is "label|prepare|command": prepare runs
# untimed just before its command.
run_rotated() {  # title rows...
  local title=$1; shift
  local rows=("$@") n=$# r k label prep cmd t free=""
  : >"$work/times"
  for r in $(seq "$rounds"); do
    free="$free $(idle_cores)"
    for k in $(seq 0 $((n - 1))); do
      IFS='|' read -r label prep cmd <<<"${rows[$(( (k + r - 1) % n ))]}"
      eval "$prep"
      t=$(eval "seconds ${pin[*]} $cmd")
      echo "$r $label $t $(load)" >>"$work/times"
    done
  done
  python3 "$(dirname "${BASH_SOURCE[0]}")/rounds.py" "$title; idle cores before each round:$free" "$work/times"
}
