// vjxsim image fpga, image firmware.
#include <cstdio>

#include "Commands.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"

namespace vjxsim {
namespace {

int writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return error("cannot create " + path);
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (fclose(f) == 0) && ok;
    return ok ? 0 : error("cannot write " + path);
}

}  // namespace

int cmdImageFpga(unsigned version, size_t size, const std::string& out) {
    if (size < sim::fpga_image::kMinSize)
        return error("an FPGA image has at least " + std::to_string(sim::fpga_image::kMinSize) + " bytes");
    if (size > (16u << 20)) return error("an FPGA image of more than 16 MiB fits no configuration device");
    return writeFile(out, sim::fpga_image::make(static_cast<uint8_t>(version), size));
}

int cmdImageFirmware(const std::string& version, unsigned isp, size_t size, const std::string& out) {
    sim::firmware_image::Version v;
    if (!sim::firmware_image::versionFromText(version, static_cast<uint8_t>(isp), &v))
        return error("bad firmware version '" + version + "' (e.g. 1.00, 9.14 or 9)");
    if (size == 0 || size > 65536 || size % 16384 != 0)
        return error("a firmware image is 16384, 32768, 49152 or 65536 bytes");
    return writeFile(out, sim::firmware_image::make(v, size));
}

}  // namespace vjxsim
