"""The GUI tests' shared part: a virtual X display and a Wine prefix of their
own, the programs started on them (also on a simulated rack, through
`vjxsim run`), the test driver vjxgui.exe, screenshots and the check list.

A scenario file imports this module, writes functions taking (session,
failures, args) and hands them to run(); see gui_test.py and
gui_sim_test.py. For simulated cards: racks and update files made with
vjxsim and tcftool, what the cards hold read with `vjxsim show`, and Run,
the program on a rack from its start to its close. Every wait is on a condition with a limit; Wine and the
display are stopped on every way out."""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback

DIALOG = "ORVEN VJX Flash"
APP = "VJXFlash"          # the message boxes' caption
ABOUT = "About VJX Flash"
CHOOSER = "Open"
WAIT_MS = "30000"

ID_OK, ID_CANCEL, ID_YES, ID_NO = 1, 2, 6, 7
ID_LOG, ID_FILE, ID_BROWSE, ID_FLASH, ID_LIST = 1000, 1001, 1002, 1003, 1004
ID_VERSION = 1009
ID_CHOOSER_NAME = 0x47C   # cmb13, the chooser's file-name field
SC_ABOUT = "0x10"
# Fonts of Wine itself the prefix is given (file, registry name), and where
# the Debian package fonts-wine puts them.
WINE_FONTS = (("marlett.ttf", "Marlett (TrueType)"),)
WINE_FONT_DIRS = ("/usr/share/wine/fonts", "/usr/share/fonts/truetype/wine")


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

    def __init__(self, bin_dir, out_dir, vjxsim=None):
        self.bin = os.path.abspath(bin_dir)
        self.out = os.path.abspath(out_dir)
        self.vjxsim = vjxsim
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
        self.install_fonts(prefix)
        # One virtual desktop: windows get Wine's own frames and captions.
        for key, name, value in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                                 ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "800x600")):
            self.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], timeout=120)
        self.run(["wineserver", "-w"], timeout=120)
        return self

    def install_fonts(self, prefix):
        """Wine's own fonts that a new prefix does not find by itself: without
        Marlett the caption buttons are drawn as the letters "0 1 r". Each is
        copied into the prefix's Fonts folder and registered there."""
        folder = os.path.join(prefix, "drive_c", "windows", "Fonts")
        os.makedirs(folder, exist_ok=True)
        for name, entry in WINE_FONTS:
            source = next((os.path.join(d, name) for d in WINE_FONT_DIRS if os.path.isfile(os.path.join(d, name))),
                          None)
            if source is None:
                print("note: %s not found (Debian package fonts-wine); captions drawn without it" % name)
                continue
            shutil.copy(source, folder)
            self.run(["wine", "reg", "add", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", "/v",
                      entry, "/d", name, "/f"], timeout=120)

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

    def start_on_rack(self, rack, exe, *args, timing="typical", trace=None, cwd=None):
        """The program run on a simulated rack: vjxsim run RACK -- wine EXE;
        with trace, the bus trace goes to that file."""
        argv = [self.vjxsim, "run", rack, "--timing", timing] + (["--trace", trace] if trace else [])
        argv += ["--", "wine", os.path.join(self.bin, exe)]
        program = subprocess.Popen(argv + list(args), env=self.env, cwd=cwd or self.out,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.programs.append(program)
        return program

    def gui(self, *args, timeout=120):
        """One vjxgui action: (exit status, output lines). A wait of vjxgui
        longer than the timeout (seconds) needs a longer timeout."""
        result = self.run(["wine", os.path.join(self.bin, "vjxgui.exe")] + [str(a) for a in args],
                          timeout=timeout, cwd=self.bin)
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


def dialog_controls(session):
    code, lines = session.gui("controls", DIALOG)
    return code, [parse_fields(l) for l in lines if l.startswith("id=")], lines



def log_text(session):
    """The whole log, with its line breaks escaped as vjxgui prints them."""
    return (session.gui("text", DIALOG, ID_LOG)[1] or [""])[0]


def wait_for(condition, seconds=60):
    """Polls condition() (each poll is one run of vjxgui) until it gives a true
    value or the time is up; the last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value


def sim(session, *args):
    """One vjxsim command: the completed process (bytes out)."""
    return subprocess.run([session.vjxsim] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120, check=False)


def checked(result, what):
    if result.returncode != 0:
        raise RuntimeError(what + ": " + result.stderr.decode())
    return result


def new_rack(session, path, *cards):
    shutil.rmtree(path, ignore_errors=True)
    checked(sim(session, "new", path, *[a for card in cards for a in ("--card", card)]), "vjxsim new")


def cards_shown(session, rack):
    """The cards as `vjxsim show --json` describes them."""
    return json.loads(sim(session, "show", rack, "--json").stdout.decode())["cards"]


FPGA_VERSION, FIRMWARE_VERSION = 7, "2.01"


def update_file(session, args, folder, name, module, isp=FPGA_VERSION):
    """An update file built by tcftool for the module code: FPGA image version
    7 (folder/fpga.bin) and firmware 2.01 for the FPGA version isp."""
    os.makedirs(folder, exist_ok=True)
    fpga, firmware = os.path.join(folder, "fpga.bin"), os.path.join(folder, "fw.bin")
    checked(sim(session, "image", "fpga", "--version", FPGA_VERSION, "--size", "20000", "-o", fpga), "vjxsim image")
    checked(sim(session, "image", "firmware", "--version", FIRMWARE_VERSION, "--isp", isp, "--size", "65536", "-o",
                firmware), "vjxsim image")
    path = os.path.join(folder, name)
    checked(subprocess.run([args.tcftool, "build", "-o", path, "--module", str(module), "--fpga", fpga, "--firmware",
                            firmware], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120, check=False),
            "tcftool build")
    return path


def escaped(text):
    """A log text as vjxgui prints it: line breaks as \\r and \\n."""
    return text.replace("\r", "\\r").replace("\n", "\\n")


def log_matches(got, expected):
    """The log text as vjxgui prints it against an expected text whose
    <dots> stand for one or more progress dots."""
    return re.fullmatch(r"\.+".join(re.escape(escaped(part)) for part in expected.split("<dots>")), got) is not None


def all_enabled(session):
    _, controls, _ = dialog_controls(session)
    return bool(controls) and all(c["enabled"] == "1" for c in controls)


class Run:
    """The program for simulated cards on a rack, from its start to its
    close: `vjxsim run RACK --timing TIMING [--trace FILE] -- wine EXE`."""

    def __init__(self, session, failures, rack, folder, what, timing="instant", trace=True):
        self.session, self.failures, self.what = session, failures, what
        self.trace = os.path.join(session.out, what + "-trace.txt") if trace else None
        self.program = session.start_on_rack(rack, "VJXFlashSimulatedCards.exe", timing=timing, trace=self.trace,
                                             cwd=folder)
        # The first Wine program of a session starts slowly.
        code = session.gui("wait", DIALOG, "180000", timeout=240)[0]
        if code != 0:
            print("no dialog; a box says: %r" % (session.gui("box", APP, "0")[1],))
            session.shot(what + "-no-dialog.png")
        failures.equal(code, 0, what + ": the dialog is shown")
        if code != 0:
            raise RuntimeError("no dialog")
        self.log_before = ""

    def check(self, ok, text, got=None, expected=None):
        self.failures.check(ok, self.what + ": " + text, got, expected)

    def equal(self, got, expected, text):
        self.check(got == expected, text, got, expected)

    def flash(self, file_name):
        """Names the file and presses "Flash!"."""
        self.session.gui("settext", DIALOG, ID_FILE, file_name)
        self.log_before = log_text(self.session)
        self.session.gui("click", DIALOG, ID_FLASH)

    def box(self, expected_text, button, shot, buttons=('button=1 "OK"',), meanwhile=None, wait_ms=300000):
        """Waits for the next box, checks its text and buttons, takes the
        screenshot, calls meanwhile() and answers it."""
        session = self.session
        code = session.gui("wait", APP, str(wait_ms), timeout=wait_ms // 1000 + 60)[0]
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


def run(scenarios, description=None, extra_arguments=()):
    """Parses the common options (--bin, --out, --expected, --vjxsim,
    --tcftool and the extra ones), runs each scenario in one session and
    answers the exit status: 0 when every check held."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--bin", required=True, help="folder of VJXFlash.exe and vjxgui.exe")
    parser.add_argument("--out", required=True, help="screenshots and the Wine prefix go here")
    parser.add_argument("--expected", help="folder of expected outputs")
    parser.add_argument("--vjxsim", help="the simulator's vjxsim")
    parser.add_argument("--tcftool", help="the update-file tool")
    for name, help_text in extra_arguments:
        parser.add_argument(name, help=help_text)
    args = parser.parse_args()
    for name in ("vjxsim", "tcftool", "expected"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))

    failures = Failures()
    with Session(args.bin, args.out, args.vjxsim) as session:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
        for scenario in scenarios:
            # A scenario that breaks off is one failure; the next one runs.
            try:
                scenario(session, failures, args)
            except Exception:  # noqa: BLE001 - reported, then the next scenario
                failures.check(False, "%s: ended early\n%s" % (getattr(scenario, "__name__", "scenario"),
                                                                traceback.format_exc()))
    print("screenshots in " + os.path.abspath(args.out))
    print("%d failed" % len(failures.items))
    return 1 if failures.items else 0
