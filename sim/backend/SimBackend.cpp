#include "SimBackend.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "InProcess.h"
#include "sim/FileUtil.h"
#include "sim/WindowsHold.h"

namespace sim {
namespace backend {
namespace {

std::string hex(unsigned v) {
    char b[16];
    snprintf(b, sizeof b, "0x%x", v);
    return b;
}

}  // namespace

SimBackend& SimBackend::instance() {
    static SimBackend backend;
    return backend;
}

// At the end of the program: what it changed is saved, or the program ends
// with an error instead of passing for one whose cards remember.
SimBackend::~SimBackend() {
    std::string error;
    if (m_owned && (!m_owned->saveState(&error) || !m_owned->intact(&error))) {
        fprintf(stderr, "vjxsim: the simulated machine stops: %s\n", error.c_str());
        _exit(kExitRackFault);
    }
    if (m_owned && m_owned->ruleBroken(&error)) {
        fprintf(stderr, "vjxsim: strict: a part's rule was broken: %s\n", error.c_str());
        _exit(kExitRuleBroken);
    }
    // A program that never opened a card made no accesses: its counts are zero.
    const std::string counts = m_owned ? m_owned->trace().countsJson() : Trace().countsJson();
    if (!m_statsPath.empty() && !writeFileAtomic(m_statsPath, counts, &error)) {
        fprintf(stderr, "vjxsim: access counts not written: %s\n", error.c_str());
        _exit(kExitRackFault);
    }
}

void bind(Rack* rack) {
    SimBackend::instance().bind(rack);
}

void SimBackend::bind(Rack* rack) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.clear();
    m_registry.reset();
    m_error.clear();
    m_rack = rack;
    if (rack) m_registry.reset(new merix::Registry(rack->runtimeDir()));
}

int SimBackend::fail(const std::string& text) {
    m_error = text;
    return -1;
}

bool SimBackend::readEnvironment() {
    m_envTried = true;
    const char* dir = getenv(kEnvRack);
    if (!dir || !*dir) {
        m_envError = std::string(kEnvRack) + " is not set: run the program with 'vjxsim run RACK -- COMMAND'";
        return false;
    }
    const char* profile = getenv(kEnvTiming);
    if (profile && *profile && !Timing::byName(profile, m_envTiming)) {
        m_envError =
            std::string(kEnvTiming) + "='" + profile + "' is no timing profile (" + Timing::namesText() + ")";
        return false;
    }
    std::string error;
    const char* only = getenv(kEnvTraceOnly);
    if (only && !TraceFilter::parse(only, &m_envFilter, &error)) {
        m_envError = std::string(kEnvTraceOnly) + ": " + error;
        return false;
    }
    std::string text;
    if (!readFile(std::string(dir) + "/rack.json", &text, nullptr)) {
        m_envError =
            std::string("Simulated rack: ") + dir + ": not a rack (no rack.json; make one with 'vjxsim new')";
        return false;
    }
    const char* at = getenv(kEnvAt);
    if (at && *at && !parseMoments(at, &m_moments, &error)) {
        m_envError = std::string(kEnvAt) + ": " + error;
        return false;
    }
    const char* trace = getenv(kEnvTrace);
    if (trace) m_tracePath = trace;
    const char* stats = getenv(kEnvStats);
    if (stats) m_statsPath = stats;
    m_envDir = dir;
    m_registry.reset(new merix::Registry(m_envDir + "/runtime"));
    return true;
}

// The cards as their last user left them, read when this program first
// opens one: a program waiting for the lock must not work on, nor save, a
// state another program changes meanwhile.
bool SimBackend::loadRack() {
    std::string error;
    if (WindowsHold::held(m_envDir)) {
        m_error = "Simulated rack: " + m_envDir +
                  ": held for a Windows program ('vjxsim run ... -- wine'); try again when it has ended";
        return false;
    }
    std::unique_ptr<Rack> rack = Rack::open(m_envDir, m_envTiming, m_monotonic, &error);
    if (!rack) {
        m_error = "Simulated rack: " + error;
        return false;
    }
    rack->trace().setFilter(m_envFilter);
    const char* strict = getenv(kEnvStrict);
    rack->setStrict(strict && std::string(strict) == "1");
    if (!m_tracePath.empty() && !rack->trace().toFile(m_tracePath, &error)) {
        m_error = error;
        return false;
    }
    m_owned = std::move(rack);
    m_rack = m_owned.get();
    return true;
}

bool SimBackend::ensureSettings() {
    if (!m_registry && !m_rack && !m_envTried) readEnvironment();
    if (!m_registry) {
        m_error = m_envError;
        return false;
    }
    return registerProcess();
}

bool SimBackend::ensureRack() {
    if (!ensureSettings()) return false;
    return m_rack || loadRack();
}

// After every access: a rack that can no longer keep what happens ends the
// program (the shared library), or fails the call (a test's bound rack).
int SimBackend::checked(int status) {
    std::string why;
    if (m_owned && !m_moments.empty()) {
        const uint64_t now = m_owned->trace().accesses();
        const uint64_t before = m_momentsSeen;
        m_momentsSeen = now;
        deliverMoments(m_moments, before, now);
    }
    if (m_rack && m_rack->ruleBroken(&why)) {
        if (m_owned) {
            m_owned->trace().flush();
            fprintf(stderr, "vjxsim: strict: a part's rule was broken: %s\n", why.c_str());
            _exit(kExitRuleBroken);
        }
        return fail("strict: a part's rule was broken: " + why);
    }
    if (!m_rack || m_rack->intact(&why)) return status;
    if (m_owned) {
        fprintf(stderr, "vjxsim: the simulated machine stops: %s\n", why.c_str());
        _exit(kExitRackFault);
    }
    return fail(why);
}

bool SimBackend::registerProcess() {
    std::string error;
    if (m_registry && !m_registry->registerProcess(&error)) {
        m_error = "Process registry: " + error;
        return false;
    }
    return true;
}

const SimBackend::Handle* SimBackend::handle(int h) {
    if (h < 1 || static_cast<size_t>(h) > m_handles.size() || !m_handles[h - 1].open) {
        m_error = "Invalid handle " + std::to_string(h);
        return nullptr;
    }
    if (!m_rack && !ensureRack()) return nullptr;  // read again after the flag was taken
    return &m_handles[h - 1];
}

bool SimBackend::usable(const Handle& h, const char* what) {
    Card* card = m_rack->cardOf(h.kind, h.number);
    if (card && h.kind == PciFunction::Kind::Card && card->openFails()) {
        m_error =
            std::string(what) + ": " + functionName(h.kind, h.number) + " cannot be opened (device busy)";
        return false;
    }
    return true;
}

// As the hardware library meets register files that only root may open.
bool SimBackend::registersUsable(const Handle& h, const char* what) {
    if (!usable(h, what)) return false;
    Card* card = m_rack->cardOf(h.kind, h.number);
    if (card && h.kind == PciFunction::Kind::Card && card->registersDenied()) {
        m_error = std::string(what) + ": can't open the register space of " + functionName(h.kind, h.number) +
                  ": Permission denied (access to VJX cards needs root rights)";
        return false;
    }
    return true;
}

int SimBackend::open(int* out, unsigned number, PciFunction::Kind kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ensureRack()) return -1;
    if (!out) return fail("Open: no place for the handle");
    const char* what = kind == PciFunction::Kind::Card ? "card" : "bridge";
    if (number < kFirstNumber || !m_rack->function(kind, number - kFirstNumber + 1))
        return fail(std::string("Open: no ") + what + " " + hex(number));
    Handle h;
    h.open = true;
    h.kind = kind;
    h.number = number - kFirstNumber + 1;
    for (size_t i = 0; i < m_handles.size(); ++i)
        if (!m_handles[i].open) {
            m_handles[i] = h;
            *out = static_cast<int>(i + 1);
            return 0;
        }
    m_handles.push_back(h);
    *out = static_cast<int>(m_handles.size());
    return 0;
}

int SimBackend::close(int h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!handle(h)) return -1;
    m_handles[h - 1].open = false;
    return 0;
}

int SimBackend::getDeviceId(int h, uint16_t* deviceId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle* p = handle(h);
    if (!p) return -1;
    if (!deviceId) return fail("GetDeviceId: no place for the result");
    *deviceId = m_rack->function(p->kind, p->number)->deviceId();
    return 0;
}

int SimBackend::getDeviceInfo(int h, vjxDeviceInfo* info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle* p = handle(h);
    if (!p) return -1;
    if (!info) return fail("GetDeviceInfo: no place for the result");
    PciFunction* fn = m_rack->function(p->kind, p->number);
    memset(info, 0, sizeof *info);
    PciAddress a = fn->address();
    info->bus = a.bus;
    info->slot = a.slot;
    info->function = a.function;
    info->space0Length = fn->spaceLength(0);
    info->space1Length = fn->spaceLength(1);
    info->space2Length = fn->spaceLength(2);
    return 0;
}

int SimBackend::configDump(int h, unsigned offset, unsigned count, void* buffer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle* p = handle(h);
    if (!p || !usable(*p, "ConfigDump")) return -1;
    if (!buffer && count) return fail("ConfigDump: no buffer");
    std::string error;
    if (!m_rack->configRead(p->kind, p->number, offset, count, static_cast<uint8_t*>(buffer), &error))
        return fail("ConfigDump: " + error);
    return checked(0);
}

int SimBackend::read(int h, uint8_t space, unsigned offset, unsigned width, uint32_t* value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle* p = handle(h);
    if (!p || !registersUsable(*p, "Read")) return -1;
    if (!value) return fail("Read: no place for the value");
    std::string error;
    if (!m_rack->read(p->kind, p->number, space, offset, width, value, &error)) return fail("Read: " + error);
    return checked(0);
}

int SimBackend::write(int h, uint8_t space, unsigned offset, unsigned width, uint32_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle* p = handle(h);
    if (!p || !registersUsable(*p, "Write")) return -1;
    std::string error;
    if (!m_rack->write(p->kind, p->number, space, offset, width, value, &error))
        return fail("Write: " + error);
    return checked(0);
}

int SimBackend::activeProcessCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ensureSettings()) return 1;  // nobody else can be using a rack we cannot find
    return m_registry->activeProcessCount();
}

int SimBackend::setFlashActive(int on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ensureSettings()) return 0;
    std::string error;
    if (!m_registry->setFlashActive(on != 0, &error)) {
        m_error = error;
        return 0;
    }
    // A rack this program read before it held the flag may be out of date:
    // read it again when a card is next opened (nothing of it was used).
    if (on && m_owned && !m_owned->touched()) {
        m_owned.reset();
        m_rack = nullptr;
    }
    return 1;
}

const char* SimBackend::errorString() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error.c_str();
}

}  // namespace backend
}  // namespace sim
