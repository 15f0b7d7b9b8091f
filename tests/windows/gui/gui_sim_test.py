#!/usr/bin/env python3
"""VJXFlash on simulated cards under Wine, end to end: the program for
simulated cards (VJXFlashSimulatedCards.exe) run with `vjxsim run RACK --
wine EXE` on a rack with a VJX PCI S, a VJX PCIe K, an unprogrammed card and
a 5V card, and on a rack with a PCIe card whose bridge is reachable only
through its configuration space. The dialog is driven with vjxgui.exe; what
the cards hold afterwards is read with `vjxsim dump`.

    gui_sim_test.py --bin BUILD/windows/bin --out DIR --vjxsim VJXSIM --tcftool TCFTOOL

Screenshots (PNG) of each moment land under --out."""
import json
import re
import os
import shutil
import subprocess
import sys
import time
import zlib

from guisession import (APP, DIALOG, ID_CANCEL, ID_FILE, ID_FLASH, ID_LIST, ID_NO, ID_OK, ID_YES, dialog_controls,
                        ended, log_text, run, sim, wait_for)

EXE = "VJXFlashSimulatedCards.exe"
FPGA_VERSION, FIRMWARE_VERSION, ISP = "7", "2.01", "7"


def expected_flash(tcf):
    """The microcontroller's flash after an update from the file: its
    segments at their addresses, each 16 KiB block's trailer from the
    segment's header, the rest erased."""
    flash = bytearray(b"\xff" * 65536)
    pos = 256
    while pos + 16 <= len(tcf):
        address = (tcf[pos + 2] << 8) | tcf[pos + 3]
        length = (tcf[pos + 4] << 8) | tcf[pos + 5]
        more = (tcf[pos + 8] << 8) | tcf[pos + 9]
        flash[address:address + length] = tcf[pos + 16:pos + 16 + length]
        flash[address + 0x3FF0:address + 0x4000] = tcf[pos:pos + 16]
        pos += 16 + length
        if not more:
            break
    return bytes(flash)


class Files:
    """The images and update files of the scenarios, made with vjxsim and tcftool."""

    def __init__(self, session, tcftool, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.fpga = os.path.join(folder, "fpga.bin")
        self.firmware = os.path.join(folder, "fw.bin")
        for args in (("image", "fpga", "--version", FPGA_VERSION, "--size", "20000", "-o", self.fpga),
                     ("image", "firmware", "--version", FIRMWARE_VERSION, "--isp", ISP, "--size", "65536",
                      "-o", self.firmware)):
            result = sim(session, *args)
            if result.returncode != 0:
                raise RuntimeError("vjxsim %s: %s" % (args[0], result.stderr.decode()))
        self.tcftool = tcftool

    def update_file(self, name, module):
        path = os.path.join(self.folder, name)
        result = subprocess.run([self.tcftool, "build", "-o", path, "--module", str(module), "--fpga", self.fpga,
                                 "--firmware", self.firmware], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=120, check=False)
        if result.returncode != 0:
            raise RuntimeError("tcftool build: " + result.stderr.decode())
        return path


def new_rack(session, path, *cards):
    shutil.rmtree(path, ignore_errors=True)
    args = ["new", path]
    for card in cards:
        args += ["--card", card]
    result = sim(session, *args)
    if result.returncode != 0:
        raise RuntimeError("vjxsim new: " + result.stderr.decode())


def digests(session, rack):
    shown = sim(session, "show", rack, "--json")
    return [card["digests"] for card in json.loads(shown.stdout.decode())["cards"]]


def check_card_holds(session, failures, rack, number, files, tcf_path, what):
    epcs = sim(session, "dump", rack, number, "epcs").stdout
    with open(files.fpga, "rb") as f:
        image = f.read()
    crc = (zlib.crc32(image) ^ 0xFFFFFFFF) & 0xFFFFFFFF  # no final inversion
    failures.check(epcs[:len(image)] == image and epcs[len(image):len(image) + 4] == crc.to_bytes(4, "little"),
                   what + ": the configuration device holds the file's FPGA image and its CRC")
    flash = sim(session, "dump", rack, number, "mcu-flash").stdout
    with open(tcf_path, "rb") as f:
        expected = expected_flash(f.read())
    failures.check(flash == expected, what + ": the microcontroller's flash holds the file's segments")


def escaped(text):
    """A log text as vjxgui prints it: line breaks as \\r and \\n."""
    return text.replace("\r", "\\r").replace("\n", "\\n")


def flash_and_watch(session, failures, what, shot_prefix):
    """Presses "Flash!" and follows the update: the controls disabled while it
    runs, the box at its end. Answers the box's lines."""
    session.gui("click", DIALOG, ID_FLASH)

    def disabled():
        _, controls, raw = dialog_controls(session)
        return [c["id"] for c in controls if c["enabled"] == "0"] and raw

    raw = wait_for(disabled, 120)
    failures.check(bool(raw) and "dialog enabled=0" in raw[-1] and all(
        c["enabled"] == "0" for c in map(_fields, raw[:-1]) if c["id"] in ("2", "1001", "1002", "1003", "1004")),
        what + ": while the update runs, the buttons, the file name, the card list and the dialog are disabled")
    session.shot(shot_prefix + "-running.png", DIALOG)
    started = time.monotonic()
    code, _ = session.gui("wait", APP, "900000", timeout=960)
    print("     (%s: %.0f s)" % (what, time.monotonic() - started))
    failures.equal(code, 0, what + ": the update ends with a box")
    box = session.gui("box", APP)[1]
    session.shot(shot_prefix + "-done.png", DIALOG, APP)
    return box


def _fields(line):
    from guisession import parse_fields
    return parse_fields(line)


def shown(session, what):
    """Waits for the dialog (the first Wine program of a session starts
    slowly); when it does not come, what is on the screen instead."""
    code, _ = session.gui("wait", DIALOG, "180000", timeout=240)
    if code != 0:
        print("no dialog; a box says: %r" % (session.gui("box", APP, "0")[1],))
        session.shot(what + "-no-dialog.png")
    return code


def answer_box(session, button):
    session.gui("click", APP, button)
    session.gui("gone", APP)


def test_rack(session, failures, args):
    out = session.out
    files = Files(session, args.tcftool, os.path.join(out, "files"))
    file_k = files.update_file("VJX PCIe K.tcf", 84)
    file_s = files.update_file("VJX PCI S.tcf", 80)
    rack = os.path.join(out, "rack")
    new_rack(session, rack, "80", "84", "blank-9056", "88")
    before = digests(session, rack)

    program = session.start_on_rack(rack, EXE, cwd=files.folder)
    code = shown(session, "rack")
    failures.equal(code, 0, "rack: the dialog is shown")
    items = session.gui("items", DIALOG, ID_LIST)[1]
    failures.equal(items, EXPECTED_ITEMS, "rack: the list holds the listed cards, numbered, Windows descriptions")
    failures.equal(log_text(session), escaped(EXPECTED_LISTING), "rack: the whole log after start-up")
    session.shot("rack-listed.png", DIALOG)

    # The 5V card: listed, but no update for it; the file is not looked at.
    session.gui("settext", DIALOG, ID_FILE, os.path.basename(file_k))
    session.gui("click", DIALOG, ID_FLASH)
    failures.equal(session.gui("box", APP)[1], ['button=1 "OK"', 'text="Card doesn\'t support flash updates"'],
                   "5V card: no flash update for it")
    answer_box(session, ID_OK)

    # The PCI S card with the PCIe K card's file: refused, nothing written.
    session.gui("select", DIALOG, ID_LIST, items.index(PCI_S_ENTRY))
    session.gui("settext", DIALOG, ID_FILE, os.path.basename(file_k))
    session.gui("click", DIALOG, ID_FLASH)
    code, box = session.gui("box", APP)
    failures.equal(box, ['button=1 "OK"', escaped('text="Incompatible flash update file!\n\nCard is a "VJX PCI S", '
                                                  'but\nVJX PCIe K.tcf\nis designed for a "VJX PCIe K" card."')],
                   "incompatible file: the box names the card and the file's model")
    session.shot("rack-incompatible.png", DIALOG, APP)
    answer_box(session, ID_OK)
    failures.equal(digests(session, rack), before, "incompatible file: no card changed")

    # The PCIe K card with its file: updated.
    log_before = log_text(session)
    session.gui("select", DIALOG, ID_LIST, items.index(PCIE_K_ENTRY))
    box = flash_and_watch(session, failures, "PCIe K update", "rack-update")
    failures.equal(box, ['button=1 "OK"', escaped('text="Programming VJX PCIe K card was successful.\n\n'
                                                  'Firmware version: %s\n"' % FIRMWARE_VERSION)],
                   "PCIe K update: the success box")
    answer_box(session, ID_OK)
    _, after, _ = dialog_controls(session)
    failures.check(all(c["enabled"] == "1" for c in after), "PCIe K update: every control enabled again afterwards")
    added = log_text(session)[len(log_before):]
    failures.check(log_matches(added, EXPECTED_UPDATE_LOG % (3, 3, "VJX PCIe K.tcf")),
                   "PCIe K update: the log of the update", added)
    session.shot("rack-updated.png", DIALOG)
    session.gui("click", DIALOG, ID_CANCEL)
    failures.check(ended(program, 120), "rack: Close ends the program")
    check_card_holds(session, failures, rack, PCIE_K_CARD, files, file_k, "PCIe K update")
    del file_s


def test_slow_mode(session, failures, args):
    out = session.out
    files = Files(session, args.tcftool, os.path.join(out, "files"))
    file_k = files.update_file("VJX PCIe K.tcf", 84)
    rack = os.path.join(out, "rack-slow")
    new_rack(session, rack, "84,slow")
    program = session.start_on_rack(rack, EXE, cwd=files.folder)
    failures.equal(shown(session, "slow"), 0, "slow mode: the dialog is shown")
    failures.equal(log_text(session), escaped(EXPECTED_SLOW_LISTING), "slow mode: the listing names the slow mode")
    session.gui("settext", DIALOG, ID_FILE, os.path.basename(file_k))
    log_before = log_text(session)
    box = flash_and_watch(session, failures, "slow mode", "slow")
    failures.equal(box[-1:], [escaped('text="Programming VJX PCIe K card was successful.\n\n'
                                      'Firmware version: %s\n"' % FIRMWARE_VERSION)], "slow mode: the success box")
    answer_box(session, ID_OK)
    expected = (EXPECTED_UPDATE_LOG % (1, 1, "VJX PCIe K.tcf")).replace(
        "Detecting card 1...", "Detecting card 1...\r\nUsing slow FPGA programming mode", 1)
    added = log_text(session)[len(log_before):]
    failures.check(log_matches(added, expected), "slow mode: the log of the update names the slow mode", added)
    session.gui("click", DIALOG, ID_CANCEL)
    failures.check(ended(program, 120), "slow mode: Close ends the program")
    check_card_holds(session, failures, rack, 1, files, file_k, "slow mode")


# The rack as the Windows program lists it: the chips' groups in turn (PCI
# 9050, 9030, 9056), the unprogrammed card left out and not counted in the
# numbers; the 5V card has no model name of the Windows program.
PCI_S_ENTRY = "2: VJX PCI S"
PCIE_K_ENTRY = "3: VJX PCIe K"
PCIE_K_CARD = 2  # its number in the rack
EXPECTED_ITEMS = ["1: (Unknown)", PCI_S_ENTRY, PCIE_K_ENTRY, "sel=0"]
EXPECTED_LISTING = ("VJX Flash Version 5.45\r\n\r\n"
                    "Detecting card 1...\r\nDetected: (Unknown) card\r\nCard doesn't support flash updates\r\n"
                    "Detecting card 2...\r\nDetected: VJX PCI S card\r\nFirmware version: 1.00\r\n"
                    "Detecting card 3...\r\nDetected: VJX PCIe K card\r\nFirmware version: 1.00\r\n")
EXPECTED_SLOW_LISTING = ("VJX Flash Version 5.45\r\n\r\n"
                         "Detecting card 1...\r\nUsing slow FPGA programming mode\r\nDetected: VJX PCIe K card\r\n"
                         "Firmware version: 1.00\r\n")
# What an update of the PCIe K card from its file adds to the log: the
# configuration EEPROM already holds the file's content, the PCIe EEPROM
# takes the file's longer preset. The progress dots are left open: their
# number follows the parts' busy times on the real clock.
EXPECTED_UPDATE_LOG = ("\r\nDetecting card %d...\r\nProgramming card %d with file \"%s\"...\r\n"
                       "Write PCIe EEPROM...\r\nComparing FPGA...\r\nBulk erasing FPGA...\r\n"
                       "Programming FPGA<dots>\r\nProgramming flash ROM<dots>\r\n"
                       "Programming VJX PCIe K card was successful.\r\nFirmware version: 2.01\r\n")


def log_matches(got, expected):
    """The log text as vjxgui prints it against an expected text whose
    <dots> stand for one or more progress dots."""
    pattern = ".+".join(re.escape(escaped(part)) for part in expected.split("<dots>"))
    return re.fullmatch(pattern.replace(".+", r"\.+"), got) is not None


def main():
    return run([test_rack, test_slow_mode], __doc__)


if __name__ == "__main__":
    sys.exit(main())
