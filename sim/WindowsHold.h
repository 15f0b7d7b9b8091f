// A rack held for a Windows program. The program for simulated cards runs
// under Wine, outside the access library's process registry (its locks are
// the Linux kernel's), so `vjxsim run` takes the rack for it: it registers
// with the registry and holds the flash-active flag for the whole run, and
// writes a hold file naming a token that it hands to the program alone. A
// Linux program meets a held rack and keeps off it; the Windows program
// drives only a rack held with its token. So a Linux and a Windows program
// never drive one rack at the same time.
#pragma once

#include <memory>
#include <string>

namespace sim {

class WindowsHold {
public:
    // Takes the hold on the rack in `dir` (Linux only): false when another
    // live process holds it.
    static std::unique_ptr<WindowsHold> take(const std::string& dir, std::string* error);
    ~WindowsHold();  // lets go (also done by the system when the process dies)
    WindowsHold(const WindowsHold&) = delete;
    WindowsHold& operator=(const WindowsHold&) = delete;

    const std::string& token() const { return m_token; }

    // Whether a live process holds the rack for a Windows program.
    static bool held(const std::string& dir);
    // Whether the rack is held with `token` (the Windows program's check).
    static bool heldWith(const std::string& dir, const std::string& token);

    static std::string path(const std::string& dir) { return dir + "/runtime/windows-hold"; }

private:
    WindowsHold() = default;
    std::string m_path;
    std::string m_token;
    int m_fd = -1;
};

}  // namespace sim
