// The simulator's bus trace, parsed: which function was accessed how.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/SimRack.h"

namespace bustrace {

struct Access {
    uint64_t timeUs = 0;
    std::string function;  // card<N> / bridge<N>
    std::string op;        // r, w, cr, cw
    std::string space;     // address space, "-" for configuration
    uint32_t offset = 0;
    unsigned width = 0;
    uint32_t value = 0;
    std::string line;
    bool is(const char* o, const char* s, uint32_t off) const {
        return op == o && space == s && offset == off;
    }
};

inline std::vector<Access> Accesses(testsupport::SimRack& rack) {
    std::vector<Access> out;
    for (const std::string& line : rack.traceLines()) {
        std::istringstream in(line);
        std::string seq, offset, value;
        Access a;
        in >> seq >> a.timeUs >> a.function >> a.op >> a.space >> offset >> a.width >> value;
        a.offset = static_cast<uint32_t>(std::stoul(offset, nullptr, 16));
        a.value = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
        a.line = line;
        out.push_back(a);
    }
    return out;
}

}  // namespace bustrace
