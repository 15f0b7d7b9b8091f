#include "VJXFlashDlg.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "../tcf/Tcf.h"
#include "CardNames.h"

namespace {

constexpr unsigned kErrorBox = 0x10;  // error icon
// The card checks of the flash command: an error box on Windows, a plain
// frame on Linux.
constexpr unsigned kCheckBox = vjx::platform::kWindows ? 0x10 : 0x01;
constexpr unsigned kBeepError = 0x10;
constexpr unsigned kBeepSilent = 0x80;

// Update files are read with read, binary and deny-write-to-others.
constexpr unsigned kOpenUpdateFile = CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary;

}  // namespace

CVJXFlashDlg::~CVJXFlashDlg() = default;

void CVJXFlashDlg::ShowAboutMessage() {
    m_log.Append(vjx::platform::kBanner, 0);
    m_log.Append("", 1);
}

int CVJXFlashDlg::OnInitDialog() {
    // The listing polls the cards' firmware.
    CFineTimer fineTimer;
    CDialog::OnInitDialog();
    SetUpWindow();
    ShowAboutMessage();
    if (CountVjxBoards() == 0) {
        CloseLine();
        OnCancel();
        return 1;
    }
    if (ListVjxBoards(0) == 0) {
        CloseLine();
        OnCancel();
        return 1;
    }
    return 1;
}

unsigned CVJXFlashDlg::CountVjxBoards() {
    unsigned count = m_vjx.Count();
    if (count == 0) m_log.MessageBox("No VJX cards found!\n\n", m_vjx.getErrorString(), kErrorBox, 0);
    return count;
}

int CVJXFlashDlg::ListVjxBoards(int verbose) {
    const bool print = vjx::platform::kWindows || verbose != 0;

    m_cardList.ResetContent();
    if (m_vjx.GetLibInitResult() != 0) {
        m_log.MessageBox("Failed opening device driver\n", m_vjx.GetLibInitResultStr(), kErrorBox, 0);
        return 0;
    }

    const uint32_t count = CountVjxBoards();
    uint32_t skipped = 0;
    if (m_cardIndex.size() < count) m_cardIndex.resize(count);

    for (uint32_t i = 0; i < count; ++i) {
        if (!m_vjx.Open(i)) {
            if (print) m_log.AppendFormat("Card %d: Detection failed!", static_cast<int>(i + 1));
            ++skipped;
            continue;
        }
        // Cards of an unknown model (unprogrammed ones among them) are left
        // out without a word.
        if (!m_vjx.KnownModel()) {
            ++skipped;
            m_vjx.Close();
            continue;
        }
        const int number = static_cast<int>(i - skipped + 1);
        if (print) {
            m_log.AppendFormat("Detecting card %d...", number);
            if (m_vjx.SlowFpgaMode()) m_log.Append("Using slow FPGA programming mode", 1);
            m_log.AppendFormat("Detected: %s card", m_vjx.GetModelDesc());
        }
        // The firmware is asked on every listing; verbose only decides
        // whether its answer is printed.
        if (m_vjx.HasFlashUpdate()) {
            CString version, error;
            int ispVersion = 0, fpgaVersion = 0;
            if (m_vjx.getFirmwareVersionString(version, error, ispVersion, fpgaVersion) && print)
                m_log.AppendFormat("Firmware version: %s", static_cast<const char*>(version));
        } else if (print) {
            m_log.AppendFormat("Card doesn't support flash updates");
        }
        if (count != 1) {
            CString entry;
            entry.Format("%d: %s", number, m_vjx.GetModelDesc());
            m_cardList.AddString(entry);
        } else {
            m_cardList.AddString(m_vjx.GetModelDesc());
        }
        m_cardIndex[i - skipped] = i;
        m_vjx.Close();
        if (print) ShowAccessRefusal();
    }

    if (count > 0 && count == skipped) m_log.MessageBox("Cards found, but no VJX cards!\n", kErrorBox, 0);
    m_cardList.SetCurSel(0);
    if (print) CloseLine();
    m_cardCount = count;
    m_skipCount = skipped;
    return count != skipped;
}

void CVJXFlashDlg::ShowAccessRefusal() {
    const char* reason = m_vjx.TakeAccessRefusal();
    if (m_refusalShown || !reason || !reason[0]) return;
    m_refusalShown = true;
    m_log.Append(reason, 1);
}

unsigned CVJXFlashDlg::GetCardNum(unsigned position) {
    if (position < m_cardCount - m_skipCount) return m_cardIndex[position];
    return 0;
}

namespace {

// What the flash command opens, and the order in which it is put back when
// the command ends, whichever way it ends: each stage of the command names
// the order of its exits once, and every exit is a plain return. A step
// whose thing was never opened is skipped; the close line is always due.
class CFlashEnd {
public:
    enum Step { kFile, kCard, kControls, kLine, kSteps };
    explicit CFlashEnd(std::function<void(Step)> close) : m_close(std::move(close)) { m_open[kLine] = true; }
    ~CFlashEnd() {
        for (Step step : m_order) Close(step);
    }
    CFlashEnd(const CFlashEnd&) = delete;
    CFlashEnd& operator=(const CFlashEnd&) = delete;

    void Opened(Step step) { m_open[step] = true; }
    // The order for the exits from here on.
    void Order(std::initializer_list<Step> order) { m_order.assign(order); }
    // Puts one thing back at once (and not again at the end).
    void Close(Step step) {
        if (!m_open[step]) return;
        m_open[step] = false;
        m_close(step);
    }

private:
    std::function<void(Step)> m_close;
    bool m_open[kSteps] = {};
    std::vector<Step> m_order{kLine};
};

}  // namespace

void CVJXFlashDlg::OnFlash() {
    CFineTimer fineTimer;
    m_flashCompleted = false;
    m_versionCheckFailed = false;
    if (CountVjxBoards() == 0) return;

    CFile file;
    CFlashEnd end([this, &file](CFlashEnd::Step step) {
        switch (step) {
            case CFlashEnd::kFile:
                file.Close();
                break;
            case CFlashEnd::kCard:
                m_vjx.Close();
                break;
            case CFlashEnd::kControls:
                SetControlsEnabled(1);
                break;
            default:
                ShowAccessRefusal();
                CloseLine();
                break;
        }
    });
    using S = CFlashEnd;

    const unsigned position = static_cast<unsigned>(m_cardList.GetCurSel());
    const unsigned listed = m_cardCount - m_skipCount;
    const int number = static_cast<int>(position + 1);
    if (position >= listed) {
        CString text;
        text.Format("There is no card with number %d.\nPlease enter a card number fom 1 to %d.\n", number,
                    static_cast<int>(listed));
        m_log.MessageBox(text, kCheckBox, 0);
        return;
    }

    const unsigned card = GetCardNum(position);
    m_log.AppendFormat("Detecting card %d...", number);
    if (!m_vjx.Open(card)) {
        m_log.AppendFormat("Card %d: Detection failed! (%s)", number, "Can't open card!");
        return;
    }
    end.Opened(S::kCard);
    end.Order({S::kCard, S::kLine});
    if (!m_vjx.HasFlashUpdate() && m_vjx.KnownModel()) {
        m_log.MessageBox("Card doesn't support flash updates", kCheckBox, 0);
        return;
    }
    if (m_vjx.SlowFpgaMode()) m_log.Append("Using slow FPGA programming mode", 1);

    CString fileName;
    m_fileName.GetWindowText(fileName);
    if (fileName.IsEmpty()) {
        m_log.MessageBox("Please enter a flash update file name", kCheckBox, 0);
        return;
    }
    if (!file.Open(fileName, kOpenUpdateFile)) {
        end.Close(S::kCard);
        CString text;
        text.Format("Can't open file \"%s\"!", static_cast<const char*>(fileName));
        m_log.MessageBox(text, kErrorBox, 0);
        return;
    }
    end.Opened(S::kFile);

    // The reader reports its own reason: no close line.
    end.Order({S::kFile, S::kCard});
    auto record = std::make_unique<TTcfSmall>();
    if (!m_vjx.ReadFileHeader(file, &m_log, record.get())) return;

    const int moduleCode = record->header[tcf::kOffModule];
    const char* fileModelName = GetCardName(moduleCode);
    if (m_vjx.GetModelIndex(moduleCode) != m_vjx.GetModel()) {
        if (m_vjx.KnownModel()) {
            MessageBeep(kBeepError);
            CString text = "Incompatible flash update file!\n\nCard is a \"";
            text += m_vjx.GetModelDesc();
            text += "\", but\n";
            text += fileName;
            text += "\n";
            text += "is designed for a \"";
            text += fileModelName;
            text += "\" card.";
            m_log.MessageBox(text, kErrorBox, 0);
            end.Order({S::kFile, S::kLine, S::kCard});
            return;
        }
        if (!ConfirmUnknownCard(fileModelName)) {
            if (vjx::platform::kWindows)
                end.Order({S::kFile, S::kCard});
            else
                end.Order({S::kFile, S::kLine, S::kCard});
            return;
        }
        m_vjx.SetModel(m_vjx.GetModelIndex(moduleCode));
    }

    // A PCIe bridge this driver can reach only through configuration reads
    // cannot be programmed; refuse the card before any part of it changes.
    end.Order({S::kFile, S::kCard, S::kLine});
    if (!m_vjx.BridgeWritable()) {
        m_log.MessageBox(CVjxPci::kSlowModeRefused, kErrorBox, 0);
        return;
    }

    m_log.AppendFormat("Programming card %d with file \"%s\"...", number, static_cast<const char*>(fileName));
    // The whole file is checked before the first write: a file refused
    // half-way would leave the card with its EEPROMs rewritten.
    if (!m_vjx.CheckUpdateFile(file, &m_log, record.get())) return;
    SetControlsEnabled(0);
    end.Opened(S::kControls);
    end.Order({S::kFile, S::kCard, S::kControls, S::kLine});
    // An FPGA image that may not fit the card's configuration device is
    // checked against the device itself, before either EEPROM changes.
    const unsigned char* size = record->header + tcf::kOffFpgaSize;  // little-endian
    const uint32_t fpgaBytes = size[0] | size[1] << 8 | size[2] << 16 | static_cast<uint32_t>(size[3]) << 24;
    if (fpgaBytes != 0 && !m_vjx.CheckConfigDeviceFits(fpgaBytes + 4u, &m_log)) return;
    if (!m_vjx.ProgramEeprom(&m_log) || !m_vjx.ProgramPcieEeprom(&m_log)) return;

    end.Order({S::kFile, S::kControls, S::kCard, S::kLine});
    m_flashCompleted = m_vjx.doFlash(file, m_log, fileModelName) == 1;
    m_versionCheckFailed = m_flashCompleted && m_vjx.VersionCheckFailed();
}

#if !VJX_WINDOWS_PROGRAM
// The Windows forms are in windows/VJXFlashDlg.cpp.

CVJXFlashDlg::CVJXFlashDlg(std::FILE* logOut) : m_log(logOut) {}

void CVJXFlashDlg::SetUpWindow() {}

// No controls; the front end learns that the card is being written.
void CVJXFlashDlg::SetControlsEnabled(int enable) {
    if (m_programmingHook) m_programmingHook(enable ? 0 : 1);
}

// No one to ask: a card of unknown type is never programmed.
int CVJXFlashDlg::ConfirmUnknownCard(const char*) {
    MessageBeep(kBeepSilent);
    m_log.MessageBox("The card's type is unknown.", 0x01, 0);
    return 0;
}

#endif
