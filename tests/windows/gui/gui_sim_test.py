#!/usr/bin/env python3
"""VJXFlash on simulated cards under Wine, end to end: the program for
simulated cards (VJXFlashSimulatedCards.exe) run with `vjxsim run RACK --
wine EXE`, driven with vjxgui.exe; what the cards hold afterwards is read
with `vjxsim dump` and `vjxsim show`, the commands they were sent with the
bus trace.

- A rack with a VJX PCI S, a VJX PCIe K, an unprogrammed card and a 5V card,
  and a PCIe card whose bridge is reachable only through its configuration
  space, on the parts' typical times.
- A PCIe-core card (a VJX PCIe M (v2): its PCIe interface lives in the FPGA,
  which loads from a serial flash): an update from a file whose FPGA image
  differs: the firmware first, then the flash, the success box, then "T" (the
  FPGA reloads its new image and drops off the bus) and the re-enumeration
  that brings the card back. The firmware fits the new FPGA: no version box.
  While the update runs the program refuses the end of the session; before
  and after it allows it. The same file again: the flash only compared, no
  "T", no re-enumeration. A file whose firmware expects another FPGA version
  than its image: the version box after the success box, once the new FPGA
  runs. The re-enumeration failing: the reboot question; No ends the update
  with nothing further, Yes powers the rack down and up and ends the program.

    gui_sim_test.py --bin BUILD/windows/bin --out DIR --vjxsim VJXSIM --tcftool TCFTOOL

Screenshots (PNG) of each moment land under --out."""
import os
import re
import sys
import time
import zlib

from guisession import (APP, DIALOG, FIRMWARE_VERSION, FPGA_VERSION, ID_LIST, ID_NO, ID_OK, ID_YES, Run, cards_shown,
                        dialog_controls, ended, escaped, log_matches, log_text, new_rack, parse_fields, run, sim,
                        update_file, wait_for)


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


def check_card_holds(session, failures, rack, number, folder, tcf_path, what):
    epcs = sim(session, "dump", rack, number, "epcs").stdout
    with open(os.path.join(folder, "fpga.bin"), "rb") as f:
        image = f.read()
    crc = (zlib.crc32(image) ^ 0xFFFFFFFF) & 0xFFFFFFFF  # no final inversion
    failures.check(epcs[:len(image)] == image and epcs[len(image):len(image) + 4] == crc.to_bytes(4, "little"),
                   what + ": the configuration device holds the file's FPGA image and its CRC")
    flash = sim(session, "dump", rack, number, "mcu-flash").stdout
    with open(tcf_path, "rb") as f:
        expected = expected_flash(f.read())
    failures.check(flash == expected, what + ": the microcontroller's flash holds the file's segments")


def flash_and_watch(run_, file_name, shot_prefix):
    """Presses "Flash!" and follows the update on the parts' typical times:
    the controls disabled while it runs, the box at its end. Answers the
    box's lines."""
    session, what = run_.session, run_.what + " update"
    run_.flash(file_name)

    def disabled():
        _, controls, raw = dialog_controls(session)
        return [c["id"] for c in controls if c["enabled"] == "0"] and raw

    raw = wait_for(disabled, 120)
    run_.failures.check(bool(raw) and "dialog enabled=0" in raw[-1] and all(
        c["enabled"] == "0" for c in map(parse_fields, raw[:-1]) if c["id"] in ("2", "1001", "1002", "1003", "1004")),
        what + ": while the update runs, the buttons, the file name, the card list and the dialog are disabled")
    session.shot(shot_prefix + "-running.png", DIALOG)
    started = time.monotonic()
    code, _ = session.gui("wait", APP, "900000", timeout=960)
    print("     (%s: %.0f s)" % (what, time.monotonic() - started))
    run_.failures.equal(code, 0, what + ": the update ends with a box")
    box = session.gui("box", APP)[1]
    session.shot(shot_prefix + "-done.png", DIALOG, APP)
    session.gui("click", APP, ID_OK)
    session.gui("gone", APP)
    return box


def test_rack(session, failures, args):
    folder = os.path.join(session.out, "files")
    file_k = update_file(session, args, folder, "VJX PCIe K.tcf", 84)
    rack = os.path.join(session.out, "rack")
    new_rack(session, rack, "80", "84", "blank-9056", "88")
    before = [card["digests"] for card in cards_shown(session, rack)]

    run_ = Run(session, failures, rack, folder, "rack", timing="typical", trace=False)
    items = session.gui("items", DIALOG, ID_LIST)[1]
    failures.equal(items, EXPECTED_ITEMS, "rack: the list holds the listed cards, numbered, Windows descriptions")
    failures.equal(log_text(session), escaped(EXPECTED_LISTING), "rack: the whole log after start-up")
    session.shot("rack-listed.png", DIALOG)

    # The 5V card: listed, but no update for it; the file is not looked at.
    run_.flash(os.path.basename(file_k))
    failures.equal(session.gui("box", APP)[1], ['button=1 "OK"', 'text="Card doesn\'t support flash updates"'],
                   "5V card: no flash update for it")
    session.gui("click", APP, ID_OK)
    session.gui("gone", APP)

    # The PCI S card with the PCIe K card's file: refused, nothing written.
    session.gui("select", DIALOG, ID_LIST, items.index(PCI_S_ENTRY))
    run_.flash(os.path.basename(file_k))
    failures.equal(session.gui("box", APP)[1],
                   ['button=1 "OK"', escaped('text="Incompatible flash update file!\n\nCard is a "VJX PCI S", '
                                             'but\nVJX PCIe K.tcf\nis designed for a "VJX PCIe K" card."')],
                   "incompatible file: the box names the card and the file's model")
    session.shot("rack-incompatible.png", DIALOG, APP)
    session.gui("click", APP, ID_OK)
    session.gui("gone", APP)
    failures.equal([card["digests"] for card in cards_shown(session, rack)], before,
                   "incompatible file: no card changed")

    # The PCIe K card with its file: updated.
    session.gui("select", DIALOG, ID_LIST, items.index(PCIE_K_ENTRY))
    box = flash_and_watch(run_, os.path.basename(file_k), "rack-update")
    failures.equal(box, ['button=1 "OK"', escaped('text="Programming VJX PCIe K card was successful.\n\n'
                                                  'Firmware version: %s\n"' % FIRMWARE_VERSION)],
                   "PCIe K update: the success box")
    added = run_.added_log()
    failures.check(log_matches(added, EXPECTED_UPDATE_LOG % (3, 3, "VJX PCIe K.tcf")),
                   "PCIe K update: the log of the update", added)
    run_.finished("updated")
    run_.close()
    check_card_holds(session, failures, rack, PCIE_K_CARD, folder, file_k, "PCIe K update")


def test_slow_mode(session, failures, args):
    folder = os.path.join(session.out, "files")
    file_k = update_file(session, args, folder, "VJX PCIe K.tcf", 84)
    rack = os.path.join(session.out, "rack-slow")
    new_rack(session, rack, "84,slow")
    run_ = Run(session, failures, rack, folder, "slow", timing="typical", trace=False)
    failures.equal(log_text(session), escaped(EXPECTED_SLOW_LISTING), "slow mode: the listing names the slow mode")
    box = flash_and_watch(run_, os.path.basename(file_k), "slow")
    failures.equal(box[-1:], [escaped('text="Programming VJX PCIe K card was successful.\n\n'
                                      'Firmware version: %s\n"' % FIRMWARE_VERSION)], "slow mode: the success box")
    expected = (EXPECTED_UPDATE_LOG % (1, 1, "VJX PCIe K.tcf")).replace(
        "Detecting card 1...", "Detecting card 1...\r\nUsing slow FPGA programming mode", 1)
    added = run_.added_log()
    failures.check(log_matches(added, expected), "slow mode: the log of the update names the slow mode", added)
    run_.close()
    check_card_holds(session, failures, rack, 1, folder, file_k, "slow mode")


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

# ---- The PCIe-core card ----------------------------------------------------------

CORE_MODULE = 96
OLD_CORE_CARD = "96,fw=0.90,isp=5,fpga=5"
CORE_FILE = "VJX PCIe M v2.tcf"
# The card's mailbox window (memory space 2): the byte the host hands the
# application; "T" asks it to reload the FPGA.
RELOAD_WRITE = re.compile(r"^\d+ \d+ card1 w 2 a4 \d+ 54$")


def running(session, rack):
    """What the card runs and holds, and its link: (running FPGA version,
    stored FPGA version, firmware version, link)."""
    card = cards_shown(session, rack)[0]
    return card["fpga_version"], card["config_image_version"], card.get("firmware_version"), card["pcie_link"]


def reload_writes(trace):
    with open(trace) as f:
        return sum(1 for line in f if RELOAD_WRITE.match(line.strip()))


def session_answer(session):
    """The program's answer when a log off asks whether the session may end:
    ["answer=1"] (yes) or ["answer=0"] (wait)."""
    return session.gui("queryend", DIALOG)[1]


def start_core_update(run_, file_name=CORE_FILE):
    session = run_.session
    items = session.gui("items", DIALOG, ID_LIST)[1]
    run_.equal(items, CORE_ITEMS, "the card is listed")
    run_.equal(log_text(session), escaped(CORE_LISTING), "the log after start-up")
    run_.flash(file_name)


def test_update_and_again(session, failures, args):
    folder = os.path.join(session.out, "files")
    update_file(session, args, folder, CORE_FILE, CORE_MODULE)
    rack = os.path.join(session.out, "rack-core")
    new_rack(session, rack, OLD_CORE_CARD)
    before = cards_shown(session, rack)[0]
    failures.equal((before["fpga_version"], before["config_image_version"]), (5, 5),
                   "the card runs and holds FPGA version 5 before the update")

    # Firmware first, then the flash; "T" only after the success box. The
    # firmware is compared with the FPGA only once the new one runs.
    run_ = Run(session, failures, rack, folder, "update")
    run_.check(session_answer(session) == ["answer=1"], "before the update the session may end")
    start_core_update(run_)
    # Until the success box is answered the card keeps running its old FPGA
    # with the new image stored; "T" then reloads it (the card drops off the
    # bus) and the re-enumeration gives it its resources again, while the
    # program still runs. Ending the session now would cut the update short:
    # refused.
    stored = (5, FPGA_VERSION, FIRMWARE_VERSION, "up")

    def meanwhile():
        run_.equal(running(session, rack), stored,
                   "before the success box is answered: the old FPGA runs, the new is stored")
        run_.check(session_answer(session) == ["answer=0"], "during the update the session may not end")
    run_.box(CORE_SUCCESS, ID_OK, "success", meanwhile=meanwhile)
    run_.finished("updated")
    run_.check(session_answer(session) == ["answer=1"], "after the update the session may end again")
    back = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
    run_.equal(running(session, rack), back, "afterwards the card is back on the bus with the new FPGA")
    added = run_.added_log()
    run_.check(log_matches(added, CORE_UPDATE_LOG), "the log of the update: firmware first, then the flash", added)
    run_.close()
    run_.equal(reload_writes(run_.trace), 1, "one \"T\" written to the mailbox")
    run_.equal(running(session, rack), back, "vjxsim show after the program: the new FPGA and firmware")

    # The card is back on the bus with its resources: the program started
    # again lists it with the new firmware. The same file again: the flash
    # is only compared, so no "T" and no re-enumeration.
    again = Run(session, failures, rack, folder, "again")
    items = session.gui("items", DIALOG, ID_LIST)[1]
    again.equal(items, CORE_ITEMS, "the card is listed again")
    listing = CORE_LISTING.replace("0.90", FIRMWARE_VERSION)
    again.equal(log_text(session), escaped(listing), "the card lists with the new firmware")
    again.flash(CORE_FILE)
    again.box(CORE_SUCCESS, ID_OK, "success")
    again.finished("done")
    added = again.added_log()
    again.check(log_matches(added, CORE_SAME_LOG), "the log: the flash compared only", added)
    again.close()
    again.equal(reload_writes(again.trace), 0, "no \"T\"")
    again.equal(running(session, rack), back, "vjxsim show: the card unchanged")


def test_reenumeration_fails(session, failures, args):
    folder = os.path.join(session.out, "files")
    update_file(session, args, folder, CORE_FILE, CORE_MODULE)
    back = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
    # No: the update ends as done, nothing further; the card stays off the
    # bus until the machine restarts. Yes: the machine restarts: every card
    # powered down and up, the program ended; the card comes up with the new
    # FPGA.
    for what, answer in (("reboot-no", ID_NO), ("reboot-yes", ID_YES)):
        rack = os.path.join(session.out, "rack-" + what[7:])
        new_rack(session, rack, OLD_CORE_CARD + ",reenumerate=fail")
        run_ = Run(session, failures, rack, folder, what)
        start_core_update(run_)
        run_.box(CORE_SUCCESS, ID_OK, "success")
        run_.box(QUESTION, answer, "question", ('button=6 "&Yes"', 'button=7 "&No"', 'button=2 "Cancel"'))
        if answer == ID_NO:
            run_.finished("answered-no")
            unassigned = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "unassigned")
            run_.equal(running(session, rack), unassigned, "the card reloaded but left without its resources")
            added = run_.added_log()
            run_.check(log_matches(added, CORE_UPDATE_LOG + QUESTION_LOG), "the log ends with the question", added)
            run_.close()
            run_.equal(reload_writes(run_.trace), 1, "one \"T\"")
        else:
            run_.check(ended(run_.program, 120), "the program ends")
            run_.equal(run_.program.returncode, 0, "vjxsim run passes the program's status 0 on")
            session.gui("gone", DIALOG)
            session.shot("reboot-yes-ended.png")
            run_.equal(running(session, rack), back, "vjxsim show: powered up again, the card runs the new FPGA")


def test_firmware_for_another_fpga(session, failures, args):
    """The file's firmware expects FPGA version 6, its image is version 7:
    the update completes, and the version box follows the success box, once
    the card runs the new FPGA."""
    folder = os.path.join(session.out, "files")
    name = "VJX PCIe M v2 isp6.tcf"
    update_file(session, args, folder, name, CORE_MODULE, isp=6)
    rack = os.path.join(session.out, "rack-isp")
    new_rack(session, rack, OLD_CORE_CARD)
    run_ = Run(session, failures, rack, folder, "isp-mismatch")
    start_core_update(run_, name)
    run_.box(CORE_SUCCESS, ID_OK, "success")
    run_.box(ISP_BOX, ID_OK, "isp-compare")
    run_.finished("done")
    back = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
    run_.equal(running(session, rack), back, "the card runs the new FPGA and firmware")
    added = run_.added_log()
    expected = CORE_UPDATE_LOG.replace(CORE_FILE, name) + ISP_BOX + "\r\n"
    run_.check(log_matches(added, expected), "the log ends with the version box", added)
    run_.close()


# A lone card is listed without a number.
CORE_ITEMS = ["VJX PCIe M (v2)", "sel=0"]
CORE_LISTING = ("VJX Flash Version 5.45\r\n\r\n"
                "Detecting card 1...\r\nDetected: VJX PCIe M (v2) card\r\nFirmware version: 0.90\r\n")
ISP_BOX = "Compare of ISP version number failed (0x06 != 0x07). "
KEEP_POWERED = ("Do not switch the computer off until the update has ended: without a valid FPGA image the card "
                "cannot come back on the bus.")
CORE_SUCCESS = "Programming VJX PCIe M (v2) card was successful.\n\nFirmware version: 2.01\n"
QUESTION = ("The card's PCIe core was changed and reset.\nA reboot is needed to make the card working again.\n\n"
            "Do the reboot now?")
# The progress dots are left open where their number follows the parts'
# busy times on the real clock.
CORE_UPDATE_LOG = ("\r\nDetecting card 1...\r\nProgramming card 1 with file \"%s\"<dots>\r\n"
                   "Programming flash ROM<dots>\r\n"
                   "Comparing FPGA...\r\n" + KEEP_POWERED + "\r\nErasing FPGA....\r\nProgramming FPGA....\r\n"
                   "Programming VJX PCIe M (v2) card was successful.\r\nFirmware version: 2.01\r\n") % CORE_FILE
CORE_SAME_LOG = ("\r\nDetecting card 1...\r\nProgramming card 1 with file \"%s\"<dots>\r\n"
                 "Programming flash ROM<dots>\r\nComparing FPGA...\r\n"
                 "Programming VJX PCIe M (v2) card was successful.\r\nFirmware version: 2.01\r\n") % CORE_FILE
# The box's text in the log, its blank line left out as for every box.
QUESTION_LOG = QUESTION.replace("\n\n", "\n").replace("\n", "\r\n") + "\r\n"


def main():
    return run([test_rack, test_slow_mode, test_update_and_again, test_firmware_for_another_fpga,
                test_reenumeration_fails], __doc__)


if __name__ == "__main__":
    sys.exit(main())
