#!/usr/bin/env bash
# Builds Kiv and runs every test: the normal build, then the build with
# AddressSanitizer and UBSan, then the fuzz targets (scripts/fuzz.sh).
# Ends non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

status=0
for flavour in normal asan; do
  dir=build
  [ "$flavour" = asan ] && dir=build-asan
  echo "== $flavour build =="
  scripts/build.sh "$flavour"
  echo "== $flavour tests =="
  if ! ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600; then
    status=1
  fi
done
# The fuzz targets over their seed corpora, then a short run of each.
echo "== fuzz targets =="
if ! scripts/fuzz.sh check; then
  status=1
fi
exit $status
