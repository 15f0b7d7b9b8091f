#!/usr/bin/env bash
# Runs the benchmarks (typical and maximum timing of the simulated parts, real and virtual time).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
build/bench/bench_list
build/bench/bench_update
