#!/usr/bin/env bash
# Packs the plain build (build/) as a Debian package, validates its desktop
# entry and AppStream metainfo, unpacks it into a scratch folder and starts
# the unpacked program offscreen, closing its window: it must exit with 0.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
scratch="$build/package-check"
rm -rf "$scratch" "$build"/sorvalen-brimwold_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/sorvalen-brimwold_*.deb)"
echo "package: $(basename "$deb")"

depends="$(dpkg-deb -f "$deb" Depends)"
case "$depends" in
  *multimedia*) echo "the package still depends on QtMultimedia: $depends"; exit 1 ;;
esac
for needed in gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-alsa libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 libebur128-1 fonts-wqy-microhei libqt5widgets5; do
  case "$depends" in
    *"$needed"*) ;;
    *) echo "the package does not depend on $needed: $depends"; exit 1 ;;
  esac
done

dpkg-deb -x "$deb" "$scratch"
desktop-file-validate "$scratch/usr/share/applications/org.sorvalen.Brimwold.desktop"
appstreamcli validate --no-net "$scratch/usr/share/metainfo/org.sorvalen.Brimwold.metainfo.xml"
test -f "$scratch/usr/share/icons/hicolor/scalable/apps/org.sorvalen.Brimwold.svg"

out="$(env QT_QPA_PLATFORM=offscreen LD_PRELOAD="$build/tests/support/libclosewindow.so" \
  timeout 60 "$scratch/usr/bin/sorvalen-brimwold" 2>/dev/null)" || { echo "the unpacked program failed"; exit 1; }
case "$out" in
  *"shown: Sorvalen Brimwold"*) echo "the unpacked program started, showed its window and exited with 0" ;;
  *) echo "the unpacked program did not show its window: $out"; exit 1 ;;
esac
