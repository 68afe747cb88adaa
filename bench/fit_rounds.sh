#!/usr/bin/env bash
# The fit view's reduction against memcpy and Qt's smooth scaling, in
# rounds: this kind of machine changes speed from minute to minute, and
# Qt's scaler swings with it far more than ours, so a ratio means something
# only between cases timed in the same round. fit reduces into 640 x 480,
# fit_2x into 1280 x 960, as a box shows a photo on a 2x screen. Prints, for each size, the
# median and range of the rounds' speed-ups over qsmooth and the median of
# their ratios to memcpy.
#   ROUNDS (default 8) rounds of 3 repetitions each.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-8}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target raster_bench > /dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for round in $(seq "$rounds"); do
  build/bench/raster_bench --benchmark_filter='^(fit/|fit_2x/|memcpy/bound/(1920|4000|6000))' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2> /dev/null |
    awk -v r="$round" '/_median/ { sub("/real_time", "", $1); sub("_median", "", $1); print r, $1, $2 }' >> "$out"
done
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
for fit in fit fit_2x; do
for size in 1920x1080 4000x3000 6000x4000; do
  # One line per round: tarvex, qsmooth and memcpy times of this size.
  rows=$(awk -v s="$size" -v f="$fit" '
    $2 == f "/tarvex/" s { t[$1] = $3 } $2 == f "/qsmooth/" s { q[$1] = $3 } $2 == "memcpy/bound/" s { m[$1] = $3 }
    END { for (r in t) if ((r in q) && (r in m)) print t[r], q[r], m[r] }' "$out")
  [ -n "$rows" ] || continue
  ours=$(awk '{ print $1 }' <<< "$rows" | median)
  speedup=$(awk '{ print $2 / $1 }' <<< "$rows" | median)
  range=$(awk '{ print $2 / $1 }' <<< "$rows" | sort -g | sed -n '1p;$p' | xargs printf '%.1f-%.1f' 2> /dev/null)
  bound=$(awk '{ print $1 / $3 }' <<< "$rows" | median)
  printf '%s %s: tarvex %.3f ms, speed-up over qsmooth median %.2f (%s), ratio to memcpy median %.2f\n' \
    "$fit" "$size" "$ours" "$speedup" "$range" "$bound"
done
done
