#!/usr/bin/env bash
# tarvex-batch against ImageMagick on the same photos: eight 4000 x 3000 JPEG
# photos and a 4000 x 3000 BMP frame whose window is one key colour.
#   frame: tarvex-batch frame, against the frame made transparent once with
#          convert, then one composite per photo, one after another;
#   mix:   tarvex-batch mix --opacity 128, against composite -dissolve 50.
# Results are BMP files (--format bmp, and .bmp names for ImageMagick);
# each mode runs once more with JPEG results at the photos' quality (90),
# the format the photos' names say, against ImageMagick writing JPEG too.
# The same frame as a PNG with alpha (a clear, feathered window) is timed
# too, against the BMP frame: laying by alpha against the colour key.
# Prints wall time, photos per second and peak memory (RSS) of each, and
# the speed-ups: medians over ROUNDS (default 5) rounds that run everything.
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
# shellcheck source=bench/install_missing.sh
source bench/install_missing.sh
install_missing "${need[@]}"
# ImageMagick's default policy refuses pictures this large; give it room.
export MAGICK_WIDTH_LIMIT=20000 MAGICK_HEIGHT_LIMIT=20000 MAGICK_AREA_LIMIT=1GP MAGICK_MEMORY_LIMIT=4GiB

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target tarvex-batch make_photos > /dev/null
work=$(mktemp -d)
# The job counts are timed once more with the results written to memory
# (a RAM file system, when there is one): set beside the disk's figure, it
# tells the disk's share of the --jobs 2 speed-up from the processors'.
ram=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then ram=$(mktemp -d /dev/shm/tarvex-bench.XXXXXX); fi
trap 'rm -rf "$work" ${ram:+"$ram"}' EXIT
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
# Each timed run starts on a quiet disk. Without the sync, a run that came
# right after the deletion of the run before's files was up to a quarter slower
# than the same run a moment later (measured on a disk mounted with
# discard), and ImageMagick, timed after our runs, came out slower too.
fresh() { rm -rf "${1:-$work}/out"; mkdir "${1:-$work}/out"; sync; }

echo "$count photos of ${width} x ${height}, $(nproc) cores"
# Everything is timed in rounds, each running every mode and job count once
# and ImageMagick's way of doing the same: this kind of machine changes speed
# from minute to minute, so the runs to be compared are interleaved, and
# each speed-up is the median of the rounds' own. Times are medians; peak
# RSS is the largest of the rounds.
rounds=${ROUNDS:-5}
jobs_option() { [ "$1" = default ] || echo "--jobs ${1%ram}"; }  # 1ram: --jobs 1, into memory
run_batch() {  # round mode jobs
  local into=$work format=(--format bmp)
  [ "${3%ram}" = "$3" ] || into=$ram
  [ "${2%_jpeg}" = "$2" ] || format=()  # the names say .jpg
  fresh "$into"
  if [ "${2%_jpeg}" = frame ] || [ "$2" = frame_alpha ]; then
    local frame=$work/frame.bmp
    [ "$2" != frame_alpha ] || frame=$work/frame.png
    # shellcheck disable=SC2046
    timed build/tarvex-batch frame --quiet "${format[@]}" $(jobs_option "$3") --out "$into/out" "$frame" "${photos[@]}"
  else
    # shellcheck disable=SC2046
    timed build/tarvex-batch mix --quiet "${format[@]}" --opacity 128 $(jobs_option "$3") --out "$into/out" \
      "${photos[0]}" "${photos[@]}"
  fi
  [ "$into" = "$work" ] || rm -rf "$into/out"  # the memory back at once
  echo "$1 $2 $3 $took $rss" >> "$work/runs"
}
# One photo after another; for framing, the frame made transparent once first.
run_imagemagick() {  # round mode
  local total=0 peak=0 p suffix=bmp quality=()
  [ "${2%_jpeg}" = "$2" ] || { suffix=jpg; quality=(-quality 90); }
  fresh
  if [ "${2%_jpeg}" = frame ]; then
    timed "$convert" "$work/frame.bmp" -transparent '#00ff00' "$work/frame-clear.png"
    total=$took; peak=$rss
  fi
  for p in "${photos[@]}"; do
    if [ "${2%_jpeg}" = frame ]; then
      timed "$composite" "$work/frame-clear.png" "$p" "${quality[@]}" "$work/out/$(basename "$p").$suffix"
    else
      timed "$composite" -dissolve 50 "${photos[0]}" "$p" "${quality[@]}" "$work/out/$(basename "$p").$suffix"
    fi
    total=$(echo "$total + $took" | bc -l); [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$1 $2 imagemagick $total $peak" >> "$work/runs"
}
: > "$work/runs"
for round in $(seq "$rounds"); do
  for mode in frame mix; do
    for jobs in default 1 2 ${ram:+1ram 2ram}; do run_batch "$round" "$mode" "$jobs"; done
    run_imagemagick "$round" "$mode"
  done
  for mode in frame_jpeg mix_jpeg; do
    run_batch "$round" "$mode" default
    run_imagemagick "$round" "$mode"
  done
  run_batch "$round" frame_alpha default
  run_batch "$round" frame default
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
# The median over the rounds of how many times faster runs `faster` were
# than runs `slower` of the same round.
speedup() {  # mode faster slower
  awk -v m="$1" -v a="$2" -v b="$3" '$2 == m && $3 == a { fast[$1] = $4 } $2 == m && $3 == b { slow[$1] = $4 }
    END { for (r in fast) if (r in slow) print slow[r] / fast[r] }' "$work/runs" | median
}
report_runs() {  # mode jobs name
  report "$3" "$(awk -v m="$1" -v j="$2" '$2 == m && $3 == j { print $4 }' "$work/runs" | median)" \
    "$(awk -v m="$1" -v j="$2" '$2 == m && $3 == j { print $5 }' "$work/runs" | sort -g | tail -n 1)"
}
report_mode() {  # mode imagemagick-name
  local jobs
  for jobs in default 1 2; do report_runs "$1" "$jobs" "tarvex-batch $1 (jobs $jobs)"; done
  printf '  --jobs 2 over --jobs 1: %.2f (median of %d rounds)\n' "$(speedup "$1" 2 1)" "$rounds"
  [ -z "$ram" ] || printf '    the same, results written to memory: %.2f\n' "$(speedup "$1" 2ram 1ram)"
  report_runs "$1" imagemagick "imagemagick $2"
  printf '  tarvex-batch (default jobs) over imagemagick: %.1f\n' "$(speedup "$1" default imagemagick)"
}
report_mode frame "convert + composite"
report_mode mix "composite -dissolve 50"
for mode in frame_jpeg mix_jpeg; do
  report_runs "$mode" default "tarvex-batch $mode (JPEG results)"
  report_runs "$mode" imagemagick "imagemagick $mode (JPEG results)"
  printf '  tarvex-batch over imagemagick, JPEG results: %.1f\n' "$(speedup "$mode" default imagemagick)"
done
report_runs frame_alpha default "tarvex-batch frame, PNG with alpha"
awk '$2 == "frame" && $3 == "default" { key[$1] = $4 } $2 == "frame_alpha" { alpha[$1] = $4 }
  END { for (r in alpha) if (r in key) print alpha[r] / key[r] }' "$work/runs" | median |
  xargs printf '  alpha frame over BMP frame (default jobs): %.2f (median of the rounds)\n'
