#!/usr/bin/env bash
# Builds the update-file fuzz target with clang and runs it for a bounded
# time over a few seed files made by tcftool. Exit 77 (skipped) when clang
# is not installed.
#   run_fuzz.sh SOURCE_DIR WORK_DIR TCFTOOL SECONDS
set -euo pipefail
src=$1 work=$2 tcftool=$3 seconds=$4

if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
  echo "clang++ not found: fuzz target not built"
  exit 77
fi

mkdir -p "$work"
cmake -S "$src/tests/fuzz/project" -B "$work/build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVJX_SOURCE_DIR="$src" >/dev/null
cmake --build "$work/build" --target tcf_fuzz -j 2

corpus=$work/corpus
mkdir -p "$corpus"
seeds=$work/seeds
mkdir -p "$seeds"
head -c 3000 /dev/zero | tr '\0' '\132' >"$seeds/fpga.bin"
printf ':10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n' >"$seeds/fw.hex"
"$tcftool" build -o "$corpus/minimal.tcf" --module 84 >/dev/null
"$tcftool" build -o "$corpus/pci.tcf" --module 80 >/dev/null
"$tcftool" build -o "$corpus/full.tcf" --module 84 --fpga "$seeds/fpga.bin" --firmware "$seeds/fw.hex" >/dev/null

cd "$work"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$work/build/tcf_fuzz" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=40000 -print_final_stats=1
