#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the application and the tests need.
# Idempotent: apt-get runs only when something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev qt6-base-dev-tools
  libgl1-mesa-dri libegl-mesa0 libgl-dev
  glslang-tools
  libtbb-dev
  googletest libgtest-dev libgmock-dev
  libbenchmark-dev
  fonts-noto-cjk qt6-translations-l10n
  xvfb xauth xdotool imagemagick openbox
  weston qt6-wayland
  libqt6svg6
  clang-format
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pil
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "error: missing packages (${missing[*]}) and neither root nor sudo available" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
