#!/usr/bin/env bash
# Runs the benchmarks (real time, datasheet timing of the simulated parts).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
build/bench/bench_list
build/bench/bench_update
