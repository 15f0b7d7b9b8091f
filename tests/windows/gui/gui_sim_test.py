#!/usr/bin/env python3
"""VJXFlash on simulated cards under Wine, end to end: the program for
simulated cards (VJXFlashSimulatedCards.exe) run with `vjxsim run RACK --
wine EXE`, driven with vjxgui.exe. One table of updates (UPDATES), each run
the same way: the listing, the update, its boxes answered, the log it adds;
what the card runs and holds afterwards read with `vjxsim show` and `vjxsim
dump`, the commands it was sent with the bus trace.

    gui_sim_test.py --bin BUILD/windows/bin --out DIR --vjxsim VJXSIM --tcftool TCFTOOL

Screenshots (PNG) of each moment land under --out."""
import json
import os
import re
import shutil
import subprocess
import sys
import zlib

from guisession import (APP, DIALOG, ID_CANCEL, ID_FILE, ID_FLASH, ID_LIST, ID_NO, ID_OK, ID_YES, box_lines, ended,
                        escaped, run, wait_for)

FPGA_VERSION, FIRMWARE_VERSION = 7, "2.01"


def tool(*argv):
    """One run of vjxsim or tcftool: the completed process (bytes out); fails unless it succeeds."""
    result = subprocess.run([str(a) for a in argv], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                            check=False)
    if result.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(map(str, argv[:2])), result.stderr.decode()))
    return result


def update_file(session, args, folder, name, module, isp):
    """An update file built by tcftool for the module code: FPGA image version
    7 (folder/fpga.bin) and firmware 2.01 for the FPGA version isp."""
    os.makedirs(folder, exist_ok=True)
    fpga, firmware = os.path.join(folder, "fpga.bin"), os.path.join(folder, "fw.bin")
    tool(session.vjxsim, "image", "fpga", "--version", FPGA_VERSION, "--size", "20000", "-o", fpga)
    tool(session.vjxsim, "image", "firmware", "--version", FIRMWARE_VERSION, "--isp", isp, "--size", "65536", "-o",
         firmware)
    path = os.path.join(folder, name)
    tool(args.tcftool, "build", "-o", path, "--module", module, "--fpga", fpga, "--firmware", firmware)
    return path


def cards_shown(session, rack):
    """The cards as `vjxsim show --json` describes them."""
    return json.loads(tool(session.vjxsim, "show", rack, "--json").stdout.decode())["cards"]


def running(session, rack):
    """What the first card runs and holds, and its link: (running FPGA
    version, stored FPGA version, firmware version, link)."""
    card = cards_shown(session, rack)[0]
    return card["fpga_version"], card["config_image_version"], card.get("firmware_version"), card["pcie_link"]


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


def check_card_holds(session, check, rack, number, folder, tcf_path):
    epcs = tool(session.vjxsim, "dump", rack, number, "epcs").stdout
    with open(os.path.join(folder, "fpga.bin"), "rb") as f:
        image = f.read()
    crc = (zlib.crc32(image) ^ 0xFFFFFFFF) & 0xFFFFFFFF  # no final inversion
    check(epcs[:len(image)] == image and epcs[len(image):len(image) + 4] == crc.to_bytes(4, "little"),
          "the configuration device holds the file's FPGA image and its CRC")
    with open(tcf_path, "rb") as f:
        expected = expected_flash(f.read())
    check(tool(session.vjxsim, "dump", rack, number, "mcu-flash").stdout == expected,
          "the microcontroller's flash holds the file's segments")


def log_matches(got, expected):
    """The log text as vjxgui prints it against an expected text whose
    <dots> stand for one or more progress dots."""
    return re.fullmatch(r"\.+".join(re.escape(escaped(part)) for part in expected.split("<dots>")), got) is not None


# The card's mailbox window (memory space 2): the byte the host hands the
# application; "T" asks it to reload the FPGA.
RELOAD_WRITE = re.compile(r"^\d+ \d+ card1 w 2 a4 \d+ 54$")


def update(session, failures, args, what, rack, cards, file, module, items, listing, boxes, log, isp=FPGA_VERSION,
           timing="instant", select=None, refusals=(), before=None, during=None, after=None, reloads=None,
           holds=None, session_end=False):
    """One update on a rack (made from cards, or as an earlier update left
    it): the program started, the listing checked, the file flashed on each
    entry of refusals (entry, box text, screenshot) and refused with nothing
    written, then on the entry select, each box (text, answer, screenshot[,
    buttons]) checked and answered; then the dialog usable again and the log
    the update added, or, after a Yes to the reboot question (log None), the
    program ended. Afterwards what the card runs
    (after), the "T"s in the bus trace (reloads), the card holds the file
    (holds, its number in the rack)."""
    def check(ok, text, got=None, expected=None):
        failures.check(ok, what + ": " + text, got, expected)

    def equal(got, expected, text):
        check(got == expected, text, got, expected)

    folder = os.path.join(session.out, "files")
    path = update_file(session, args, folder, file, module, isp)
    rack = os.path.join(session.out, rack)
    if cards:
        shutil.rmtree(rack, ignore_errors=True)
        tool(session.vjxsim, "new", rack, *[a for card in cards for a in ("--card", card)])
    if before:
        equal(running(session, rack)[:2], before, "the card's running and stored FPGA versions before the update")
    trace = os.path.join(session.out, what + "-trace.txt") if reloads is not None else None
    program = session.start("VJXFlashSimulatedCards.exe", rack=rack, timing=timing, trace=trace, cwd=folder)
    # The first Wine program of a session starts slowly.
    shown = session.gui("wait", DIALOG, "180000", timeout=240)[0] == 0
    check(shown, "the dialog is shown", None if shown else session.gui("box", APP, "0")[1])  # a box may say why
    if not shown:
        session.shot(what + "-no-dialog.png")
        raise RuntimeError("no dialog")
    equal(session.gui("items", DIALOG, ID_LIST)[1], items, "the card list: its entries, numbered, and the selection")
    equal(session.log(), escaped(listing), "the whole log after start-up")
    session.shot(what + "-listed.png", DIALOG)

    def may_end():  # the program's answer when a log off asks whether the session may end
        return session.gui("queryend", DIALOG)[1]

    if session_end:
        equal(may_end(), ["answer=1"], "before the update the session may end")

    def flash(entry):
        session.gui("select", DIALOG, ID_LIST, items.index(entry))
        session.gui("settext", DIALOG, ID_FILE, file)
        session.gui("click", DIALOG, ID_FLASH)

    digests = refusals and [card["digests"] for card in cards_shown(session, rack)]
    for entry, text, shot in refusals:
        flash(entry)
        equal(session.gui("box", APP)[1], box_lines(text), "refused for %s: the box" % entry)
        session.shot(what + "-" + shot + ".png", DIALOG, APP)
        session.answer(APP, ID_OK)
    if refusals:
        equal([card["digests"] for card in cards_shown(session, rack)], digests, "refused: no card changed")
    log_before = session.log()
    flash(select or items[0])
    if timing != "instant":
        # On the parts' own times the update is watched while it runs: the
        # buttons, the file name and the card list disabled, then the dialog.
        def watched():
            controls, dialog = session.controls()
            return dialog.get("enabled") == "0" and [c for c in controls if c["id"] in ("2", "1001", "1002", "1003",
                                                                                         "1004")]

        controls = wait_for(watched, 120)
        check(bool(controls) and all(c["enabled"] == "0" for c in controls),
              "while the update runs, the buttons, the file name, the card list and the dialog are disabled")
        session.shot(what + "-running.png", DIALOG)
    for number, (text, answer, shot, *buttons) in enumerate(boxes):
        code = session.gui("wait", APP, "900000", timeout=960)[0]
        box = session.gui("box", APP)[1] if code == 0 else []
        check(box == box_lines(text, *buttons), "the box " + repr(text), box)
        if code != 0:
            session.shot(what + "-" + shot + "-missing.png", DIALOG)
            raise RuntimeError("no box")
        session.shot(what + "-" + shot + ".png", DIALOG, APP)
        if during and number == 0:
            # The card keeps its old FPGA, the new stored, until the box is
            # answered; ending the session now would cut the update short.
            equal(running(session, rack), during, "before the success box is answered: the old FPGA runs")
            equal(may_end(), ["answer=0"], "during the update the session may not end")
        session.answer(APP, answer)
    if log is None:
        check(ended(program, 120), "the program ends")
        equal(program.returncode, 0, "vjxsim run passes the program's status 0 on")
        session.gui("gone", DIALOG)
        session.shot(what + "-ended.png")
    else:
        check(bool(wait_for(session.all_enabled, 120)), "every control enabled again")
        check(session.gui("wait", APP, "3000")[0] != 0, "no further box")
        session.shot(what + "-updated.png", DIALOG)
        if session_end:
            equal(may_end(), ["answer=1"], "after the update the session may end again")
        if after:
            equal(running(session, rack), after, "the card runs afterwards, with the program still running")
        added = session.log()[len(log_before):]
        check(log_matches(added, log), "the log the update added", added)
        session.gui("click", DIALOG, ID_CANCEL)
        check(ended(program, 120), "Close ends the program")
    if reloads is not None:
        with open(trace) as f:
            equal(sum(1 for line in f if RELOAD_WRITE.match(line.strip())), reloads, "the \"T\"s to the mailbox")
    if after:
        equal(running(session, rack), after, "vjxsim show after the program: what the card runs")
    if holds:
        check_card_holds(session, check, rack, holds, folder, path)


# The rack as the Windows program lists it: the chips' groups in turn (PCI
# 9050, 9030, 9056), the unprogrammed card left out and not counted in the
# numbers; the 5V card has no model name of the Windows program.
RACK_ITEMS = ["1: (Unknown)", "2: VJX PCI S", "3: VJX PCIe K", "sel=0"]
# The 5V card (selected first): no update for it, the file is not looked at.
# The PCI S card with the PCIe K card's file: the box names the card and the
# file's model.
RACK_REFUSALS = [("1: (Unknown)", "Card doesn't support flash updates", "5v"),
                 ("2: VJX PCI S", 'Incompatible flash update file!\n\nCard is a "VJX PCI S", but\nVJX PCIe K.tcf\nis '
                  'designed for a "VJX PCIe K" card.', "incompatible")]
K_LISTING = "Detecting card %d...\r\nDetected: VJX PCIe K card\r\nFirmware version: 1.00\r\n"
RACK_LISTING = ("VJX Flash Version 5.45\r\n\r\n"
                "Detecting card 1...\r\nDetected: (Unknown) card\r\nCard doesn't support flash updates\r\n"
                "Detecting card 2...\r\nDetected: VJX PCI S card\r\nFirmware version: 1.00\r\n" + K_LISTING % 3)
K_SUCCESS = "Programming VJX PCIe K card was successful.\n\nFirmware version: 2.01\n"
# What an update of the PCIe K card from its file adds to the log: the
# configuration EEPROM already holds the file's content, the PCIe EEPROM
# takes the file's longer preset. The progress dots are left open: their
# number follows the parts' busy times on the real clock.
K_UPDATE_LOG = ("\r\nDetecting card %d...\r\n%sProgramming card %d with file \"VJX PCIe K.tcf\"...\r\n"
                "Write PCIe EEPROM...\r\nComparing FPGA...\r\nBulk erasing FPGA...\r\n"
                "Programming FPGA<dots>\r\nProgramming flash ROM<dots>\r\n"
                "Programming VJX PCIe K card was successful.\r\nFirmware version: 2.01\r\n")
SLOW = "Using slow FPGA programming mode\r\n"

# The PCIe-core card, a VJX PCIe M (v2): its PCIe interface lives in the
# FPGA, which loads from a serial flash.
CORE_FILE = "VJX PCIe M v2.tcf"
OLD_CORE_CARD = "96,fw=0.90,isp=5,fpga=5"
CORE_ITEMS = ["VJX PCIe M (v2)", "sel=0"]  # a lone card is listed without a number
CORE_LISTING = ("VJX Flash Version 5.45\r\n\r\n"
                "Detecting card 1...\r\nDetected: VJX PCIe M (v2) card\r\nFirmware version: %s\r\n")
CORE_SUCCESS = "Programming VJX PCIe M (v2) card was successful.\n\nFirmware version: 2.01\n"
ISP_BOX = "Compare of ISP version number failed (0x06 != 0x07). "
KEEP_POWERED = ("Do not switch the computer off until the update has ended: without a valid FPGA image the card "
                "cannot come back on the bus.")
QUESTION = ("The card's PCIe core was changed and reset.\nA reboot is needed to make the card working again.\n\n"
            "Do the reboot now?")
YES_NO_CANCEL = ('button=6 "&Yes"', 'button=7 "&No"', 'button=2 "Cancel"')
# The progress dots are left open where their number follows the parts'
# busy times on the real clock.
CORE_UPDATE_LOG = ("\r\nDetecting card 1...\r\nProgramming card 1 with file \"%s\"<dots>\r\n"
                   "Programming flash ROM<dots>\r\nComparing FPGA...\r\n%s"
                   "Programming VJX PCIe M (v2) card was successful.\r\nFirmware version: 2.01\r\n")
CORE_WRITE = KEEP_POWERED + "\r\nErasing FPGA....\r\nProgramming FPGA....\r\n"
# A box's text in the log, its blank line left out as for every box.
QUESTION_LOG = QUESTION.replace("\n\n", "\n").replace("\n", "\r\n") + "\r\n"
STORED, BACK = (5, FPGA_VERSION, FIRMWARE_VERSION, "up"), (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
CORE_DONE = (CORE_SUCCESS, ID_OK, "success")
CORE = dict(file=CORE_FILE, module=96, items=CORE_ITEMS, listing=CORE_LISTING % "0.90")
REBOOT = dict(CORE, cards=[OLD_CORE_CARD + ",reenumerate=fail"], reloads=1)

UPDATES = [
    # A rack with a VJX PCI S, a VJX PCIe K (a PCIe card whose bridge is
    # reachable only through its configuration space), an unprogrammed card
    # and a 5V card: the PCIe K card updated from its file, on the parts'
    # typical times.
    dict(what="rack", rack="rack", cards=["80", "84", "blank-9056", "88"], file="VJX PCIe K.tcf", module=84,
         items=RACK_ITEMS, listing=RACK_LISTING, timing="typical", refusals=RACK_REFUSALS, select="3: VJX PCIe K",
         boxes=[(K_SUCCESS, ID_OK, "success")], log=K_UPDATE_LOG % (3, "", 3), holds=2),
    # A card in slow FPGA programming mode says so when it is detected.
    dict(what="slow", rack="rack-slow", cards=["84,slow"], file="VJX PCIe K.tcf", module=84,
         items=["VJX PCIe K", "sel=0"], listing="VJX Flash Version 5.45\r\n\r\n" + (K_LISTING % 1).replace(
             "\r\n", "\r\n" + SLOW, 1), timing="typical", boxes=[(K_SUCCESS, ID_OK, "success")],
         log=K_UPDATE_LOG % (1, SLOW, 1), holds=1),
    # A file whose FPGA image differs: firmware first, then the flash; "T"
    # only after the success box (the FPGA reloads its new image, the card
    # drops off the bus), and the re-enumeration gives it its resources again
    # while the program still runs. The firmware fits the new FPGA: no
    # version box. The session may end before and after, not during it.
    dict(CORE, what="update", rack="rack-core", cards=[OLD_CORE_CARD], before=(5, 5), session_end=True,
         during=STORED, boxes=[CORE_DONE], log=CORE_UPDATE_LOG % (CORE_FILE, CORE_WRITE), after=BACK, reloads=1),
    # The same file again on the card as the update left it: listed with the
    # new firmware; the flash only compared, so no "T", no re-enumeration.
    dict(CORE, what="again", rack="rack-core", cards=None, listing=CORE_LISTING % FIRMWARE_VERSION,
         boxes=[CORE_DONE], log=CORE_UPDATE_LOG % (CORE_FILE, ""), after=BACK, reloads=0),
    # The file's firmware expects FPGA version 6, its image is version 7: the
    # version box follows the success box, once the card runs the new FPGA.
    dict(CORE, what="isp-mismatch", rack="rack-isp", cards=[OLD_CORE_CARD], file="VJX PCIe M v2 isp6.tcf", isp=6,
         boxes=[CORE_DONE, (ISP_BOX, ID_OK, "isp-compare")],
         log=CORE_UPDATE_LOG % ("VJX PCIe M v2 isp6.tcf", CORE_WRITE) + ISP_BOX + "\r\n", after=BACK),
    # The re-enumeration failing: No ends the update as done, nothing
    # further; the card stays off the bus until the machine restarts.
    dict(REBOOT, what="reboot-no", rack="rack-no", boxes=[CORE_DONE, (QUESTION, ID_NO, "question", YES_NO_CANCEL)],
         log=CORE_UPDATE_LOG % (CORE_FILE, CORE_WRITE) + QUESTION_LOG,
         after=(FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "unassigned")),
    # Yes: every card powered down and up, the program ended; the card comes
    # up with the new FPGA.
    dict(REBOOT, what="reboot-yes", rack="rack-yes", boxes=[CORE_DONE, (QUESTION, ID_YES, "question", YES_NO_CANCEL)],
         log=None, after=BACK),
]


def scenario(row):
    def one(session, failures, args):
        update(session, failures, args, **row)
    one.__name__ = row["what"]
    return one


if __name__ == "__main__":
    sys.exit(run([scenario(row) for row in UPDATES], __doc__))
