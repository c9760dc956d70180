// The signing test: log in to the token of the chosen reader and sign a fixed value with
// every private key on it, one message line per key.

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/Log.h"
#include "manager/Pcsc.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusText.h"

namespace {

constexpr const char* kTestCardSource = "CSmartCardManager::TestCard";
constexpr const char* kSource = "CSmartCardManager::CardTest";
// Longer PINs are refused: no token takes them, and the login copy has this room.
constexpr std::size_t kPinBufferSize = 64;
constexpr CK_ULONG kMaxKeys = 128;
constexpr CK_ULONG kKeyTextSize = 64;
constexpr CK_ULONG kSignatureSize = 8192;
constexpr uint32_t kNoPrivateKey = 0x20;
// Signed as it stands: no hash, no DigestInfo, no terminator.
constexpr char kTestValue[] = "supercalifragilistixespiralidoso";
constexpr CK_ULONG kTestValueSize = sizeof kTestValue - 1;
static_assert(kTestValueSize == 32);

// Overwrites a text's whole buffer in a way the compiler cannot drop, then empties it.
void Wipe(std::string& text) {
    text.resize(text.capacity());
    explicit_bzero(text.data(), text.size());
    text.clear();
}

// Wipes a text when the scope ends, whichever path leaves it.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& text) : m_text(text) {}
    ~WipeOnExit() { Wipe(m_text); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& m_text;
};

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

// A text the program composed itself: logged as it stands, never used as a format.
void LogVerbatim(uint32_t code, const std::string& text) {
    if (g_logLevel >= 1)
        LogMessage(static_cast<int32_t>(code), 0, kSource, "%s", text.c_str());
}

// A line for the user: logged and added to the message list.
void Report(IMessageList* list, uint32_t code, const std::string& text) {
    LogVerbatim(code, text);
    if (list != nullptr) {
        AddStatusLine(list, text.c_str());
    }
}

// A label or id as text: up to its first zero byte, never past the bytes the module
// returned nor past the buffer. Not returned at all: the empty text.
std::string KeyText(const CK_ATTRIBUTE& attribute) {
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return std::string();
    }
    const CK_ULONG length =
        attribute.ulValueLen < kKeyTextSize ? attribute.ulValueLen : kKeyTextSize;
    const char* bytes = static_cast<const char*>(attribute.pValue);
    return std::string(bytes, strnlen(bytes, length));
}

// The mechanism that signs with a key of this type, or false when the test has none.
bool SigningMechanism(CK_KEY_TYPE type, CK_MECHANISM_TYPE* mechanism) {
    switch (type) {
        case CKK_RSA:
            *mechanism = CKM_RSA_PKCS;
            return true;
        case CKK_EC:
            *mechanism = CKM_ECDSA;
            return true;
        default:
            return false;
    }
}

const char* SignatureExplanation(uint32_t result) {
    switch (result) {
        case CKR_FUNCTION_FAILED:
            return "(la carta non e' attiva)";
        case CKR_PIN_INCORRECT:
            return "(il PIN non combacia con quello memorizzato nel token)";
        case CKR_PIN_EXPIRED:
            return "(il PIN e' scaduto e va cambiato)";
        case CKR_PIN_LOCKED:
            return "(il PIN e' bloccato per troppi errori)";
        default:
            return "(errore non gestito)";
    }
}

std::string LoginFailureText(uint32_t result) {
    switch (result) {
        case CKR_PIN_INCORRECT:
            return "* PIN INCORRECT *";
        case CKR_PIN_INVALID:
            return "* PIN INVALID *";
        case CKR_PIN_EXPIRED:
            return "* PIN EXPIRED *";
        case CKR_PIN_LOCKED:
            return "* PIN LOCKED *";
        default:
            return Format("C_Login error 0x%X", result);
    }
}

}  // namespace

uint32_t CSmartCardManager::TestCard(int readerIndex, std::string pin) {
    WipeOnExit wipePin(pin);
    if (g_logLevel >= 1)
        LogMessage(0, 0, kTestCardSource, "Starting smartcard test ...");

    uint32_t result = CheckReaderIndex(readerIndex, kTestCardSource);
    if (result != 0) {
        return result;
    }
    const auto index = static_cast<std::size_t>(readerIndex);
    SCARDCONTEXT context = 0;
    DWORD eventState = 0;
    result = ReadReaderState(index, kTestCardSource, &context, &eventState);
    if (result != 0) {
        return result;
    }
    const std::string readerName = m_readers[index].szReader;
    // What the last check stored, before the test reads the token again.
    LogTokenDetails(GetTokenDetails());

    const bool present = (eventState & SCARD_STATE_PRESENT) != 0;
    if (present) {
        result = CardTest(m_driverInUse, pin, readerName);
    }
    PcscReleaseContext(context);

    if (!present) {
        if (g_logLevel >= 1)
            LogMessage(0, 0, kTestCardSource, "No card found.");
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, 316));
        }
        return kNoSmartCard;
    }
    if (result == 0) {
        if (g_logLevel >= 1)
            LogMessage(0, 0, kTestCardSource, "Card tested.");
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, 321));
        }
        return 0;
    }
    if (g_logLevel >= 1)
        LogMessage(static_cast<int32_t>(result), 0, kTestCardSource, "Error testing card.");
    if (m_statusList != nullptr) {
        AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, 318));
    }
    return result;
}

uint32_t CSmartCardManager::CardTest(std::string module, std::string pin) {
    WipeOnExit wipePin(pin);
    return CardTest(std::move(module), pin, m_readerName);
}

uint32_t CSmartCardManager::CardTest(std::string module, std::string pin, std::string readerName) {
    WipeOnExit wipePin(pin);
    if (g_logLevel >= 1)
        LogMessage(0, 0, kSource, "Try loading '%s' module...", module.c_str());
    ModuleHandle handle = LoadModule(module);
    if (handle == nullptr) {
        uint32_t error = ModuleLastError();
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(error), 1, kSource, "Error loading '%s' library !",
                       module.c_str());
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatErrorStatus(error, module.c_str(), 311));
        }
        return error;
    }
    if (g_logLevel >= 1)
        LogMessage(0, 0, kSource, "'%s' module successfully loaded.", module.c_str());

    // The reason's own code: a failure must never read as a passed test.
    uint32_t failure = 0;
    CK_FUNCTION_LIST* p11 = GetFunctionList(handle, module, &failure);
    if (p11 == nullptr) {
        ReleaseModule(handle);
        return failure != 0 ? failure : static_cast<uint32_t>(CKR_GENERAL_ERROR);
    }

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    bool sessionOpen = false;
    bool loggedIn = false;
    // Gives back what the test holds, in this order, and returns `result`.
    auto finish = [&](uint32_t result) {
        if (loggedIn) {
            Call(p11->C_Logout, session);
        }
        if (sessionOpen) {
            Call(p11->C_CloseSession, session);
        }
        ReleaseModule(handle);
        return result;
    };
    auto fail = [&](const char* function, CK_RV rv) {
        return finish(ReportCallFailure(m_statusList, kSource, module, function, rv));
    };

    // The token of the reader the user chose, chosen as the session opening chooses it.
    uint32_t chosen = ChooseTokenSlot(p11, module, readerName, kSource);
    if (chosen != 0) {
        return finish(chosen);
    }
    CK_RV rv = Call(p11->C_GetTokenInfo, m_slotId, &m_tokenInfo);
    if (rv != CKR_OK) {
        return fail("C_GetTokenInfo", rv);
    }
    rv = Call(p11->C_OpenSession, m_slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION,
              static_cast<void*>(nullptr), static_cast<CK_NOTIFY>(nullptr), &session);
    if (rv != CKR_OK) {
        return fail("C_OpenSession", rv);
    }
    sessionOpen = true;

    // The PIN goes to the module from a buffer of its own, wiped right after the call.
    auto login = [&](CK_USER_TYPE user) {
        CK_UTF8CHAR buffer[kPinBufferSize];
        std::memcpy(buffer, pin.data(), pin.size());
        CK_RV answer = Call(p11->C_Login, session, user, buffer, static_cast<CK_ULONG>(pin.size()));
        explicit_bzero(buffer, sizeof buffer);
        return answer;
    };

    // A login with a wrong PIN may be the one that locks the card: the token's own flags,
    // read just now, decide whether it is tried.
    const CK_FLAGS tokenFlags = m_tokenInfo.flags;
    if ((tokenFlags & CKF_USER_PIN_LOCKED) != 0) {
        rv = CKR_PIN_LOCKED;
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(rv), 0, kSource,
                       "The token reports its user PIN locked: no login is tried.");
    } else if (pin.size() > kPinBufferSize) {
        rv = CKR_PIN_LEN_RANGE;
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(rv), 0, kSource,
                       "PIN longer than %u bytes: refused before C_Login.",
                       static_cast<unsigned int>(kPinBufferSize));
    } else {
        if ((tokenFlags & CKF_USER_PIN_FINAL_TRY) != 0) {
            Report(m_statusList, 0,
                   "Attenzione: resta un solo tentativo per il PIN, poi la carta si blocca");
        } else if ((tokenFlags & CKF_USER_PIN_COUNT_LOW) != 0) {
            Report(m_statusList, 0,
                   "Attenzione: il PIN e' gia' stato digitato in modo errato, restano pochi "
                   "tentativi");
        }
        rv = login(CKU_USER);
    }
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        auto code = static_cast<uint32_t>(rv);
        Report(m_statusList, code, LoginFailureText(code));
        return finish(code);
    }
    loggedIn = true;

    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_BBOOL onToken = CK_TRUE;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                             {CKA_TOKEN, &onToken, sizeof onToken}};
    rv = Call(p11->C_FindObjectsInit, session, search, static_cast<CK_ULONG>(2));
    if (rv != CKR_OK) {
        return fail("C_FindObjectsInit", rv);
    }
    CK_OBJECT_HANDLE keys[kMaxKeys] = {};
    CK_ULONG found = 0;
    rv = Call(p11->C_FindObjects, session, keys, kMaxKeys, &found);
    if (rv != CKR_OK) {
        return fail("C_FindObjects", rv);
    }
    rv = Call(p11->C_FindObjectsFinal, session);
    if (rv != CKR_OK) {
        return fail("C_FindObjectsFinal", rv);
    }
    // A module may count more than it had room to write: only the array is read.
    if (found > kMaxKeys) {
        if (g_logLevel >= 1)
            LogMessage(0, 0, kSource, "C_FindObjects reported %lu keys for %lu places.",
                       static_cast<unsigned long>(found), static_cast<unsigned long>(kMaxKeys));
        found = kMaxKeys;
    }
    if (found == 0) {
        if (g_logLevel >= 1)
            LogMessage(static_cast<int32_t>(kNoPrivateKey), 0, kSource,
                       "C_FindObjectsInit error:0x%X.", kNoPrivateKey);
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList,
                          FormatStatus(kNoPrivateKey, module.c_str(), "C_FindObjectsInit", 320));
        }
        return finish(kNoPrivateKey);
    }
    Report(m_statusList, 0,
           found == 1 ? std::string("Trovata 1 chiave privata")
                      : Format("Trovate %d chiavi private", static_cast<int>(found)));

    std::vector<CK_BYTE> signature(kSignatureSize);
    uint32_t result = 0;
    for (CK_ULONG k = 0; k < found; ++k) {
        const CK_OBJECT_HANDLE key = keys[k];
        CK_ULONG size = 0;
        Call(p11->C_GetObjectSize, session, key, &size);

        CK_KEY_TYPE keyType = CKK_RSA;
        unsigned char label[kKeyTextSize] = {};
        unsigned char id[kKeyTextSize] = {};
        CK_BBOOL alwaysAuthenticate = CK_FALSE;
        CK_ATTRIBUTE attributes[] = {
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_LABEL, label, kKeyTextSize},
            {CKA_ID, id, kKeyTextSize},
            {CKA_ALWAYS_AUTHENTICATE, &alwaysAuthenticate, sizeof alwaysAuthenticate}};
        // Its result is not decisive: each attribute tells by its length whether it came.
        Call(p11->C_GetAttributeValue, session, key, attributes, static_cast<CK_ULONG>(4));
        const std::string labelText = KeyText(attributes[1]);
        const std::string idText = KeyText(attributes[2]);
        // A module that does not tell the type gets the test's historical mechanism.
        if (attributes[0].ulValueLen != sizeof keyType) {
            keyType = CKK_RSA;
        }
        // A module that does not know the attribute means no such key.
        const bool contextLogin =
            attributes[3].ulValueLen == sizeof alwaysAuthenticate && alwaysAuthenticate != CK_FALSE;

        uint32_t keyResult = 0;
        CK_MECHANISM_TYPE mechanismType = CKM_RSA_PKCS;
        if (!SigningMechanism(keyType, &mechanismType)) {
            keyResult = static_cast<uint32_t>(CKR_KEY_TYPE_INCONSISTENT);
            if (g_logLevel >= 1)
                LogMessage(static_cast<int32_t>(keyResult), 0, kSource,
                           "Key '%s' is of type 0x%lX, which the test cannot sign with.",
                           idText.c_str(), static_cast<unsigned long>(keyType));
        } else {
            CK_MECHANISM mechanism = {mechanismType, nullptr, 0};
            rv = Call(p11->C_SignInit, session, &mechanism, key);
            if (rv != CKR_OK) {
                auto code = static_cast<uint32_t>(rv);
                if (g_logLevel >= 1)
                    LogMessage(static_cast<int32_t>(code), 0, kSource,
                               "La credenziale '%s' ha generato l'errore C_SignInit 0x%X.",
                               idText.c_str(), code);
                if (m_statusList != nullptr) {
                    AddStatusLine(m_statusList,
                                  FormatStatus(code, idText.c_str(), "C_SignInit", 324));
                }
                return finish(code);
            }

            auto signOnce = [&]() {
                CK_BYTE data[kTestValueSize];
                std::memcpy(data, kTestValue, kTestValueSize);
                std::fill(signature.begin(), signature.end(), 0);
                CK_ULONG length = kSignatureSize;
                return Call(p11->C_Sign, session, data, kTestValueSize, signature.data(), &length);
            };
            // A key that wants its own login gets it right before each signature.
            const char* function = "C_Sign";
            auto attempt = [&]() {
                if (contextLogin) {
                    CK_RV answer = login(CKU_CONTEXT_SPECIFIC);
                    if (answer != CKR_OK) {
                        function = "C_Login";
                        // The started signature stays pending until a C_Sign ends it; without
                        // that the next key's C_SignInit would find it active.
                        signOnce();
                        return answer;
                    }
                }
                function = "C_Sign";
                return signOnce();
            };
            rv = attempt();
            if (rv != CKR_OK) {
                if (g_logLevel >= 1)
                    LogMessage(static_cast<int32_t>(rv), 0, kSource,
                               "La credenziale '%s' ha generato l'errore %s 0x%X.", idText.c_str(),
                               function, static_cast<unsigned int>(rv));
                // Some cards fail the first signature after power-up: one retry, no new init.
                if (rv == CKR_FUNCTION_FAILED && std::strcmp(function, "C_Sign") == 0) {
                    rv = attempt();
                    if (rv != CKR_OK && g_logLevel >= 1)
                        LogMessage(static_cast<int32_t>(rv), 0, kSource,
                                   "Second C_Sign call, return error: 0x%x.",
                                   static_cast<unsigned int>(rv));
                }
                CK_SESSION_INFO info;
                std::memset(&info, 0, sizeof info);
                if (Call(p11->C_GetSessionInfo, session, &info) == CKR_OK && g_logLevel >= 1)
                    LogMessage(static_cast<int32_t>(rv), 0, kSource,
                               "Current session information :\n  state = 0x%X \n  flags = 0x%X "
                               "\n  deviceError = 0x%X \n",
                               static_cast<unsigned int>(info.state),
                               static_cast<unsigned int>(info.flags),
                               static_cast<unsigned int>(info.ulDeviceError));
            }
            keyResult = static_cast<uint32_t>(rv);
        }

        if (keyResult != 0) {
            Report(m_statusList, keyResult,
                   labelText.empty()
                       ? Format("Errore '0x%.2X' durante la firma con la credenziale '%s'",
                                keyResult, idText.c_str())
                       : Format("Errore '0x%.2X' durante la firma con la credenziale '%s' (%s)",
                                keyResult, idText.c_str(), labelText.c_str()));
            Report(m_statusList, keyResult, SignatureExplanation(keyResult));
        } else {
            Report(m_statusList, 0,
                   labelText.empty()
                       ? Format("La credenziale '%s' ha firmato correttamente", idText.c_str())
                       : Format("La credenziale '%s' (%s) ha firmato correttamente", idText.c_str(),
                                labelText.c_str()));
        }
        // The verdict is the last key's.
        result = keyResult;
    }
    return finish(result);
}
