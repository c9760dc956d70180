#pragma once

#include <json/value.h>
#include <winscard.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/CardCatalogue.h"
#include "catalogue/CardDefinition.h"
#include "common/MessageList.h"
#include "common/SecretString.h"
#include "manager/CardView.h"
#include "manager/CheckedCard.h"
#include "manager/HeldModules.h"
#include "manager/Reporter.h"
#include "manager/ResultCodes.h"
#include "manager/TokenCertificates.h"
#include "manager/TokenDetails.h"
#include "manager/TokenSession.h"
#include "platform/ModuleLoader.h"
#include "platform/Pkcs11.h"

constexpr int kMaxReaders = 10;

// The slots of the card in a reader, in the module's order.
struct CardSlots {
    std::vector<CK_SLOT_ID> ids;
    // Their descriptions name the reader; otherwise the one slot was taken among those that
    // name no listed reader.
    bool namedAfterReader = false;
};

// What loading each module of a drivers value came to.
struct DriverProbe {
    uint32_t code = 0;                // 0, or the load error of the last module that failed
    std::vector<std::string> loaded;  // the modules that loaded, in the value's order
};

// A trial session only tells whether a driver sees the token; the final one of a check also
// reads what the window shows of it.
enum class SessionPurpose { Trial, Final };

// The one object that does the diagnostic work; used from one thread at a time.
class CSmartCardManager {
public:
    CSmartCardManager();
    ~CSmartCardManager();
    CSmartCardManager(const CSmartCardManager&) = delete;
    CSmartCardManager& operator=(const CSmartCardManager&) = delete;

    // Parses and validates the catalogue; throws std::runtime_error when it is unusable.
    void InitCardList(std::size_t size, const char* text) { m_catalogue.Load(size, text); }
    // The first matching "CCID" entry for this reader and ATR, owned by the caller, or null.
    CardDefinition* FindCardJson(std::string readerName, std::string atrHex) {
        return m_catalogue.Find(readerName, atrHex).release();
    }
    // The token information of the last check or test, as texts and counters.
    TokenDetails GetTokenDetails() const;
    // The card as the last operation left it, for the window and the console check.
    CardView View() const;
    // Fills m_readers from the PC/SC service: at most 10 readers in its order, with states.
    uint32_t UpdateReaders();
    // The position in m_readers of the reader named exactly `name`, or -1.
    int ReaderPosition(const std::string& name) const;

    // Loads each module of a comma-separated drivers value once, reporting each; with
    // `keep` the names that load are appended to m_drivers. 0, or the last load error.
    uint32_t ProbeDrivers(const std::string& drivers, const char* source, bool keep);
    // Loads m_driverInUse and records its full path in m_driverPath; the caller releases it.
    ModuleHandle UpdateFileInfo();
    // The module's initialised function list, or null after reporting why. `failure`, when
    // given, receives the reason's own code (loader error or CK_RV), 0 on success.
    CK_FUNCTION_LIST* GetFunctionList(ModuleHandle module, const std::string& name,
                                      uint32_t* failure = nullptr);
    // The file version of m_driverPath into m_driverVersion: the numeric suffix of its file
    // name, else the libraryVersion of its C_GetInfo; unchanged when it has none.
    void ReadDriverVersion(const char* source, uint32_t code);
    // Picks the slot of `readerName`, reads its token information and opens and closes a
    // session on it; the final session of a check also reads the token's certificates. 0, or
    // the code of the call that failed (see ResultCode).
    uint32_t OpenCardSession(CK_FUNCTION_LIST* functionList, std::string driverName,
                             std::string readerName,
                             SessionPurpose purpose = SessionPurpose::Final);
    // Every slot of the card in `readerName`: the slots whose descriptions name that reader (a
    // card may show one token per PIN); else, among the slots that name no listed reader (a
    // slot that names another reader is never taken), the only one, else the first whose
    // description and the reader's name hold one another, else the first. No token for the
    // reader is CKR_TOKEN_NOT_PRESENT. 0, or the failure's code, reported to `reporter`.
    uint32_t ChooseCardSlots(CK_FUNCTION_LIST* functionList, const std::string& driverName,
                             const std::string& readerName, const Reporter& reporter,
                             CardSlots* slots);
    // The signing test on the card in reader `readerIndex` with m_driverInUse; ends with its
    // verdict as a status line. The PIN is wiped before it returns.
    uint32_t TestCard(int readerIndex, SecretString pin);
    // Logs in to the token of the reader (m_readerName when not given) through `module` and
    // signs a fixed value with every private key. 0, or the code of the failure.
    uint32_t CardTest(std::string module, SecretString pin);
    uint32_t CardTest(std::string module, SecretString pin, const std::string& readerName);
    // Chooses the driver in use among the modules of `drivers`: the serial filter's choice,
    // else the first that loads; then opens a session with it and reads its version.
    uint32_t FindDriver(std::string drivers, std::string readerName, std::string filter);
    // The card in reader `readerIndex`: its ATR, catalogue entry and working driver.
    uint32_t CheckCardInReader(int readerIndex);
    // Makes m_drivers[driverIndex] the driver in use and checks it against the token.
    uint32_t CheckDriver(int driverIndex);
    uint32_t DriverTest(std::string driverName, std::string readerName);
    // Keeps the modules that the operations of the scope's lifetime start loaded and started
    // until it ends, when they are finalised: a check and the signing test after it then start
    // the driver once.
    [[nodiscard]] HeldModulesScope HoldModules() { return HeldModulesScope(m_heldModules); }

private:
    // The module's slots that hold a token, in its order. 0, or the failure's code (reported).
    uint32_t ListTokenSlots(CK_FUNCTION_LIST* functionList, const std::string& driverName,
                            const Reporter& reporter, std::vector<CK_SLOT_ID>* slots);
    // The names of the readers of the last enumeration.
    std::vector<std::string> ListedReaderNames() const;
    // Logs why `slot` was taken for the reader and returns it.
    CK_SLOT_ID TakeSlot(CK_SLOT_ID slot, const std::string& description,
                        const std::string& readerName, const char* why, const char* source);
    // Among slots that name no listed reader: the only one, else the first whose description
    // and the reader's name hold one another, else the first.
    CK_SLOT_ID ChooseUnnamedSlot(const std::vector<std::pair<CK_SLOT_ID, std::string>>& unnamed,
                                 const std::string& readerName, const char* source);
    // Picks the slot of `readerName`, reads its token information and opens and closes a
    // session on it; the final session of a check also reads the certificates of the card's
    // tokens. What it learned, reported to `reporter`.
    TokenSession OpenTokenSession(CK_FUNCTION_LIST* functionList, const std::string& driverName,
                                  const std::string& readerName, SessionPurpose purpose,
                                  const Reporter& reporter);
    // Makes what a session learned the token's fields (m_slotId, m_tokenInfo, m_certificates).
    void KeepTokenFields(const TokenSession& session);
    // Loads a driver module (marked as the call in progress) and, within an operation,
    // keeps it started until the operation ends. Null on failure, with the loader's error.
    ModuleHandle LoadDriver(const std::string& name);
    // Empties what a check learns of the token (m_tokenInfo, m_slotId, m_filterDriver), so
    // that a check that fails early shows none of an earlier one's.
    void ClearTokenFields();
    // Loads m_driverInUse, opens a session with it on the token of `readerName` and releases
    // it. What the session learned; its code is 0 or the failure's own (loader error or
    // CK_RV).
    TokenSession OpenDriverInUse(const std::string& readerName, SessionPurpose purpose);
    // The status lines of the certificates that need the user's attention, after a check
    // that succeeded.
    void ReportCertificateWarnings(const char* source);
    // A card the catalogue does not know: its description from the system's ATR list, as a
    // status line and a log record when the list names it, a log record otherwise.
    void ReportSystemAtrList();
    // A card the catalogue does not know: tries the modules registered with p11-kit. Those
    // with a token in a slot named after `readerName` become m_drivers (and m_cardDrivers,
    // comma-separated), the first the driver in use, opened as FindDriver opens its choice.
    // The final opening's result, or SCARD_E_UNKNOWN_CARD when no module serves the card.
    uint32_t FindSystemDriver(const std::string& readerName);
    // Probes the registered module `fileName`, starts it and tells whether the slot that
    // the session opening chooses for `readerName` holds a token and names that reader.
    bool SystemModuleServes(const std::string& fileName, const std::string& readerName);
    // Status line 330 (to `list`) and its log record: module `name` gives no
    // C_GetFunctionList, for the loader's reason `loaderError`, which is returned.
    uint32_t ReportNoFunctionList(const std::string& name, uint32_t loaderError,
                                  IMessageList* list);
    // Loads each module of a comma-separated drivers value once, reporting each to
    // `reporter`; a single module that fails ends the probe.
    DriverProbe ProbeModules(const std::string& drivers, const Reporter& reporter);
    // GetFunctionList with its status lines going to `statusList` (none: the log alone).
    CK_FUNCTION_LIST* StartModule(ModuleHandle module, const std::string& name,
                                  IMessageList* statusList, uint32_t* failure);
    // The signing test's end when the reader's card is not the checked one: logged, and
    // SCARD_W_REMOVED_CARD returned.
    uint32_t ReportOtherCard(const std::string& readerName, const SCARD_READERSTATE& state);
    // 0 when `readerIndex` is a position in the table; otherwise reports it (status line 313)
    // and returns SCARD_E_NO_READERS_AVAILABLE.
    uint32_t CheckReaderIndex(int readerIndex, const char* source);
    // Opens a PC/SC context and reads reader `index`'s current state (event state, ATR) from
    // a copy of the table. On failure the context is released, the failure reported and its
    // code returned.
    uint32_t ReadReaderState(std::size_t index, const char* source, SCARDCONTEXT* context,
                             SCARD_READERSTATE* state);

public:
    SCARD_READERSTATE m_readers[kMaxReaders];
    uint32_t m_readerCount;
    CK_TOKEN_INFO m_tokenInfo;
    // The token's certificates, read with m_tokenInfo and emptied with it.
    std::vector<TokenCertificate> m_certificates;
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
    // The card of the last successful check; the signing test gives the PIN to no other.
    CheckedCard m_checkedCard;

private:
    // The catalogue entry that identified the last checked card, when one did.
    std::optional<CardDefinition> m_cardEntry;

private:
    // Declared before the two views of it below, which the constructor binds to it.
    CardCatalogue m_catalogue;

public:
    // The catalogue as loaded: the parser's success flag and the whole document.
    bool& m_cardListParsed;
    Json::Value& m_cardList;

private:
    HeldModules m_heldModules;
};
