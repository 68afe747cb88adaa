#!/usr/bin/env bash
# Laying frames by alpha and by a soft key, in rounds: this kind of machine
# changes speed from minute to minute, so a ratio means something only
# between cases timed in the same round. Prints, for each size, the median
# over the rounds of:
#   over and over_up2: the speed-up over the faster of Qt's painter and
#                      pixman (pixman where it is installed);
#   keysoft and keysoft_up2: the time against the exact key's, key and key_up2.
#   ROUNDS (default 8) rounds of 3 repetitions each.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-8}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target raster_bench > /dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for round in $(seq "$rounds"); do
  build/bench/raster_bench \
    --benchmark_filter='^((over|over_up2)/[a-z]+|(key|key_up2|keysoft|keysoft_up2)/tarvex)/(4000x3000|6000x4000)$' \
    --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true 2> /dev/null |
    awk -v r="$round" '/_median/ { sub("_median", "", $1); print r, $1, $2 }' >> "$out"
done
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
# The median over the rounds of time(b) / time(a), a and b cases of this size.
ratio() {  # a b
  awk -v a="$1" -v b="$2" '$2 == a { x[$1] = $3 } $2 == b { y[$1] = $3 }
    END { for (r in x) if (r in y) print y[r] / x[r] }' "$out" | median
}
# The same against the faster of two peers, the second of which may be missing.
ratioFaster() {  # a b c
  awk -v a="$1" -v b="$2" -v c="$3" '$2 == a { x[$1] = $3 } $2 == b { y[$1] = $3 } $2 == c { z[$1] = $3 }
    END { for (r in x) if (r in y) print ((r in z) && z[r] < y[r] ? z[r] : y[r]) / x[r] }' "$out" | median
}
for size in 4000x3000 6000x4000; do
  for op in over over_up2; do
    printf '%s %s: speed-up over the faster peer %.2f\n' "$op" "$size" \
      "$(ratioFaster "$op/tarvex/$size" "$op/qpainter/$size" "$op/pixman/$size")"
  done
  printf 'keysoft %s: %.2f x key\n' "$size" "$(ratio "key/tarvex/$size" "keysoft/tarvex/$size")"
  printf 'keysoft_up2 %s: %.2f x key_up2\n' "$size" "$(ratio "key_up2/tarvex/$size" "keysoft_up2/tarvex/$size")"
done
