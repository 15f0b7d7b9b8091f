#!/usr/bin/env bash
# The main job: builds vjxflash and runs it. On a machine without VJX cards it
# runs on the card simulator: a rack of simulated cards is made, listed and
# updated from files built with tcftool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build

bin=build/bin
if ls /sys/bus/pci/devices/*/vendor 2>/dev/null | xargs -r grep -l 0x10b5 >/dev/null 2>&1; then
  echo "== VJX hardware found: listing the cards"
  exec "$bin/vjxflash" -list
fi

echo "== No VJX hardware here: running on the card simulator"
"$bin/vjxflash" || true
if [ -x "$bin/vjxsim" ]; then
  exec scripts/demo-sim.sh
fi
