// A whole update of the reference card in the datasheet timing: a VJX PCIe K
// (model 84) with a 512 KiB EPCS4, brought from old firmware and an old FPGA
// configuration to a 400 KiB FPGA image and 64 KiB of firmware. Reports wall
// and CPU time, register accesses by kind, and how much of the wall time
// the parts' busy times, the link's byte times and the engines' fixed waits
// account for.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/VJXFlashDlg.h"
#include "bench/support/BenchClock.h"
#include "bench/support/BenchRack.h"
#include "sim/Timing.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"
#include "tcf/TcfWriter.h"

namespace {

constexpr size_t kFpgaImageSize = 400 * 1024;
constexpr size_t kFirmwareSize = 64 * 1024;
constexpr unsigned kEpcsPage = 256;
constexpr unsigned kRecordBytes = 128;

// Pages of the image plus its 4 CRC bytes that hold anything but 0xFF: the
// pages the engine writes after the bulk erase.
unsigned pagesToWrite(const std::vector<unsigned char>& image) {
    const size_t size = image.size() + 4;
    unsigned pages = 0;
    for (size_t at = 0; at < size; at += kEpcsPage) {
        if (at + kEpcsPage > image.size()) {
            ++pages;  // holds CRC bytes, which are never all 0xFF here
            continue;
        }
        if (std::any_of(image.begin() + at, image.begin() + at + kEpcsPage,
                        [](unsigned char b) { return b != 0xFF; }))
            ++pages;
    }
    return pages;
}

}  // namespace

int main() {
    bench::BenchRack rack({"84,fw=0.90,isp=5,fpga=5"});
    if (!rack.ok()) {
        std::fprintf(stderr, "bench_update: %s\n", rack.error().c_str());
        return 1;
    }

    tcf::FileContent content;
    content.module = 84;
    auto fpga = sim::fpga_image::make(7, kFpgaImageSize);
    content.fpga.assign(fpga.begin(), fpga.end());
    sim::firmware_image::Version version;
    sim::firmware_image::versionFromText("2.01", 7, &version);
    auto firmware = sim::firmware_image::make(version, kFirmwareSize);
    std::string error;
    std::vector<unsigned char> file;
    if (!tcf::CutFirmware(std::vector<unsigned char>(firmware.begin(), firmware.end()), &content.segments,
                          &error) ||
        !tcf::BuildFile(content, &file, &error)) {
        std::fprintf(stderr, "bench_update: %s\n", error.c_str());
        return 1;
    }
    const std::string path = rack.dir() + "/reference.tcf";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size()) return 1;
    std::fclose(out);

    std::FILE* log = std::tmpfile();
    if (!log) return 1;
    CVJXFlashDlg dialog(log);
    if (!dialog.CountVjxBoards() || !dialog.ListVjxBoards(0)) return 1;
    dialog.CardList().SetCurSel(0);
    dialog.FileName().SetWindowText(path.c_str());

    const uint64_t accesses0 = rack.rack().trace().accesses();
    bench::sleepLog().clear();
    const double cpu0 = bench::cpuSeconds();
    const uint64_t t0 = bench::monotonicUs();
    dialog.OnFlash();
    const double wallMs = static_cast<double>(bench::monotonicUs() - t0) / 1000.0;
    const double cpuMs = (bench::cpuSeconds() - cpu0) * 1000.0;
    if (!dialog.FlashCompleted()) {
        std::fprintf(stderr, "bench_update: the update did not complete; its log:\n");
        std::rewind(log);
        char line[512];
        while (std::fgets(line, sizeof line, log)) std::fputs(line, stderr);
        return 1;
    }
    std::fclose(log);

    // Busy times the parts went through, from the work the update gave them.
    const sim::Timing t = sim::Timing::datasheet();
    unsigned records = 0;
    for (const auto& segment : content.segments)
        records += static_cast<unsigned>((segment.data.size() + kRecordBytes - 1) / kRecordBytes) + 1;
    const unsigned pages = pagesToWrite(content.fpga);
    const double epcsMs = static_cast<double>(t.epcsEraseEpcs4Us + pages * t.epcsPageUs) / 1000.0;
    const double mcuMs = static_cast<double>(t.mcuChipEraseUs + records * t.mcuRecordUs +
                                             2 * t.mcuBootConfigUs + 2 * t.mcuResetUs) /
                         1000.0;
    const double fpgaMs = static_cast<double>(t.fpgaConfigUs) / 1000.0;
    const double busyMs = epcsMs + mcuMs + fpgaMs;

    const auto link = rack.linkBytes();
    const double byteMs = static_cast<double>(sim::byteTimeUs(115200)) / 1000.0;
    const double linkMs = static_cast<double>(std::max(link.toMcu, link.toHost)) * byteMs;

    const bench::SleepLog& sleeps = bench::sleepLog();
    // Fixed waits: line settling (2 ms), reset pulse and start-up (50, 300),
    // the "S" request (20), the final start (300), the PCIe EEPROM write
    // (100). Polls: 1 ms port and status polls, 10 ms probes, 500 ms erase polls.
    const double fixedMs = static_cast<double>(sleeps.requestedMsOf({2, 20, 50, 100, 300}));
    const double pollMs = static_cast<double>(sleeps.requestedMsOf({1, 10, 500}));
    auto share = [&](double ms) { return 100.0 * ms / wallMs; };

    std::printf(
        "bench_update: reference card VJX PCIe K, EPCS4, %zu KiB FPGA image, %zu KiB firmware "
        "(%zu segments), datasheet timing\n",
        kFpgaImageSize / 1024, kFirmwareSize / 1024, content.segments.size());
    std::printf("  wall time              %10.0f ms\n", wallMs);
    std::printf("  host CPU time          %10.0f ms  (%.1f%% of wall)\n", cpuMs, share(cpuMs));
    std::printf(
        "  parts busy             %10.0f ms  %5.1f%%  (EPCS erase + %u pages %0.f, MCU erase + %u "
        "records + boot bytes %0.f, FPGA load %0.f)\n",
        busyMs, share(busyMs), pages, epcsMs, records, mcuMs, fpgaMs);
    std::printf(
        "  link byte times        %10.0f ms  %5.1f%%  (%llu bytes to the MCU, %llu back, 115200 baud)\n",
        linkMs, share(linkMs), static_cast<unsigned long long>(link.toMcu),
        static_cast<unsigned long long>(link.toHost));
    std::printf("  fixed waits            %10.0f ms  %5.1f%%\n", fixedMs, share(fixedMs));
    std::printf("  polling sleeps         %10.0f ms  %5.1f%%  (overlap the busy and link times)\n", pollMs,
                share(pollMs));
    std::printf("  sleeps by requested duration:");
    for (const auto& [ms, calls] : sleeps.callsByMs)
        std::printf(" %ux%llu", ms, static_cast<unsigned long long>(calls));
    std::printf("\n  register accesses      %10llu\n",
                static_cast<unsigned long long>(rack.rack().trace().accesses() - accesses0));
    rack.printAccesses();
    return 0;
}
