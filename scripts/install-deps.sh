#!/usr/bin/env bash
# Installs every Debian package that building and testing Kiv needs.
# Idempotent: does nothing when everything is already there.
#   scripts/install-deps.sh            build and test dependencies
#   scripts/install-deps.sh --bench    also the peer interpreters that
#                                      bench/run.py compares Kiv with
set -euo pipefail

bench=0
for arg in "$@"; do
  case "$arg" in
    --bench) bench=1 ;;
    *) echo "usage: $0 [--bench]" >&2; exit 2 ;;
  esac
done

packages=(
  g++ cmake ninja-build ccache pkg-config
  libgtest-dev
  libssl-dev
  libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev
  libcurl4-openssl-dev ca-certificates
  python3
)
if [ "$bench" = 1 ]; then
  packages+=(lua5.4 tcl8.6 tcllib time)  # time: peak memory of each run; tcllib: the Tcl JSON and CSV peers
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
