// The bus trace: one line per register or configuration access,
//   <seq> <time-us> <function> <op> <space> <offset> <width> <value>
// seq from 1 and time in decimal; function card<N> or bridge<N>; op r/w for
// registers, cr/cw for configuration (space "-"); offset and value in
// lower-case hexadecimal without 0x; width 8, 16 or 32.
//
// A full update is millions of accesses, so lines go out through a large
// buffer, a filter can keep only some kinds (seq still counts every access,
// so the gaps show), and the access counts by kind are kept whether or not
// lines are written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace sim {

enum class AccessOp : uint8_t { Read, Write, ConfigRead, ConfigWrite };

struct TraceFilter {
    bool config = true;  // cr, cw
    bool space0 = true;  // bridge-chip and PEX 8111 registers (spaces 0 and 1)
    bool space2 = true;  // the card's FPGA registers
    bool writesOnly = false;
    // "all", or a comma list of config, space0, space2, writes; false for
    // anything else.
    static bool parse(const std::string& text, TraceFilter* out, std::string* error);
};

class Trace {
public:
    Trace() = default;
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Lines to a file (appended), or kept in memory; neither: counting only.
    bool toFile(const std::string& path, std::string* error);
    void toMemory();
    void off();
    void setFilter(const TraceFilter& filter) { m_filter = filter; }

    void record(uint64_t timeUs, bool bridge, unsigned number, AccessOp op, unsigned space, unsigned offset,
                unsigned width, uint32_t value);

    uint64_t accesses() const { return m_seq; }
    // Counts by "<card|bridge> <op> <space>", e.g. "card w 0", "bridge cr -".
    std::map<std::string, uint64_t> counts() const;
    std::string countsJson() const;

    // A part saw one of its rules broken (Rules.h): one line
    //   ! <time-us> <function> <rule> <detail>
    // written whatever the filter, kept in memory in every mode.
    void breach(uint64_t timeUs, const std::string& function, const char* rule, const std::string& detail);
    const std::vector<std::string>& breaches() const { return m_breaches; }
    void clearBreaches() { m_breaches.clear(); }
    static constexpr size_t kBreachesKept = 1000;

    std::vector<std::string> memoryLines() const;
    void clearMemory() { m_memory.clear(); }
    void flush();

    static std::string format(uint64_t seq, uint64_t timeUs, bool bridge, unsigned number, AccessOp op,
                              unsigned space, unsigned offset, unsigned width, uint32_t value);

private:
    struct Entry {
        uint64_t seq;
        uint64_t timeUs;
        uint32_t offset;
        uint32_t value;
        uint16_t number;
        uint8_t bridge;
        AccessOp op;
        uint8_t space;
        uint8_t width;
    };
    bool wanted(AccessOp op, unsigned space) const;

    uint64_t m_seq = 0;
    TraceFilter m_filter;
    FILE* m_file = nullptr;
    std::vector<char> m_buffer;
    bool m_memoryOn = false;
    std::vector<Entry> m_memory;
    std::vector<std::string> m_breaches;
    // [bridge][op][space 0..5, 6 = configuration]
    uint64_t m_counts[2][4][7] = {};
};

}  // namespace sim
