#!/usr/bin/env bash
# Installs the Debian packages Velmarind needs, only those that are missing.
#   tools/setup.sh build   what building and running needs
#   tools/setup.sh test    that, plus what the tests need (display server, tray host, browser, node)
set -euo pipefail

build_packages=(build-essential cmake pkg-config qt6-base-dev libqrencode-dev libgtest-dev libgmock-dev
                libisal-dev zlib1g-dev libavahi-client-dev qt6-l10n-tools qt6-translations-l10n
                libvips-dev libheif-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
                libraw-dev libexpat1-dev)
test_packages=(curl xvfb xauth trayer xdotool x11-utils imagemagick fonts-noto-cjk chromium nodejs npm python3 desktop-file-utils
               clang libclang-rt-14-dev unzip libarchive-tools avahi-daemon avahi-utils dbus iproute2
               litmus rclone gvfs-backends libglib2.0-bin libheif-examples ffmpeg zbar-tools)

wanted=("${build_packages[@]}")
if [[ "${1:-build}" == "test" ]]; then
  wanted+=("${test_packages[@]}")
fi

# A package is also satisfied by its command being there already (node may come with its own npm).
declare -A satisfied_by=([nodejs]=node [npm]=npm [chromium]=chromium [curl]=curl [python3]=python3)

missing=()
for p in "${wanted[@]}"; do
  if [[ -n "${satisfied_by[$p]:-}" ]] && command -v "${satisfied_by[$p]}" >/dev/null; then
    continue
  fi
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing Debian packages: ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "These packages are missing and this account cannot install them: ${missing[*]}" >&2
  echo "Ask an administrator to run: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
