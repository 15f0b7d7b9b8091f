#!/usr/bin/env python3
"""VJXFlash on a simulated PCIe-core card (a VJX PCIe M (v2): its PCIe
interface lives in the FPGA, which loads from a serial flash) under Wine, end
to end: the program for simulated cards run with `vjxsim run RACK --timing
instant --trace FILE -- wine EXE`, driven with vjxgui.exe; the card's state
afterwards read with `vjxsim show`, the commands it was sent with the bus
trace.

- An update from a file whose FPGA image differs: the firmware first, then
  the flash, the success box, then "T" (the FPGA reloads its new image and
  drops off the bus) and the re-enumeration that brings the card back. The
  firmware fits the new FPGA: no version box. While the update runs the
  program refuses the end of the session; before and after it allows it.
- A file whose firmware expects another FPGA version than its image: the
  version box after the success box, once the new FPGA runs.
- The re-enumeration failing: the reboot question; No ends the update with
  nothing further, Yes powers the rack down and up and ends the program.
- The same file again: the flash only compared, no "T", no re-enumeration.

    gui_pcie_core_test.py --bin BUILD/windows/bin --out DIR --vjxsim VJXSIM --tcftool TCFTOOL

Screenshots (PNG) of each moment land under --out."""
import json
import os
import re
import shutil
import subprocess
import sys

from guisession import (APP, DIALOG, ID_CANCEL, ID_FILE, ID_FLASH, ID_LIST, ID_NO, ID_OK, ID_YES, dialog_controls,
                        ended, log_text, run, sim, wait_for)

EXE = "VJXFlashSimulatedCards.exe"
MODULE, MODEL = 96, "VJX PCIe M (v2)"
OLD_CARD = "96,fw=0.90,isp=5,fpga=5"
FPGA_VERSION, FIRMWARE_VERSION, ISP = 7, "2.01", 7
FILE_NAME = "VJX PCIe M v2.tcf"

# The card's mailbox window (memory space 2): the byte the host hands the
# application; "T" asks it to reload the FPGA.
RELOAD_WRITE = re.compile(r"^\d+ \d+ card1 w 2 a4 \d+ 54$")


def make_update_file(session, args, folder, isp=ISP, name=FILE_NAME):
    """An update file for the PCIe-core model: FPGA image version 7 and
    firmware 2.01 (ISP 7, or the one given), built by tcftool for the model's
    own module code (which only the Windows program accepts)."""
    os.makedirs(folder, exist_ok=True)
    fpga, firmware = os.path.join(folder, "fpga.bin"), os.path.join(folder, "fw.bin")
    for image in (("fpga", "--version", FPGA_VERSION, "--size", "20000", "-o", fpga),
                  ("firmware", "--version", FIRMWARE_VERSION, "--isp", isp, "--size", "65536", "-o", firmware)):
        result = sim(session, "image", *image)
        if result.returncode != 0:
            raise RuntimeError("vjxsim image: " + result.stderr.decode())
    path = os.path.join(folder, name)
    result = subprocess.run([args.tcftool, "build", "-o", path, "--module", str(MODULE), "--fpga", fpga,
                             "--firmware", firmware], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                            check=False)
    if result.returncode != 0:
        raise RuntimeError("tcftool build: " + result.stderr.decode())
    return path


def new_rack(session, path, card):
    shutil.rmtree(path, ignore_errors=True)
    result = sim(session, "new", path, "--card", card)
    if result.returncode != 0:
        raise RuntimeError("vjxsim new: " + result.stderr.decode())


def card_state(session, rack):
    shown = sim(session, "show", rack, "--json")
    return json.loads(shown.stdout.decode())["cards"][0]


def running(session, rack):
    """What the card runs and holds, and its link: (running FPGA version,
    stored FPGA version, firmware version, link)."""
    card = card_state(session, rack)
    return card["fpga_version"], card["config_image_version"], card.get("firmware_version"), card["pcie_link"]


def reload_writes(trace):
    with open(trace) as f:
        return sum(1 for line in f if RELOAD_WRITE.match(line.strip()))


def escaped(text):
    """A log text as vjxgui prints it: line breaks as \\r and \\n."""
    return text.replace("\r", "\\r").replace("\n", "\\n")


def log_matches(got, expected):
    """The log text as vjxgui prints it against an expected text whose
    <dots> stand for one or more progress dots."""
    return re.fullmatch(r"\.+".join(re.escape(escaped(part)) for part in expected.split("<dots>")), got) is not None


def session_answer(session):
    """The program's answer when a log off asks whether the session may end:
    ["answer=1"] (yes) or ["answer=0"] (wait)."""
    return session.gui("queryend", DIALOG)[1]


def all_enabled(session):
    _, controls, _ = dialog_controls(session)
    return bool(controls) and all(c["enabled"] == "1" for c in controls)


class Run:
    """The program on a rack, from its start to its close."""

    def __init__(self, session, failures, rack, folder, what):
        self.session, self.failures, self.what = session, failures, what
        self.trace = os.path.join(session.out, what + "-trace.txt")
        self.program = session.start_on_rack(rack, EXE, timing="instant", trace=self.trace, cwd=folder)
        code = session.gui("wait", DIALOG, "180000", timeout=240)[0]
        if code != 0:
            print("no dialog; a box says: %r" % (session.gui("box", APP)[1],))
            session.shot(what + "-no-dialog.png")
        failures.equal(code, 0, what + ": the dialog is shown")
        if code != 0:
            raise RuntimeError("no dialog")

    def check(self, ok, text, got=None, expected=None):
        self.failures.check(ok, self.what + ": " + text, got, expected)

    def start_update(self, file_name=FILE_NAME):
        session = self.session
        items = session.gui("items", DIALOG, ID_LIST)[1]
        self.check(items == ITEMS, "the card is listed", items, ITEMS)
        self.check(log_text(session) == escaped(LISTING), "the log after start-up", log_text(session),
                   escaped(LISTING))
        session.gui("settext", DIALOG, ID_FILE, file_name)
        self.log_before = log_text(session)
        session.gui("click", DIALOG, ID_FLASH)

    def box(self, expected_text, button, shot, buttons=('button=1 "OK"',), meanwhile=None):
        """Waits for the next box, checks its text and buttons, takes the
        screenshot, calls meanwhile() and answers it."""
        session = self.session
        code = session.gui("wait", APP, "300000", timeout=360)[0]
        box = session.gui("box", APP)[1] if code == 0 else []
        self.check(box == list(buttons) + ['text="%s"' % escaped(expected_text)], "the box " + repr(expected_text),
                   box)
        if code != 0:
            session.shot(self.what + "-" + shot + "-missing.png", DIALOG)
            raise RuntimeError("no box")
        session.shot(self.what + "-" + shot + ".png", DIALOG, APP)
        if meanwhile:
            meanwhile()
        session.gui("click", APP, button)
        session.gui("gone", APP)

    def added_log(self):
        return log_text(self.session)[len(self.log_before):]

    def finished(self, shot):
        """The dialog usable again with no further box; the screenshot."""
        self.check(bool(wait_for(lambda: all_enabled(self.session), 120)), "every control enabled again")
        self.check(self.session.gui("wait", APP, "3000")[0] != 0, "no further box")
        self.session.shot(self.what + "-" + shot + ".png", DIALOG)

    def close(self):
        self.session.gui("click", DIALOG, ID_CANCEL)
        self.check(ended(self.program, 120), "Close ends the program")


def test_update_and_again(session, failures, args):
    folder = os.path.join(session.out, "files")
    make_update_file(session, args, folder)
    rack = os.path.join(session.out, "rack")
    new_rack(session, rack, OLD_CARD)
    before = card_state(session, rack)
    failures.equal((before["fpga_version"], before["config_image_version"]), (5, 5),
                   "the card runs and holds FPGA version 5 before the update")

    # Firmware first, then the flash; "T" only after the success box. The
    # firmware is compared with the FPGA only once the new one runs.
    run_ = Run(session, failures, rack, folder, "update")
    run_.check(session_answer(session) == ["answer=1"], "before the update the session may end")
    run_.start_update()
    # Until the success box is answered the card keeps running its old FPGA
    # with the new image stored; "T" then reloads it (the card drops off the
    # bus) and the re-enumeration gives it its resources again, while the
    # program still runs. Ending the session now would cut the update short:
    # refused.
    stored = (5, FPGA_VERSION, FIRMWARE_VERSION, "up")

    def meanwhile():
        run_.check(running(session, rack) == stored,
                   "before the success box is answered: the old FPGA runs, the new is stored",
                   running(session, rack), stored)
        run_.check(session_answer(session) == ["answer=0"], "during the update the session may not end")
    run_.box(SUCCESS_BOX, ID_OK, "success", meanwhile=meanwhile)
    run_.finished("updated")
    run_.check(session_answer(session) == ["answer=1"], "after the update the session may end again")
    back = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
    run_.check(running(session, rack) == back, "afterwards the card is back on the bus with the new FPGA",
               running(session, rack), back)
    added = run_.added_log()
    run_.check(log_matches(added, UPDATE_LOG), "the log of the update: firmware first, then the flash", added)
    run_.close()
    run_.check(reload_writes(run_.trace) == 1, "one \"T\" written to the mailbox", reload_writes(run_.trace), 1)
    run_.check(running(session, rack) == back, "vjxsim show after the program: the new FPGA and firmware",
               running(session, rack), back)

    # The card is back on the bus with its resources: the program started
    # again lists it with the new firmware. The same file again: the flash
    # is only compared, so no "T" and no re-enumeration.
    again = Run(session, failures, rack, folder, "again")
    items = session.gui("items", DIALOG, ID_LIST)[1]
    again.check(items == ITEMS, "the card is listed again", items, ITEMS)
    listing = LISTING.replace("0.90", FIRMWARE_VERSION)
    again.check(log_text(session) == escaped(listing), "the card lists with the new firmware", log_text(session),
                escaped(listing))
    session.gui("settext", DIALOG, ID_FILE, FILE_NAME)
    again.log_before = log_text(session)
    session.gui("click", DIALOG, ID_FLASH)
    again.box(SUCCESS_BOX, ID_OK, "success")
    again.finished("done")
    added = again.added_log()
    again.check(log_matches(added, SAME_LOG), "the log: the flash compared only", added)
    again.close()
    again.check(reload_writes(again.trace) == 0, "no \"T\"", reload_writes(again.trace), 0)
    again.check(running(session, rack) == back, "vjxsim show: the card unchanged", running(session, rack), back)


def test_reenumeration_fails(session, failures, args):
    folder = os.path.join(session.out, "files")
    make_update_file(session, args, folder)

    # No: the update ends as done, nothing further; the card stays off the
    # bus until the machine restarts.
    rack = os.path.join(session.out, "rack-no")
    new_rack(session, rack, OLD_CARD + ",reenumerate=fail")
    no = Run(session, failures, rack, folder, "reboot-no")
    no.start_update()
    no.box(SUCCESS_BOX, ID_OK, "success")
    no.box(QUESTION, ID_NO, "question", ('button=6 "&Yes"', 'button=7 "&No"', 'button=2 "Cancel"'))
    no.finished("answered-no")
    unassigned = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "unassigned")
    no.check(running(session, rack) == unassigned, "the card reloaded but left without its resources",
             running(session, rack), unassigned)
    added = no.added_log()
    no.check(log_matches(added, UPDATE_LOG + QUESTION_LOG), "the log ends with the question", added)
    no.close()
    no.check(reload_writes(no.trace) == 1, "one \"T\"", reload_writes(no.trace), 1)

    # Yes: the machine restarts: every card powered down and up, the program
    # ended; the card comes up with the new FPGA.
    rack = os.path.join(session.out, "rack-yes")
    new_rack(session, rack, OLD_CARD + ",reenumerate=fail")
    yes = Run(session, failures, rack, folder, "reboot-yes")
    yes.start_update()
    yes.box(SUCCESS_BOX, ID_OK, "success")
    yes.box(QUESTION, ID_YES, "question", ('button=6 "&Yes"', 'button=7 "&No"', 'button=2 "Cancel"'))
    yes.check(ended(yes.program, 120), "the program ends")
    yes.check(yes.program.returncode == 0, "vjxsim run passes the program's status 0 on", yes.program.returncode, 0)
    session.gui("gone", DIALOG)
    session.shot("reboot-yes-ended.png")
    back = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
    yes.check(running(session, rack) == back, "vjxsim show: powered up again, the card runs the new FPGA",
              running(session, rack), back)


def test_firmware_for_another_fpga(session, failures, args):
    """The file's firmware expects FPGA version 6, its image is version 7:
    the update completes, and the version box follows the success box, once
    the card runs the new FPGA."""
    folder = os.path.join(session.out, "files")
    name = "VJX PCIe M v2 isp6.tcf"
    make_update_file(session, args, folder, isp=6, name=name)
    rack = os.path.join(session.out, "rack-isp")
    new_rack(session, rack, OLD_CARD)
    run_ = Run(session, failures, rack, folder, "isp-mismatch")
    run_.start_update(name)
    run_.box(SUCCESS_BOX, ID_OK, "success")
    run_.box(ISP_BOX, ID_OK, "isp-compare")
    run_.finished("done")
    back = (FPGA_VERSION, FPGA_VERSION, FIRMWARE_VERSION, "up")
    run_.check(running(session, rack) == back, "the card runs the new FPGA and firmware", running(session, rack), back)
    added = run_.added_log()
    expected = UPDATE_LOG.replace(FILE_NAME, name) + ISP_BOX + "\r\n"
    run_.check(log_matches(added, expected), "the log ends with the version box", added)
    run_.close()


# A lone card is listed without a number.
ITEMS = [MODEL, "sel=0"]
LISTING = ("VJX Flash Version 5.45\r\n\r\n"
           "Detecting card 1...\r\nDetected: VJX PCIe M (v2) card\r\nFirmware version: 0.90\r\n")
ISP_BOX = "Compare of ISP version number failed (0x06 != 0x07). "
KEEP_POWERED = ("Do not switch the computer off until the update has ended: without a valid FPGA image the card "
                "cannot come back on the bus.")
SUCCESS_BOX = "Programming VJX PCIe M (v2) card was successful.\n\nFirmware version: 2.01\n"
QUESTION = ("The card's PCIe core was changed and reset.\nA reboot is needed to make the card working again.\n\n"
            "Do the reboot now?")
# The progress dots are left open where their number follows the parts'
# busy times on the real clock.
UPDATE_LOG = ("\r\nDetecting card 1...\r\nProgramming card 1 with file \"%s\"<dots>\r\n"
              "Programming flash ROM<dots>\r\n"
              "Comparing FPGA...\r\n" + KEEP_POWERED + "\r\nErasing FPGA....\r\nProgramming FPGA....\r\n"
              "Programming VJX PCIe M (v2) card was successful.\r\nFirmware version: 2.01\r\n") % FILE_NAME
SAME_LOG = ("\r\nDetecting card 1...\r\nProgramming card 1 with file \"%s\"<dots>\r\n"
            "Programming flash ROM<dots>\r\nComparing FPGA...\r\n"
            "Programming VJX PCIe M (v2) card was successful.\r\nFirmware version: 2.01\r\n") % FILE_NAME
# The box's text in the log, its blank line left out as for every box.
QUESTION_LOG = QUESTION.replace("\n\n", "\n").replace("\n", "\r\n") + "\r\n"


def main():
    return run([test_update_and_again, test_firmware_for_another_fpga, test_reenumeration_fails], __doc__)


if __name__ == "__main__":
    sys.exit(main())
