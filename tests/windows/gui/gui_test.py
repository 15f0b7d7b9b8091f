#!/usr/bin/env python3
"""GUI tests of VJXFlash.exe under Wine on a virtual X display of their own.

    gui_test.py --bin BUILD/windows/bin --out BUILD/tests/windows/gui --expected DIR

Starts Xvfb on a free display and a fresh Wine prefix under --out, runs the
program (and the dialog over scripted cards, for a card list without a kernel
driver), drives and reads it with vjxgui.exe, and writes screenshots (PNG) of
the dialog, the about box and the file chooser under --out. Every wait is on a
condition with a generous limit; Wine and the display are stopped on every
way out. Exit status 0 when every check held."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DIALOG = "ORVEN VJX Flash"
APP = "VJXFlash"          # the message boxes' caption
ABOUT = "About VJX Flash"
CHOOSER = "Open"
WAIT_MS = "30000"

ID_OK, ID_CANCEL = 1, 2
ID_LOG, ID_FILE, ID_BROWSE, ID_FLASH, ID_LIST = 1000, 1001, 1002, 1003, 1004
ID_VERSION = 1009
ID_CHOOSER_NAME = 0x47C   # cmb13, the chooser's file-name field
SC_ABOUT = "0x10"


class Failures:
    def __init__(self):
        self.items = []

    def check(self, ok, what, got=None, expected=None):
        if ok:
            print("ok   " + what)
            return
        text = "FAIL " + what
        if expected is not None or got is not None:
            text += "\n       expected: %r\n       got:      %r" % (expected, got)
        print(text)
        self.items.append(what)

    def equal(self, got, expected, what):
        self.check(got == expected, what, got, expected)


class Session:
    """The display, the Wine prefix and the programs started on them."""

    def __init__(self, bin_dir, out_dir):
        self.bin = os.path.abspath(bin_dir)
        self.out = os.path.abspath(out_dir)
        self.xvfb = None
        self.programs = []
        self.env = dict(os.environ)

    def __enter__(self):
        os.makedirs(self.out, exist_ok=True)
        self.start_display()
        prefix = os.path.join(self.out, "wineprefix")
        shutil.rmtree(prefix, ignore_errors=True)
        self.env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEARCH="win64")
        self.run(["wineboot", "-i"], timeout=300)
        self.run(["wineserver", "-w"], timeout=300)
        # One virtual desktop: windows get Wine's own frames and captions.
        for key, name, value in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                                 ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "800x600")):
            self.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], timeout=120)
        self.run(["wineserver", "-w"], timeout=120)
        return self

    def __exit__(self, *exc):
        for program in self.programs:
            if program.poll() is None:
                program.kill()
        if "WINEPREFIX" in self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60, check=False)
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        return False

    def start_display(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 60
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def run(self, argv, timeout=120, cwd=None):
        return subprocess.run(argv, env=self.env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=timeout, check=False, universal_newlines=True)

    def start(self, exe, *args, cwd=None):
        program = subprocess.Popen(["wine", os.path.join(self.bin, exe)] + list(args), env=self.env,
                                   cwd=cwd or self.out, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.programs.append(program)
        return program

    def gui(self, *args):
        """One vjxgui action: (exit status, output lines)."""
        result = self.run(["wine", os.path.join(self.bin, "vjxgui.exe")] + [str(a) for a in args],
                          timeout=120, cwd=self.bin)
        return result.returncode, result.stdout.splitlines()

    def shot(self, name, *titles):
        """A PNG of the whole display once the windows named are painted."""
        for title in titles:
            self.gui("paint", title)
        path = os.path.join(self.out, name)
        # The screen as shown, read from the root window in one piece. Not
        # "xwd -root": it gives the dialogs Wine shows over another of its
        # windows (the about box, boxes over the dialog) as black rectangles,
        # though the display and a read of those windows show them painted.
        # Wine puts painted windows on the display a moment later: grab until
        # two grabs in a row agree (PPM has no time stamp to differ in).
        previous = None
        deadline = time.monotonic() + 30
        while True:
            grab = subprocess.run(["import", "-silent", "-window", "root", "ppm:-"], env=self.env,
                                  stdout=subprocess.PIPE, timeout=60, check=True).stdout
            if grab == previous or time.monotonic() > deadline:
                break
            previous = grab
            time.sleep(0.2)  # between two grabs, not a wait for anything
        subprocess.run(["convert", "ppm:-", "png:" + path], input=grab, timeout=60, check=True)
        return path


def ended(program, seconds=60):
    try:
        program.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def parse_fields(line):
    """'id=1 class=Button x=7 ... text="..."' into a dict."""
    fields = {}
    head, _, text = line.partition(' text="')
    for part in head.split():
        if "=" in part:
            key, value = part.split("=", 1)
            fields[key] = value
    fields["text"] = text[:-1] if text.endswith('"') else text
    return fields


def test_resources(session, failures, expected_dir):
    code, lines = session.gui("resources", "VJXFlash.exe")
    with open(os.path.join(expected_dir, "resources.txt")) as f:
        expected = f.read().splitlines()
    failures.equal(code, 0, "resources: read from VJXFlash.exe")
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


def dialog_controls(session):
    code, lines = session.gui("controls", DIALOG)
    return code, [parse_fields(l) for l in lines if l.startswith("id=")], lines


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

    # File chooser for the single "VJX PCIe K" entry.
    session.gui("click", DIALOG, ID_BROWSE)
    failures.equal(session.gui("wait", CHOOSER)[0], 0, "chooser: Browse opens it")
    failures.equal(session.gui("filetypes", CHOOSER)[1],
                   ["VJX PCIe K - Flash Update Files", "Flash Update Files (*.tcf)", "All Files (*.*)", "sel=0"],
                   "chooser (VJX PCIe K): the model's filter first, then update files, then all files")
    failures.equal(sorted(session.gui("files", CHOOSER)[1]), ["VJX PCIe K (v2) 1.0.tcf", "VJX PCIe K 9.14.tcf"],
                   "chooser (VJX PCIe K): the model's filter shows that model's update files only")
    session.shot("chooser.png", DIALOG, CHOOSER)
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


def test_filters(session, failures, files_dir):
    program = session.start("VJXFlashScriptedCards.exe", *(["80"] * 11 + ["92"]), cwd=files_dir)
    failures.equal(session.gui("wait", DIALOG)[0], 0, "twelve cards: dialog shown")
    items = session.gui("items", DIALOG, ID_LIST)[1]
    failures.equal(items[-2:], ["12: PCI Q", "sel=0"], "twelve cards: entries numbered, the twelfth PCI Q")
    session.gui("select", DIALOG, ID_LIST, 11)
    session.gui("click", DIALOG, ID_BROWSE)
    session.gui("wait", CHOOSER)
    failures.equal(session.gui("filetypes", CHOOSER)[1],
                   ["PCI Q - Flash Update Files", "Flash Update Files (*.tcf)", "All Files (*.*)", "sel=0"],
                   "chooser (12: PCI Q): the model's filter first")
    failures.equal(session.gui("files", CHOOSER)[1], ["PCI Q 2.tcf"],
                   "chooser (12: PCI Q): the model's filter shows its update file only")
    session.shot("chooser-12.png", DIALOG, CHOOSER)
    session.gui("click", CHOOSER, ID_CANCEL)
    session.gui("gone", CHOOSER)

    # An empty list: only the update-file and all-files filters; a cancelled
    # chooser leaves the file-name field as it was.
    session.gui("settext", DIALOG, ID_FILE, "kept.tcf")
    session.gui("clear", DIALOG, ID_LIST)
    session.gui("click", DIALOG, ID_BROWSE)
    session.gui("wait", CHOOSER)
    failures.equal(session.gui("filetypes", CHOOSER)[1], ["Flash Update Files (*.tcf)", "All Files (*.*)", "sel=0"],
                   "chooser (empty list): update files and all files only")
    failures.equal(sorted(session.gui("files", CHOOSER)[1]),
                   ["PCI Q 2.tcf", "VJX PCIe K (v2) 1.0.tcf", "VJX PCIe K 9.14.tcf"],
                   "chooser (empty list): every update file")
    session.shot("chooser-empty.png", DIALOG, CHOOSER)
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
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--expected", required=True)
    args = parser.parse_args()

    failures = Failures()
    files_dir = tempfile.mkdtemp(prefix="vjxgui-files-")
    try:
        for name, code in (("VJX PCIe K 9.14.tcf", 0x54), ("VJX PCIe K (v2) 1.0.tcf", 0x61), ("PCI Q 2.tcf", 0x5C)):
            with open(os.path.join(files_dir, name), "wb") as f:
                f.write(update_file(code))
        with open(os.path.join(files_dir, "notes.txt"), "w") as f:
            f.write("not an update file\n")
        with Session(args.bin, args.out) as session:
            signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
            template = test_resources(session, failures, args.expected)
            test_no_driver(session, failures)
            test_dialog(session, failures, template[:15], files_dir)
            test_filters(session, failures, files_dir)
    finally:
        shutil.rmtree(files_dir, ignore_errors=True)
    print("screenshots in " + os.path.abspath(args.out))
    print("%d failed" % len(failures.items))
    return 1 if failures.items else 0


if __name__ == "__main__":
    sys.exit(main())
