#!/usr/bin/env bash
# Builds everything and runs every test: first under AddressSanitizer and
# UndefinedBehaviorSanitizer, then in the plain build (whose ctest summary
# is the last line printed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

scripts/build.sh build-asan -DVJX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600

scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 600
