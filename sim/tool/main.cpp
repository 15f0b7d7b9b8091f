// vjxsim: makes and inspects racks of simulated VJX cards, and runs programs
// against them through the simulated access library.
#include <CLI/CLI.hpp>

#include "Commands.h"
#include "sim/CardOptions.h"
#include "sim/Timing.h"

int main(int argc, char** argv) {
    CLI::App app{"vjxsim - racks of simulated VJX cards"};
    app.require_subcommand(1);
    app.footer(
        "Cards (--card SPEC, SPEC = MODEL[,OPTION]...):\n"
        "  80..99          a working, programmed card of that module code (96..99: PCIe core in the\n"
        "                  FPGA, configuration from a serial flash, no PEX 8111)\n"
        "  blank-9030, blank-9050, blank-9056\n"
        "                  an unprogrammed card (every part blank)\n"
        "Options per card:\n" +
        sim::optionHelp() +
        "Timing profiles: instant (every busy time zero), typical (typical data-sheet figures; also called\n"
        "datasheet), max (data-sheet maxima).\n"
        "Trace kinds (--trace-only): all, or a comma list of config, space0, space2, writes.");

    std::string dir;
    std::vector<std::string> cards;
    auto* cNew = app.add_subcommand("new", "make a rack in DIR (a new or empty directory)");
    cNew->add_option("DIR", dir, "rack directory")->required();
    cNew->add_option("--card", cards, "a card: module code or blank-CHIP, options after commas");

    unsigned number = 0;
    std::vector<std::string> options;
    auto* cSet = app.add_subcommand("set",
                                    "change the options of card N (content options rewrite the part "
                                    "and power-cycle the card)");
    cSet->add_option("DIR", dir)->required();
    cSet->add_option("N", number, "card number")->required();
    cSet->add_option("OPTION", options, "NAME=VALUE, or NAME=default")->required();

    auto* cShow = app.add_subcommand("show", "every card with identity, state and digests");
    bool json = false;
    cShow->add_option("DIR", dir)->required();
    cShow->add_flag("--json", json, "machine-readable output");

    std::string part;
    auto* cDump = app.add_subcommand("dump", "write one non-volatile part of card N to standard output");
    cDump->add_option("DIR", dir)->required();
    cDump->add_option("N", number, "card number")->required();
    cDump
        ->add_option("PART", part,
                     "eeprom, pcie-eeprom, epcs, flash (PCIe-core cards), mcu-flash or mcu-boot")
        ->required()
        ->check(CLI::IsMember({"eeprom", "pcie-eeprom", "epcs", "flash", "mcu-flash", "mcu-boot"}));

    vjxsim::RunSettings run;
    auto* cRun = app.add_subcommand("run", "run COMMAND with the simulated access library bound to the rack");
    cRun->add_option("DIR", run.dir)->required();
    cRun->add_option("--trace", run.trace, "write the bus trace to FILE");
    cRun->add_option("--trace-only", run.traceOnly, "trace only these kinds of access");
    cRun->add_option("--stats", run.stats, "write the access counts by kind (JSON) to FILE at the end");
    cRun->add_option("--timing", run.timing, "timing profile")->check(CLI::IsMember(sim::Timing::names()));
    cRun->add_option(
            "--clock", run.clock,
            "real (default), or virtual: the command's sleeps and clock readings are virtual, so the "
            "parts' longest times cost no waiting")
        ->check(CLI::IsMember({"real", "virtual"}));
    cRun->add_flag("--strict", run.strict,
                   "end the command with status 71 at the first rule of a part it breaks (the rule's "
                   "trace line goes to standard error)");
    cRun->add_option("--at", run.at,
                     "N:EVENT: after bus access N, SIGNAME[:group] (to the program or its process group), "
                     "stdout-closed, or wall-clock+S / wall-clock-S; repeatable")
        ->allow_extra_args(false);
    cRun->add_option("COMMAND", run.command, "the command and its arguments, after --")->required();

    auto* cPower = app.add_subcommand("power-cycle", "power every card (or card N) down and up again");
    cPower->add_option("DIR", dir)->required();
    cPower->add_option("--card", number, "only this card");

    auto* cImage = app.add_subcommand("image", "write an image for the simulated parts");
    cImage->require_subcommand(1);
    unsigned version = 0, isp = 0;
    size_t size = 0;
    std::string text, out;
    auto* iFpga = cImage->add_subcommand("fpga", "a valid FPGA configuration image (VERSION reads N)");
    iFpga->add_option("--version", version, "FPGA version")->required()->check(CLI::Range(0, 255));
    iFpga->add_option("--size", size, "image size in bytes")->required();
    iFpga->add_option("-o", out, "output file")->required();
    auto* iFw = cImage->add_subcommand("firmware", "a raw firmware image whose application answers VERSION");
    iFw->add_option("--version", text, "version text, e.g. 9.14")->required();
    iFw->add_option("--isp", isp, "ISP version number")->required()->check(CLI::Range(0, 255));
    iFw->add_option("--size", size, "image size: 16384, 32768, 49152 or 65536 (default 65536)");
    iFw->add_option("-o", out, "output file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is no error; every usage error is status 1, whatever the
        // parser calls it.
        return app.exit(e) == 0 ? 0 : 1;
    }

    if (*cNew) return vjxsim::cmdNew(dir, cards);
    if (*cSet) return vjxsim::cmdSet(dir, number, options);
    if (*cShow) return vjxsim::cmdShow(dir, json);
    if (*cDump) return vjxsim::cmdDump(dir, number, part);
    if (*cRun) return vjxsim::cmdRun(run, argv[0]);
    if (*cPower) return vjxsim::cmdPowerCycle(dir, number);
    if (*iFpga) return vjxsim::cmdImageFpga(version, size, out);
    if (*iFw) return vjxsim::cmdImageFirmware(text, isp, size == 0 ? 65536 : size, out);
    return 1;
}
