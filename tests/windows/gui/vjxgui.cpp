// vjxgui: drives and reads the windows of another program on the same
// desktop, for the GUI tests of VJXFlash under Wine. One action per run;
// what it reads goes to standard output, one item per line. Exit status 0
// when the action was done, 1 when the window or control was not there in
// time, 2 for a bad command line.
//
//   vjxgui wait TITLE [MS]            a visible top-level window TITLE appears
//   vjxgui paint TITLE                the window and its controls painted now
//   vjxgui gone TITLE [MS]            no window TITLE is left
//   vjxgui controls TITLE             every child: id, class, position and size
//                                     in dialog units, visible, enabled, text
//   vjxgui items TITLE ID             the combo box's entries, then "sel=N"
//   vjxgui text TITLE ID              one control's text
//   vjxgui settext TITLE ID TEXT      sets a control's text
//   vjxgui select TITLE ID N          selects combo entry N (-1: none)
//   vjxgui clear TITLE ID             empties a combo box
//   vjxgui click TITLE ID             presses a button (the command is posted)
//   vjxgui syscommand TITLE CMD       a system-menu command (posted)
//   vjxgui queryend TITLE             asks the window, as a log off does, whether
//                                     the session may end (WM_QUERYENDSESSION);
//                                     prints "answer=N", then tells it that the
//                                     session goes on (WM_ENDSESSION, FALSE)
//   vjxgui box TITLE                  a message box's text and its buttons
//   vjxgui filetypes TITLE            the file chooser's "files of type" entries
//   vjxgui files TITLE                the file names the chooser lists
//
// Dialog units are measured with a dialog of our own in the program's font
// ("MS Sans Serif", 8 pt): on one desktop both map alike.
#include <windows.h>
// clang-format off
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultWaitMs = 20000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kFileTypeCombo = 0x470;  // cmb1 of the file dialogs

struct Found {
    const char* title;
    HWND hwnd;
};

BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM param) {
    Found* found = reinterpret_cast<Found*>(param);
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    if (std::strcmp(text, found->title) == 0 && IsWindowVisible(hwnd)) {
        found->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindTop(const char* title) {
    Found found = {title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&found));
    return found.hwnd;
}

HWND WaitTop(const char* title, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = FindTop(title);
        if (hwnd) return hwnd;
        if (GetTickCount() - start > ms) return nullptr;
        Sleep(50);
    }
}

std::string TextOf(HWND hwnd) {
    const LRESULT length = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT got = SendMessageA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

// Line breaks and backslashes written as \r, \n and \\, so that one text is
// one line of output.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// A buffer in another process's memory, for the messages whose answers
// Wine does not carry across processes.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, SIZE_T size) : m_size(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process)
            m_remote =
                static_cast<char*>(VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteBuffer() {
        if (m_remote) VirtualFreeEx(m_process, m_remote, 0, MEM_RELEASE);
        if (m_process) CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool ok() const { return m_remote != nullptr; }
    char* at(SIZE_T offset = 0) const { return m_remote + offset; }
    void put(const void* data, SIZE_T size, SIZE_T offset = 0) {
        WriteProcessMemory(m_process, m_remote + offset, data, size, nullptr);
    }
    void get(void* data, SIZE_T size, SIZE_T offset = 0) const {
        ReadProcessMemory(m_process, m_remote + offset, data, size, nullptr);
    }

private:
    SIZE_T m_size;
    HANDLE m_process = nullptr;
    char* m_remote = nullptr;
};

// ---- Dialog units ------------------------------------------------------------

// A hidden dialog of our own in the program's dialog font.
HWND MeasuringDialog() {
    static HWND dialog = nullptr;
    if (dialog) return dialog;
    std::vector<WORD> t(64, 0);
    DLGTEMPLATE* tmpl = reinterpret_cast<DLGTEMPLATE*>(t.data());
    tmpl->style = DS_SETFONT | WS_POPUP;
    tmpl->cx = 100;
    tmpl->cy = 100;
    WORD* p = reinterpret_cast<WORD*>(tmpl + 1);
    *p++ = 0;  // no menu
    *p++ = 0;  // standard class
    *p++ = 0;  // no title
    *p++ = 8;  // point size
    for (const char* f = "MS Sans Serif"; *f; ++f) *p++ = static_cast<WORD>(*f);
    *p++ = 0;
    dialog = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), tmpl, nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
        0);
    return dialog;
}

int ToUnits(int pixels, bool horizontal) {
    // The smallest count of units that maps to at least these pixels.
    for (int units = 0; units < 2000; ++units) {
        RECT r = {0, 0, units, units};
        MapDialogRect(MeasuringDialog(), &r);
        if ((horizontal ? r.right : r.bottom) >= pixels) return units;
    }
    return -1;
}

// ---- Actions -------------------------------------------------------------------

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
    auto* list = reinterpret_cast<std::vector<HWND>*>(param);
    list->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> list;
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&list));
    std::vector<HWND> direct;
    for (HWND h : list)
        if (GetParent(h) == parent) direct.push_back(h);
    return direct;
}

void PrintControls(HWND dialog) {
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    for (HWND h : Children(dialog)) {
        char cls[64] = {};
        GetClassNameA(h, cls, sizeof cls);
        RECT r;
        GetWindowRect(h, &r);
        if (std::strcmp(cls, "ComboBox") == 0) {
            // The template's height includes the dropped-down list.
            RECT dropped = r;
            SendMessageA(h, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            r.bottom = dropped.bottom;
        }
        const int x = ToUnits(r.left - origin.x, true);
        const int y = ToUnits(r.top - origin.y, false);
        const int w = ToUnits(r.right - r.left, true);
        const int hgt = ToUnits(r.bottom - r.top, false);
        const LONG style = GetWindowLongA(h, GWL_STYLE);
        std::printf("id=%d class=%s x=%d y=%d w=%d h=%d visible=%d enabled=%d style=0x%08lX text=\"%s\"\n",
                    GetDlgCtrlID(h), cls, x, y, w, hgt, (style & WS_VISIBLE) ? 1 : 0,
                    IsWindowEnabled(h) ? 1 : 0, static_cast<unsigned long>(style),
                    Escaped(TextOf(h)).c_str());
    }
    std::printf("dialog enabled=%d text=\"%s\"\n", IsWindowEnabled(dialog) ? 1 : 0,
                Escaped(TextOf(dialog)).c_str());
}

void PrintItems(HWND combo) {
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&wide[0]));
        char text[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof text - 1, nullptr, nullptr);
        std::printf("%s\n", Escaped(text).c_str());
    }
    std::printf("sel=%d\n", static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0)));
}

void PrintBox(HWND box) {
    for (HWND h : Children(box)) {
        char cls[64] = {};
        GetClassNameA(h, cls, sizeof cls);
        const int id = GetDlgCtrlID(h);
        if (id == kMessageBoxTextId) std::printf("text=\"%s\"\n", Escaped(TextOf(h)).c_str());
        if (std::strcmp(cls, "Button") == 0 && (GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE))
            std::printf("button=%d \"%s\"\n", id, TextOf(h).c_str());
    }
}

// The names in the chooser's file list (a list view inside the shell view),
// read through memory in the chooser's process.
bool PrintFiles(HWND chooser) {
    HWND view = FindWindowExA(chooser, nullptr, "SHELLDLL_DefView", nullptr);
    HWND list = view ? FindWindowExA(view, nullptr, "SysListView32", nullptr) : nullptr;
    if (!list) return false;
    constexpr SIZE_T kText = 512;
    RemoteBuffer remote(list, sizeof(LVITEMA) + kText);
    if (!remote.ok()) return false;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVITEMA item = {};
        item.iSubItem = 0;
        item.cchTextMax = kText;
        item.pszText = remote.at(sizeof(LVITEMA));
        remote.put(&item, sizeof item);
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.at()));
        char text[kText] = {};
        remote.get(text, kText - 1, sizeof(LVITEMA));
        std::printf("%s\n", text);
    }
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: vjxgui ACTION TITLE [ARGS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string action = argv[1];
    const char* title = argv[2];
    if (action == "gone") {
        const DWORD ms = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : kDefaultWaitMs;
        const DWORD start = GetTickCount();
        while (FindWindowA(nullptr, title)) {
            if (GetTickCount() - start > ms) return 1;
            Sleep(50);
        }
        return 0;
    }
    const DWORD ms = action == "wait" && argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : kDefaultWaitMs;
    HWND top = WaitTop(title, ms);
    if (!top) {
        std::fprintf(stderr, "vjxgui: no window \"%s\"\n", title);
        return 1;
    }
    if (action == "wait") return 0;
    if (action == "paint") {
        // Paints synchronously, in the window's own thread, before answering.
        RedrawWindow(top, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        SendMessageA(top, WM_NULL, 0, 0);
        return 0;
    }
    if (action == "controls") {
        PrintControls(top);
        return 0;
    }
    if (action == "box") {
        PrintBox(top);
        return 0;
    }
    if (action == "syscommand" && argc > 3) {
        PostMessageA(top, WM_SYSCOMMAND, static_cast<WPARAM>(std::strtoul(argv[3], nullptr, 0)), 0);
        return 0;
    }
    if (action == "queryend") {
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(top, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer))
            return 1;
        std::printf("answer=%d\n", answer ? 1 : 0);
        SendMessageTimeoutA(top, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, nullptr);
        return 0;
    }
    if (action == "filetypes") {
        HWND combo = GetDlgItem(top, kFileTypeCombo);
        if (!combo) return 1;
        PrintItems(combo);
        return 0;
    }
    if (action == "files") return PrintFiles(top) ? 0 : 1;
    if (argc < 4) return Usage();
    const int id = std::atoi(argv[3]);
    HWND control = GetDlgItem(top, id);
    if (!control) {
        std::fprintf(stderr, "vjxgui: no control %d in \"%s\"\n", id, title);
        return 1;
    }
    if (action == "items") {
        PrintItems(control);
        return 0;
    }
    if (action == "text") {
        std::printf("%s\n", Escaped(TextOf(control)).c_str());
        return 0;
    }
    if (action == "click") {
        PostMessageA(top, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (action == "clear") {
        SendMessageA(control, CB_RESETCONTENT, 0, 0);
        return 0;
    }
    if (argc < 5) return Usage();
    if (action == "settext") {
        SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
        return 0;
    }
    if (action == "select") {
        SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[4])), 0);
        return 0;
    }
    return Usage();
}
