#!/usr/bin/env bash
# Builds everything and runs every test: first under AddressSanitizer and
# UndefinedBehaviorSanitizer, then in the plain build (whose ctest summary
# is the last line printed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

scripts/build.sh build-asan -DVJX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
# The engine groups' whole runs in the typical and max profiles exercise the
# same code paths as their default run, only with other busy times: they run
# in the plain build, which keeps CI's time down.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600 \
  -E '^engines_(storage|mcu)_tests\.(typical|max)$'

scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 600
