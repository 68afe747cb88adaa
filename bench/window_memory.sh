#!/usr/bin/env bash
# Peak memory (RSS) of the real window with two photos of 6000 x 4000 in each
# mode: the program is started under Xvfb with the photos on its command
# line and driven with xdotool through open, mix or frame, both flips and
# save, then ended; /usr/bin/time reports its peak.
set -euo pipefail
cd "$(dirname "$0")/.."
width=${WIDTH:-6000}; height=${HEIGHT:-4000}
for tool in xvfb-run xdotool /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "needs $tool (scripts/setup.sh installs xvfb and xdotool; time is Debian's time)"; exit 1; }
done
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j2 --target tarvex make_photos > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench/make_photos "$work" 2 "$width" "$height"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
# $1: mixing or framing; $2: where the peak goes; the rest: the files.
set -u
mode=$1; out=$2; shift 2
/usr/bin/time -f %M -o "$out" "$TARVEX" "$@" &
wait_for() { for _ in $(seq 200); do id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1); [ -n "$id" ] && { echo "$id"; return; }; sleep 0.1; done; echo "no window $1" >&2; exit 1; }
click() { xdotool mousemove "$1" "$2"; sleep 0.2; xdotool click 1; sleep 0.5; }
chooser=$(wait_for "Alegeti o optiune")
eval "$(xdotool getwindowgeometry --shell "$chooser")"
if [ "$mode" = mixing ]; then click $((X + 72)) $((Y + 32)); else click $((X + 204)) $((Y + 32)); fi
main=$(wait_for VarAdidezid)
eval "$(xdotool getwindowgeometry --shell "$main")"
top=$((Y + HEIGHT - 746))
sleep 3                                     # the photos open from the event loop
button() { click $((X + 2 + ($1 - 1) * 71 + 35)) $((top + 38)); }
button 3; sleep 2                           # mix, or lay the frame
if [ "$mode" = mixing ]; then click $((X + 528 + 240)) $((top + 648 + 16)); sleep 2; fi
button 8; sleep 2; button 9; sleep 2        # mirror the first picture, then the second
button 4; sleep 3                           # save
button 7; sleep 1                           # leave the mode
chooser=$(wait_for "Alegeti o optiune")
eval "$(xdotool getwindowgeometry --shell "$chooser")"
click $((X + 352)) $((Y + 32))              # "Iesire aplicatie"
wait
DRIVE
chmod +x "$work/drive.sh"
export TARVEX="$PWD/build/tarvex"
echo "two photos of ${width} x ${height} ($(( width * height * 4 / 1048576 )) MiB each, decoded)"
xvfb-run -a -s "-screen 0 1600x1000x24" "$work/drive.sh" mixing "$work/mix.rss" "$work/photo0.jpg" "$work/photo1.jpg"
echo "mixing:  peak RSS $(( $(tail -n 1 "$work/mix.rss") / 1024 )) MiB, saved $(ls "$work"/Stn* | wc -l) file(s)"
rm -f "$work"/Stn*
xvfb-run -a -s "-screen 0 1600x1000x24" "$work/drive.sh" framing "$work/frame.rss" "$work/frame.bmp" "$work/photo1.jpg"
echo "framing: peak RSS $(( $(tail -n 1 "$work/frame.rss") / 1024 )) MiB, saved $(ls "$work"/Stn* | wc -l) file(s)"
