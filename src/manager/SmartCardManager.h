#pragma once

#include <json/value.h>
#include <winscard.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "manager/MessageList.h"
#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"
#include "platform/Pkcs11.h"

constexpr int kMaxReaders = 10;

// Result codes of the manager's own making.
constexpr uint32_t kNoReadersAvailable = 0x8010002E;  // SCARD_E_NO_READERS_AVAILABLE
constexpr uint32_t kNoSmartCard = 0x8010000C;         // SCARD_E_NO_SMARTCARD
constexpr uint32_t kUnknownCard = 0x8010000D;         // SCARD_E_UNKNOWN_CARD

// The catalogue entry that identified a card.
struct CardDefinition {
    std::string atr;
    std::string atrMask;
    std::string drivers;
    int32_t askPin = 0;
    int32_t tryReuseDriver = 0;
    std::string filter;
    std::string reader;
};

// ATR bytes as upper-case hexadecimal text, two digits per byte, no separators.
std::string AtrToHex(const unsigned char* atr, std::size_t length);

// The one object that does the diagnostic work; used from one thread at a time.
class CSmartCardManager {
public:
    CSmartCardManager();
    ~CSmartCardManager();
    CSmartCardManager(const CSmartCardManager&) = delete;
    CSmartCardManager& operator=(const CSmartCardManager&) = delete;

    // Parses and validates the catalogue; throws std::runtime_error when it is unusable.
    void InitCardList(std::size_t size, const char* text);
    // The first matching "CCID" entry for this reader and ATR, owned by the caller, or null.
    CardDefinition* FindCardJson(std::string readerName, std::string atrHex);
    // The token information of the last check or test, as texts and counters.
    TokenDetails GetTokenDetails() const;

    SCARD_READERSTATE m_readers[kMaxReaders];
    uint32_t m_readerCount;
    CK_TOKEN_INFO m_tokenInfo;
    CK_SLOT_ID m_slotId;
    std::string m_atr;
    std::string m_readerName;
    std::string m_cardDrivers;
    std::vector<std::string> m_drivers;
    std::string m_driverInUse;
    std::string m_driverPath;
    std::string m_driverVersion;
    IMessageList* m_statusList;
    std::string m_filterDriver;
    bool m_cardListParsed;
    Json::Value m_cardList;
};
