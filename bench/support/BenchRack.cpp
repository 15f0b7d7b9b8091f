#include "BenchRack.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "sim/backend/InProcess.h"

namespace bench {

BenchRack::BenchRack(const std::vector<std::string>& cardSpecs) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vjx-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        m_error = "can't make a temporary directory";
        return;
    }
    m_dir = tmpl;
    m_rack = sim::Rack::create(m_dir + "/rack", cardSpecs, sim::Timing::datasheet(), m_clock, &m_error);
    if (!m_rack) return;
    sim::backend::bind(m_rack.get());
    // Freshly powered FPGAs take their configuration time before the
    // mailbox answers.
    usleep(100000);
}

BenchRack::~BenchRack() {
    sim::backend::bind(nullptr);
    m_rack.reset();
    std::error_code ec;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
}

BenchRack::LinkBytes BenchRack::linkBytes() {
    LinkBytes total;
    for (unsigned n = 1; n <= m_rack->cardCount(); ++n) {
        const auto& stats = m_rack->card(n).mailbox().stats();
        total.toMcu += stats.bytesToMcu;
        total.toHost += stats.bytesToHost;
    }
    return total;
}

void BenchRack::printAccesses() {
    std::printf("  accesses by kind (function op space):\n");
    for (const auto& [kind, count] : m_rack->trace().counts())
        std::printf("    %-16s %12llu\n", kind.c_str(), static_cast<unsigned long long>(count));
    std::printf("    %-16s %12llu\n", "total", static_cast<unsigned long long>(m_rack->trace().accesses()));
}

}  // namespace bench
