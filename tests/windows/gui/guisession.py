"""The GUI tests' shared part: a virtual X display and a Wine prefix of their
own, the programs started on them (also on a simulated rack, through
`vjxsim run`), the test driver vjxgui.exe, screenshots and the check list.

A scenario file imports this module, writes functions taking (session,
failures, args) and hands them to run(); see gui_test.py and
gui_sim_test.py. Every wait is on a condition with a limit; Wine and the
display are stopped on every way out."""
import argparse
import os
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

ID_OK, ID_CANCEL, ID_YES, ID_NO = 1, 2, 6, 7
ID_LOG, ID_FILE, ID_BROWSE, ID_FLASH, ID_LIST = 1000, 1001, 1002, 1003, 1004
ID_VERSION = 1009
ID_CHOOSER_NAME = 0x47C   # cmb13, the chooser's file-name field
SC_ABOUT = "0x10"
OK_BUTTON = 'button=1 "OK"'
# Fonts of Wine itself the prefix is given (file, registry name), and where
# the Debian package fonts-wine puts them.
WINE_FONTS = (("marlett.ttf", "Marlett (TrueType)"),)
WINE_FONT_DIRS = ("/usr/share/wine/fonts", "/usr/share/fonts/truetype/wine")


class Failures(list):
    """The checks that failed, each printed as it is made."""

    def check(self, ok, what, got=None, expected=None):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            if expected is not None or got is not None:
                print("       expected: %r\n       got:      %r" % (expected, got))
            self.append(what)

    def equal(self, got, expected, what):
        self.check(got == expected, what, got, expected)


class Session:
    """The display, the Wine prefix and the programs started on them."""

    def __init__(self, bin_dir, out_dir, vjxsim=None):
        self.bin, self.out, self.vjxsim = os.path.abspath(bin_dir), os.path.abspath(out_dir), vjxsim
        self.xvfb, self.programs, self.env = None, [], dict(os.environ)

    def __enter__(self):
        os.makedirs(self.out, exist_ok=True)
        self.start_display()
        prefix = os.path.join(self.out, "wineprefix")
        shutil.rmtree(prefix, ignore_errors=True)
        self.env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEARCH="win64")
        self.run(["wineboot", "-i"], timeout=300)
        self.run(["wineserver", "-w"], timeout=300)
        # Wine's own fonts that a new prefix does not find by itself: without
        # Marlett the caption buttons are drawn as the letters "0 1 r".
        fonts, settings = os.path.join(prefix, "drive_c", "windows", "Fonts"), []
        os.makedirs(fonts, exist_ok=True)
        for name, entry in WINE_FONTS:
            source = next((os.path.join(d, name) for d in WINE_FONT_DIRS if os.path.isfile(os.path.join(d, name))),
                          None)
            if source is None:
                print("note: %s not found (Debian package fonts-wine); captions drawn without it" % name)
                continue
            shutil.copy(source, fonts)
            settings.append(("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", entry, name))
        # One virtual desktop: windows get Wine's own frames and captions.
        settings += [("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                     ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "800x600")]
        for key, name, value in settings:
            self.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"])
        self.run(["wineserver", "-w"])
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
            if not ended(self.xvfb, 20):
                self.xvfb.kill()
        return False

    def start_display(self):
        # Xvfb writes the number of the display it found free once it runs;
        # the pipe ends with no number if it does not start.
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    def run(self, argv, timeout=120, cwd=None):
        return subprocess.run(argv, env=self.env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=timeout, check=False, universal_newlines=True)

    def start(self, exe, *args, rack=None, timing="instant", trace=None, cwd=None):
        """The program under Wine; with rack, on that simulated rack (vjxsim
        run RACK -- wine EXE), its bus trace going to the file trace."""
        argv = [self.vjxsim, "run", rack, "--timing", timing] + (["--trace", trace] if trace else []) + ["--"]
        program = subprocess.Popen((argv if rack else []) + ["wine", os.path.join(self.bin, exe)] + list(args),
                                   env=self.env, cwd=cwd or self.out, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.programs.append(program)
        return program

    def gui(self, *args, timeout=120):
        """One vjxgui action: (exit status, output lines). A wait of vjxgui
        longer than the timeout (seconds) needs a longer timeout."""
        result = self.run(["wine", os.path.join(self.bin, "vjxgui.exe")] + [str(a) for a in args],
                          timeout=timeout, cwd=self.bin)
        return result.returncode, result.stdout.splitlines()

    def answer(self, title, button):
        """Presses the button of the window and waits until it is gone."""
        self.gui("click", title, button)
        return self.gui("gone", title)[0]

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

    def controls(self):
        """The dialog's controls as dicts, and the dialog's own as one."""
        fields = [parse_fields(line) for line in self.gui("controls", DIALOG)[1]]
        return fields[:-1], (fields[-1:] or [{}])[0]

    def all_enabled(self):
        controls = self.controls()[0]
        return bool(controls) and all(c["enabled"] == "1" for c in controls)

    def log(self):
        """The whole log, with its line breaks escaped as vjxgui prints them."""
        return (self.gui("text", DIALOG, ID_LOG)[1] or [""])[0]


def ended(program, seconds=60):
    try:
        program.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def parse_fields(line):
    """'id=1 class=Button x=7 ... text="..."' into a dict."""
    head, _, text = line.partition(' text="')
    fields = dict(part.split("=", 1) for part in head.split() if "=" in part)
    fields["text"] = text[:-1] if text.endswith('"') else text
    return fields


def wait_for(condition, seconds=60):
    """Polls condition() (each poll is one run of vjxgui) until it gives a true
    value or the time is up; the last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value


def escaped(text):
    """A text as vjxgui prints it: line breaks as \\r and \\n."""
    return text.replace("\r", "\\r").replace("\n", "\\n")


def box_lines(text, buttons=(OK_BUTTON,)):
    """What vjxgui box prints for a message box: its buttons, its text."""
    return list(buttons) + ['text="%s"' % escaped(text)]


def run(scenarios, description=None):
    """Parses the common options, runs each scenario in one session and
    answers the exit status: 0 when every check held."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--bin", required=True, help="folder of VJXFlash.exe and vjxgui.exe")
    parser.add_argument("--out", required=True, help="screenshots and the Wine prefix go here")
    parser.add_argument("--expected", help="folder of expected outputs")
    parser.add_argument("--vjxsim", help="the simulator's vjxsim")
    parser.add_argument("--tcftool", help="the update-file tool")
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
    print("%d failed" % len(failures))
    return 1 if failures else 0
