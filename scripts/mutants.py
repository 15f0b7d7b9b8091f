#!/usr/bin/env python3
"""Fault injection over the product code: shows which faults the test suite catches.

Each fault below is one realistic mistake in the product code (never in the
tests or the simulator): a text found exactly once in one file and what it is
replaced with. For every fault the script applies it, rebuilds, runs the test
suite (without the Wine GUI tests, the format check and the fuzz run) until
the first failing test, and puts the file back, whatever happens.

    scripts/mutants.py                 # every fault, build in build-mutants/
    scripts/mutants.py --list          # the faults, and whether each applies
    scripts/mutants.py --only ee-no-ewds,spi25-no-wren --json result.json

A fault is CAUGHT (with the first failing test), MISSED (the whole suite
passed), NO-BUILD (it does not compile) or N/A (its text is not found exactly
once). With --all-failures every test that fails is listed (the whole suite
runs for each fault): what a test catches that no other one does.

The tree is changed while it runs: do not build, commit or edit in it
meanwhile. Slow: not part of CI. Run it under `nice` on a shared machine.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Tests that are not run per fault: the GUI tests under Wine, the format
# check (a fault is formatted code) and the fuzz run.
EXCLUDED_TESTS = r"^(windows_gui.*|clang_format|tcf_fuzz)$"


def fault(id, file, find, replace, what, focus=None):
    return {"id": id, "file": file, "find": find, "replace": replace, "what": what, "focus": focus}


# focus: a ctest regex of the tests most likely to catch the fault; they run
# first, the rest of the suite after them. It only changes the order.
FAULTS = [
    # ---- Configuration EEPROM (Microwire) ----
    fault("ee-no-ewds", "engines/ConfigEeprom.cpp",
          "    eeCmdWds(bits);\n", "",
          "configuration EEPROM write ends without its EWDS: the part is left write-enabled",
          "ConfigEeprom|FlashEeproms"),
    fault("ee-no-ewen", "engines/ConfigEeprom.cpp",
          "    eeCmdWen(bits);\n", "",
          "configuration EEPROM written without the EWEN command first",
          "ConfigEeprom|FlashEeproms"),
    fault("ee-read-lsb-first", "engines/ConfigEeprom.cpp",
          "byte = (byte << 1) | eeDoBit();", "byte |= eeDoBit() << i;",
          "configuration EEPROM read back least significant bit first",
          "ConfigEeprom|FlashEeproms"),
    fault("ee-ready-one-poll", "engines/ConfigEeprom.cpp",
          "constexpr int kReadyTries = 100;", "constexpr int kReadyTries = 1;",
          "configuration EEPROM write cycle given one 10 ms poll instead of a second",
          "ConfigEeprom|FlashEeproms"),
    # ---- PCIe EEPROM (PEX 8111 EECTL) ----
    fault("pcie-no-busy-wait", "engines/PcieEeprom.cpp",
          "if (!(value & EECTL_BUSY)) return static_cast<int>(value);", "return static_cast<int>(value);",
          "EECTL busy bit not waited for between bytes",
          "PcieEeprom|FlashEeproms|Eectl"),
    fault("pcie-settle-short", "engines/PcieEeprom.cpp",
          "constexpr unsigned kWriteSettleMs = 100;", "constexpr unsigned kWriteSettleMs = 1;",
          "PCIe EEPROM read back 1 ms after its page write instead of 100 ms",
          "PcieEeprom|FlashEeproms"),
    # ---- 25-series commands ----
    fault("spi25-no-wren", "engines/Spi25.cpp",
          "    WriteEnable(port);\n    if (port.Failed()) return;\n    Command(port, CMD_PAGE_PROGRAM);",
          "    Command(port, CMD_PAGE_PROGRAM);",
          "page program sent without a write enable before it",
          "PcieEeprom|FpgaDevice|FlashEeproms"),
    fault("spi25-address-order", "engines/Spi25.cpp",
          "for (int i = addressBytes - 1; i >= 0; --i)", "for (int i = 0; i < addressBytes; ++i)",
          "25-series address sent low byte first",
          "PcieEeprom|FpgaDevice|FlashEeproms"),
    # ---- FPGA configuration device (EPC) ----
    fault("epc-data-msb-first", "engines/FpgaConfig.cpp",
          "constexpr SpiBitOrder kDataOrder = SpiBitOrder::LsbFirst;",
          "constexpr SpiBitOrder kDataOrder = SpiBitOrder::MsbFirst;",
          "EPC data bytes sent most significant bit first",
          "FpgaDevice|UpdateSequence|Update"),
    fault("epc-erase-wait-short", "engines/FpgaConfig.cpp",
          "kErasePoll{500, 21, 21, true}", "kErasePoll{500, 3, 3, true}",
          "EPC bulk erase given 1 s instead of 10 s",
          "FpgaDevice|UpdateOnSlowestParts|UpdateSequence"),
    fault("epc-crc-only", "engines/FpgaConfig.cpp",
          "const bool crcOnly = SlowFpgaMode();", "const bool crcOnly = true;",
          "EPC content taken as equal when only its CRC matches, also in fast mode",
          "FpgaDevice|UpdateSequence"),
    # ---- FPGA configuration lines ----
    fault("lines-no-settle", "engines/FpgaLines.cpp",
          "constexpr unsigned kLineSettleMs = 2;", "constexpr unsigned kLineSettleMs = 0;",
          "no settling time after the FPGA configuration lines change",
          "FpgaDevice|UpdateSequence|Update"),
    fault("lines-load-wait-short", "engines/FpgaLines.cpp",
          "return static_cast<int>(fpga::loadMs(deviceBytes));",
          "return static_cast<int>(fpga::loadMs(deviceBytes) / 10);",
          "FPGA given a tenth of its load time after release",
          "FpgaDevice|UpdateSequence|UpdateOnSlowestParts|Update"),
    # ---- Communication port (mailbox) ----
    fault("com-no-trcon", "engines/ComPort.cpp",
          "    WriteTRCON(fpga::TRCON_OPEN);\n", "",
          "communication port opened without TRCON",
          "ComPort|Mailbox|FlashRom"),
    fault("com-chunk-split", "engines/ComPort.cpp",
          "return Com_writeLimit(bytes + full * chunk, count - full * chunk);",
          "return Com_writeLimit(bytes + full * chunk, count - full * chunk - 1);",
          "off-by-one in the split of a long transmission: its last byte is dropped",
          "ComPort|IspCommands|FlashRom"),
    # ---- Boot-loader protocol ----
    fault("isp-checksum", "engines/IspProtocol.cpp",
          "(256 - (sum & 0xFF)) & 0xFF", "(255 - (sum & 0xFF)) & 0xFF",
          "record checksum off by one",
          "Isp|FlashRom|BootLoader"),
    fault("isp-reset-short", "engines/IspProtocol.cpp",
          "    Sleep(50);\n", "    Sleep(5);\n",
          "microcontroller reset pulse of 5 ms instead of 50 ms",
          "IspReset|BootEntry|FlashRom"),
    fault("isp-startup-short", "engines/IspProtocol.cpp",
          "    Sleep(300);\n", "    Sleep(30);\n",
          "30 ms start-up wait after the reset instead of 300 ms",
          "IspReset|BootEntry|FlashRom"),
    # ---- Flash ROM ----
    fault("rom-trailer-offset", "engines/FlashRom.cpp",
          "constexpr unsigned kSegHeaderInBlock = 0x3FF0;", "constexpr unsigned kSegHeaderInBlock = 0x3FE0;",
          "segment header written 16 bytes too low in its block",
          "FlashRom|UpdateSequence|Update"),
    fault("rom-device-unchecked", "engines/FlashRom.cpp",
          "if (versions->device != isp::kDevice) {", "if (false) {",
          "microcontroller device signature not checked",
          "FlashRom|UpdateSequence"),
    # ---- Update sequence ----
    fault("seq-port-left-open", "engines/UpdateSequence.cpp",
          "    const bool ok = run();\n    Com_close();\n", "    const bool ok = run();\n",
          "communication port not closed when the update ends",
          "UpdateSequence|Update"),
    fault("seq-config-unchecked", "engines/UpdateSequence.cpp",
          "if (!configured) return error(\"Error while programming FPGA\");",
          "if (false) return error(\"Error while programming FPGA\");",
          "FPGA that did not configure from the new image not noticed",
          "UpdateSequence|Update"),
    fault("seq-text", "engines/UpdateSequence.cpp",
          "\"Programming %s card was successful.\\n\\nFirmware version: %s\\n\"",
          "\"Programming %s card was successfull.\\n\\nFirmware version: %s\\n\"",
          "success message text changed",
          "UpdateSequence|Update|Flash"),
    # ---- Configuration flash of PCIe-core cards (Windows program) ----
    fault("cfgflash-no-register-wait", "engines/ConfigFlash.cpp",
          "if (!spi25::WaitWhileBusy(port, kRegisterPoll)) {", "if (false) {",
          "configuration flash register write not waited for",
          "Core"),
    fault("cfgflash-erase-budget", "engines/ConfigFlash.cpp",
          "constexpr unsigned kEraseBudgetMs = 2000;", "constexpr unsigned kEraseBudgetMs = 500;",
          "sector erase given 1 s instead of 2.5 s",
          "Core"),
    fault("cfgflash-page-lsb-first", "engines/ConfigFlash.cpp",
          "    spi25::SendData(port, data, count, SpiBitOrder::MsbFirst);\n",
          "    spi25::SendData(port, data, count, SpiBitOrder::LsbFirst);\n",
          "configuration flash pages written least significant bit first",
          "Core"),
    fault("spictl-read-order", "engines/SpiCtlPort.cpp",
          "in = static_cast<uint8_t>(in | (1u << bit));", "in = static_cast<uint8_t>(in | (1u << (7 - bit)));",
          "bits read from the configuration flash assembled in reverse order",
          "Core"),
    # ---- Controller and front ends ----
    fault("dlg-file-unchecked", "app/VJXFlashDlg.cpp",
          "    if (!m_vjx.CheckUpdateFile(file, &m_log, record.get())) return;\n", "",
          "update file not checked as a whole before the first write",
          "Controller|Dialog|Update|Flash"),
    fault("dlg-card-left-open", "app/VJXFlashDlg.cpp",
          "    end.Order({S::kFile, S::kCard});\n    auto record", "    end.Order({S::kFile});\n    auto record",
          "card not closed when the file header is refused",
          "Controller|Dialog|Flash"),
    fault("dlg-card-number", "app/VJXFlashDlg.cpp",
          "if (position >= listed) {", "if (position > listed) {",
          "card number one past the list accepted",
          "Controller|Dialog|CommandLine"),
    fault("main-sign", "app/linux/main.cpp",
          "    if (*p == '+' || *p == '-') ++p;\n", "",
          "card number with a sign refused",
          "CommandLine"),
    fault("main-exit-unchecked", "app/linux/main.cpp",
          "return dialog.FlashVersionCheckFailed() ? kExitUnchecked : kExitDone;", "return kExitDone;",
          "failed firmware version check not in the exit status",
          "CommandLine|Update"),
    fault("shim-short-read", "app/linux/shim.cpp",
          "if (!m_stream || m_stream.gcount() != static_cast<std::streamsize>(count)) return 0;",
          "if (m_stream.gcount() == 0) return 0;",
          "short file read taken as complete",
          "Reader|CFile|FileCheck|Update"),
    fault("win-card-left-open", "app/windows/VJXFlashDlg.cpp",
          "    if (m_vjx.Open(card)) {\n        m_vjx.Close();\n", "    if (m_vjx.Open(card)) {\n",
          "Windows dialog's card command leaves the card open",
          "Dialog|SimDialog"),
    # ---- Update-file reader and writer ----
    fault("crc32-start", "tcf/Crc.h",
          "CCrc32() { Init(0xFFFFFFFFu); }", "CCrc32() { Init(0); }",
          "FPGA image CRC-32 register starting at 0 instead of 0xFFFFFFFF",
          "Crc|FpgaDevice|Update"),
    fault("crc8-check-start", "tcf/Crc.cpp",
          "    const uint8_t* p = static_cast<const uint8_t*>(data);\n    uint8_t crc = 0xFF;\n    for (size_t i = 0; i < length; ++i)",
          "    const uint8_t* p = static_cast<const uint8_t*>(data);\n    uint8_t crc = 0x00;\n    for (size_t i = 0; i < length; ++i)",
          "CRC-8 check starting at 0 instead of 0xFF",
          "Crc|Reader|Segments"),
    fault("hdr-crc-unchecked", "tcf/ReadFileHeader.cpp",
          "if (!CCrc8::Check(header, tcf::kHeaderSize))", "if (false)",
          "update-file header checksum not checked",
          "Reader|FileCheck"),
    fault("cut-block-split", "tcf/TcfWriter.cpp",
          "const size_t dataEnd = std::min(blockEnd, block + kBlockSize);",
          "const size_t dataEnd = std::min(blockEnd, block + kBlockSize - 1);",
          "off-by-one in the split of firmware into blocks: a block's last data byte is dropped",
          "CutFirmware|Firmware|Tool"),
    fault("hex-extended-address", "tcf/IntelHex.cpp",
          "<< (type == 0x02 ? 4 : 16)", "<< (type == 0x02 ? 16 : 4)",
          "Intel HEX segment and linear address records swapped",
          "IntelHex|Firmware"),
    # ---- Driver layers, libraries, card ----
    fault("merix-no-bridges", "driver/linux/MerixDriver.cpp",
          "n = merix::kFirstBridge - 1;  // on to the bridges", "break;  // on to the bridges",
          "bus scan stops before the bridges",
          "Adapter|Bridges|PcieEeprom|CardSim"),
    fault("merix-read-fail-zero", "driver/linux/MerixDevice.cpp",
          "    *value = 0xFFFFFFFF;\n", "    *value = 0;\n",
          "failed 32-bit read answers 0 instead of all ones",
          "Adapter|PciLib"),
    fault("merix-unregister-no-close", "driver/linux/MerixDriver.cpp",
          "    if (card->hCard != 0) vjxClose(static_cast<int>(card->hCard - 1));\n", "",
          "library handle not closed when a card is unregistered",
          "Adapter|PciLib|CardSim"),
    fault("win-space-bound", "driver/windows/WinDriver.cpp",
          "static_cast<UINT64>(offset) + width > space.qwBytes",
          "static_cast<UINT64>(offset) + width >= space.qwBytes",
          "last register of an address space refused",
          "WindowsDriver|SimDriver"),
    fault("win-token-left-open", "driver/windows/SystemControl.cpp",
          "    windrv::CloseToken(token);\n", "",
          "process token not closed after the privilege change",
          "WindowsSystemControl|CoreRestart"),
    fault("wdc-config-byte-order", "Source/pci_lib.cpp",
          "return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |",
          "return uint32_t(bytes[1]) | uint32_t(bytes[0]) << 8 |",
          "configuration read assembled with its two low bytes swapped",
          "PciLib|Card|Adapter"),
    fault("register-tbuf-offset", "Source/registers.def",
          "VJX_REGISTER(TBUF, 2, fpga::TBUF, 8)", "VJX_REGISTER(TBUF, 2, fpga::TCTL, 8)",
          "transmit length written to the wrong mailbox register",
          "ComPort|Mailbox|FlashRom"),
    fault("pcilib-version-check", "Source/pci_lib.cpp",
          "if (version >= kRequiredVersion) return 1;", "if (version > kRequiredVersion) return 1;",
          "driver of exactly the required version refused",
          "PciLib|Adapter|List"),
    fault("card-index", "card/VjxPci.cpp",
          "} else if ((local -= m_count9050) < m_count9030) {",
          "} else if ((local - m_count9050) < m_count9030) {",
          "card index not counted past the PCI 9050 cards",
          "Card|Rack|List"),
    fault("bridge-secondary-unchecked", "card/PciBridge.cpp",
          "found = ReadPRIMBUSNUM() == slot.dwBus && ReadSECBUSNUM() == cardSlot->dwBus;",
          "found = ReadPRIMBUSNUM() == slot.dwBus;",
          "PCIe bridge taken without checking that it leads to the card's bus",
          "Card|Bridges|Rack"),
    fault("registry-shared-lock", "libmerix32/registry.cpp",
          "if (flockRetry(fd, LOCK_EX | LOCK_NB) != 0) {\n        int lockErrno",
          "if (flockRetry(fd, LOCK_SH | LOCK_NB) != 0) {\n        int lockErrno",
          "flash lock taken shared: two updates may run at once",
          "Registry|CommandLineLock"),
    fault("sysfs-space-length", "libmerix32/hw/SysfsBackend.cpp",
          "space.length = end - start + 1;", "space.length = end - start;",
          "address-space length one byte short",
          "Sysfs|Tree|Backend"),
]


# ---- Running commands -------------------------------------------------------------

STOP_SIGNALS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted("signal %d" % signum)


def run(cmd, log=None, timeout=None, env=None):
    """Runs cmd in its own process group; kills the group if we are stopped.
    Returns (exit code, output text)."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace", start_new_session=True, env=env)
    try:
        out, _ = proc.communicate(timeout=timeout)
    except BaseException:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        raise
    if log:
        with open(log, "a") as f:
            f.write("$ " + " ".join(cmd) + "\n" + out + "\n")
    return proc.returncode, out


def build_env():
    env = dict(os.environ)
    env.setdefault("CCACHE_BASEDIR", os.path.dirname(ROOT))
    return env


def configure(build_dir, log, env):
    if os.path.exists(os.path.join(build_dir, "build.ninja")):
        return
    cmd = ["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
           "-DVJX_MINGW_CXX=VJX_MINGW_CXX-NOTFOUND"]
    if shutil.which("ccache"):
        cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    rc, out = run(cmd, log, env=env)
    if rc != 0:
        sys.exit("configuring %s failed:\n%s" % (build_dir, out[-3000:]))


def build(build_dir, jobs, log, env):
    rc, out = run(["ninja", "-C", build_dir, "-j", str(jobs)], log, env=env)
    return rc == 0, out


# Test names may hold blanks (a parameter printed as bytes); gtest adds the
# parameter after "  # " on the progress line.
FAILED_LINE = re.compile(r"Test[ \t]+#\d+:[ \t]+([^\n]+?)(?:[ \t]+# [^*\n]*?)?[ \t]*\.*[ \t]*\*\*\*([^\n]+?)"
                         r"[ \t]+[\d.]+[ \t]+sec")
FAILED_LIST = re.compile(r"^[ \t]*\d+[ \t]+-[ \t]+([^\n]+?)[ \t]+\(([^()\n]+)\)[ \t]*$", re.M)


def ctest(build_dir, jobs, timeout, include, exclude, stop, log, env):
    """Runs ctest; returns (ok, failures in the order reported, output)."""
    cmd = ["ctest", "--test-dir", build_dir, "-j", str(jobs), "--timeout", str(timeout), "-E", exclude]
    if include:
        cmd += ["-R", include]
    if stop:
        cmd.append("--stop-on-failure")
    rc, out = run(cmd, log, env=env)
    failures = [(m.group(1), m.group(2).strip()) for m in FAILED_LINE.finditer(out)]
    if not failures:
        failures = [(m.group(1).split("  # ")[0], m.group(2)) for m in FAILED_LIST.finditer(out)]
    no_tests = "No tests were found" in out
    if rc != 0 and not failures and not no_tests:
        failures = [("(ctest exit %d)" % rc, out.strip().splitlines()[-1] if out.strip() else "")]
    return rc == 0 or (no_tests and not failures), failures, out


# ---- Faults ---------------------------------------------------------------------------

def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def applies(f):
    path = os.path.join(ROOT, f["file"])
    if not os.path.exists(path):
        return False, "file not found"
    n = read(path).count(f["find"])
    return n == 1, "text found %d times" % n if n != 1 else ""


class Backup:
    """Keeps the original of the file being changed in the build directory,
    so that even a run killed outright is mended by the next one."""

    def __init__(self, build_dir):
        self.dir = os.path.join(build_dir, "mutant-backup")

    def restore_left_over(self):
        record = os.path.join(self.dir, "file")
        if not os.path.exists(record):
            return
        rel = read(record)
        original = os.path.join(self.dir, "original")
        write(os.path.join(ROOT, rel), read(original))
        os.remove(record)
        print("restored %s from an interrupted run" % rel)

    def save(self, rel, text):
        os.makedirs(self.dir, exist_ok=True)
        write(os.path.join(self.dir, "original"), text)
        write(os.path.join(self.dir, "file"), rel)

    def done(self):
        record = os.path.join(self.dir, "file")
        if os.path.exists(record):
            os.remove(record)


def test_fault(f, args, excluded, backup, log, env):
    ok, why = applies(f)
    if not ok:
        return {"result": "N/A", "detail": why}
    path = os.path.join(ROOT, f["file"])
    original = read(path)
    backup.save(f["file"], original)
    try:
        write(path, original.replace(f["find"], f["replace"], 1))
        built, out = build(args.build_dir, args.jobs, log, env)
        if not built:
            errors = [l for l in out.splitlines() if "error" in l]
            return {"result": "NO-BUILD", "detail": errors[0].strip() if errors else "build failed"}
        passes = []
        if args.all_failures:
            ok, failures, _ = ctest(args.build_dir, args.jobs, args.timeout, None, excluded, False, log, env)
            if ok:
                return {"result": "MISSED", "detail": ""}
            names = [name for name, _ in failures]
            return {"result": "CAUGHT", "detail": "%s (%s)%s" % (failures[0][0], failures[0][1],
                                                                 " and %d more" % (len(names) - 1)
                                                                 if len(names) > 1 else ""),
                    "test": names[0], "tests": names}
        if f.get("focus"):
            passes.append((f["focus"], excluded))
            passes.append((None, "%s|%s" % (excluded, f["focus"])))
        else:
            passes.append((None, excluded))
        for include, exclude in passes:
            ok, failures, _ = ctest(args.build_dir, args.jobs, args.timeout, include, exclude, True, log, env)
            if not ok:
                name, how = failures[0]
                return {"result": "CAUGHT", "detail": "%s (%s)" % (name, how), "test": name}
        return {"result": "MISSED", "detail": ""}
    finally:
        # Not to be cut short by a second signal.
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
        try:
            write(path, original)
            backup.done()
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


def compile_commands(build_dir, rel):
    """The compile commands of one product file (for a header, of the first
    file that includes it), one per variant of the flags, syntax check only."""
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        entries = json.load(f)
    target = os.path.join(ROOT, rel)
    if not rel.endswith(".cpp"):
        name = os.path.basename(rel)
        for e in entries:
            src = os.path.normpath(os.path.join(e["directory"], e["file"]))
            if src.startswith(ROOT + os.sep + os.path.dirname(rel)) and ('"%s"' % name) in read(src):
                target = src
                break
    commands, seen = [], set()
    for e in entries:
        if os.path.normpath(os.path.join(e["directory"], e["file"])) != target:
            continue
        args = e["command"].split()
        variant = "VJX_WINDOWS_VARIANT=1" in e["command"]
        if variant in seen:
            continue
        seen.add(variant)
        if args and "ccache" in os.path.basename(args[0]):
            args = args[1:]
        out = args.index("-o")
        args = args[:out] + args[out + 2:]
        commands.append((e["directory"], args + ["-fsyntax-only"]))
    return commands


def compile_check(f, args, log, env):
    ok, why = applies(f)
    if not ok:
        return "N/A", why
    commands = compile_commands(args.build_dir, f["file"])
    if not commands:
        return "N/A", "no compile command found"
    path = os.path.join(ROOT, f["file"])
    original = read(path)
    try:
        write(path, original.replace(f["find"], f["replace"], 1))
        for directory, cmd in commands:
            proc = subprocess.run(cmd, cwd=directory, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, env=env)
            if proc.returncode != 0:
                errors = [l for l in proc.stdout.splitlines() if "error" in l]
                return "NO-BUILD", errors[0].strip() if errors else "compile failed"
        return "COMPILES", "%d variant(s)" % len(commands)
    finally:
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
        try:
            write(path, original)
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", action="store_true", help="list the faults and whether each applies")
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--compile-check", action="store_true",
                        help="only check that each fault applies and compiles (its own file, no tests)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-mutants"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=300, help="seconds per test (default 300)")
    parser.add_argument("--all-failures", action="store_true",
                        help="run the whole suite for each fault and list every failing test")
    parser.add_argument("--json", help="write the result to this file (after every fault)")
    parser.add_argument("--skip-clean-run", action="store_true",
                        help="do not run the suite once on the unchanged tree first")
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)

    faults = FAULTS
    if args.only:
        wanted = [w.strip() for w in args.only.split(",") if w.strip()]
        unknown = [w for w in wanted if w not in {f["id"] for f in FAULTS}]
        if unknown:
            sys.exit("unknown fault id: " + ", ".join(unknown))
        faults = [f for f in FAULTS if f["id"] in wanted]

    if args.list:
        for f in faults:
            ok, why = applies(f)
            print("%-28s %-34s %s%s" % (f["id"], f["file"], f["what"], "" if ok else "  [N/A: %s]" % why))
        print("%d faults" % len(faults))
        return 0

    for sig in STOP_SIGNALS:
        signal.signal(sig, on_signal)

    if args.compile_check:
        env = build_env()
        configure(args.build_dir, os.path.join(args.build_dir, "mutants.log"), env)
        bad = 0
        for f in faults:
            verdict, detail = compile_check(f, args, None, env)
            bad += verdict != "COMPILES"
            print("%-28s %-9s %s" % (f["id"], verdict, detail), flush=True)
        return 1 if bad else 0

    os.makedirs(args.build_dir, exist_ok=True)
    log = os.path.join(args.build_dir, "mutants.log")
    env = build_env()
    backup = Backup(args.build_dir)
    backup.restore_left_over()
    started = time.time()
    result = {"build_dir": args.build_dir, "started": time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime()),
              "clean_failures": [], "faults": []}

    def save():
        if args.json:
            write(args.json, json.dumps(result, indent=2) + "\n")

    try:
        configure(args.build_dir, log, env)
        built, out = build(args.build_dir, args.jobs, log, env)
        if not built:
            sys.exit("the unchanged tree does not build:\n" + out[-3000:])
        excluded = EXCLUDED_TESTS
        if not args.skip_clean_run:
            t0 = time.time()
            ok, failures, _ = ctest(args.build_dir, args.jobs, args.timeout, None, excluded, False, log, env)
            result["clean_seconds"] = round(time.time() - t0)
            print("unchanged tree: suite %s in %d s" % ("passes" if ok else "FAILS", result["clean_seconds"]))
            if not ok:
                # A test that fails without any fault proves nothing: left out.
                result["clean_failures"] = [name for name, _ in failures]
                print("  left out, failing without a fault: " + ", ".join(result["clean_failures"]))
                excluded = "%s|^(%s)$" % (excluded, "|".join(re.escape(n) for n in result["clean_failures"]))
        save()

        for f in faults:
            t0 = time.time()
            r = test_fault(f, args, excluded, backup, log, env)
            r.update({"id": f["id"], "file": f["file"], "what": f["what"], "seconds": round(time.time() - t0)})
            result["faults"].append(r)
            print("%-28s %-9s %4d s  %s" % (f["id"], r["result"], r["seconds"], r["detail"]), flush=True)
            save()
    except Interrupted as e:
        print("stopped (%s); the tree is restored" % e)
        result["stopped"] = str(e)
    finally:
        backup.restore_left_over()

    rs = result["faults"]
    caught = sum(r["result"] == "CAUGHT" for r in rs)
    tried = sum(r["result"] in ("CAUGHT", "MISSED") for r in rs)
    result["caught"] = caught
    result["tried"] = tried
    result["seconds"] = round(time.time() - started)
    save()
    others = ", ".join("%d %s" % (sum(r["result"] == k for r in rs), k) for k in ("NO-BUILD", "N/A"))
    print("caught %d of %d (%s) in %d s" % (caught, tried, others, result["seconds"]))
    return 1 if "stopped" in result else 0


if __name__ == "__main__":
    sys.exit(main())
