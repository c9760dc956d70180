#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "log/Log.h"
#include "manager/Pkcs11Calls.h"
#include "manager/Reporter.h"
#include "manager/SlotReader.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::OpenCardSession";
constexpr CK_ULONG kMaxSlots = 1 << 20;

// The card's other tokens hold certificates too; a session that does not open only leaves
// theirs out, as a certificate that cannot be read does.
void AppendOtherSlotsCertificates(CK_FUNCTION_LIST* functionList,
                                  const std::vector<CK_SLOT_ID>& slots,
                                  std::vector<TokenCertificate>* certificates) {
    for (std::size_t i = 1; i < slots.size(); ++i) {
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        const CK_RV rv =
            MODULE_CALL(functionList, C_OpenSession, slots[i], CKF_SERIAL_SESSION,
                        static_cast<void*>(nullptr), static_cast<CK_NOTIFY>(nullptr), &session);
        if (rv != CKR_OK) {
            LOG_MESSAGE(static_cast<int32_t>(ResultCode(rv, "C_OpenSession", kSource)), 0, kSource,
                        "The certificates of slot %lu could not be read: 0x%lX.",
                        static_cast<unsigned long>(slots[i]), static_cast<unsigned long>(rv));
            continue;
        }
        AppendCertificates(*certificates, ReadTokenCertificates(functionList, session,
                                                                std::time(nullptr), kSource));
        MODULE_CALL(functionList, C_CloseSession, session);
    }
}

}  // namespace

uint32_t CSmartCardManager::ListTokenSlots(CK_FUNCTION_LIST* functionList,
                                           const std::string& driverName, const Reporter& reporter,
                                           std::vector<CK_SLOT_ID>* slots) {
    auto fail = [&](CK_RV rv) {
        return ReportCallFailure(reporter.List(), reporter.Source(), driverName, "C_GetSlotList",
                                 rv);
    };
    // A token may appear between the count and the list: then the list is asked for once more.
    for (int attempt = 0;; ++attempt) {
        CK_ULONG count = 0;
        CK_RV rv = MODULE_CALL(functionList, C_GetSlotList, CK_TRUE, nullptr, &count);
        if (rv != CKR_OK) {
            return fail(rv);
        }
        if (count == 0) {
            slots->clear();
            return 0;
        }
        // The count comes from the module: a list no host could hold is not allocated.
        if (count > kMaxSlots) {
            return fail(CKR_HOST_MEMORY);
        }
        try {
            slots->assign(count, 0);
        } catch (const std::bad_alloc&) {
            return fail(CKR_HOST_MEMORY);
        }
        CK_ULONG listed = count;
        rv = MODULE_CALL(functionList, C_GetSlotList, CK_TRUE, slots->data(), &listed);
        // More ids than there is room for cannot have been written: never read past it.
        if (rv == CKR_OK && listed > count) {
            rv = CKR_BUFFER_TOO_SMALL;
        }
        if (rv == CKR_BUFFER_TOO_SMALL && attempt == 0) {
            continue;
        }
        if (rv != CKR_OK) {
            return fail(rv);
        }
        slots->resize(listed);
        return 0;
    }
}

std::vector<std::string> CSmartCardManager::ListedReaderNames() const {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < m_readerCount && i < kMaxReaders; ++i) {
        if (m_readers[i].szReader != nullptr) {
            names.emplace_back(m_readers[i].szReader);
        }
    }
    return names;
}

uint32_t CSmartCardManager::ChooseCardSlots(CK_FUNCTION_LIST* functionList,
                                            const std::string& driverName,
                                            const std::string& readerName, const Reporter& reporter,
                                            CardSlots* chosen) {
    const char* source = reporter.Source();
    std::vector<CK_SLOT_ID> slots;
    uint32_t result = ListTokenSlots(functionList, driverName, reporter, &slots);
    if (result != 0) {
        return result;
    }

    // The slots that name the reader, and those that name no listed reader, in the module's
    // order, with their descriptions.
    std::vector<std::pair<CK_SLOT_ID, std::string>> named;
    std::vector<std::pair<CK_SLOT_ID, std::string>> unnamed;
    const std::vector<std::string> readers = ListedReaderNames();
    for (CK_SLOT_ID slot : slots) {
        CK_SLOT_INFO info;
        std::memset(&info, 0, sizeof info);
        const CK_RV rv = MODULE_CALL(functionList, C_GetSlotInfo, slot, &info);
        if (rv != CKR_OK) {
            return ReportCallFailure(reporter.List(), source, driverName, "C_GetSlotList", rv);
        }
        const std::string description = SlotDescriptionText(info);
        switch (SlotOwnerOf(description, readerName, readers)) {
            case SlotOwner::Reader:
                named.emplace_back(slot, description);
                break;
            case SlotOwner::OtherReader:
                LOG_MESSAGE(
                    0, 0, source, "Slot %lu ('%s') belongs to another reader: not taken for '%s'.",
                    static_cast<unsigned long>(slot), description.c_str(), readerName.c_str());
                break;
            case SlotOwner::NoReader:
                unnamed.emplace_back(slot, description);
                break;
        }
    }

    chosen->ids.clear();
    // A card may show several tokens (one per PIN, say), each in a slot named after its reader.
    for (const auto& [slot, description] : named) {
        chosen->ids.push_back(
            TakeSlot(slot, description, readerName, "its description names the reader", source));
    }
    chosen->namedAfterReader = !named.empty();
    if (!named.empty()) {
        return 0;
    }
    // No token at all for this reader is a failure: reporting success would call the driver
    // working.
    if (unnamed.empty()) {
        LOG_MESSAGE(static_cast<int32_t>(CKR_TOKEN_NOT_PRESENT), 0, source, "No token available.");
        reporter.Status(FormatStatus(static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT),
                                     driverName.c_str(), "C_GetSlotList", kStatusDriverCallError));
        return static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT);
    }
    chosen->ids.push_back(ChooseUnnamedSlot(unnamed, readerName, source));
    return 0;
}

CK_SLOT_ID CSmartCardManager::ChooseUnnamedSlot(
    const std::vector<std::pair<CK_SLOT_ID, std::string>>& unnamed, const std::string& readerName,
    const char* source) {
    if (unnamed.size() == 1) {
        return TakeSlot(unnamed[0].first, unnamed[0].second, readerName,
                        "the only token that names no listed reader", source);
    }
    for (const auto& [slot, description] : unnamed) {
        if (readerName.find(description) != std::string::npos ||
            description.find(readerName) != std::string::npos) {
            return TakeSlot(slot, description, readerName,
                            "its description and the reader's name hold one another", source);
        }
    }
    // Rather the module's first token than a slot left over from another module.
    return TakeSlot(unnamed[0].first, unnamed[0].second, readerName,
                    "the first token that names no listed reader", source);
}

CK_SLOT_ID CSmartCardManager::TakeSlot(CK_SLOT_ID slot, const std::string& description,
                                       const std::string& readerName, const char* why,
                                       const char* source) {
    LOG_MESSAGE(0, 0, source, "Slot %lu ('%s') taken for reader '%s': %s.",
                static_cast<unsigned long>(slot), description.c_str(), readerName.c_str(), why);
    return slot;
}

uint32_t CSmartCardManager::OpenCardSession(CK_FUNCTION_LIST* functionList, std::string driverName,
                                            std::string readerName, SessionPurpose purpose) {
    const TokenSession session = OpenTokenSession(functionList, driverName, readerName, purpose,
                                                  Reporter(kSource, m_statusList));
    KeepTokenFields(session);
    return session.code;
}

TokenSession CSmartCardManager::OpenTokenSession(CK_FUNCTION_LIST* functionList,
                                                 const std::string& driverName,
                                                 const std::string& readerName,
                                                 SessionPurpose purpose, const Reporter& reporter) {
    TokenSession learned;
    auto fail = [&](const char* function, CK_RV rv) {
        learned.code = ReportCallFailure(reporter.List(), kSource, driverName, function, rv);
        return learned;
    };

    CardSlots slots;
    learned.code = ChooseCardSlots(functionList, driverName, readerName, reporter, &slots);
    if (learned.code != 0) {
        return learned;
    }
    learned.slot = slots.ids.front();

    CK_TOKEN_INFO token;
    std::memset(&token, 0, sizeof token);
    CK_RV rv = MODULE_CALL(functionList, C_GetTokenInfo, *learned.slot, &token);
    if (rv != CKR_OK) {
        return fail("C_GetTokenInfo", rv);
    }
    learned.token = token;

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    rv =
        MODULE_CALL(functionList, C_OpenSession, *learned.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION,
                    static_cast<void*>(nullptr), static_cast<CK_NOTIFY>(nullptr), &session);
    if (rv != CKR_OK) {
        return fail("C_OpenSession", rv);
    }
    if (purpose == SessionPurpose::Final) {
        learned.certificates =
            ReadTokenCertificates(functionList, session, std::time(nullptr), kSource);
    }
    MODULE_CALL(functionList, C_CloseSession, session);
    if (purpose == SessionPurpose::Final) {
        AppendOtherSlotsCertificates(functionList, slots.ids, &*learned.certificates);
    }
    return learned;
}

void CSmartCardManager::KeepTokenFields(const TokenSession& session) {
    if (session.slot) {
        m_slotId = *session.slot;
    }
    if (session.token) {
        m_tokenInfo = *session.token;
    }
    if (session.certificates) {
        m_certificates = *session.certificates;
    }
}
