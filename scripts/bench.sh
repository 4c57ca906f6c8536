#!/usr/bin/env bash
# Builds Kiv in release mode and times every benchmark in bench/.
#   scripts/bench.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release >/dev/null
exec python3 bench/run.py "$@"
