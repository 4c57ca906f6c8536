#!/usr/bin/env bash
# Configures and builds Kiv.
#   scripts/build.sh            the normal build, in build/
#   scripts/build.sh asan       with AddressSanitizer and UBSan, in build-asan/
#   scripts/build.sh release    optimised, without tests, in build-release/,
#                               guided by a profile of the Kiv script tests
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

if [ "$flavour" != release ]; then
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "$dir"
  exit 0
fi

# The release build is guided by a profile: an instrumented build runs the
# Kiv script tests (a spread of everything the interpreter does, not the
# benchmarks), and the final build, in the same directory so that the
# profile's file names match, lays out and inlines the code by it.
profile_dir="$PWD/$dir/profile"
rm -rf "$profile_dir"
cmake -S . -B "$dir" -G Ninja "${flags[@]}" \
  "-DCMAKE_CXX_FLAGS=-fprofile-generate -fprofile-dir=$profile_dir -fprofile-update=single" >/dev/null
cmake --build "$dir" >/dev/null
find tests/kiv -name '*.kiv' ! -name harness.kiv | sort | while read -r script; do
  (cd "$(dirname "$script")" && "$OLDPWD/$dir/kiv" --cli "$(basename "$script")" >/dev/null 2>&1) || true
done
cmake -S . -B "$dir" -G Ninja "${flags[@]}" \
  "-DCMAKE_CXX_FLAGS=-fprofile-use -fprofile-dir=$profile_dir -fprofile-partial-training -Wno-missing-profile" >/dev/null
cmake --build "$dir"
