// A whole update of the reference card: a VJX PCIe K (model 84) with a
// 512 KiB EPCS4, brought from old firmware and an old FPGA configuration to a
// 400 KiB FPGA image (another size in KiB as the first argument) and 64 KiB
// of firmware. Runs it in the typical and in the maximum timing of the parts,
// each twice: in real time and on the virtual clock, and reports both, their
// ratio, and where the real run's extra time went.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/VJXFlashDlg.h"
#include "bench/support/BenchClock.h"
#include "bench/support/BenchRack.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"
#include "tcf/TcfWriter.h"

namespace {

constexpr size_t kFirmwareSize = 64 * 1024;
const char* const kCard = "84,fw=0.90,isp=5,fpga=5";

bool writeUpdateFile(size_t fpgaSize, const std::string& path, std::string* error) {
    tcf::FileContent content;
    content.module = 84;
    auto fpga = sim::fpga_image::make(7, fpgaSize);
    content.fpga.assign(fpga.begin(), fpga.end());
    sim::firmware_image::Version version;
    sim::firmware_image::versionFromText("2.01", 7, &version);
    auto firmware = sim::firmware_image::make(version, kFirmwareSize);
    std::vector<unsigned char> file;
    if (!tcf::CutFirmware(std::vector<unsigned char>(firmware.begin(), firmware.end()), &content.segments,
                          error) ||
        !tcf::BuildFile(content, &file, error))
        return false;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    const bool written = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (out) std::fclose(out);
    if (!written) *error = "can't write " + path;
    return written;
}

bool update(bench::BenchRack& rack, size_t fpgaSize, std::string* failure) {
    const std::string path = rack.dir() + "/reference.tcf";
    if (!writeUpdateFile(fpgaSize, path, failure)) return false;
    std::FILE* log = std::tmpfile();
    if (!log) return false;
    CVJXFlashDlg dialog(log);
    if (!dialog.CountVjxBoards() || !dialog.ListVjxBoards(0)) {
        *failure = "the card was not listed";
        std::fclose(log);
        return false;
    }
    dialog.CardList().SetCurSel(0);
    dialog.FileName().SetWindowText(path.c_str());
    dialog.OnFlash();
    const bool ok = dialog.FlashCompleted();
    if (!ok) *failure = bench::firstErrorLine(log);
    std::fclose(log);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t fpgaKiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 400;
    if (fpgaKiB == 0 || fpgaKiB > 500) {
        std::fprintf(stderr, "usage: bench_update [FPGA_IMAGE_KIB (1..500, default 400)]\n");
        return 1;
    }
    std::printf("bench_update: reference card VJX PCIe K, EPCS4, %zu KiB FPGA image, %zu KiB firmware\n",
                fpgaKiB, kFirmwareSize / 1024);
    const bench::Body body = [&](bench::BenchRack& rack, std::string* failure) {
        return update(rack, fpgaKiB * 1024, failure);
    };
    bench::printSleepOvershoot();
    bench::useProgramTimerSlack();
    for (const std::string profile : {"typical", "max"}) {
        const bench::RunResult real = bench::runOnce({kCard}, profile, false, body);
        const bench::RunResult virt = bench::runOnce({kCard}, profile, true, body);
        bench::printComparison(profile, real, virt);
    }
    return 0;
}
