#include "FakeCard.h"

#include "card/VjxPci.h"
#include "tcf/Tcf.h"

namespace fake {

Script script;

int modelOfCode(int code) {
    return code >= 0x50 && code <= vjx::platform::kHighestModuleCode ? code - 0x50
                                                                     : vjx::platform::kUnknownModel;
}

namespace {
const Card* current = nullptr;
void record(std::string call) {
    script.calls.push_back(std::move(call));
}
}  // namespace

}  // namespace fake

using fake::record;
using fake::script;

CPciBridge::CPciBridge() {}
CPciBridge::~CPciBridge() {}

CVjxPci::CVjxPci() : m_model(vjx::platform::kUnknownModel), m_modelDesc("(Unknown)") {}
CVjxPci::~CVjxPci() {}

uint32_t CVjxPci::Count() {
    record("Count");
    return static_cast<uint32_t>(script.cards.size());
}

int CVjxPci::Open(unsigned int index) {
    record("Open " + std::to_string(index));
    if (fake::current) record("ERROR: a card is open already");
    if (index >= script.cards.size() || !script.cards[index].opens) return 0;
    fake::current = &script.cards[index];
    m_model = fake::current->model;
    m_modelDesc = fake::current->desc.c_str();
    return 1;
}

void CVjxPci::Close() {
    record("Close");
    fake::current = nullptr;
}

bool CVjxPci::KnownModel() const {
    return m_model != vjx::platform::kUnknownModel;
}
bool CVjxPci::HasFlashUpdate() const {
    return fake::current && fake::current->flashUpdate;
}
bool CVjxPci::SlowFpgaMode() {
    return fake::current && fake::current->slowMode;
}
bool CVjxPci::BridgeWritable() {
    return !SlowFpgaMode();
}
const char* const CVjxPci::kSlowModeRefused = "slow mode refused";
CVjxPci::TModel CVjxPci::GetModelIndex(int code) const {
    return fake::modelOfCode(code);
}
const char* CVjxPci::getErrorString() {
    return script.errorText.c_str();
}
const char* CVjxPci::GetLibInitResultStr() {
    return "";
}

int CVjxPci::getFirmwareVersionString(CString& version, CString& error, int&, int&) {
    record("Version");
    if (!fake::current || !fake::current->firmware) {
        error = "no answer";
        return 0;
    }
    version = fake::current->firmware;
    return 1;
}

int CVjxPci::ReadFileHeader(CFile& file, CLogWindow*, TTcfSmall* record) {
    fake::record("ReadFileHeader");
    if (!file.Read(record->header, sizeof record->header)) return 0;
    return script.readHeader;
}

int CVjxPci::CheckUpdateFile(CFile&, CLogWindow*, TTcfSmall*) {
    record("CheckUpdateFile");
    return 1;
}

int CVjxPci::CheckConfigDeviceFits(unsigned int, CLogWindow*) {
    return 1;
}

const char* CVjxPci::TakeAccessRefusal() {
    return "";
}

int CVjxPci::ProgramEeprom(CLogWindow*) {
    record("ProgramEeprom");
    return script.programEeprom;
}

int CVjxPci::ProgramPcieEeprom(CLogWindow*) {
    record("ProgramPcieEeprom");
    return 1;
}

int CVjxPci::doFlash(CFile& file, CLogWindow&, const char* cardName) {
    // The file must still be open: the update sequence reads it again.
    unsigned char first = 0;
    file.SeekToBegin();
    record(std::string("doFlash ") + cardName + (file.Read(&first, 1) ? "" : " (file closed)"));
    pumpMessage();  // as the engines do in their long waits
    m_versionCheckFailed = false;
    return 1;
}
