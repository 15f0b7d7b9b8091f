// VJXFlash: the Windows program, one modal dialog.
#include "../VJXFlashDlg.h"

class CVJXFlashApp : public CWinApp {
public:
    CVJXFlashApp() : CWinApp("VJXFlash") {}
    ~CVJXFlashApp() override = default;

    // Runs the main dialog; when it ends, so does the program.
    int InitInstance() override {
        CVJXFlashDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
        return 0;
    }
};

CVJXFlashApp theApp;
