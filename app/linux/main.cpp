// vjxflash: lists the VJX cards or flashes one of them from the command line,
// driving the same controller as the Windows dialog.
#include <libgen.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../VJXFlashDlg.h"
#include "lock.h"
#include "signals.h"

namespace {

// Exit statuses of vjxflash.
enum ExitStatus : int {
    kExitDone = 0,       // -list ran, or -flash brought the card to the file's content
    kExitUsage = 1,      // the usage text was printed
    kExitNoCards = 2,    // at start: no card counted, no driver, or no card of a known model (OnCancel)
    kExitFailed = 3,     // the lock was refused, or -flash did not complete (no such card number,
                         // card or file refused, programming failed)
    kExitUnchecked = 4,  // -flash completed, but the new firmware's version check failed
};

const char kUsage[] =
    "\nUsage:\n\nList all available VJX cards:\n\t%s -list\n\nFlash specific VJX card:\n\t%s -flash N "
    "FILENAME\n\t\tFlash VJX card N with file FILENAME\n\t\tN        is the card number as shown by -list "
    "command\n\t\tFILENAME is the name of the tcf file\n\nWARNING:\n\tClose all other applications that are "
    "using any of the VJX\n\tcards installed before using %s!\n\nExamples:\n\t%s -list\n\t%s -flash 1 \"VJX "
    "PCIe K 9.14.tcf\"\n\n";

// The controller lives for the whole process and is never destroyed.
CVJXFlashDlg* g_dialog = nullptr;

[[noreturn]] void PrintUsage(const char* programPath) {
    std::string copy = programPath ? programPath : "vjxflash";
    const char* name = ::basename(&copy[0]);
    std::printf(kUsage, name, name, name, name, name);
    std::fflush(stdout);
    std::exit(kExitUsage);
}

// The card number as the "%u" conversion reads it: leading blanks and a sign
// are taken, characters after the digits are ignored; false without digits.
bool ParseCardNumber(const char* text, unsigned* number) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    unsigned long value = std::strtoul(text, nullptr, 10);
    *number = static_cast<unsigned>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* programPath = argc > 0 ? argv[0] : nullptr;
    // A reader of the log that goes away must not end an update.
    IgnoreBrokenPipe();
    g_dialog = new CVJXFlashDlg;
    CVJXFlashDlg& dialog = *g_dialog;
    // From the first write to the card the signals that end a process wait
    // for the command to finish; it is never let go before the end.
    dialog.SetProgrammingHook([](int programming) {
        if (programming) HoldEndSignals();
    });

    if (argc <= 1) {
        dialog.ShowAboutMessage();
        PrintUsage(programPath);
    }

    if (argc == 2 && std::strcmp(argv[1], "-list") == 0) {
        if (!lockFlash()) return kExitFailed;
        dialog.OnInitDialog();
        dialog.ListVjxBoards(1);
        unlockFlash();
        return kExitDone;
    }

    unsigned number = 0;
    if (argc == 4 && std::strcmp(argv[1], "-flash") == 0 && ParseCardNumber(argv[2], &number)) {
        if (!lockFlash()) return kExitFailed;
        dialog.OnInitDialog();
        // N = 0 wraps to 0xFFFFFFFF, which the flash command refuses.
        dialog.CardList().SetCurSel(static_cast<int>(number - 1u));
        dialog.FileName().SetWindowText(argv[3]);
        dialog.OnFlash();
        unlockFlash();
        if (!dialog.FlashCompleted()) return kExitFailed;
        return dialog.FlashVersionCheckFailed() ? kExitUnchecked : kExitDone;
    }

    PrintUsage(programPath);
}
