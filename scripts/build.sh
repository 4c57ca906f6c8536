#!/usr/bin/env bash
# Configures and builds Kiv.
#   scripts/build.sh            the normal build, in build/
#   scripts/build.sh asan       with AddressSanitizer and UBSan, in build-asan/
#   scripts/build.sh release    optimised, without tests, in build-release/
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-normal}
case "$flavour" in
  normal)  dir=build;         flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    dir=build-asan;    flags=(-DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON) ;;
  release) dir=build-release; flags=(-DCMAKE_BUILD_TYPE=Release -DKIV_TESTS=OFF) ;;
  *) echo "unknown build flavour: $flavour" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -G Ninja -DKIV_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$dir"
