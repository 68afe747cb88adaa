#!/usr/bin/env bash
# tarvex-batch against ImageMagick on the same photos: eight 4000 x 3000 JPEG
# photos and a 4000 x 3000 BMP frame whose window is one key colour.
#   frame: tarvex-batch frame, against the frame made transparent once with
#          convert, then one composite per photo, one after another;
#   mix:   tarvex-batch mix --opacity 128, against composite -dissolve 50.
# Prints wall time, photos per second and peak memory (RSS) of each;
# tarvex-batch's figures are the median of three runs.
# ImageMagick is installed here when missing, and only here.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${PHOTOS:-8}; width=${WIDTH:-4000}; height=${HEIGHT:-3000}

# Debian's own programs by their full paths: another convert may come first on the PATH.
convert=/usr/bin/convert composite=/usr/bin/composite
need=()
[ -x "$composite" ] || need+=(imagemagick)
[ -x /usr/bin/time ] || need+=(time)
command -v bc > /dev/null || need+=(bc)
if [ ${#need[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# ImageMagick's default policy refuses pictures this large; give it room.
export MAGICK_WIDTH_LIMIT=20000 MAGICK_HEIGHT_LIMIT=20000 MAGICK_AREA_LIMIT=1GP MAGICK_MEMORY_LIMIT=4GiB

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target tarvex-batch make_photos > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench/make_photos "$work" "$count" "$width" "$height"
photos=("$work"/photo*.jpg)

now() { date +%s.%N; }
# Runs a command under /usr/bin/time; sets took (seconds) and rss (KiB).
timed() {
  local start end
  start=$(now)
  /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null
  end=$(now)
  took=$(echo "$end - $start" | bc -l)
  rss=$(tail -n 1 "$work/rss")
}
report() {  # name seconds peak-KiB
  printf '%-34s %7.2f s  %6.2f photos/s  peak RSS %5d MiB\n' "$1" "$2" "$(echo "$count / $2" | bc -l)" "$(( $3 / 1024 ))"
}
fresh() { rm -rf "$work/out"; mkdir "$work/out"; }

echo "$count photos of ${width} x ${height}, $(nproc) cores"
# Three runs of tarvex-batch; took and rss become the median time and the peak.
median3() {
  local times=() peak=0
  for _ in 1 2 3; do
    fresh
    timed "$@"
    times+=("$took"); [ "$rss" -gt "$peak" ] && peak=$rss
  done
  took=$(printf '%s\n' "${times[@]}" | sort -g | sed -n 2p); rss=$peak
}
jobs_option() { [ "$1" = default ] || echo "--jobs $1"; }

for jobs in default 1 2; do
  # shellcheck disable=SC2046
  median3 build/tarvex-batch frame --quiet $(jobs_option "$jobs") --out "$work/out" "$work/frame.bmp" "${photos[@]}"
  report "tarvex-batch frame (jobs $jobs)" "$took" "$rss"
done
fresh
timed "$convert" "$work/frame.bmp" -transparent '#00ff00' "$work/frame.png"
prep=$took; peak=$rss; total=$prep
for p in "${photos[@]}"; do
  timed "$composite" "$work/frame.png" "$p" "$work/out/$(basename "$p").bmp"
  total=$(echo "$total + $took" | bc -l); [ "$rss" -gt "$peak" ] && peak=$rss
done
report "imagemagick convert + composite" "$total" "$peak"

for jobs in default 1 2; do
  # shellcheck disable=SC2046
  median3 build/tarvex-batch mix --quiet --opacity 128 $(jobs_option "$jobs") --out "$work/out" "${photos[0]}" "${photos[@]}"
  report "tarvex-batch mix (jobs $jobs)" "$took" "$rss"
done
fresh; total=0; peak=0
for p in "${photos[@]}"; do
  timed "$composite" -dissolve 50 "${photos[0]}" "$p" "$work/out/$(basename "$p").bmp"
  total=$(echo "$total + $took" | bc -l); [ "$rss" -gt "$peak" ] && peak=$rss
done
report "imagemagick composite -dissolve 50" "$total" "$peak"
