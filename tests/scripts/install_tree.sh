#!/usr/bin/env bash
# `make install` into a staging folder (DESTDIR) with a prefix: every shipped
# file lands where desktops and hosts look, nothing lands outside the prefix,
# the desktop entry validates, and the installed bundles and programs work.
set -euo pipefail
build="$1"
uri="$2"
prefix=/usr/local

stage="$(mktemp -d /tmp/korvane-install-test-XXXXXX)"
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$stage.log" 2>&1 || { cat "$stage.log" >&2; rm -f "$stage.log"; fail "cmake --install failed"; }
rm -f "$stage.log"
root="$stage$prefix"

[ -x "$root/bin/korvane" ] || fail "no executable bin/korvane"
[ -x "$root/bin/korvane-render" ] || fail "no executable bin/korvane-render"
[ -f "$root/share/applications/korvane.desktop" ] || fail "no desktop entry"
[ -f "$root/share/icons/hicolor/scalable/apps/korvane.svg" ] || fail "no scalable icon"
[ -f "$root/share/icons/hicolor/256x256/apps/korvane.png" ] || fail "no 256x256 icon"
[ "$(find "$root/share/korvane/factory" -name '*.kvn' | wc -l)" -eq 32 ] || fail "share/korvane/factory does not hold the 32 factory patches"
for f in manifest.ttl dsp.ttl libKorvane.so; do
    [ -f "$root/lib/lv2/Korvane.lv2/$f" ] || fail "LV2 bundle lacks $f"
done
[ -f "$root/lib/vst3/Korvane.vst3/Contents/x86_64-linux/Korvane.so" ] || fail "VST3 bundle lacks its library"

outside=$(cd "$stage" && find . -type f ! -path ".$prefix/*")
[ -z "$outside" ] || fail "files outside the prefix: $outside"

# The entry starts what was installed, with the icon that was installed.
grep -qx "Exec=korvane" "$root/share/applications/korvane.desktop" || fail "the desktop entry does not start korvane"
grep -qx "Icon=korvane" "$root/share/applications/korvane.desktop" || fail "the desktop entry names another icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/share/applications/korvane.desktop" || fail "the desktop entry does not validate"
else
    echo "note: desktop-file-validate not installed; entry not validated"
fi

# The installed bundle is found by a host library; the installed renderer runs.
LV2_PATH="$root/lib/lv2" lv2info "$uri" | grep -q "Name:.*Korvane" || fail "lv2info cannot load the installed bundle"
HOME="$stage" "$root/bin/korvane-render" --notes 69 --seconds 0.2 --quiet --out "$stage/check.wav" | grep -q "^seconds=0.200 " \
    || fail "the installed korvane-render does not render"
HOME="$stage" "$root/bin/korvane-render" --patch "$root/share/korvane/factory/Warm Pad.kvn" --notes 48,55,60 --seconds 0.5 --quiet \
    --out "$stage/pad.wav" >"$stage/pad.log" 2>&1 || { cat "$stage/pad.log" >&2; fail "the installed korvane-render does not play an installed factory patch"; }

echo "install OK: $(cd "$stage" && find . -type f | wc -l) files under $prefix"
