// vjxgui: drives and reads the windows of another program on the same
// desktop, for the GUI tests of VJXFlash under Wine. One action per run (the
// table kActions; "vjxgui" alone lists them); what it reads goes to standard
// output, one item per line. Exit status 0 when the action was done, 1 when
// the window or control was not there in time, 2 for a bad command line.
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

// The visible top-level window TITLE (wanted) or no window TITLE at all (not
// wanted), polled until the time is up.
HWND WaitTop(const char* title, DWORD ms, bool wanted) {
    for (const DWORD start = GetTickCount();; Sleep(50)) {
        HWND found = FindWindowA(nullptr, title);
        // A window waited for counts once it is shown.
        while (wanted && found && !IsWindowVisible(found))
            found = FindWindowExA(nullptr, found, nullptr, title);
        if ((found != nullptr) == wanted) return wanted ? found : GetDesktopWindow();
        if (GetTickCount() - start > ms) return nullptr;
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
    for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
    return out;
}

// A hidden dialog of our own in the program's dialog font.
HWND MeasuringDialog() {
    static HWND dialog = nullptr;
    if (dialog) return dialog;
    std::vector<WORD> t(64, 0);
    DLGTEMPLATE* tmpl = reinterpret_cast<DLGTEMPLATE*>(t.data());
    tmpl->style = DS_SETFONT | WS_POPUP;
    tmpl->cx = 100;
    tmpl->cy = 100;
    // No menu, the standard class, no title (three zero words), then the font.
    WORD* p = reinterpret_cast<WORD*>(tmpl + 1) + 3;
    *p++ = 8;  // point size
    for (const char* f = "MS Sans Serif"; *f; ++f) *p++ = static_cast<WORD>(*f);
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

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> list, direct;
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&list));
    for (HWND h : list)
        if (GetParent(h) == parent) direct.push_back(h);
    return direct;
}

std::string ClassOf(HWND hwnd) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    return cls;
}

int PrintControls(HWND dialog) {
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    for (HWND h : Children(dialog)) {
        const std::string cls = ClassOf(h);
        RECT r;
        GetWindowRect(h, &r);
        if (cls == "ComboBox") {
            // The template's height includes the dropped-down list.
            RECT dropped = r;
            SendMessageA(h, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            r.bottom = dropped.bottom;
        }
        const LONG style = GetWindowLongA(h, GWL_STYLE);
        std::printf(
            "id=%d class=%s x=%d y=%d w=%d h=%d visible=%d enabled=%d style=0x%08lX text=\"%s\"\n",
            GetDlgCtrlID(h), cls.c_str(), ToUnits(r.left - origin.x, true), ToUnits(r.top - origin.y, false),
            ToUnits(r.right - r.left, true), ToUnits(r.bottom - r.top, false), (style & WS_VISIBLE) ? 1 : 0,
            IsWindowEnabled(h) ? 1 : 0, static_cast<unsigned long>(style), Escaped(TextOf(h)).c_str());
    }
    std::printf("dialog enabled=%d text=\"%s\"\n", IsWindowEnabled(dialog) ? 1 : 0,
                Escaped(TextOf(dialog)).c_str());
    return 0;
}

int PrintItems(HWND combo) {
    if (!combo) return 1;
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
    return 0;
}

int PrintBox(HWND box) {
    for (HWND h : Children(box)) {
        const int id = GetDlgCtrlID(h);
        if (id == kMessageBoxTextId) std::printf("text=\"%s\"\n", Escaped(TextOf(h)).c_str());
        if (ClassOf(h) == "Button" && (GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE))
            std::printf("button=%d \"%s\"\n", id, TextOf(h).c_str());
    }
    return 0;
}

// The names in the chooser's file list (a list view inside the shell view),
// read through a buffer in the chooser's process: Wine does not carry these
// messages' answers across processes.
int PrintFiles(HWND chooser) {
    HWND view = FindWindowExA(chooser, nullptr, "SHELLDLL_DefView", nullptr);
    HWND list = view ? FindWindowExA(view, nullptr, "SysListView32", nullptr) : nullptr;
    DWORD pid = 0;
    if (!list || !GetWindowThreadProcessId(list, &pid)) return 1;
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    constexpr SIZE_T kText = 512;
    char* remote = process ? static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof(LVITEMA) + kText,
                                                               MEM_COMMIT, PAGE_READWRITE))
                           : nullptr;
    const int count = remote ? static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    for (int i = 0; i < count; ++i) {
        LVITEMA item = {};
        item.cchTextMax = kText;
        item.pszText = remote + sizeof item;
        WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
        char text[kText] = {};
        ReadProcessMemory(process, remote + sizeof item, text, kText - 1, nullptr);
        std::printf("%s\n", text);
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (process) CloseHandle(process);
    return remote ? 0 : 1;
}

// The actions, each "vjxgui NAME TITLE ARGUMENTS"; an action whose arguments
// start with ID acts on the control of that id in the window TITLE.
struct Action {
    const char* name;
    int count;  // of the arguments it needs after TITLE
    const char* arguments;
    int (*run)(HWND top, HWND control, char** argv);
};

const Action kActions[] = {
    {"wait", 0, " [MS]: a visible top-level window TITLE appears", [](HWND, HWND, char**) { return 0; }},
    {"gone", 0, " [MS]: no window TITLE is left", [](HWND, HWND, char**) { return 0; }},
    {"paint", 0, ": the window and its controls painted now",
     [](HWND top, HWND, char**) {
         // Paints synchronously, in the window's own thread, before answering.
         RedrawWindow(top, nullptr, nullptr,
                      RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
         SendMessageA(top, WM_NULL, 0, 0);
         return 0;
     }},
    {"controls", 0, ": every child: id, class, place and size in dialog units, visible, enabled, text",
     [](HWND top, HWND, char**) { return PrintControls(top); }},
    {"box", 0, ": a message box's text and its buttons",
     [](HWND top, HWND, char**) { return PrintBox(top); }},
    {"filetypes", 0, ": the file chooser's \"files of type\" entries",
     [](HWND top, HWND, char**) { return PrintItems(GetDlgItem(top, kFileTypeCombo)); }},
    {"files", 0, ": the file names the chooser lists",
     [](HWND top, HWND, char**) { return PrintFiles(top); }},
    {"syscommand", 1, " CMD: a system-menu command (posted)",
     [](HWND top, HWND, char** argv) {
         PostMessageA(top, WM_SYSCOMMAND, static_cast<WPARAM>(std::strtoul(argv[3], nullptr, 0)), 0);
         return 0;
     }},
    {"queryend", 0,
     ": asks, as a log off does, whether the session may end (prints \"answer=N\"), then says it goes on",
     [](HWND top, HWND, char**) {
         DWORD_PTR answer = 0;
         if (!SendMessageTimeoutA(top, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer))
             return 1;
         std::printf("answer=%d\n", answer ? 1 : 0);
         SendMessageTimeoutA(top, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, nullptr);
         return 0;
     }},
    {"items", 1, " ID: the combo box's entries, then \"sel=N\"",
     [](HWND, HWND c, char**) { return PrintItems(c); }},
    {"text", 1, " ID: one control's text",
     [](HWND, HWND c, char**) {
         std::printf("%s\n", Escaped(TextOf(c)).c_str());
         return 0;
     }},
    {"click", 1, " ID: presses a button (the command is posted)",
     [](HWND top, HWND c, char**) {
         PostMessageA(top, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED), reinterpret_cast<LPARAM>(c));
         return 0;
     }},
    {"clear", 1, " ID: empties a combo box",
     [](HWND, HWND c, char**) {
         SendMessageA(c, CB_RESETCONTENT, 0, 0);
         return 0;
     }},
    {"settext", 2, " ID TEXT: sets a control's text",
     [](HWND, HWND c, char** argv) {
         SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
         return 0;
     }},
    {"select", 2, " ID N: selects combo entry N (-1: none)",
     [](HWND, HWND c, char** argv) {
         SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[4])), 0);
         return 0;
     }},
};

int Usage() {
    for (const Action& a : kActions) std::fprintf(stderr, "usage: vjxgui %s TITLE%s\n", a.name, a.arguments);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const Action* action = nullptr;
    for (const Action& a : kActions)
        if (argc > 2 && std::strcmp(argv[1], a.name) == 0) action = &a;
    if (!action || argc < 3 + action->count) return Usage();
    const bool timed = action == &kActions[0] || action == &kActions[1];
    const DWORD ms = timed && argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : kDefaultWaitMs;
    HWND top = WaitTop(argv[2], ms, action != &kActions[1]);
    if (!top) {
        std::fprintf(stderr, "vjxgui: window \"%s\" not as wanted in time\n", argv[2]);
        return 1;
    }
    const bool control = std::strncmp(action->arguments, " ID", 3) == 0;
    HWND item = control ? GetDlgItem(top, std::atoi(argv[3])) : nullptr;
    if (control && !item) {
        std::fprintf(stderr, "vjxgui: no control %s in \"%s\"\n", argv[3], argv[2]);
        return 1;
    }
    return action->run(top, item, argv);
}
