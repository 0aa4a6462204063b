#!/usr/bin/env bash
# Runs one fuzz target for a few seconds over a fresh corpus seeded from the checked-in seeds.
set -euo pipefail
bin=$1 corpus=$2 seeds=$3
rm -rf "$corpus"; mkdir -p "$corpus"
[ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
exec "$bin" -max_total_time="${CORVANE_FUZZ_SECONDS:-8}" -rss_limit_mb=2048 -timeout=20 \
     -print_final_stats=0 -close_fd_mask=3 "$corpus" </dev/null
