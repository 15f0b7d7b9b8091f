// Process count and flash-active flag of the access library, shared by every
// process on the machine that uses one runtime directory. Both rest on
// advisory flock locks, which the kernel drops when a process ends in any
// way (exit, crash, kill -9), so a dead process never counts and never
// blocks a flash update.
//
// Layout of the runtime directory:
//   registry.lock       serialises registration, counting and clean-up
//   proc-<pid>-<n>      one per registered Registry object, locked for life
//   flash.lock          locked while a process has the flash flag set;
//                       holds the holder's pid as text
#pragma once

#include <string>

namespace merix {

class Registry {  // one per runtime directory; safe when processes die (flock)
public:
    explicit Registry(std::string runtimeDir);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    bool registerProcess(std::string* error);  // idempotent; this process now counts
    int activeProcessCount();                  // live registered processes, caller included
    bool setFlashActive(
        bool on,
        std::string* error);  // false (error names the holder's pid) if another live process holds the flag

private:
    bool ensureDir(std::string* error);
    bool forkedAway() const;
    void dropInherited();
    // A child made by fork() shares the parent's lock files; every Registry
    // of the child lets go of them at once, so that only the parent holds
    // its registration and flag.
    static void afterForkInChild();

    std::string m_dir;
    int m_procFd = -1;
    std::string m_procPath;
    int m_flashFd = -1;
    int m_ownerPid = 0;  // process that opened the descriptors above
};

}  // namespace merix
