#!/usr/bin/env bash
# Installs the build into a staging prefix and checks the tree holds the
# program, its desktop entry, metainfo and icons, and that they validate.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/usr" > /dev/null
for f in bin/tarvex bin/tarvex-batch share/applications/ro.tarvex.Tarvex.desktop share/metainfo/ro.tarvex.Tarvex.metainfo.xml \
         share/icons/hicolor/48x48/apps/ro.tarvex.Tarvex.png share/icons/hicolor/256x256/apps/ro.tarvex.Tarvex.png \
         share/man/man1/tarvex.1.gz share/man/man1/tarvex-batch.1.gz share/bash-completion/completions/tarvex-batch \
         share/doc/tarvex/copyright share/doc/tarvex/changelog.gz; do
  [ -s "$stage/usr/$f" ] || { echo "missing from the install tree: $f"; exit 1; }
done
desktop-file-validate "$stage/usr/share/applications/ro.tarvex.Tarvex.desktop"
appstreamcli validate --no-net --pedantic "$stage/usr/share/metainfo/ro.tarvex.Tarvex.metainfo.xml" || \
  appstreamcli validate --no-net "$stage/usr/share/metainfo/ro.tarvex.Tarvex.metainfo.xml"
echo "install tree complete and valid"
