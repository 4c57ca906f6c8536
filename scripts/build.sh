#!/usr/bin/env bash
# Configures and builds Kiv.
#   scripts/build.sh            the normal build, in build/
#   scripts/build.sh asan       with AddressSanitizer and UBSan, in build-asan/
#   scripts/build.sh release    optimised, without tests, in build-release/
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-normal}
case "$flavour" in
  normal)  dir=build;         flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_WERROR=ON) ;;
  asan)    dir=build-asan;    flags=(-DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON -DKIV_WERROR=ON) ;;
  # The tested builds keep the code warning-free; here -O3's inlining can
  # bring up false alarms of the compiler's, which must not stop a benchmark.
  release) dir=build-release; flags=(-DCMAKE_BUILD_TYPE=Release -DKIV_TESTS=OFF -DKIV_WERROR=OFF) ;;
  *) echo "unknown build flavour: $flavour" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir"
