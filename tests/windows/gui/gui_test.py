#!/usr/bin/env python3
"""GUI tests of VJXFlash.exe under Wine, without cards: the program's
resources (read from the file), the program without a driver, and the dialog over scripted cards
(VJXFlashScriptedCards.exe) for the layout, the about box, the file chooser's
filters and the flash command's checks.

    gui_test.py --bin BUILD/windows/bin --out BUILD/tests/windows/gui --expected DIR

Screenshots (PNG) land under --out."""
import os
import shutil
import sys
import tempfile
import time

from guisession import (ABOUT, APP, CHOOSER, DIALOG, ID_BROWSE, ID_CANCEL, ID_CHOOSER_NAME, ID_FILE, ID_FLASH,
                        ID_LIST, ID_LOG, ID_OK, ID_VERSION, SC_ABOUT, dialog_controls, ended, parse_fields, run)
from resources import resources_lines


def test_resources(session, failures, expected_dir):
    """The resources as VJXFlash.exe stores them, read from the file."""
    lines = resources_lines(os.path.join(session.bin, "VJXFlash.exe"))
    with open(os.path.join(expected_dir, "resources.txt")) as f:
        expected = f.read().splitlines()
    failures.equal(lines, expected, "resources: dialogs 102 and 100, string 101, icon 128, manifest, version")
    return [parse_fields(l.strip()[5:]) for l in lines if l.strip().startswith("item ")]


def test_no_driver(session, failures):
    program = session.start("VJXFlash.exe")
    code, box = session.gui("box", APP)
    failures.equal(code, 0, "no driver: a message box appears")
    failures.equal(box, ['button=1 "OK"', 'text="No VJX cards found!\\n\\nFailed opening device driver"'],
                   "no driver: the failure box's text and its one button")
    session.shot("nodriver.png", APP)
    code, _ = session.gui("wait", DIALOG, "0")
    failures.check(code != 0, "no driver: the dialog is never shown")
    session.gui("click", APP, ID_OK)
    failures.check(ended(program), "no driver: the program ends after the box")


def test_dialog(session, failures, template, files_dir):
    program = session.start("VJXFlashScriptedCards.exe", "84", cwd=files_dir)
    code, controls, raw = dialog_controls(session)
    failures.equal(code, 0, "dialog: shown with one scripted VJX PCIe K card")
    failures.equal([c["id"] for c in controls], [t["id"] for t in template],
                   "dialog: every control of template 102, in template order")
    for live, stored in zip(controls, template):
        what = "dialog: control %s (%s)" % (live["id"], stored["text"] or stored["class"])
        keys = ["x", "y", "w"] + ([] if live["class"] == "ComboBox" else ["h"])
        failures.equal([live[k] for k in keys], [stored[k] for k in keys], what + " at its place in dialog units")
        hidden = (int(stored["style"], 16) & 0x10000000) == 0
        failures.equal(live["visible"], "0" if hidden else "1", what + (" hidden" if hidden else " shown"))
        failures.equal(live["enabled"], "1", what + " enabled")
    log = next((c["text"] for c in controls if c["id"] == str(ID_LOG)), None)
    failures.equal(log, "VJX Flash Version 5.45\\r\\n\\r\\nDetecting card 1...\\r\\nDetected: VJX PCIe K card"
                   "\\r\\nFirmware version: 9.14\\r\\n", "dialog: the log after start-up, \\r\\n line breaks")
    failures.equal(session.gui("items", DIALOG, ID_LIST)[1], ["VJX PCIe K", "sel=0"],
                   "dialog: the card list holds the bare model name, selected")
    session.shot("dialog.png", DIALOG)

    # About box from the system menu.
    session.gui("syscommand", DIALOG, SC_ABOUT)
    code, _ = session.gui("wait", ABOUT)
    failures.equal(code, 0, "about: the system-menu entry opens the about box")
    failures.equal(session.gui("text", ABOUT, ID_VERSION)[1], ["VJX Flash Version 5.45"],
                   "about: shows the program's version")
    session.shot("about.png", DIALOG, ABOUT)
    session.gui("click", ABOUT, ID_OK)
    failures.equal(session.gui("gone", ABOUT)[0], 0, "about: OK closes it")

    # File chooser for the single "VJX PCIe K" entry: that model's files only.
    chooser(session, failures, "VJX PCIe K", "VJX PCIe K", ["VJX PCIe K (v2) 1.0.tcf", "VJX PCIe K 9.14.tcf"],
            "chooser.png")
    session.gui("settext", CHOOSER, ID_CHOOSER_NAME, "VJX PCIe K 9.14.tcf")
    session.gui("click", CHOOSER, ID_OK)
    failures.equal(session.gui("gone", CHOOSER)[0], 0, "chooser: Open closes it")
    chosen = session.gui("text", DIALOG, ID_FILE)[1]
    failures.check(len(chosen) == 1 and chosen[0].endswith("\\\\VJX PCIe K 9.14.tcf") and ":" in chosen[0],
                   "chooser: the chosen file's full path is in the file-name field", chosen)

    # "Flash!" with a file made for another model: the incompatible-file box.
    session.gui("settext", DIALOG, ID_FILE, "PCI Q 2.tcf")
    session.gui("click", DIALOG, ID_FLASH)
    code, box = session.gui("box", APP)
    failures.equal(box, ['button=1 "OK"', 'text="Incompatible flash update file!\\n\\nCard is a "VJX PCIe K", '
                         'but\\nPCI Q 2.tcf\\nis designed for a "PCI Q" card."'],
                   "flash: a file for another model gives the incompatible-file box")
    session.gui("click", APP, ID_OK)
    failures.equal(session.gui("gone", APP)[0], 0, "flash: the box is answered")

    # "Flash!" with the card's own file runs the update and enables the dialog again.
    session.gui("settext", DIALOG, ID_FILE, "VJX PCIe K 9.14.tcf")
    session.gui("click", DIALOG, ID_FLASH)
    deadline = time.monotonic() + 60
    log = ""
    while time.monotonic() < deadline and not log.endswith("...\\r\\n"):
        log = (session.gui("text", DIALOG, ID_LOG)[1] or [""])[0]
    failures.check(log.endswith('Programming card 1 with file "VJX PCIe K 9.14.tcf"...\\r\\n'),
                   "flash: the programming line and the closing line break", log[-80:])
    _, after, _ = dialog_controls(session)
    failures.check(all(c["enabled"] == "1" for c in after), "flash: every control enabled again afterwards")

    session.gui("click", DIALOG, ID_CANCEL)
    failures.check(ended(program), "dialog: Close ends the program")


def chooser(session, failures, entry, model, files, shot):
    """Browse: the chooser's filters (the selected model's first, then update
    files, then all files), the files its first filter shows, the screenshot."""
    what = "chooser (%s)" % entry
    session.gui("click", DIALOG, ID_BROWSE)
    failures.equal(session.gui("wait", CHOOSER)[0], 0, what + ": Browse opens it")
    failures.equal(session.gui("filetypes", CHOOSER)[1],
                   ([model + " - Flash Update Files"] if model else []) + ["Flash Update Files (*.tcf)",
                                                                           "All Files (*.*)", "sel=0"],
                   what + ": the filters")
    failures.equal(sorted(session.gui("files", CHOOSER)[1]), files, what + ": the files the first filter shows")
    session.shot(shot, DIALOG, CHOOSER)


def test_filters(session, failures, files_dir):
    program = session.start("VJXFlashScriptedCards.exe", *(["80"] * 11 + ["92"]), cwd=files_dir)
    failures.equal(session.gui("wait", DIALOG)[0], 0, "twelve cards: dialog shown")
    items = session.gui("items", DIALOG, ID_LIST)[1]
    failures.equal(items[-2:], ["12: PCI Q", "sel=0"], "twelve cards: entries numbered, the twelfth PCI Q")
    session.gui("select", DIALOG, ID_LIST, 11)
    chooser(session, failures, "12: PCI Q", "PCI Q", ["PCI Q 2.tcf"], "chooser-12.png")
    session.gui("click", CHOOSER, ID_CANCEL)
    session.gui("gone", CHOOSER)

    # An empty list: only the update-file and all-files filters; a cancelled
    # chooser leaves the file-name field as it was.
    session.gui("settext", DIALOG, ID_FILE, "kept.tcf")
    session.gui("clear", DIALOG, ID_LIST)
    chooser(session, failures, "empty list", None, ["PCI Q 2.tcf", "VJX PCIe K (v2) 1.0.tcf", "VJX PCIe K 9.14.tcf"],
            "chooser-empty.png")
    session.gui("click", CHOOSER, ID_CANCEL)
    session.gui("gone", CHOOSER)
    failures.equal(session.gui("text", DIALOG, ID_FILE)[1], ["kept.tcf"], "chooser cancelled: the field keeps its text")
    session.gui("click", DIALOG, ID_CANCEL)
    failures.check(ended(program), "twelve cards: Close ends the program")


def update_file(module_code):
    """A 256-byte header naming the module code (the scripted cards read no more)."""
    header = bytearray(b"VJX Flash Update File\x1a\x00".ljust(256, b"\x00"))
    header[24] = module_code
    return bytes(header)


def main():
    files_dir = tempfile.mkdtemp(prefix="vjxgui-files-")
    try:
        for name, code in (("VJX PCIe K 9.14.tcf", 0x54), ("VJX PCIe K (v2) 1.0.tcf", 0x61), ("PCI Q 2.tcf", 0x5C)):
            with open(os.path.join(files_dir, name), "wb") as f:
                f.write(update_file(code))
        with open(os.path.join(files_dir, "notes.txt"), "w") as f:
            f.write("not an update file\n")
        template = []

        def resources(session, failures, args):
            template.extend(test_resources(session, failures, args.expected))

        return run([resources,
                    lambda session, failures, _: test_no_driver(session, failures),
                    lambda session, failures, _: test_dialog(session, failures, template[:15], files_dir),
                    lambda session, failures, _: test_filters(session, failures, files_dir)], __doc__)
    finally:
        shutil.rmtree(files_dir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
