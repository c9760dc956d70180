#pragma once

// The signing test on one token of the card: session, login, keys and signatures.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/SecretString.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SigningKey.h"
#include "manager/SigningLines.h"
#include "manager/TokenCertificates.h"
#include "manager/TokenDetails.h"
#include "manager/TokenObjects.h"
#include "platform/Pkcs11.h"

class IMessageList;

constexpr auto kSignatureInvalid = static_cast<uint32_t>(CKR_SIGNATURE_INVALID);
constexpr auto kNotForSigning = static_cast<uint32_t>(CKR_KEY_FUNCTION_NOT_PERMITTED);
// Room for a signature; no key of a card makes a longer one.
constexpr CK_ULONG kSignatureSize = 8192;

// What a run works with: the module's function list and the token's slot, the module's name
// for the status lines, the PIN, and where the lines for the user go (null: the log alone).
struct SigningContext {
    CK_FUNCTION_LIST* functionList;
    CK_SLOT_ID slot;
    const std::string& module;
    const SecretString& pin;
    IMessageList* statusList;
};

// The token the last check read, which the card's first token must still be.
struct CheckedToken {
    const std::string& readerName;
    const std::string& serialNumber;
};

// What the keys of the whole card came to, token after token.
struct SigningTally {
    bool anyForSigning = false;
    bool anyBadSignature = false;
    uint32_t last = 0;  // the last result of a key meant for signing
};

// The test on one token of the card (one slot) of a loaded module: it holds the session and
// the login, and gives back the login, then the session, when it ends.
class SigningRun {
public:
    explicit SigningRun(const SigningContext& context)
        : m_module(context.module),
          m_pin(context.pin),
          m_p11(context.functionList),
          m_slot(context.slot),
          m_statusList(context.statusList) {}
    ~SigningRun();
    SigningRun(const SigningRun&) = delete;
    SigningRun& operator=(const SigningRun&) = delete;

    // Reads the token's information and opens a session. The checked token (the card's
    // first), when given, must be the one the last check read.
    uint32_t OpenSession(const CheckedToken* checked);
    // The token's information was read and, for the checked token, was the checked one's.
    bool TokenAccepted() const { return m_tokenAccepted; }
    const CK_TOKEN_INFO& Token() const { return m_token; }
    uint32_t LogIn();
    // The token's private keys, at most kMaxKeys.
    uint32_t FindKeys(std::vector<CK_OBJECT_HANDLE>* keys);
    // Logged in, the token shows its private keys too, so every certificate's pairing is
    // known. Failures are only logged: the certificates do not decide the test.
    std::vector<TokenCertificate> ReadCertificates() {
        return ReadTokenCertificates(m_p11, m_session, std::time(nullptr), kCardTestSource);
    }
    // Tries every key into `tally`; false when a key ended the whole test, with its code in
    // `ended`.
    bool SignWithEach(const std::vector<CK_OBJECT_HANDLE>& keys, SigningTally& tally,
                      uint32_t* ended);
    std::string TokenLabel() const { return TokenText(m_token.label, sizeof m_token.label); }

private:
    uint32_t Fail(const char* function, CK_RV rv) {
        return ReportCallFailure(m_statusList, kCardTestSource, m_module, function, rv);
    }
    uint32_t Login(CK_USER_TYPE user);
    // After the token refused the user login: what its flags now say, and a plain line when
    // the answer means a wrong PIN.
    void ReportRefusedPin(uint32_t code, CK_FLAGS flagsBefore);
    PrivateKey ReadKey(CK_OBJECT_HANDLE handle);
    KeyOutcome TryKey(const PrivateKey& key);
    KeyOutcome SignWithKey(const PrivateKey& key, CK_MECHANISM_TYPE mechanism);
    SignAttempt Attempt(const PrivateKey& key, CK_MECHANISM_TYPE mechanism);
    uint32_t ContextLogin();
    CK_RV SignOnce();
    void LogSessionInformation(uint32_t code);
    KeyOutcome CheckSignature(const PrivateKey& key, CK_MECHANISM_TYPE mechanism);

    const std::string& m_module;
    const SecretString& m_pin;
    CK_FUNCTION_LIST* m_p11;
    CK_SLOT_ID m_slot;
    IMessageList* m_statusList;
    CK_TOKEN_INFO m_token{};
    bool m_tokenAccepted = false;
    CK_SESSION_HANDLE m_session = CK_INVALID_HANDLE;
    bool m_sessionOpen = false;
    bool m_loggedIn = false;
    // The PIN failure of a context-specific login: later keys present no PIN at all, so
    // that a signature PIN unlike the user PIN costs at most one try.
    uint32_t m_contextLoginFailure = 0;
    std::vector<CK_BYTE> m_signature = std::vector<CK_BYTE>(kSignatureSize);
    CK_ULONG m_signatureLength = 0;
};
