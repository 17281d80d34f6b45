#!/usr/bin/env bash
# Installs what the build, the demo and the tests need, from Debian packages.
# Idempotent: installs only what is missing. Run as root (or with sudo available).
# scripts/setup.sh --web also installs the web build's toolchain (emscripten,
# Node.js for its tests) and the browser its test drives (headless Chromium
# over python3-websocket).
# scripts/setup.sh --windows adds what the Windows build's tests need (Wine).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libmpg123-dev libfreetype-dev libpng-dev libmp3lame-dev libassimp-dev libdeflate-dev libisal-dev
  libosmesa6-dev
  libtinygltf-dev nlohmann-json3-dev libstb-dev libimagequant-dev
  googletest libgtest-dev libbenchmark-dev
  fonts-wine ffmpeg lame help2man dpkg-dev
  xvfb xauth xdotool x11-utils imagemagick
  g++-mingw-w64-x86-64
  clang libclang-rt-14-dev
)
if [ "${1:-}" = --web ]; then
  packages+=(emscripten nodejs chromium python3-websocket)
fi

# The Windows build cross-compiles with mingw-w64 (above, also used by the
# SDK compile check) and runs its tests under Wine on Xvfb.
if [ "${1:-}" = --windows ]; then
  packages+=(wine64)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
