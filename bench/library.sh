#!/usr/bin/env bash
# tarvex-batch over a photo library: a tree of FOLDERS (default 100)
# folders of PER (default 100) photos of 640 x 480, framed with a BMP frame
# into a mirror of the tree. Measures, in interleaved ROUNDS (default 3):
#   tree     tarvex-batch frame -r --out OUT FRAME TREE;
#   listed   the same photos named on the command line (results flat in OUT);
#   resumed  the tree again with --skip-done, once it is all framed;
#   vips     bench/vips_peer over the same photos, named on its command line;
# and the peak memory of a tree run over all the photos against one over a
# tenth of them. Prints median times, photos per second and the ratios.
# Photos and results live in a RAM file system (/dev/shm) when there is one.
# libvips and GNU time are installed here when missing, and only here.
set -euo pipefail
cd "$(dirname "$0")/.."
folders=${FOLDERS:-100}; per=${PER:-100}; rounds=${ROUNDS:-3}
count=$((folders * per))

need=()
pkg-config --exists vips 2> /dev/null || need+=(libvips-dev)
command -v gcc > /dev/null || need+=(gcc)
[ -x /usr/bin/time ] || need+=(time)
# shellcheck source=bench/install_missing.sh
source bench/install_missing.sh
install_missing "${need[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target tarvex-batch make_photos > /dev/null
base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work=$(mktemp -d "$base/tarvex-library.XXXXXX")
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2046
gcc -O2 -o "$work/vips_peer" bench/vips_peer.c $(pkg-config --cflags --libs vips)

# A hundred distinct photos, linked under a different name into each folder:
# every name in the tree is its own, so the listed run's flat results never
# need a second number.
build/bench/make_photos "$work" "$per" 640 480
tree=$work/Poze
for f in $(seq -w 0 $((folders - 1))); do
  mkdir -p "$tree/$((10#$f % 10))/d$f"
  for i in $(seq 0 $((per - 1))); do
    ln "$work/photo$i.jpg" "$tree/$((10#$f % 10))/d$f/p${f}_$i.jpg"
  done
done
mapfile -t listed < <(find "$tree" -name '*.jpg' | sort)

out=$work/out
fresh() { rm -rf "$out"; mkdir "$out"; sync; }
seconds() {  # command...: prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
results() { find "$out" -name 'Stn000*.jpg' | wc -l; }
check() {  # job: every photo has its result
  [ "$(results)" -eq "$count" ] || { echo "$1 saved $(results) of $count results" >&2; exit 1; }
}

: > "$work/runs"
echo "$count photos of 640 x 480 in $folders folders, $(nproc) cores, libvips $(pkg-config --modversion vips)"
for round in $(seq "$rounds"); do
  fresh
  t=$(seconds build/tarvex-batch frame -r --quiet --out "$out" "$work/frame.bmp" "$tree"); check tree
  echo "$round tree $t" >> "$work/runs"
  t=$(seconds build/tarvex-batch frame -r --quiet --skip-done --out "$out" "$work/frame.bmp" "$tree"); check resumed
  echo "$round resumed $t" >> "$work/runs"
  fresh
  t=$(seconds build/tarvex-batch frame --quiet --out "$out" "$work/frame.bmp" "${listed[@]}"); check listed
  echo "$round listed $t" >> "$work/runs"
  fresh
  t=$(seconds "$work/vips_peer" frame "$work/frame.bmp" 90 "$out" "${listed[@]}"); check vips
  echo "$round vips $t" >> "$work/runs"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() {  # job over: the median of the rounds' ratios
  awk -v a="$1" -v b="$2" '$2 == a { x[$1] = $3 } $2 == b { y[$1] = $3 }
    END { for (r in x) if (r in y) print x[r] / y[r] }' "$work/runs" | median
}
for job in tree listed resumed vips; do
  t=$(awk -v j="$job" '$2 == j { print $3 }' "$work/runs" | median)
  printf '%-8s %7.2f s  %7.1f photos/s\n' "$job" "$t" "$(echo "$count / $t" | bc -l)"
done
printf 'tree over listed:   %.3f\n' "$(ratio tree listed)"
printf 'resumed over tree:  %.4f\n' "$(ratio resumed tree)"
printf 'vips over tree:     %.2f (tarvex-batch photos per second over libvips)\n' "$(ratio vips tree)"

peak() {  # folders...: the peak resident memory, in KiB, of a tree run over them
  fresh
  /usr/bin/time -f %M -o "$work/peak" build/tarvex-batch frame -r --quiet --out "$out" "$work/frame.bmp" "$@" > /dev/null
  cat "$work/peak"
}
all=$(peak "$tree")
tenth=$(peak "$tree/0")
printf 'peak memory: %d KiB for %d photos, %d KiB for %d; ratio %.3f\n' \
  "$all" "$count" "$tenth" "$((count / 10))" "$(echo "$all / $tenth" | bc -l)"
