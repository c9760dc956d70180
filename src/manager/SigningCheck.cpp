// The signing test: log in to the token of the chosen reader and sign a fixed value with
// every private key on it, one message line per key.

#include <algorithm>
#include <memory>
#include <vector>

#include "common/Hex.h"
#include "common/MessageList.h"
#include "log/Log.h"
#include "manager/Pcsc.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SigningRun.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"
#include "manager/TokenDetails.h"

namespace {

constexpr const char* kTestCardSource = "CSmartCardManager::TestCard";
constexpr uint32_t kNoPrivateKey = 0x20;

// The keys of every token of the card, counted together; the count of keys found so far in
// the card's tokens is `count`. The test's no-key failure when there is none.
uint32_t ReportKeyCount(IMessageList* list, const std::string& module, std::size_t count) {
    if (count == 0) {
        LOG_MESSAGE(static_cast<int32_t>(kNoPrivateKey), 0, kCardTestSource,
                    "C_FindObjectsInit error:0x%X.", kNoPrivateKey);
        AddStatusLine(list, FormatStatus(kNoPrivateKey, module.c_str(), "C_FindObjectsInit",
                                         kStatusDriverCallError));
        return kNoPrivateKey;
    }
    Report(list, 0,
           count == 1 ? std::string("Trovata 1 chiave privata")
                      : Format("Trovate %d chiavi private", static_cast<int>(count)));
    return 0;
}

// The verdict of the whole card: a signature that no verifier accepts fails it, whatever the
// keys after it did; otherwise the last key meant for signing decides.
uint32_t Verdict(const SigningTally& tally) {
    if (!tally.anyForSigning) {
        LOG_MESSAGE(static_cast<int32_t>(kNotForSigning), 0, kCardTestSource,
                    "No key on the token is meant for signing.");
        return kNotForSigning;
    }
    return tally.anyBadSignature ? kSignatureInvalid : tally.last;
}

// A loaded module's handle, given back last, after every session of the test.
class ModuleLoad {
public:
    explicit ModuleLoad(ModuleHandle handle) : m_handle(handle) {}
    ~ModuleLoad() { ReleaseModule(m_handle); }
    ModuleLoad(const ModuleLoad&) = delete;
    ModuleLoad& operator=(const ModuleLoad&) = delete;

private:
    ModuleHandle m_handle;
};

}  // namespace

uint32_t CSmartCardManager::TestCard(int readerIndex, SecretString pin) {
    HeldModulesScope operation(m_heldModules);
    LOG_MESSAGE(0, 0, kTestCardSource, "Starting smartcard test ...");

    uint32_t result = CheckReaderIndex(readerIndex, kTestCardSource);
    if (result != 0) {
        return result;
    }
    const auto index = static_cast<std::size_t>(readerIndex);
    SCARDCONTEXT context = 0;
    SCARD_READERSTATE state{};
    result = ReadReaderState(index, kTestCardSource, &context, &state);
    if (result != 0) {
        return result;
    }
    PcscReleaseContext(context);
    const std::string readerName = m_readers[index].szReader;
    // What the last check stored, before the test reads the token again.
    LogTokenDetails(GetTokenDetails());

    const bool present = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    if (present) {
        result = IsCheckedCard(m_checkedCard, readerName, state)
                     ? CardTest(m_driverInUse, std::move(pin), readerName)
                     : ReportOtherCard(readerName, state);
    }

    if (!present) {
        LOG_MESSAGE(0, 0, kTestCardSource, "No card found.");
        AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusNoCard));
        return kNoSmartCard;
    }
    if (result == kCardChanged) {
        AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusCardChanged));
        return result;
    }
    if (result == 0) {
        LOG_MESSAGE(0, 0, kTestCardSource, "Card tested.");
        AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusTestPassed));
        return 0;
    }
    LOG_MESSAGE(static_cast<int32_t>(result), 0, kTestCardSource, "Error testing card.");
    AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusTestFailed));
    return result;
}

uint32_t CSmartCardManager::ReportOtherCard(const std::string& readerName,
                                            const SCARD_READERSTATE& state) {
    if (m_checkedCard.readerName != readerName || m_checkedCard.serialNumber.empty()) {
        LOG_MESSAGE(static_cast<int32_t>(kCardChanged), 0, kTestCardSource,
                    "No check of a card in reader '%s' has succeeded: no PIN is presented.",
                    readerName.c_str());
    } else {
        const std::size_t atrLength = std::min<std::size_t>(state.cbAtr, sizeof state.rgbAtr);
        LOG_MESSAGE(static_cast<int32_t>(kCardChanged), 0, kTestCardSource,
                    "The card in reader '%s' is not the one checked: ATR %s after %u card events "
                    "then, ATR %s after %u now. No PIN is presented.",
                    readerName.c_str(), m_checkedCard.atr.c_str(), m_checkedCard.eventCount,
                    AtrToHex(state.rgbAtr, atrLength).c_str(), CardEventCount(state.dwEventState));
    }
    return kCardChanged;
}

uint32_t CSmartCardManager::CardTest(std::string module, SecretString pin) {
    return CardTest(std::move(module), std::move(pin), m_readerName);
}

uint32_t CSmartCardManager::CardTest(std::string module, SecretString pin,
                                     const std::string& readerName) {
    HeldModulesScope operation(m_heldModules);
    LOG_MESSAGE(0, 0, kCardTestSource, "Try loading '%s' module...", module.c_str());
    ModuleHandle handle = LoadDriver(module);
    if (handle == nullptr) {
        uint32_t error = ModuleLastError();
        LOG_MESSAGE(static_cast<int32_t>(error), 1, kCardTestSource, "Error loading '%s' library !",
                    module.c_str());
        AddStatusLine(m_statusList,
                      FormatErrorStatus(error, module.c_str(), kStatusDriverLoadError));
        return error;
    }
    LOG_MESSAGE(0, 0, kCardTestSource, "'%s' module successfully loaded.", module.c_str());

    const ModuleLoad load(handle);
    // The reason's own code: a failure must never read as a passed test.
    uint32_t failure = 0;
    CK_FUNCTION_LIST* p11 = GetFunctionList(handle, module, &failure);
    if (p11 == nullptr) {
        return failure != 0 ? failure : static_cast<uint32_t>(CKR_GENERAL_ERROR);
    }

    CardSlots card;
    uint32_t result =
        ChooseCardSlots(p11, module, readerName, Reporter(kCardTestSource, m_statusList), &card);
    const std::vector<CK_SLOT_ID>& slots = card.ids;
    if (result != 0) {
        return result;
    }
    // Every token of the card, one session and one login each, the PIN typed once. A PIN the
    // first token refuses goes to no other: one try spent, never more.
    const CheckedToken checked{m_readerName, m_checkedCard.serialNumber};
    std::vector<std::unique_ptr<SigningRun>> runs;
    std::vector<std::vector<CK_OBJECT_HANDLE>> keys(slots.size());
    std::size_t keyCount = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        runs.push_back(
            std::make_unique<SigningRun>(SigningContext{p11, slots[i], module, pin, m_statusList}));
        SigningRun& run = *runs.back();
        result = run.OpenSession(i == 0 ? &checked : nullptr);
        if (i == 0 && run.TokenAccepted()) {
            m_slotId = slots[i];
            m_tokenInfo = run.Token();
        }
        if (result == 0) {
            result = run.LogIn();
        }
        if (result == 0) {
            result = run.FindKeys(&keys[i]);
        }
        if (result != 0) {
            return result;
        }
        keyCount += keys[i].size();
    }
    result = ReportKeyCount(m_statusList, module, keyCount);
    // After the key search, so that a module's failure there is reported as its own.
    m_certificates.clear();
    for (const std::unique_ptr<SigningRun>& run : runs) {
        AppendCertificates(m_certificates, run->ReadCertificates());
    }
    if (result != 0) {
        return result;
    }
    SigningTally tally;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (runs.size() > 1 && !keys[i].empty()) {
            Report(m_statusList, 0,
                   Format("Chiavi del token '%s':", runs[i]->TokenLabel().c_str()));
        }
        uint32_t ended = 0;
        if (!runs[i]->SignWithEach(keys[i], tally, &ended)) {
            return ended;
        }
    }
    return Verdict(tally);
}
