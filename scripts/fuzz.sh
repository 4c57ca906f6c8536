#!/usr/bin/env bash
# Builds and runs the libFuzzer targets of tests/fuzz (clang 16, with
# AddressSanitizer and UBSan, in build-fuzz/).
#   scripts/fuzz.sh build               configure and build the targets
#   scripts/fuzz.sh check [SECONDS]     each target over its seed corpus,
#                                       then SECONDS of fuzzing (default 20);
#                                       what the test command runs
#   scripts/fuzz.sh run SECONDS [TARGET...]
#                                       longer local runs, side by side (all
#                                       targets when none is named); the
#                                       corpus grown is kept in
#                                       build-fuzz/corpus/TARGET, and inputs
#                                       that took a second or more are
#                                       reported
# A target that fails prints its input as hex and the script ends non-zero.
# Inputs that once failed are kept in tests/fuzz/corpus/TARGET and replayed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=build-fuzz

targets=(kivbin inflate framing transcode eval url png jpeg gif tiff bmp json csv http_reply)

# Seed corpora of each target: the tree's fixtures and sources, then its
# kept inputs.
seeds() {
  case "$1" in
    kivbin) echo tests/fixtures/kivbin-corpus ;;
    inflate|framing) echo tests/fixtures/inflate-corpus ;;
    transcode|eval) echo tests/kiv ;;
    png|jpeg|gif|tiff|bmp) echo tests/fixtures/images tests/fixtures/images-corpus ;;
    json) echo tests/fixtures/json-corpus ;;
    csv) echo tests/fixtures/csv-corpus ;;
  esac
  [ -d "tests/fuzz/corpus/$1" ] && echo "tests/fuzz/corpus/$1"
  return 0
}

# Options of each target. The evaluator's sandbox forbids writing files,
# so its failing inputs cannot be saved: they are kept to 256 bytes, which
# libFuzzer prints as hex itself.
options() {
  local common=(-timeout=20 -rss_limit_mb=3072 -malloc_limit_mb=2048 -print_final_stats=1)
  case "$1" in
    eval) echo "${common[@]}" -max_len=256 ;;
    transcode|csv) echo "${common[@]}" -max_len=4096 ;;
    *) echo "${common[@]}" -max_len=65536 ;;
  esac
}

build() {
  CC=clang-16 CXX=clang++-16 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_FUZZ=ON >/dev/null
  cmake --build "$dir" --target $(printf 'fuzz_%s ' "${targets[@]}")
}

# Prints each file given as hex, 32 bytes a line.
print_hex() {
  for file in "$@"; do
    echo "--- failing input $file ($(stat -c %s "$file") bytes), hex:"
    od -An -v -tx1 -w32 "$file" | tr -d ' '
  done
}

# run_target TARGET SECONDS WORK_DIR: seeds first, then fuzzing; returns
# non-zero when the target failed.
run_target() {
  local target=$1 seconds=$2 work=$3
  local artifacts="$work/artifacts"
  mkdir -p "$work/corpus" "$artifacts"
  local log="$work/log"
  echo "== fuzz_$target: seeds, then ${seconds}s of fuzzing =="
  # A sanitizer report must end the run with a non-zero status.
  if ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0:abort_on_error=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "$dir/fuzz/fuzz_$target" $(options "$target") ${extra_options[@]+"${extra_options[@]}"} -max_total_time="$seconds" \
       -artifact_prefix="$artifacts/" "$work/corpus" $(seeds "$target") >"$log" 2>&1; then
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb|INFO: seed corpus|Slowest unit)' "$log" || true
    return 0
  fi
  tail -n 80 "$log"
  shopt -s nullglob
  local failed=("$artifacts"/*)
  shopt -u nullglob
  [ ${#failed[@]} -gt 0 ] && print_hex "${failed[@]}"
  return 1
}

command=${1:-check}
case "$command" in
  build)
    build
    ;;
  check)
    seconds=${2:-20}
    build
    status=0
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    for target in "${targets[@]}"; do
      run_target "$target" "$seconds" "$work/$target" || status=1
    done
    exit $status
    ;;
  run)
    seconds=${2:?usage: scripts/fuzz.sh run SECONDS [TARGET...]}
    shift 2
    [ $# -gt 0 ] && targets=("$@")
    # A long run also names each input that takes a second or more.
    extra_options=(-report_slow_units=1)
    build
    # The targets run side by side; each report follows when all are done.
    pids=()
    mkdir -p "$root/$dir/corpus"
    for target in "${targets[@]}"; do
      run_target "$target" "$seconds" "$root/$dir/corpus/$target" >"$root/$dir/corpus/$target.report" 2>&1 &
      pids+=($!)
    done
    status=0
    for i in "${!targets[@]}"; do
      wait "${pids[$i]}" || status=1
      cat "$root/$dir/corpus/${targets[$i]}.report"
    done
    exit $status
    ;;
  *)
    echo "usage: $0 build | check [SECONDS] | run SECONDS [TARGET...]" >&2
    exit 2
    ;;
esac
