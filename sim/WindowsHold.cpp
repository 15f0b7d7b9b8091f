#include "WindowsHold.h"

#include <unistd.h>

#include <random>

#include "FileUtil.h"
#include "Platform.h"

namespace sim {

std::unique_ptr<WindowsHold> WindowsHold::take(const std::string& dir, std::string* error) {
    std::unique_ptr<WindowsHold> hold(new WindowsHold);
    hold->m_path = path(dir);
    hold->m_fd = sys::openFile(hold->m_path, sys::Open::ReadWriteCreate);
    if (hold->m_fd < 0) {
        if (error) *error = "cannot open " + hold->m_path;
        return nullptr;
    }
    if (!sys::tryLock(hold->m_fd, true)) {
        if (error) *error = dir + ": held for another Windows program";
        return nullptr;
    }
    std::random_device random;
    char token[64];
    snprintf(token, sizeof token, "%d-%08x%08x", sys::processId(), random(), random());
    hold->m_token = token;
    const std::string text = hold->m_token + "\n";
    if (!sys::truncateFile(hold->m_fd, 0) ||
        sys::writeAt(hold->m_fd, text.data(), text.size(), 0) != static_cast<long long>(text.size())) {
        if (error) *error = "cannot write " + hold->m_path;
        return nullptr;
    }
    return hold;
}

WindowsHold::~WindowsHold() {
    if (m_fd < 0) return;
    if (!m_token.empty()) sys::truncateFile(m_fd, 0);  // the token is spent
    close(m_fd);
}

bool WindowsHold::held(const std::string& dir) {
    int fd = sys::openFile(path(dir), sys::Open::Read);
    if (fd < 0) return false;
    const bool free = sys::tryLock(fd, false);
    close(fd);  // and with it the lock just taken
    return !free;
}

bool WindowsHold::heldWith(const std::string& dir, const std::string& token) {
    std::string text;
    if (token.empty() || !readFile(path(dir), &text, nullptr)) return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text == token;
}

}  // namespace sim
