#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "log/Log.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusText.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::OpenCardSession";
constexpr CK_ULONG kMaxSlots = 1 << 20;

// The 64 blank-padded bytes as a text: trailing blanks cleared, the first byte kept.
void SlotDescription(const CK_SLOT_INFO& info, char description[65]) {
    std::memcpy(description, info.slotDescription, 64);
    description[64] = '\0';
    for (int i = 63; i > 0 && description[i] == ' '; --i) {
        description[i] = '\0';
    }
}

}  // namespace

uint32_t CSmartCardManager::ChooseTokenSlot(CK_FUNCTION_LIST* functionList,
                                            const std::string& driverName,
                                            const std::string& readerName, const char* source) {
    auto fail = [&](const char* function, CK_RV rv) {
        return ReportCallFailure(m_statusList, source, driverName, function, rv);
    };

    // A token may appear between the count and the list: then the list is asked for once more.
    std::vector<CK_SLOT_ID> slots;
    CK_ULONG count = 0;
    for (int attempt = 0;; ++attempt) {
        count = 0;
        CK_RV rv = MODULE_CALL(functionList, C_GetSlotList, CK_TRUE, nullptr, &count);
        if (rv != CKR_OK) {
            return fail("C_GetSlotList", rv);
        }
        if (count > 0) {
            // The count comes from the module: a list no host could hold is not allocated.
            if (count > kMaxSlots) {
                return fail("C_GetSlotList", CKR_HOST_MEMORY);
            }
            try {
                slots.assign(count, 0);
            } catch (const std::bad_alloc&) {
                return fail("C_GetSlotList", CKR_HOST_MEMORY);
            }
            CK_ULONG listed = count;
            rv = MODULE_CALL(functionList, C_GetSlotList, CK_TRUE, slots.data(), &listed);
            // More ids than there is room for cannot have been written: never read past it.
            if (rv == CKR_OK && listed > count) {
                rv = CKR_BUFFER_TOO_SMALL;
            }
            if (rv == CKR_BUFFER_TOO_SMALL && attempt == 0) {
                continue;
            }
            if (rv != CKR_OK) {
                return fail("C_GetSlotList", rv);
            }
            count = listed;
        }
        break;
    }

    // No token is a failure: reporting success would call the driver working.
    if (count == 0) {
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(CKR_TOKEN_NOT_PRESENT), 0, source,
                       "No token available.");
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatStatus(static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT),
                                                     driverName.c_str(), "C_GetSlotList", 320));
        }
        return static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT);
    }

    if (count == 1) {
        m_slotId = slots[0];
        return 0;
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_SLOT_INFO info;
        std::memset(&info, 0, sizeof info);
        CK_RV rv = MODULE_CALL(functionList, C_GetSlotInfo, slots[i], &info);
        if (rv != CKR_OK) {
            return fail("C_GetSlotList", rv);
        }
        char description[65];
        SlotDescription(info, description);
        if (std::strstr(readerName.c_str(), description) != nullptr ||
            std::strstr(description, readerName.c_str()) != nullptr) {
            m_slotId = slots[i];
            return 0;
        }
    }
    // Rather the module's first token than a slot left over from another module.
    m_slotId = slots[0];
    if (g_logLevel >= 1)
        LogMessage(0, 0, source, "No slot description matches reader '%s': using the first slot.",
                   readerName.c_str());
    return 0;
}

uint32_t CSmartCardManager::OpenCardSession(CK_FUNCTION_LIST* functionList, std::string driverName,
                                            std::string readerName, SessionPurpose purpose) {
    auto fail = [&](const char* function, CK_RV rv) {
        return ReportCallFailure(m_statusList, kSource, driverName, function, rv);
    };

    uint32_t chosen = ChooseTokenSlot(functionList, driverName, readerName, kSource);
    if (chosen != 0) {
        return chosen;
    }

    CK_RV rv = MODULE_CALL(functionList, C_GetTokenInfo, m_slotId, &m_tokenInfo);
    if (rv != CKR_OK) {
        return fail("C_GetTokenInfo", rv);
    }

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    rv = MODULE_CALL(functionList, C_OpenSession, m_slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION,
                     static_cast<void*>(nullptr), static_cast<CK_NOTIFY>(nullptr), &session);
    if (rv != CKR_OK) {
        return fail("C_OpenSession", rv);
    }
    if (purpose == SessionPurpose::Final) {
        m_certificates = ReadTokenCertificates(functionList, session, std::time(nullptr), kSource);
    }
    MODULE_CALL(functionList, C_CloseSession, session);
    return 0;
}
