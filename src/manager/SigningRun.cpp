#include "manager/SigningRun.h"

#include <algorithm>
#include <cstring>

#include "common/CleanText.h"
#include "log/Log.h"
#include "manager/CheckedCard.h"
#include "manager/KeyText.h"
#include "manager/PinWarning.h"
#include "manager/Pkcs11Calls.h"
#include "manager/PublicHalf.h"
#include "manager/ResultCodes.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"
#include "platform/SecureZero.h"

namespace {

constexpr CK_ULONG kMaxKeys = 128;
constexpr CK_ULONG kKeyTextSize = 64;
// Signed as it stands: no hash, no DigestInfo, no terminator.
constexpr char kTestValue[] = "supercalifragilistixespiralidoso";
constexpr CK_ULONG kTestValueSize = sizeof kTestValue - 1;
static_assert(kTestValueSize == 32);

// The bytes of a fixed-size attribute buffer that the module filled; none when it did not
// return the attribute, or tells a length the buffer cannot have held.
std::size_t ReturnedLength(const CK_ATTRIBUTE& attribute) {
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION || attribute.ulValueLen > kKeyTextSize) {
        return 0;
    }
    return attribute.ulValueLen;
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

// Answers that mean the PIN was refused, and may have cost one of its tries.
bool IsPinFailure(uint32_t code) {
    return code == CKR_PIN_INCORRECT || code == CKR_PIN_LEN_RANGE || code == CKR_PIN_LOCKED ||
           code == CKR_PIN_EXPIRED;
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

const char* StepFunction(SignStep step) {
    switch (step) {
        case SignStep::SignInit:
            return "C_SignInit";
        case SignStep::Login:
            return "C_Login";
        case SignStep::Sign:
            break;
    }
    return "C_Sign";
}

}  // namespace

SigningRun::~SigningRun() {
    if (m_loggedIn) {
        MODULE_CALL(m_p11, C_Logout, m_session);
    }
    if (m_sessionOpen) {
        MODULE_CALL(m_p11, C_CloseSession, m_session);
    }
}

uint32_t SigningRun::OpenSession(const CheckedToken* checked) {
    CK_TOKEN_INFO& token = m_token;
    CK_RV rv = MODULE_CALL(m_p11, C_GetTokenInfo, m_slot, &token);
    if (rv != CKR_OK) {
        return Fail("C_GetTokenInfo", rv);
    }
    const std::string serial = TokenSerialField(token);
    if (checked != nullptr && serial != checked->serialNumber) {
        LOG_MESSAGE(static_cast<int32_t>(kCardChanged), 0, kCardTestSource,
                    "The token in reader '%s' has serial number '%s', the checked one had "
                    "'%s': no PIN is presented.",
                    checked->readerName.c_str(),
                    CleanText(token.serialNumber, serial.size()).c_str(),
                    CleanText(checked->serialNumber).c_str());
        return kCardChanged;
    }
    m_tokenAccepted = true;
    rv = MODULE_CALL(m_p11, C_OpenSession, m_slot, CKF_SERIAL_SESSION | CKF_RW_SESSION,
                     static_cast<void*>(nullptr), static_cast<CK_NOTIFY>(nullptr), &m_session);
    if (rv != CKR_OK) {
        return Fail("C_OpenSession", rv);
    }
    m_sessionOpen = true;
    return 0;
}

// The PIN goes to the module from a buffer of its own, wiped right after the call.
uint32_t SigningRun::Login(CK_USER_TYPE user) {
    CK_UTF8CHAR buffer[kMaxPinBytes];
    std::memcpy(buffer, m_pin.data(), m_pin.size());
    CK_RV answer =
        MODULE_CALL(m_p11, C_Login, m_session, user, buffer, static_cast<CK_ULONG>(m_pin.size()));
    SecureZero(buffer, sizeof buffer);
    return ResultCode(answer, "C_Login", kCardTestSource);
}

// A login with a wrong PIN may be the one that locks the card: the token's own flags, read
// just now, decide whether it is tried.
uint32_t SigningRun::LogIn() {
    const CK_FLAGS tokenFlags = m_token.flags;
    uint32_t code = 0;
    bool presented = false;
    if ((tokenFlags & CKF_USER_PIN_LOCKED) != 0) {
        code = CKR_PIN_LOCKED;
        LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                    "The token reports its user PIN locked: no login is tried.");
    } else if (m_pin.TooLong()) {
        code = CKR_PIN_LEN_RANGE;
        LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                    "PIN longer than %u bytes: refused before C_Login.",
                    static_cast<unsigned int>(kMaxPinBytes));
    } else {
        const std::string warning = PinWarningText(tokenFlags);
        if (!warning.empty()) {
            Report(m_statusList, 0, warning);
        }
        code = Login(CKU_USER);
        presented = true;
    }
    if (code != CKR_OK && code != CKR_USER_ALREADY_LOGGED_IN) {
        Report(m_statusList, code, LoginFailureText(code));
        if (presented) {
            ReportRefusedPin(code, tokenFlags);
        }
        return code;
    }
    m_loggedIn = true;
    return 0;
}

void SigningRun::ReportRefusedPin(uint32_t code, CK_FLAGS flagsBefore) {
    constexpr CK_FLAGS kPinFlags =
        CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED;
    CK_TOKEN_INFO now;
    std::memset(&now, 0, sizeof now);
    const bool read = MODULE_CALL(m_p11, C_GetTokenInfo, m_slot, &now) == CKR_OK;
    const CK_FLAGS flagsAfter = read ? now.flags : flagsBefore;
    const bool moved = (flagsAfter & kPinFlags) != (flagsBefore & kPinFlags);
    LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                "After the refused login the token's flags are 0x%lX (0x%lX before).",
                static_cast<unsigned long>(flagsAfter), static_cast<unsigned long>(flagsBefore));
    // Modules answer a wrong PIN with other codes too: what the card did decides.
    if (code == CKR_PIN_INCORRECT || code == CKR_USER_NOT_LOGGED_IN ||
        (code == CKR_GENERAL_ERROR && moved)) {
        Report(m_statusList, code,
               "La carta ha rifiutato il PIN: il PIN digitato non e' quello della carta");
    }
    // A warning given before the login is not given again.
    const std::string warning = PinWarningText(flagsAfter);
    if (!warning.empty() && warning != PinWarningText(flagsBefore)) {
        Report(m_statusList, code, warning);
    }
}

uint32_t SigningRun::FindKeys(std::vector<CK_OBJECT_HANDLE>* keys) {
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_BBOOL onToken = CK_TRUE;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                             {CKA_TOKEN, &onToken, sizeof onToken}};
    CK_RV rv = MODULE_CALL(m_p11, C_FindObjectsInit, m_session, search, static_cast<CK_ULONG>(2));
    if (rv != CKR_OK) {
        return Fail("C_FindObjectsInit", rv);
    }
    keys->assign(kMaxKeys, CK_INVALID_HANDLE);
    CK_ULONG found = 0;
    rv = MODULE_CALL(m_p11, C_FindObjects, m_session, keys->data(), kMaxKeys, &found);
    if (rv != CKR_OK) {
        return Fail("C_FindObjects", rv);
    }
    rv = MODULE_CALL(m_p11, C_FindObjectsFinal, m_session);
    if (rv != CKR_OK) {
        return Fail("C_FindObjectsFinal", rv);
    }
    // A module may count more than it had room to write: only the array is read.
    if (found > kMaxKeys) {
        LOG_MESSAGE(0, 0, kCardTestSource, "C_FindObjects reported %lu keys for %lu places.",
                    static_cast<unsigned long>(found), static_cast<unsigned long>(kMaxKeys));
        found = kMaxKeys;
    }
    keys->resize(found);
    return 0;
}

PrivateKey SigningRun::ReadKey(CK_OBJECT_HANDLE handle) {
    CK_ULONG size = 0;
    MODULE_CALL(m_p11, C_GetObjectSize, m_session, handle, &size);

    // Each value starts as what an attribute the module does not return means.
    CK_KEY_TYPE keyType = CKK_RSA;
    unsigned char label[kKeyTextSize] = {};
    unsigned char id[kKeyTextSize] = {};
    CK_BBOOL alwaysAuthenticate = CK_FALSE;
    CK_BBOOL sign = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_LABEL, label, kKeyTextSize},
                                 {CKA_ID, id, kKeyTextSize},
                                 {CKA_ALWAYS_AUTHENTICATE, &alwaysAuthenticate, sizeof(CK_BBOOL)},
                                 {CKA_SIGN, &sign, sizeof(CK_BBOOL)}};
    // With these answers every attribute tells by its length whether it came; with any
    // other, none of them did.
    const CK_RV rv = MODULE_CALL(m_p11, C_GetAttributeValue, m_session, handle, attributes,
                                 static_cast<CK_ULONG>(5));
    if (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID &&
        rv != CKR_BUFFER_TOO_SMALL) {
        for (CK_ATTRIBUTE& attribute : attributes) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        }
    }

    PrivateKey key;
    key.handle = handle;
    // A module that does not tell the type gets the test's historical mechanism.
    key.type = attributes[0].ulValueLen == sizeof keyType ? keyType : CKK_RSA;
    key.label = CleanText(label, ReturnedLength(attributes[1]));
    key.idBytes.assign(id, id + ReturnedLength(attributes[2]));
    // An id longer than its field is read whole: it is what pairs the key with its public half.
    if (key.idBytes.empty() && attributes[2].ulValueLen > kKeyTextSize) {
        ObjectValue whole;
        if (ReadAttribute(m_p11, m_session, handle, CKA_ID, &whole) == CKR_OK) {
            key.idBytes = whole;
        }
    }
    key.id = KeyIdText(key.idBytes.data(), key.idBytes.size());
    key.alwaysAuthenticate =
        attributes[3].ulValueLen == sizeof(CK_BBOOL) && alwaysAuthenticate != CK_FALSE;
    // A module that does not tell leaves the key to C_SignInit.
    key.canSign = attributes[4].ulValueLen != sizeof(CK_BBOOL) || sign != CK_FALSE;
    return key;
}

CK_RV SigningRun::SignOnce() {
    CK_BYTE data[kTestValueSize];
    std::memcpy(data, kTestValue, kTestValueSize);
    std::fill(m_signature.begin(), m_signature.end(), 0);
    CK_ULONG length = kSignatureSize;
    const CK_RV rv =
        MODULE_CALL(m_p11, C_Sign, m_session, data, kTestValueSize, m_signature.data(), &length);
    // A length beyond the buffer cannot have been written: such a signature is none.
    m_signatureLength = rv == CKR_OK && length <= kSignatureSize ? length : 0;
    return rv;
}

uint32_t SigningRun::ContextLogin() {
    const uint32_t code = Login(CKU_CONTEXT_SPECIFIC);
    if (IsPinFailure(code)) {
        m_contextLoginFailure = code;
    }
    if (code != CKR_OK) {
        // The started signature stays pending until a C_Sign ends it; without that the next
        // key's C_SignInit would find it active. No PIN goes with it.
        SignOnce();
    }
    return code;
}

// One signature from the start: a failed C_Sign has ended the operation, so every attempt
// begins with its own C_SignInit and, for a key that wants it, its own login.
SignAttempt SigningRun::Attempt(const PrivateKey& key, CK_MECHANISM_TYPE mechanismType) {
    CK_MECHANISM mechanism = {mechanismType, nullptr, 0};
    const uint32_t started =
        ResultCode(MODULE_CALL(m_p11, C_SignInit, m_session, &mechanism, key.handle), "C_SignInit",
                   kCardTestSource);
    if (started != CKR_OK) {
        return {started, SignStep::SignInit};
    }
    if (key.alwaysAuthenticate) {
        const uint32_t loggedIn = ContextLogin();
        if (loggedIn != CKR_OK) {
            return {loggedIn, SignStep::Login};
        }
    }
    return {ResultCode(SignOnce(), "C_Sign", kCardTestSource), SignStep::Sign};
}

void SigningRun::LogSessionInformation(uint32_t code) {
    CK_SESSION_INFO info;
    std::memset(&info, 0, sizeof info);
    if (MODULE_CALL(m_p11, C_GetSessionInfo, m_session, &info) == CKR_OK)
        LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                    "Current session information :\n  state = 0x%X \n  flags = 0x%X "
                    "\n  deviceError = 0x%X \n",
                    static_cast<unsigned int>(info.state), static_cast<unsigned int>(info.flags),
                    static_cast<unsigned int>(info.ulDeviceError));
}

KeyOutcome SigningRun::SignWithKey(const PrivateKey& key, CK_MECHANISM_TYPE mechanism) {
    SignAttempt attempt = Attempt(key, mechanism);
    if (attempt.step == SignStep::SignInit) {
        const uint32_t code = attempt.code;
        if (code == kNotForSigning) {
            return {KeyVerdict::NotForSigning, code};
        }
        LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                    "La credenziale '%s' ha generato l'errore C_SignInit 0x%X.", key.id.c_str(),
                    code);
        AddStatusLine(m_statusList,
                      FormatStatus(code, key.id.c_str(), "C_SignInit", kStatusKeyError));
        return {KeyVerdict::EndsTest, code};
    }
    if (attempt.code == CKR_OK) {
        return {KeyVerdict::Signed, 0};
    }
    LOG_MESSAGE(static_cast<int32_t>(attempt.code), 0, kCardTestSource,
                "La credenziale '%s' ha generato l'errore %s 0x%X.", key.id.c_str(),
                StepFunction(attempt.step), attempt.code);
    // Some cards fail the first signature after power-up: one more, from the start.
    if (attempt.step == SignStep::Sign && attempt.code == CKR_FUNCTION_FAILED) {
        attempt = Attempt(key, mechanism);
        if (attempt.code != CKR_OK && attempt.step == SignStep::Sign) {
            LOG_MESSAGE(static_cast<int32_t>(attempt.code), 0, kCardTestSource,
                        "Second C_Sign call, return error: 0x%x.", attempt.code);
        } else if (attempt.code != CKR_OK) {
            LOG_MESSAGE(static_cast<int32_t>(attempt.code), 0, kCardTestSource,
                        "La credenziale '%s' ha generato l'errore %s 0x%X.", key.id.c_str(),
                        StepFunction(attempt.step), attempt.code);
        }
    }
    const uint32_t code = attempt.code;
    LogSessionInformation(code);
    return {code == 0 ? KeyVerdict::Signed : KeyVerdict::Failed, code};
}

KeyOutcome SigningRun::TryKey(const PrivateKey& key) {
    if (!key.canSign) {
        return {KeyVerdict::NotForSigning, kNotForSigning};
    }
    CK_MECHANISM_TYPE mechanism = CKM_RSA_PKCS;
    if (!SigningMechanism(key.type, &mechanism)) {
        const auto code = static_cast<uint32_t>(CKR_KEY_TYPE_INCONSISTENT);
        LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                    "Key '%s' is of type 0x%lX, which the test cannot sign with.", key.id.c_str(),
                    static_cast<unsigned long>(key.type));
        return {KeyVerdict::Failed, code};
    }
    if (key.alwaysAuthenticate && m_contextLoginFailure != CKR_OK) {
        const uint32_t code = m_contextLoginFailure;
        LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource,
                    "Key '%s' needs its own login, which the token refused already: no PIN "
                    "is presented again.",
                    key.id.c_str());
        return {KeyVerdict::Failed, code};
    }
    const KeyOutcome outcome = SignWithKey(key, mechanism);
    return outcome.verdict == KeyVerdict::Signed ? CheckSignature(key, mechanism) : outcome;
}

// A signature that the key's own public half refuses would be refused by every verifier.
KeyOutcome SigningRun::CheckSignature(const PrivateKey& key, CK_MECHANISM_TYPE mechanism) {
    const PublicHalf half = FindPublicHalf(m_p11, m_session, key.idBytes);
    if (!half.key) {
        LOG_MESSAGE(0, 0, kCardTestSource,
                    half.source == PublicHalfSource::None
                        ? "The signature of key '%s' could not be verified: the token holds "
                          "no public key or certificate with its id."
                        : "The signature of key '%s' could not be verified: its public key "
                          "or certificate could not be read.",
                    key.id.c_str());
        return {KeyVerdict::Signed, 0};
    }
    const SignatureScheme scheme =
        mechanism == CKM_ECDSA ? SignatureScheme::Ecdsa : SignatureScheme::RsaPkcs1;
    if (!KeyServesScheme(half.key, scheme)) {
        // An RSASSA-PSS key, say, beside a PKCS#1 v1.5 signature: nothing can be told.
        LOG_MESSAGE(0, 0, kCardTestSource,
                    "The signature of key '%s' could not be verified: its %s holds a key of "
                    "a kind the mechanism does not use.",
                    key.id.c_str(),
                    half.source == PublicHalfSource::Certificate ? "certificate" : "public key");
        return {KeyVerdict::Signed, 0};
    }
    const auto* value = reinterpret_cast<const unsigned char*>(kTestValue);
    if (SignatureVerifies(half.key, scheme, value, kTestValueSize, m_signature.data(),
                          m_signatureLength)) {
        LOG_MESSAGE(0, 0, kCardTestSource, "The signature of key '%s' verifies with its %s.",
                    key.id.c_str(),
                    half.source == PublicHalfSource::Certificate ? "certificate" : "public key");
        return {KeyVerdict::Signed, 0};
    }
    return {KeyVerdict::BadSignature, kSignatureInvalid};
}

bool SigningRun::SignWithEach(const std::vector<CK_OBJECT_HANDLE>& keys, SigningTally& tally,
                              uint32_t* ended) {
    for (CK_OBJECT_HANDLE handle : keys) {
        const PrivateKey key = ReadKey(handle);
        const KeyOutcome outcome = TryKey(key);
        if (outcome.verdict == KeyVerdict::EndsTest) {
            *ended = outcome.code;
            return false;
        }
        ReportKey(m_statusList, key, outcome);
        if (outcome.verdict != KeyVerdict::NotForSigning) {
            tally.anyForSigning = true;
            tally.last = outcome.code;
        }
        tally.anyBadSignature =
            tally.anyBadSignature || outcome.verdict == KeyVerdict::BadSignature;
    }
    return true;
}
