// The controller's card list and flash command against a scripted card
// object: what the log shows, which cards are opened and closed, and when
// the programming engines run.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeCard.h"
#include "app/CardNames.h"
#include "app/VJXFlashDlg.h"
#include "tests/support/TestUtil.h"

namespace {

using Calls = std::vector<std::string>;
using testsupport::Bytes;

const std::string kDash = "---------------------------------------------";

std::string errorBox(const std::string& lines) {
    return "\n------------------- Error -------------------" + lines + "\n" + kDash;
}
std::string plainBox(const std::string& lines) {
    return "\n" + kDash + lines + "\n" + kDash;
}

fake::Card card(int code, const std::string& desc) {
    fake::Card c;
    c.model = fake::modelOfCode(code);
    c.desc = desc;
    return c;
}

// ---- Flash command -------------------------------------------------------

// After the silent start-up list of a VJX PCIe K and a VJX PCI K, `change`
// alters the cards or the outcome of a step, and "-flash card file" runs:
// the log, the card calls and the verdict. `file`: a header naming that
// module code, 0 no name. Only what a simulated rack cannot show is here:
// cards that change after the list was built, and the card closed on every
// early end. (Refused files, failing stages and the version check after a
// complete update are tested on simulated racks through the real program.)
TEST(Controller, FlashCommandStopsAtTheFirstRefusalAndClosesTheCard) {
    testsupport::TempDir dir;
    const std::string detect1 = "\nDetecting card 1...";
    const Calls header{"Count", "Open 0", "ReadFileHeader", "Close"};
    const struct {
        const char* what;
        std::function<void()> change;
        unsigned card;
        int file;
        std::string log;
        Calls calls;
    } cases[] = {
        {"no cards left", [] { fake::script.cards.clear(); }, 1, 0x54,
         errorBox("\nNo VJX cards found!\nbus scan found nothing"), Calls{"Count"}},
        {"card without flash update", [] { fake::script.cards[0].flashUpdate = false; }, 1, 0,
         detect1 + plainBox("\nCard doesn't support flash updates") + "\n",
         Calls{"Count", "Open 0", "Close"}},
        {"card failing to open", [] { fake::script.cards[1].opens = false; }, 2, 0x5E,
         "\nDetecting card 2...\nCard 2: Detection failed! (Can't open card!)\n", Calls{"Count", "Open 1"}},
        {"empty file name", [] { fake::script.cards[0].slowMode = true; }, 1, 0,
         detect1 + "\nUsing slow FPGA programming mode" +
             plainBox("\nPlease enter a flash update file name") + "\n",
         Calls{"Count", "Open 0", "Close"}},
        {"refused header", [] { fake::script.readHeader = 0; }, 1, 0x54, detect1, header},
        // The card answers with an unknown model after the list was built.
        {"unknown card type",
         [] {
             fake::script.cards[0] = card(-1, "(Unknown)");  // its subsystem ID names no model
             fake::script.cards[0].flashUpdate = false;
         },
         1, 0x54, detect1 + plainBox("\nThe card's type is unknown.") + "\n", header},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::script = fake::Script{};
        fake::script.cards = {card(0x54, "VJX PCIe K"), card(0x5E, "VJX PCI K")};
        testsupport::CapturedLog out;
        CVJXFlashDlg dialog(out.file());
        // The silent start-up list: one card open at a time, every one closed
        // again.
        dialog.ListVjxBoards(0);
        EXPECT_EQ(fake::script.calls,
                  (Calls{"Count", "Open 0", "Version", "Close", "Open 1", "Version", "Close"}));
        fake::script.calls.clear();
        const size_t listed = out.text().size();
        c.change();
        // What main does for "-flash n file" after the start-up.
        Bytes header(512, 0);
        header[24] = static_cast<unsigned char>(c.file);
        dialog.CardList().SetCurSel(static_cast<int>(c.card - 1u));
        dialog.FileName().SetWindowText(c.file ? dir.write("card.tcf", header).c_str() : "");
        dialog.OnFlash();
        EXPECT_EQ(out.text().substr(listed), c.log);
        EXPECT_EQ(fake::script.calls, c.calls);
        EXPECT_FALSE(dialog.FlashCompleted());
    }
}

// ---- Model names ---------------------------------------------------------

TEST(CardNames, EveryModuleCodeHasItsName) {
    const char* expected[] = {"VJX PCI S",  "VJX PCIe S", "VJX PCIe R",     "VJX PCIe M",
                              "VJX PCIe K", "PCIe Q",     "VJX PCI R (v2)", "VJX PCIe Z",
                              "(Unknown)",  "(Unknown)",  "VJX PCI M",      "(Unknown)",
                              "PCI Q",      "VJX PCI R",  "VJX PCI K",      "VJX PCI K (v2)"};
    for (int code = 80; code <= 95; ++code) EXPECT_STREQ(GetCardName(code), expected[code - 80]) << code;
    // The Linux program knows codes 80 to 95 only.
    for (int code : {96, 97, 98, 99, 79, 100, 0, -1, 255, 0x7FFFFFFF})
        EXPECT_STREQ(GetCardName(code), "(Unknown)");
}

}  // namespace
