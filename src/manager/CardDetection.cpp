#include <algorithm>
#include <cstring>
#include <memory>

#include "catalogue/SystemAtrList.h"
#include "common/CleanText.h"
#include "common/Hex.h"
#include "log/Log.h"
#include "manager/Pcsc.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"
#include "platform/ProgramFiles.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::CheckCardInReader";
constexpr std::size_t kAttributeSize = 256;
// The text buffer holds two digits per byte and its terminator: 127 ATR bytes at most.
constexpr std::size_t kMaxAtrBytes = (256 - 1) / 2;

}  // namespace

uint32_t CSmartCardManager::CheckCardInReader(int readerIndex) {
    HeldModulesScope operation(m_heldModules);
    LOG_MESSAGE(0, 0, kSource, "Starting check card ...");
    m_readerName.clear();
    m_atr.clear();
    m_cardDrivers.clear();
    m_drivers.clear();
    m_driverInUse.clear();
    m_driverPath.clear();
    m_driverVersion.clear();
    ClearTokenFields();
    m_checkedCard = {};
    m_cardEntry.reset();

    uint32_t result = CheckReaderIndex(readerIndex, kSource);
    if (result != 0) {
        return result;
    }
    const auto index = static_cast<std::size_t>(readerIndex);
    SCARDCONTEXT context = 0;
    SCARD_READERSTATE state{};
    result = ReadReaderState(index, kSource, &context, &state);
    if (result != 0) {
        return result;
    }
    const char* readerName = m_readers[index].szReader;
    if ((state.dwEventState & SCARD_STATE_PRESENT) == 0) {
        PcscReleaseContext(context);
        LOG_MESSAGE(0, 0, kSource, "No card found.");
        AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusNoCard));
        return kNoSmartCard;
    }

    SCARDHANDLE card = 0;
    result = PcscConnect(context, readerName, &card);
    if (result != 0) {
        AddStatusLine(m_statusList, FormatErrorStatus(result, readerName, kStatusConnectError));
        LOG_MESSAGE(result, 1, kSource, "SCardConnect error.");
        PcscReleaseContext(context);
        return result;
    }

    unsigned char attribute[kAttributeSize] = {};
    DWORD length = sizeof attribute;
    result = PcscGetAtr(card, attribute, &length);
    if (result != 0) {
        AddStatusLine(m_statusList, FormatErrorStatus(result, readerName, kStatusAttributeError));
        PcscDisconnect(card);
        LOG_MESSAGE(result, 1, kSource, "CardGetAttrib (SCARD_ATTR_ATR_STRING) error.");
        PcscReleaseContext(context);
        return result;
    }
    // An attribute longer than the text can hold is cut, never overrun.
    std::string atr =
        AtrToHex(attribute, std::min<std::size_t>({length, kAttributeSize, kMaxAtrBytes}));
    PcscDisconnect(card);
    PcscReleaseContext(context);
    LOG_MESSAGE(0, 0, kSource, "Found '%s' card.", atr.c_str());

    m_atr = atr;
    m_readerName = readerName;
    // The card as the service showed it before it was looked at: a card that came or went
    // since makes the event count differ. Its token is known once a driver has read it.
    m_checkedCard = {m_readerName, m_atr, CardEventCount(state.dwEventState), {}};

    std::unique_ptr<CardDefinition> definition(FindCardJson(m_readerName, m_atr));
    if (definition != nullptr) {
        m_cardEntry = *definition;
    }
    if (definition == nullptr) {
        LOG_MESSAGE(static_cast<int32_t>(kUnknownCard), 1, kSource, "Card '%s' is not recognized.",
                    m_atr.c_str());
        AddStatusLine(m_statusList, FormatErrorStatus(0, m_atr.c_str(), kStatusCardUnknown));
        // The system may know the card where the catalogue does not.
        ReportSystemAtrList();
        result = FindSystemDriver(m_readerName);
    } else {
        m_cardDrivers = definition->drivers;
        std::string filter = definition->filter;
        definition.reset();
        result = FindDriver(m_cardDrivers, m_readerName, filter);
    }
    if (result != 0) {
        return result;
    }
    LOG_MESSAGE(0, 0, kSource, "Card verified and running.");
    m_checkedCard.serialNumber = TokenSerialField(m_tokenInfo);
    ReportCertificateWarnings(kSource);
    return 0;
}

void CSmartCardManager::ReportSystemAtrList() {
    const std::string listPath = SystemAtrListPath();
    const char* const path = listPath.c_str();
    const AtrListLookup lookup = LookUpAtrList(listPath, m_atr);
    if (lookup.skippedPatterns > 0) {
        LOG_MESSAGE(0, 0, kSource, "%zu patterns of the system's ATR list '%s' were not usable.",
                    lookup.skippedPatterns, path);
    }
    switch (lookup.outcome) {
        case AtrListOutcome::Listed: {
            // The list's text, made fit for one line of the window and the log.
            const std::string description = CleanText(lookup.description);
            LOG_MESSAGE(0, 0, kSource, "Card '%s' is in the system's ATR list '%s': %s",
                        m_atr.c_str(), path, description.c_str());
            AddStatusLine(m_statusList,
                          FormatErrorStatus(0, description.c_str(), kStatusSystemAtrList));
            break;
        }
        case AtrListOutcome::NotListed:
            LOG_MESSAGE(0, 0, kSource, "Card '%s' is not in the system's ATR list '%s'.",
                        m_atr.c_str(), path);
            break;
        case AtrListOutcome::Missing:
            LOG_MESSAGE(0, 0, kSource, "No system ATR list at '%s' (pcsc-tools installs it).",
                        path);
            break;
        case AtrListOutcome::Unreadable:
            LOG_MESSAGE(0, 0, kSource, "The system's ATR list '%s' cannot be read.", path);
            break;
        case AtrListOutcome::TooLarge:
            LOG_MESSAGE(0, 0, kSource,
                        "The system's ATR list '%s' is too large to be a list of cards; not "
                        "read.",
                        path);
            break;
    }
}
