// The dialog over scripted cards: each argument is the module code of one
// card (decimal), listed with the Windows program's name for that code and
// firmware 9.14.
#include <cstdlib>

#include "app/CardNames.h"
#include "app/VJXFlashDlg.h"
#include "tests/foundation/FakeCard.h"

namespace {

class CScriptedCardsApp : public CWinApp {
public:
    CScriptedCardsApp() : CWinApp("VJXFlash") {}

    int InitInstance() override {
        for (int i = 1; i < __argc; ++i) {
            fake::Card card;
            const int code = std::atoi(__argv[i]);
            card.model = fake::modelOfCode(code);
            card.desc = GetCardName(code);
            card.firmware = "9.14";
            fake::script.cards.push_back(card);
        }
        CVJXFlashDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
        return 0;
    }
};

CScriptedCardsApp theApp;

}  // namespace
