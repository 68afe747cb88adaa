#!/usr/bin/env bash
# tarvex-batch against libvips on the same jobs: eight 4000 x 3000 JPEG
# photos with a camera's Exif, JPEG results at the photos' quality (90,
# 4:2:0) with their metadata.
#   frame: tarvex-batch frame with a BMP frame whose window is one key
#          colour, against vips_peer (bench/vips_peer.c): decode (turned
#          upright), stretch by the nearest pixel, key, jpegsave;
#   mix:   tarvex-batch mix --opacity 128, against vips_peer's blend.
# The frame is laid over three more sets of the same pictures, as phones
# and cameras store them: portrait (stored turned, tagged orientation 6),
# heic (HEIC files, made with libheif's encoder) and p3 (values in Display
# P3, with its profile: the sRGB frame is converted into it). It prints
# each set's time against the upright set's too, from rounds of
# tarvex-batch alone.
# Both write into a RAM file system (/dev/shm) when there is one, in
# interleaved ROUNDS (default 5); prints the median times and the median
# of the rounds' own speed-ups. libvips is installed here when missing,
# and only here: it is never a dependency of Tarvex.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${PHOTOS:-8}; width=${WIDTH:-4000}; height=${HEIGHT:-3000}; rounds=${ROUNDS:-5}

need=()
pkg-config --exists vips 2> /dev/null || need+=(libvips-dev)
command -v gcc > /dev/null || need+=(gcc)
command -v bc > /dev/null || need+=(bc)
# shellcheck source=bench/install_missing.sh
source bench/install_missing.sh
install_missing "${need[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target tarvex-batch make_photos > /dev/null
work=$(mktemp -d)
out=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d /dev/shm/tarvex-vips.XXXXXX); fi
trap 'rm -rf "$work" "$out"' EXIT
# shellcheck disable=SC2046
gcc -O2 -o "$work/vips_peer" bench/vips_peer.c $(pkg-config --cflags --libs vips)
build/bench/make_photos "$work" "$count" "$width" "$height"
photos=("$work"/photo*.jpg)
for kind in portrait heic p3; do
  mkdir "$work/$kind"
  build/bench/make_photos "$work/$kind" "$count" "$width" "$height" "$kind"
done
photosOf() {  # set: the photos of that set
  case "$1" in
    upright) echo "${photos[@]}" ;;
    heic) echo "$work"/heic/photo*.heic ;;
    *) echo "$work/$1"/photo*.jpg ;;
  esac
}

now() { date +%s.%N; }
timed() {  # command...: sets took, in seconds
  local start end
  start=$(now)
  "$@" > /dev/null
  end=$(now)
  took=$(echo "$end - $start" | bc -l)
}
fresh() { rm -rf "$out/out"; mkdir "$out/out"; sync; }
run() {  # round job peer; a job is mix, or frame-SET
  fresh
  local set=${2#frame-}
  # shellcheck disable=SC2207
  local those=($(photosOf "$set"))
  case "$2-$3" in
    frame-*-tarvex|frame-*-alone) timed build/tarvex-batch frame --quiet --format jpg --out "$out/out" "$work/frame.bmp" "${those[@]}" ;;
    frame-*-vips) timed "$work/vips_peer" frame "$work/frame.bmp" 90 "$out/out" "${those[@]}" ;;
    mix-tarvex) timed build/tarvex-batch mix --quiet --opacity 128 --out "$out/out" "${photos[0]}" "${photos[@]}" ;;
    mix-vips) timed "$work/vips_peer" mix "${photos[0]}" 128 90 "$out/out" "${photos[@]}" ;;
  esac
  [ "$(find "$out/out" -name 'Stn000*.jpg' | wc -l)" -eq "$count" ] || { echo "$3 $2 saved too few files" >&2; exit 1; }
  echo "$1 $2 $3 $took" >> "$work/runs"
}
: > "$work/runs"
jobs=(frame-upright frame-portrait frame-heic frame-p3 mix)
echo "$count photos of ${width} x ${height}, $(nproc) cores, libvips $(pkg-config --modversion vips)"
for round in $(seq "$rounds"); do
  for job in "${jobs[@]}"; do
    run "$round" "$job" tarvex
    run "$round" "$job" vips
  done
done

# The sets against the upright one, tarvex-batch alone: run right after
# libvips, a run pays for the memory libvips let go of (on this kind of
# virtual machine, as much as the photos' decoding), at random.
for round in $(seq "$rounds"); do
  for set in upright portrait heic p3; do
    run "$round" "frame-$set" alone
  done
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
for job in "${jobs[@]}"; do
  for peer in tarvex vips; do
    t=$(awk -v m="$job" -v p="$peer" '$2 == m && $3 == p { print $4 }' "$work/runs" | median)
    printf '%-15s %-7s %6.2f s  %6.2f photos/s\n' "$job" "$peer" "$t" "$(echo "$count / $t" | bc -l)"
  done
  awk -v m="$job" '$2 == m && $3 == "tarvex" { t[$1] = $4 } $2 == m && $3 == "vips" { v[$1] = $4 }
    END { for (r in t) if (r in v) print v[r] / t[r] }' "$work/runs" | median |
    xargs printf '  tarvex-batch over libvips, photos per second: %.2f (median of the rounds)\n'
  case "$job" in
    frame-portrait|frame-heic|frame-p3)
      awk -v m="$job" '$2 == m && $3 == "alone" { t[$1] = $4 } $2 == "frame-upright" && $3 == "alone" { u[$1] = $4 }
        END { for (r in t) if (r in u) print t[r] / u[r] }' "$work/runs" | median |
        xargs printf '  tarvex-batch, time against the upright sRGB set: %.2f (median of the rounds)\n' ;;
  esac
done
