#!/usr/bin/env bash
# A demonstration on simulated cards: a rack with a PCIe card and a PCI card
# running old firmware, an unprogrammed card, update files built with
# tcftool, then list, update both cards and list again.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rack=$work/rack

step() { printf '\n== %s\n' "$*"; }
run() { printf '$ %s\n' "$*"; "$@"; }

step "A rack: VJX PCIe K and VJX PCI S with firmware 0.90, and an unprogrammed PCI card"
run "$bin/vjxsim" new "$rack" --card 84,fw=0.90,isp=5,fpga=5 --card 80,fw=0.90,isp=5,fpga=5 --card blank-9030
run "$bin/vjxsim" show "$rack"

step "Update files: a new FPGA configuration (version 7) and firmware 2.01"
run "$bin/vjxsim" image fpga --version 7 --size 65536 -o "$work/fpga.bin"
run "$bin/vjxsim" image firmware --version 2.01 --isp 7 --size 65536 -o "$work/fw.bin"
run "$bin/tcftool" build -o "$work/VJX PCIe K 2.01.tcf" --module 84 --fpga "$work/fpga.bin" --firmware "$work/fw.bin"
run "$bin/tcftool" build -o "$work/VJX PCI S 2.01.tcf" --module 80 --fpga "$work/fpga.bin" --firmware "$work/fw.bin"
run "$bin/tcftool" info "$work/VJX PCIe K 2.01.tcf"

step "List the cards"
run "$bin/vjxsim" run "$rack" -- "$bin/vjxflash" -list

step "Update card 2 (the PCIe card) and card 1"
status=0
run "$bin/vjxsim" run "$rack" -- "$bin/vjxflash" -flash 2 "$work/VJX PCIe K 2.01.tcf" || status=$?
echo "exit status: $status"
status=0
run "$bin/vjxsim" run "$rack" -- "$bin/vjxflash" -flash 1 "$work/VJX PCI S 2.01.tcf" || status=$?
echo "exit status: $status"

step "List again: both cards run firmware 2.01"
run "$bin/vjxsim" run "$rack" -- "$bin/vjxflash" -list

step "The same update again finds everything up to date"
run "$bin/vjxsim" run "$rack" -- "$bin/vjxflash" -flash 2 "$work/VJX PCIe K 2.01.tcf"
