#!/usr/bin/env bash
# Builds the Debian package from the build folder and tries it as a user of
# the system would: installs it with its dependencies, runs both programs
# from /usr/bin, validates the installed desktop entry, then purges it and
# checks nothing of it is left. Needs root; skipped (status 77) otherwise,
# and when a tarvex package is already installed, which it never touches.
set -euo pipefail
build=$1 cpack=$2
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installing a package needs root (CI runs this as root)"
  exit 77
fi
if dpkg-query -W -f='${Status}' tarvex 2>/dev/null | grep -q "install ok installed"; then
  echo "skipped: a tarvex package is installed already, and this test leaves it alone"
  exit 77
fi
work=$(mktemp -d)
installed=false
cleanup() {
  if $installed; then dpkg --purge tarvex > /dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && "$cpack" -G DEB -B "$work/deb" > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/deb/tarvex_*_amd64.deb)
echo "built $(basename "$deb")"
# As Debian expects a package: no lintian errors (its warnings shown), the
# Wayland plugin recommended.
lintian --tag-display-limit 0 "$deb" > "$work/lintian.log" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian.log" | grep -E '^[EW]:' || true
if grep -q '^E:' "$work/lintian.log"; then echo "lintian reports errors"; exit 1; fi
dpkg-deb -f "$deb" Recommends | grep -q qt6-wayland
installed=true
export DEBIAN_FRONTEND=noninteractive
dpkg -i "$deb" > /dev/null || apt-get -f install -y -qq > /dev/null
dpkg-query -W -f='${Status}\n' tarvex | grep -q "install ok installed"

/usr/bin/tarvex --version | grep -q "^Tarvex "
# An 8 x 8 frame with a one-pixel red border around a green window, and an
# 8 x 8 blue picture, as 24-bit BMP files written byte by byte.
bmp() {  # file: 8 x 8 pixels, each "B G R" from the function `colour x y`
  {
    printf 'BM\xf6\x00\x00\x00\x00\x00\x00\x006\x00\x00\x00(\x00\x00\x00'
    printf '\x08\x00\x00\x00\x08\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00\xc0\x00\x00\x00'
    printf '\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    for y in 7 6 5 4 3 2 1 0; do for x in 0 1 2 3 4 5 6 7; do "$2" "$x" "$y"; done; done
  } > "$1"
}
frame_colour() { if [ "$1" = 0 ] || [ "$1" = 7 ] || [ "$2" = 0 ] || [ "$2" = 7 ]; then printf '\x00\x00\xc8'; else printf '\x00\xff\x00'; fi; }
blue() { printf '\xff\x00\x00'; }
bmp "$work/rama.bmp" frame_colour
bmp "$work/poza.bmp" blue
/usr/bin/tarvex-batch frame --out "$work" "$work/rama.bmp" "$work/poza.bmp" > /dev/null
# The saved picture: blue through the window, red on the border.
[ "$(od -An -tx1 -j $((54 + 4 * 24 + 3 * 3)) -N3 "$work/Stn000poza.bmp" | tr -d ' ')" = ff0000 ]
[ "$(od -An -tx1 -j 54 -N3 "$work/Stn000poza.bmp" | tr -d ' ')" = 0000c8 ]

desktop-file-validate /usr/share/applications/ro.tarvex.Tarvex.desktop
# The manual pages render without a warning; the completion and the
# licence are where Debian keeps them.
for page in tarvex tarvex-batch; do
  warnings=$(MANWIDTH=80 man --warnings -l "/usr/share/man/man1/$page.1.gz" 2>&1 > /dev/null)
  [ -z "$warnings" ] || { echo "man $page: $warnings"; exit 1; }
done
completion=/usr/share/bash-completion/completions/tarvex-batch
[ -s "$completion" ]
bash -c "source $completion; complete -p tarvex-batch" | grep -q _tarvex_batch
# What it offers: the --format words after --format, options after a dash.
offered() {  # the words typed, the last one being completed
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$0"
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _tarvex_batch; echo "${COMPREPLY[*]}"' "$completion" "$@"
}
[ "$(offered tarvex-batch frame --format h)" = heic ]
offered tarvex-batch frame --sk | grep -q -- --skip-done
offered tarvex-batch f | grep -q frame
[ -s /usr/share/doc/tarvex/copyright ] && [ -s /usr/share/doc/tarvex/changelog.gz ]

files=$(dpkg -L tarvex)
dpkg --purge tarvex > /dev/null
installed=false
if dpkg-query -W -f='${Status}' tarvex 2>/dev/null | grep -q "installed"; then
  echo "still installed after the purge"; exit 1
fi
left=0
while IFS= read -r f; do
  if [ -n "$f" ] && [ -f "$f" ]; then echo "left after the purge: $f"; left=1; fi
done <<< "$files"
[ "$left" = 0 ]
echo "package built, installed, used and purged cleanly"
