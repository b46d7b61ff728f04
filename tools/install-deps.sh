#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, skipping those present.
# Uses apt-get as root, sudo otherwise. Extra packages may be named as arguments; with --only,
# just those (and CMake, Ninja and ccache) are installed.
set -euo pipefail

if [ "${1:-}" = "--only" ]; then
  shift
  packages=(cmake ninja-build ccache "$@")
else
  packages=(cmake ninja-build g++ pkg-config ccache qt6-base-dev libgl-dev libgtest-dev libgmock-dev
            socat srecord binutils fonts-liberation
            libcli11-dev nlohmann-json3-dev help2man dpkg-dev lintian bash-completion "$@")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "Missing packages (${missing[*]}) and no root rights to install them." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
