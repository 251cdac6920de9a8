#!/usr/bin/env bash
# `make package`: CPack builds a Debian package that installs the same tree
# under /usr and declares the libraries the program needs at run time.
set -euo pipefail
build="$1"

out="$(mktemp -d /tmp/korvane-package-test-XXXXXX)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$out"/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb was written"

[ "$(dpkg-deb -f "$deb" Package)" = korvane ] || fail "the package is not called korvane"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libasound2 libfreetype6 libx11-6 libgl1 libcurl3-gnutls; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/korvane ./usr/bin/korvane-render ./usr/share/applications/korvane.desktop \
            ./usr/share/icons/hicolor/scalable/apps/korvane.svg ./usr/lib/lv2/Korvane.lv2/manifest.ttl \
            ./usr/lib/lv2/Korvane.lv2/libKorvane.so ./usr/lib/vst3/Korvane.vst3/Contents/x86_64-linux/Korvane.so \
            "./usr/share/korvane/factory/Sub Bass.kvn"; do
    echo "$contents" | grep -q " $path\$" || fail "the package lacks $path"
done

echo "package OK: $(basename "$deb"), Depends: $depends"
