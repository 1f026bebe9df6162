#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets with clang-14 under ASan+UBSan and
# runs each for SECONDS seconds, keeping its corpus in BUILD/corpus/<target>.
set -euo pipefail
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
TARGETS=(receive_fuzzer boot_sector_fuzzer video_fuzzer terminal_keys_fuzzer telnet_fuzzer)

if ! command -v clang++-14 >/dev/null 2>&1; then
  echo "fuzz: clang++-14 not found (make deps installs clang-14 and libclang-rt-14-dev)" >&2
  exit 1
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCONSOLEW_FUZZ=ON -DCONSOLEW_SANITIZE=ON -DCONSOLEW_GUI=OFF -DCONSOLEW_TESTS=OFF \
  -DCONSOLEW_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target "${TARGETS[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${TARGETS[@]}"; do
  corpus="$BUILD/corpus/$t"
  mkdir -p "$corpus" "$BUILD/crashes"
  echo "fuzz: $t for ${SECONDS_EACH} s"
  "$BUILD/fuzz/$t" "$corpus" -max_total_time="$SECONDS_EACH" -max_len=8192 \
    -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$BUILD/crashes/$t-" -print_final_stats=1 \
    2>"$BUILD/$t.log" || { tail -60 "$BUILD/$t.log" >&2; echo "fuzz: $t found a fault" >&2; exit 1; }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov:' "$BUILD/$t.log" | tail -3
done
