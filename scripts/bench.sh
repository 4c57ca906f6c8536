#!/usr/bin/env bash
# Installs the peer interpreters, builds Kiv in release mode and times every
# benchmark in bench/ side by side with its peers.
#   scripts/bench.sh [runs] [bench/run.py options, see bench/run.py --help]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --bench
scripts/build.sh release >/dev/null
exec python3 bench/run.py "$@"
