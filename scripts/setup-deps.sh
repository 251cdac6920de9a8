#!/usr/bin/env bash
# Installs the Debian packages Korvane needs to build, test and run, when any is
# missing. Idempotent and quiet when everything is already there.
# `setup-deps.sh fuzz` also installs the compiler and runtime of `make fuzz`.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config ccache git
    # framework and the system libraries its Linux back ends use
    juce-modules-source juce-tools
    libasound2-dev libjack-jackd2-dev libcurl4-gnutls-dev
    libfreetype-dev libfontconfig1-dev libgl-dev
    libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev
    # the editor's embedded typeface, and the renderer of its icon drawings
    fonts-agave librsvg2-bin
    # plug-in formats and tools to inspect them
    lv2-dev lilv-utils
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    # headless display and audio for tests and `make run` on a machine without them
    xvfb xauth x11-apps x11-utils imagemagick jackd2 sox
    # real plug-in hosts and JACK clients for the host tests (jack_midiseq,
    # jack_rec and jack_lsp come with jackd2), script(1) for the terminal test
    jalv bsdutils
    # the end-to-end test of the app and the jalv UI test: mouse, keys and
    # windows (xdotool), the analysis
    # of its recordings (python3's standard library)
    xdotool python3
    # installation and packaging: desktop entry check, CPack's Debian generator
    desktop-file-utils dpkg-dev file
    # the typeface of the gallery's pictures (`make gallery`)
    fonts-dejavu-core
)

if [ "${1:-}" = "fuzz" ]; then
    # libFuzzer and the sanitizer runtimes come with clang
    packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
