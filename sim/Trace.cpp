#include "Trace.h"

#include <errno.h>
#include <string.h>

#include <cinttypes>

#include "Platform.h"

namespace sim {
namespace {

const char* opText(AccessOp op) {
    switch (op) {
        case AccessOp::Read:
            return "r";
        case AccessOp::Write:
            return "w";
        case AccessOp::ConfigRead:
            return "cr";
        case AccessOp::ConfigWrite:
            return "cw";
    }
    return "?";
}

bool isConfig(AccessOp op) {
    return op == AccessOp::ConfigRead || op == AccessOp::ConfigWrite;
}

}  // namespace

bool TraceFilter::parse(const std::string& text, TraceFilter* out, std::string* error) {
    TraceFilter f;
    if (text.empty() || text == "all") {
        *out = f;
        return true;
    }
    f.config = f.space0 = f.space2 = false;
    bool anyKind = false;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string word = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (word == "config")
            f.config = anyKind = true;
        else if (word == "space0")
            f.space0 = anyKind = true;
        else if (word == "space2")
            f.space2 = anyKind = true;
        else if (word == "writes")
            f.writesOnly = true;
        else {
            if (error) *error = "unknown trace kind '" + word + "' (all, config, space0, space2, writes)";
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (!anyKind) f.config = f.space0 = f.space2 = true;  // "writes" alone: writes of every kind
    *out = f;
    return true;
}

Trace::~Trace() {
    flush();
    if (m_file) fclose(m_file);
}

bool Trace::toFile(const std::string& path, std::string* error) {
    off();
    m_file = sys::openAppend(path);
    if (!m_file) {
        if (error) *error = "cannot open trace file " + path + ": " + strerror(errno);
        return false;
    }
    m_buffer.resize(1 << 20);
    setvbuf(m_file, m_buffer.data(), _IOFBF, m_buffer.size());
    return true;
}

void Trace::toMemory() {
    off();
    m_memoryOn = true;
}

void Trace::off() {
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
    m_memoryOn = false;
    m_memory.clear();
}

bool Trace::wanted(AccessOp op, unsigned space) const {
    if (m_filter.writesOnly && (op == AccessOp::Read || op == AccessOp::ConfigRead)) return false;
    if (isConfig(op)) return m_filter.config;
    return space == 2 ? m_filter.space2 : m_filter.space0;
}

void Trace::record(uint64_t timeUs, bool bridge, unsigned number, AccessOp op, unsigned space,
                   unsigned offset, unsigned width, uint32_t value) {
    ++m_seq;
    unsigned slot = isConfig(op) ? 6 : (space < 6 ? space : 5);
    ++m_counts[bridge ? 1 : 0][static_cast<int>(op)][slot];
    if (!m_file && !m_memoryOn) return;
    if (!wanted(op, space)) return;
    if (m_file) {
        const char* kind = bridge ? "bridge" : "card";
        if (isConfig(op))
            fprintf(m_file, "%" PRIu64 " %" PRIu64 " %s%u %s - %x %u %x\n", m_seq, timeUs, kind, number,
                    opText(op), offset, width, value);
        else
            fprintf(m_file, "%" PRIu64 " %" PRIu64 " %s%u %s %u %x %u %x\n", m_seq, timeUs, kind, number,
                    opText(op), space, offset, width, value);
    }
    if (m_memoryOn)
        m_memory.push_back(Entry{m_seq, timeUs, offset, value, static_cast<uint16_t>(number),
                                 static_cast<uint8_t>(bridge), op, static_cast<uint8_t>(space),
                                 static_cast<uint8_t>(width)});
}

void Trace::breach(uint64_t timeUs, const std::string& function, const char* rule,
                   const std::string& detail) {
    std::string line = "! " + std::to_string(timeUs) + " " + function + " " + rule + " " + detail;
    if (m_file) {
        fputs(line.c_str(), m_file);
        fputc('\n', m_file);
    }
    // A host that breaks a rule on every bit would fill memory: the first
    // ones tell what went wrong.
    if (m_breaches.size() < kBreachesKept) m_breaches.push_back(std::move(line));
}

std::string Trace::format(uint64_t seq, uint64_t timeUs, bool bridge, unsigned number, AccessOp op,
                          unsigned space, unsigned offset, unsigned width, uint32_t value) {
    char line[128];
    char spaceText[8];
    if (isConfig(op))
        snprintf(spaceText, sizeof spaceText, "-");
    else
        snprintf(spaceText, sizeof spaceText, "%u", space);
    snprintf(line, sizeof line, "%" PRIu64 " %" PRIu64 " %s%u %s %s %x %u %x", seq, timeUs,
             bridge ? "bridge" : "card", number, opText(op), spaceText, offset, width, value);
    return line;
}

std::vector<std::string> Trace::memoryLines() const {
    std::vector<std::string> lines;
    lines.reserve(m_memory.size());
    for (const auto& e : m_memory)
        lines.push_back(
            format(e.seq, e.timeUs, e.bridge, e.number, e.op, e.space, e.offset, e.width, e.value));
    return lines;
}

void Trace::flush() {
    if (m_file) fflush(m_file);
}

std::map<std::string, uint64_t> Trace::counts() const {
    std::map<std::string, uint64_t> out;
    for (int b = 0; b < 2; ++b)
        for (int op = 0; op < 4; ++op)
            for (int s = 0; s < 7; ++s) {
                if (!m_counts[b][op][s]) continue;
                std::string key = std::string(b ? "bridge " : "card ") + opText(static_cast<AccessOp>(op)) +
                                  " " + (s == 6 ? std::string("-") : std::to_string(s));
                out[key] = m_counts[b][op][s];
            }
    return out;
}

std::string Trace::countsJson() const {
    std::string out = "{\"accesses\":" + std::to_string(m_seq) + ",\"by_kind\":{";
    bool first = true;
    for (const auto& kv : counts()) {
        out += (first ? "\"" : ",\"") + kv.first + "\":" + std::to_string(kv.second);
        first = false;
    }
    return out + "}}\n";
}

}  // namespace sim
