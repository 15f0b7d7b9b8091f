// One libmerix32 handle for the length of one adapter operation: opened by
// access number, closed when the operation leaves, whatever path it takes.
#pragma once

#include "../../libmerix32/merix32.h"
#include "../wd_types.h"

namespace merix {

// Access numbers: 0x1001..0x1014 are cards 1..20, 0x1015..0x1028 the PCIe
// bridges above cards 1..20.
constexpr DWORD kFirstCard = 0x1001;
constexpr DWORD kFirstBridge = 0x1015;
constexpr DWORD kEndOfNumbers = 0x1029;
constexpr DWORD kBridgeOffset = 0x14;  // bridge number - card number

inline bool IsAccessNumber(UINT64 number) {
    return number >= kFirstCard && number < kEndOfNumbers;
}

// Opens card or bridge `number`; answers the library status (0 success).
int OpenDevice(int* handle, DWORD number);

class ScopedHandle {
public:
    ScopedHandle() = default;
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    // 0 on success, as the library answers.
    int Open(DWORD number) {
        Close();
        int h = -1;
        int status = OpenDevice(&h, number);
        if (status == 0) {
            m_handle = h;
            m_open = true;
        }
        return status;
    }
    void Close() {
        if (m_open) vjxClose(m_handle);
        m_open = false;
    }
    int get() const { return m_handle; }

private:
    int m_handle = -1;
    bool m_open = false;
};

}  // namespace merix
