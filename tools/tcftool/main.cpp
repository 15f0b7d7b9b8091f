// tcftool: looks into update files, builds them and takes them apart,
// without a card. The option texts here and the manual page man/tcftool.1
// describe the same command line.
#include <CLI/CLI.hpp>

#include "Commands.h"

int main(int argc, char** argv) {
    CLI::App app{"Builds, inspects and takes apart VJX flash update files (.tcf)"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success (info: vjxflash or VJXFlash would accept the file), 1 failure (info: both "
        "would refuse it; build --strict: warnings), 2 wrong command line. See tcftool(1).");
    const auto formats = CLI::IsMember({"auto", "ihex", "bin"});

    std::string infoPath;
    bool json = false;
    CLI::App* info =
        app.add_subcommand("info", "Show what an update file carries and which programs accept it");
    info->add_option("FILE", infoPath, "Update file")->required();
    info->add_flag("--json", json, "Print the report as JSON");

    tcftool::BuildOptions build;
    CLI::App* buildCmd =
        app.add_subcommand("build", "Write an update file, checked with the programs' reader");
    buildCmd
        ->add_option("-o,--output", build.output, "File to write (replaced only by a complete, checked file)")
        ->required();
    buildCmd->add_option("--module", build.module, "Module code of the model (decimal, or hex with 0x)")
        ->required();
    buildCmd->add_option("--fpga", build.fpga, "FPGA configuration image (raw bytes)");
    buildCmd->add_option("--firmware", build.firmware, "Microcontroller firmware (Intel HEX or raw binary)");
    buildCmd
        ->add_option("--firmware-format", build.firmwareFormat, "How to read the firmware: ihex, bin or auto")
        ->check(formats)
        ->capture_default_str();
    buildCmd->add_option("--eeprom", build.eeprom,
                         "Configuration EEPROM image (32-bit little-endian values)");
    buildCmd->add_option("--pcie-eeprom", build.pcieEeprom, "PCIe bridge EEPROM image (raw bytes)");
    buildCmd->add_flag("--strict", build.strict, "Refuse to write the file when there are warnings");
    buildCmd->add_flag("--json", build.json, "Print what was read and written as JSON");

    tcftool::ExtractOptions extract;
    CLI::App* extractCmd = app.add_subcommand("extract", "Write the images an update file carries to files");
    extractCmd->add_option("FILE", extract.input, "Update file")->required();
    extractCmd->add_option("--firmware", extract.firmware,
                           "Firmware out: Intel HEX (.hex, .ihx) or raw binary (.bin)");
    extractCmd
        ->add_option("--firmware-format", extract.firmwareFormat,
                     "ihex, bin, or auto: by the name's extension")
        ->check(formats)
        ->capture_default_str();
    extractCmd->add_option("--fpga", extract.fpga, "FPGA configuration image out");
    extractCmd->add_option("--eeprom", extract.eeprom, "Configuration EEPROM image out");
    extractCmd->add_option("--pcie-eeprom", extract.pcieEeprom, "PCIe bridge EEPROM image out");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help answers 0; a wrong command line answers 2, apart from the
        // verdicts 0 and 1 of info.
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    if (info->parsed()) return tcftool::RunInfo(infoPath, json);
    if (extractCmd->parsed()) return tcftool::RunExtract(extract);
    return tcftool::RunBuild(build);
}
