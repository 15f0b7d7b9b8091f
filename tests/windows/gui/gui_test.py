#!/usr/bin/env python3
"""GUI tests of VJXFlash.exe under Wine, without cards: the program's
resources (read from the file), the program without a driver, and the dialog
over scripted cards (VJXFlashScriptedCards.exe) for the layout, the about
box, the file chooser's filters and the flash command's checks.

    gui_test.py --bin BUILD/windows/bin --out BUILD/tests/windows/gui --expected DIR

Screenshots (PNG) land under --out."""
import csv
import difflib
import os
import shutil
import subprocess
import sys

from guisession import (ABOUT, APP, CHOOSER, DIALOG, ID_BROWSE, ID_CANCEL, ID_CHOOSER_NAME, ID_FILE, ID_FLASH,
                        ID_LIST, ID_LOG, ID_OK, ID_VERSION, SC_ABOUT, box_lines, ended, run, wait_for)


def resources_lines(exe):
    """The resources as the program file stores them, as the toolchain's
    resource compiler reads them back; the icon's images (pixels) left out,
    their count and sizes are in the group icon."""
    rc = subprocess.run(["x86_64-w64-mingw32-windres", "-i", exe, "-O", "rc"], stdout=subprocess.PIPE,
                        universal_newlines=True, timeout=120, check=True).stdout.splitlines()
    lines, image = [], False
    for line in rc:
        if line.endswith("/* RT_ICON */"):
            image = True
        elif image:
            image = line != "END"
            continue
        lines.append(line)
    return lines


def template(lines, dialog):
    """The controls of a dialog template among the resources: dicts of id,
    kind (its keyword or class), style, x, y, w, h and text."""
    begin = lines.index("BEGIN", next(i for i, line in enumerate(lines) if line.startswith(dialog + " DIALOGEX")))
    controls = []
    for line in lines[begin + 1:lines.index("END", begin)]:
        keyword, rest = line.split(None, 1)
        fields = next(csv.reader([rest], skipinitialspace=True))
        if keyword == "CONTROL":
            text, number, kind, style, x, y, w, h = fields
        else:  # KEYWORD ["text",] id, x, y, w, h, style
            kind, text, (number, x, y, w, h, style) = keyword, "".join(fields[:-6]), fields[-6:]
        controls.append(dict(id=number, kind=kind, style=style, x=x, y=y, w=w, h=h, text=text))
    return controls


def test_resources(session, failures, args):
    """Dialogs 102 and 100, string 101, icon 128, the manifest and the version."""
    lines = resources_lines(os.path.join(session.bin, "VJXFlash.exe"))
    with open(os.path.join(args.expected, "resources.txt")) as f:
        diff = list(difflib.unified_diff(f.read().splitlines(), lines, "expected", "stored", lineterm="", n=0))
    failures.check(not diff, "resources: dialogs, string, icon, manifest, version", "\n".join(diff))
    args.template = template(lines, "102")


def test_no_driver(session, failures, _):
    program = session.start("VJXFlash.exe")
    code, box = session.gui("box", APP)
    failures.equal(code, 0, "no driver: a message box appears")
    failures.equal(box, box_lines("No VJX cards found!\n\nFailed opening device driver"),
                   "no driver: the failure box's text and its one button")
    session.shot("nodriver.png", APP)
    failures.check(session.gui("wait", DIALOG, "0")[0] != 0, "no driver: the dialog is never shown")
    session.answer(APP, ID_OK)
    failures.check(ended(program), "no driver: the program ends after the box")


def scripted(session, *cards):
    """The dialog over scripted cards (module codes), started in a folder of
    update files whose 256-byte header names the module code (the scripted
    cards read no more) and a file of another kind."""
    folder = os.path.join(session.out, "files")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, code in (("VJX PCIe K 9.14.tcf", 0x54), ("VJX PCIe K (v2) 1.0.tcf", 0x61), ("PCI Q 2.tcf", 0x5C)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"VJX Flash Update File\x1a".ljust(24, b"\x00") + bytes([code]) + bytes(231))
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not an update file\n")
    return session.start("VJXFlashScriptedCards.exe", *cards, cwd=folder)


def test_dialog(session, failures, args):
    program = scripted(session, "84")
    controls = session.controls()[0]
    failures.check(bool(controls), "dialog: shown with one scripted VJX PCIe K card")
    failures.equal([c["id"] for c in controls], [t["id"] for t in args.template],
                   "dialog: every control of template 102, in template order")
    for live, stored in zip(controls, args.template):
        what = "dialog: control %s (%s)" % (live["id"], stored["text"] or stored["kind"])
        keys = ["x", "y", "w"] + ([] if live["class"] == "ComboBox" else ["h"])
        failures.equal([live[k] for k in keys], [stored[k] for k in keys], what + " at its place in dialog units")
        hidden = (int(stored["style"], 16) & 0x10000000) == 0
        failures.equal(live["visible"], "0" if hidden else "1", what + (" hidden" if hidden else " shown"))
        failures.equal(live["enabled"], "1", what + " enabled")
    failures.equal(next((c["text"] for c in controls if c["id"] == str(ID_LOG)), None),
                   "VJX Flash Version 5.45\\r\\n\\r\\nDetecting card 1...\\r\\nDetected: VJX PCIe K card"
                   "\\r\\nFirmware version: 9.14\\r\\n", "dialog: the log after start-up, \\r\\n line breaks")
    failures.equal(session.gui("items", DIALOG, ID_LIST)[1], ["VJX PCIe K", "sel=0"],
                   "dialog: the card list holds the bare model name, selected")
    session.shot("dialog.png", DIALOG)

    # About box from the system menu.
    session.gui("syscommand", DIALOG, SC_ABOUT)
    failures.equal(session.gui("wait", ABOUT)[0], 0, "about: the system-menu entry opens the about box")
    failures.equal(session.gui("text", ABOUT, ID_VERSION)[1], ["VJX Flash Version 5.45"],
                   "about: shows the program's version")
    session.shot("about.png", DIALOG, ABOUT)
    failures.equal(session.answer(ABOUT, ID_OK), 0, "about: OK closes it")

    # File chooser for the single "VJX PCIe K" entry: that model's files only.
    chooser(session, failures, "VJX PCIe K", "VJX PCIe K", ["VJX PCIe K (v2) 1.0.tcf", "VJX PCIe K 9.14.tcf"],
            "chooser.png")
    session.gui("settext", CHOOSER, ID_CHOOSER_NAME, "VJX PCIe K 9.14.tcf")
    failures.equal(session.answer(CHOOSER, ID_OK), 0, "chooser: Open closes it")
    chosen = session.gui("text", DIALOG, ID_FILE)[1]
    failures.check(len(chosen) == 1 and chosen[0].endswith("\\\\VJX PCIe K 9.14.tcf") and ":" in chosen[0],
                   "chooser: the chosen file's full path is in the file-name field", chosen)

    # "Flash!" with a file made for another model: the incompatible-file box.
    session.gui("settext", DIALOG, ID_FILE, "PCI Q 2.tcf")
    session.gui("click", DIALOG, ID_FLASH)
    failures.equal(session.gui("box", APP)[1], box_lines('Incompatible flash update file!\n\nCard is a "VJX PCIe K", '
                                                         'but\nPCI Q 2.tcf\nis designed for a "PCI Q" card.'),
                   "flash: a file for another model gives the incompatible-file box")
    failures.equal(session.answer(APP, ID_OK), 0, "flash: the box is answered")

    # "Flash!" with the card's own file runs the update and enables the dialog again.
    session.gui("settext", DIALOG, ID_FILE, "VJX PCIe K 9.14.tcf")
    session.gui("click", DIALOG, ID_FLASH)
    wait_for(lambda: session.log().endswith("...\\r\\n"))
    log = session.log()
    failures.check(log.endswith('Programming card 1 with file "VJX PCIe K 9.14.tcf"...\\r\\n'),
                   "flash: the programming line and the closing line break", log[-80:])
    failures.check(session.all_enabled(), "flash: every control enabled again afterwards")
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


def test_filters(session, failures, args):
    program = scripted(session, *(["80"] * 11 + ["92"]))
    failures.equal(session.gui("wait", DIALOG)[0], 0, "twelve cards: dialog shown")
    items = session.gui("items", DIALOG, ID_LIST)[1]
    failures.equal(items[-2:], ["12: PCI Q", "sel=0"], "twelve cards: entries numbered, the twelfth PCI Q")
    session.gui("select", DIALOG, ID_LIST, 11)
    chooser(session, failures, "12: PCI Q", "PCI Q", ["PCI Q 2.tcf"], "chooser-12.png")
    session.answer(CHOOSER, ID_CANCEL)

    # An empty list: only the update-file and all-files filters; a cancelled
    # chooser leaves the file-name field as it was.
    session.gui("settext", DIALOG, ID_FILE, "kept.tcf")
    session.gui("clear", DIALOG, ID_LIST)
    chooser(session, failures, "empty list", None, ["PCI Q 2.tcf", "VJX PCIe K (v2) 1.0.tcf", "VJX PCIe K 9.14.tcf"],
            "chooser-empty.png")
    session.answer(CHOOSER, ID_CANCEL)
    failures.equal(session.gui("text", DIALOG, ID_FILE)[1], ["kept.tcf"], "chooser cancelled: the field keeps its text")
    session.gui("click", DIALOG, ID_CANCEL)
    failures.check(ended(program), "twelve cards: Close ends the program")


if __name__ == "__main__":
    sys.exit(run([test_resources, test_no_driver, test_dialog, test_filters], __doc__))
