// tcftool: looks into update files and builds them, without a card.
#include <CLI/CLI.hpp>

#include "Commands.h"

int main(int argc, char** argv) {
    CLI::App app{"Looks into VJX flash update files and builds them"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success (info: the file would be accepted), 1 failure (info: refused), "
        "2 wrong command line.");

    std::string infoPath;
    bool json = false;
    CLI::App* info =
        app.add_subcommand("info", "Show what an update file carries and whether vjxflash accepts it");
    info->add_option("FILE", infoPath, "Update file")->required();
    info->add_flag("--json", json, "Print the report as JSON");

    tcftool::BuildOptions build;
    CLI::App* buildCmd = app.add_subcommand("build", "Write an update file");
    buildCmd->add_option("-o,--output", build.output, "File to write")->required();
    buildCmd->add_option("--module", build.module, "Module code of the model (decimal, or hex with 0x)")
        ->required();
    buildCmd->add_option("--fpga", build.fpga, "FPGA configuration image (raw bytes)");
    buildCmd->add_option("--firmware", build.firmware, "Microcontroller firmware (Intel HEX or raw binary)");
    buildCmd->add_option("--eeprom", build.eeprom,
                         "Configuration EEPROM image (32-bit little-endian values)");
    buildCmd->add_option("--pcie-eeprom", build.pcieEeprom, "PCIe bridge EEPROM image (raw bytes)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help answers 0; a wrong command line answers 2, apart from the
        // verdicts 0 and 1 of info.
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    if (info->parsed()) return tcftool::RunInfo(infoPath, json);
    return tcftool::RunBuild(build);
}
