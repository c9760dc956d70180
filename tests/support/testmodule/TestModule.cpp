// A PKCS#11 module for tests. Its behaviour comes from a script file beside it, read when the
// module is loaded: "<module file>.script". Counters of loads, unloads and calls, and a few
// values of the last calls, are written back after every call to "<module file>.counts", so
// that several copies under different file names behave and count independently.
//
// Script lines are key=value ('#' starts a comment line); texts may hold \xHH and \\ escapes,
// numbers are decimal or 0x-hexadecimal. Fields within a value are separated by '|'.
//
//   result.C_Xxx=<rv>            every call of C_Xxx answers rv without doing anything
//   result.C_Xxx@<n>=<rv>        only the n-th call (1-based) does; wins over the above
//   function_list=null           C_GetFunctionList answers CKR_OK with a null list
//   function_list.version=<major>.<minor>   the version the function list declares (2.40)
//   null_function=C_Xxx          the function list's entry for C_Xxx is null (repeatable)
//   slot=<id>|<token 0/1>|<description>[|<token label>]   (repeatable; replaces the default)
//   slot_list_overcount=<n>      a filled slot list reports n more slots than it wrote
//   slot_count=<n>               the count query (no list) answers n
//   slot_count_first=<n>         the first count query after each load answers n, later ones
//                                the true count: the slots grow between the two calls
//   slot_list_result=<rv>        the filled slot list call (not the count query) answers rv
//                                without doing anything
//   find_objects_overcount=<n>   C_FindObjects reports n more handles than it wrote
//   logged_in=1                  the user is logged in already (another application did)
//   token.label / .manufacturer / .model / .serial = <text>
//   token.flags / .max_sessions / .max_rw_sessions / .max_pin / .min_pin / .total_public /
//   .free_public / .total_private / .free_private = <number>
//   token.hardware / token.firmware / info.version = <major>.<minor>
//   info.description=<text>      C_GetInfo's libraryDescription
//   text_padding=<byte>          what pads the blank-padded text fields of C_GetInfo,
//                                C_GetSlotInfo and C_GetTokenInfo (0x20); 0 gives NULs. A
//                                text as long as its field fills it without any padding
//   key=<label>|<id>|<key type>|<always authenticate 0/1>[|<sign rv>[|<CKA_SIGN 0/1>]]
//                                a private key (repeatable); CKK_RSA keys sign with
//                                CKM_RSA_PKCS, CKK_EC keys with CKM_ECDSA; with a sign rv its
//                                C_Sign fails with it; with CKA_SIGN 0 its C_SignInit answers
//                                CKR_KEY_FUNCTION_NOT_PERMITTED. Without key_material its
//                                signature is 128 bytes made from the data, which no public key
//                                verifies
//   key_material=<id>|<PEM private key file>   the key with that id (an earlier key= line, of
//                                the file's key type) signs for real: CKM_RSA_PKCS is PKCS#1 v1.5
//                                padding of the raw data (no DigestInfo added), CKM_ECDSA is ECDSA
//                                over the data, answered as r||s, each half as long as the curve's
//                                order
//   private_keys_hidden=<0/1>    1 (the default): private keys are found and read only once the
//                                user is logged in, as a token's CKA_PRIVATE keys; 0: they are
//                                visible without login too (signing still needs it)
//   certificate=<label>|<id>|<file>   an X.509 certificate object (repeatable): CKA_VALUE is
//                                the file's bytes as they are (empty or not DER at all alike);
//                                no CKA_SUBJECT. Public: visible without login
//   public_key=<id>|<PEM file of a private or public key>   a public key object (repeatable):
//                                CKA_KEY_TYPE and, for RSA, CKA_MODULUS, CKA_PUBLIC_EXPONENT,
//                                CKA_MODULUS_BITS; for EC, CKA_EC_PARAMS (the curve's OID) and
//                                CKA_EC_POINT (uncompressed point in an OCTET STRING); empty
//                                CKA_LABEL. Public: visible without login
//   pin=<text>                   the user PIN; without it every PIN is accepted
//   pin_tries=<n>                the user PIN's tries, as a card counts them: each wrong PIN
//                                spends one (the counter "pin.wrong", kept from load to load),
//                                the token's flags then say CKF_USER_PIN_COUNT_LOW, at one left
//                                CKF_USER_PIN_FINAL_TRY, at none CKF_USER_PIN_LOCKED (every PIN
//                                is then answered CKR_PIN_LOCKED); a right PIN gives all back
//   wrong_pin_result=<rv>        with pin_tries: what a wrong user PIN is answered with
//                                (CKR_PIN_INCORRECT), as modules that answer
//                                CKR_USER_NOT_LOGGED_IN or CKR_GENERAL_ERROR do
//   sign_pin=<text>              the PIN of context-specific logins; without it, the user PIN
//   device_error=<number>        ulDeviceError of C_GetSessionInfo
//   attribute_length=<type>|<length>   C_GetAttributeValue writes nothing for attribute
//                                <type> of any object and tells <length> for it, with CKR_OK: a
//                                length beyond the buffer, or CK_UNAVAILABLE_INFORMATION
//                                (0xFFFFFFFFFFFFFFFF) without the error (repeatable)
//   start_delay_ms=<n>           the first C_Initialize of a load (the module's real start) takes
//                                n ms, as a real card's driver binding its card; the counter
//                                "starts" counts real starts
//   hang=C_Xxx                   every call of C_Xxx is counted and then never returns, as a
//                                hung driver's call (repeatable)
//   hang_at_load=1               loading the module counts the load and then never returns
//
// A failed C_Sign, scripted or not, ends the signing operation, as the standard says.
//
// The counter "trace" lists the entries called through the list, in order ("C_Xxx,C_Yyy,").
// "sessions.open" counts the sessions of the current load (C_Finalize leaves it as it stood);
// "left.sessions" and "left.logins" add up, over all loads, the sessions still open and the
// user logins still standing when the module was finalised or, unfinalised, unloaded (closing
// the last session ends the login, as the standard says). "finalizes" counts the C_Finalize
// calls that ended a start; "left.started" the loads that ended with the module started.
//
// Object handles: the private keys first (1, 2, ... in script order), then the certificates
// and public keys in script order. C_FindObjects matches a template attribute by attribute,
// byte for byte; C_GetAttributeValue answers the standard's length query (null pValue) and
// CKR_BUFFER_TOO_SMALL with CK_UNAVAILABLE_INFORMATION for a buffer too small. Files named in
// the script are read at load (paths as given: absolute ones are safest).
//
// Without a script there is one slot (id 1) with a token and no key. Unknown keys, missing
// files and key material that does not fit its key end the process at load, so that a
// mistyped script cannot pass unnoticed.

#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Pkcs11.h"

// clang-format off
// Every entry of the function list that the module does not implement.
#define TM_UNSUPPORTED_FUNCTIONS(X)                                                          \
    X(C_GetMechanismList) X(C_GetMechanismInfo) X(C_InitToken) X(C_InitPIN)    \
    X(C_SetPIN) X(C_CloseAllSessions) X(C_GetOperationState) X(C_SetOperationState)          \
    X(C_CreateObject) X(C_CopyObject) X(C_DestroyObject) X(C_SetAttributeValue)              \
    X(C_EncryptInit) X(C_Encrypt) X(C_EncryptUpdate) X(C_EncryptFinal) X(C_DecryptInit)      \
    X(C_Decrypt) X(C_DecryptUpdate) X(C_DecryptFinal) X(C_DigestInit) X(C_Digest)            \
    X(C_DigestUpdate) X(C_DigestKey) X(C_DigestFinal) X(C_SignUpdate) X(C_SignFinal)         \
    X(C_SignRecoverInit) X(C_SignRecover) X(C_VerifyInit) X(C_Verify) X(C_VerifyUpdate)      \
    X(C_VerifyFinal) X(C_VerifyRecoverInit) X(C_VerifyRecover) X(C_DigestEncryptUpdate)      \
    X(C_DecryptDigestUpdate) X(C_SignEncryptUpdate) X(C_DecryptVerifyUpdate)                 \
    X(C_GenerateKey) X(C_GenerateKeyPair) X(C_WrapKey) X(C_UnwrapKey) X(C_DeriveKey)         \
    X(C_SeedRandom) X(C_GenerateRandom) X(C_GetFunctionStatus) X(C_CancelFunction)           \
    X(C_WaitForSlotEvent)

#define TM_IMPLEMENTED_FUNCTIONS(X)                                                          \
    X(C_Initialize) X(C_Finalize) X(C_GetInfo) X(C_GetFunctionList) X(C_GetSlotList) X(C_GetSlotInfo)      \
    X(C_GetTokenInfo) X(C_OpenSession) X(C_CloseSession) X(C_GetSessionInfo) X(C_Login)      \
    X(C_Logout) X(C_GetObjectSize) X(C_GetAttributeValue) X(C_FindObjectsInit)               \
    X(C_FindObjects) X(C_FindObjectsFinal) X(C_SignInit) X(C_Sign)
// clang-format on

namespace {

constexpr CK_ULONG kSignatureLength = 128;

struct Slot {
    CK_SLOT_ID id = 0;
    bool token = false;
    std::string description;
    std::string label;  // empty: the token's label
};

struct Key {
    std::string label;
    std::string id;
    CK_KEY_TYPE type = CKK_RSA;
    bool alwaysAuthenticate = false;
    CK_RV signResult = CKR_OK;
    bool canSign = true;
    // The PEM private key that signs for real; empty: made-up signatures. Kept as text and read
    // at each use, so that no OpenSSL object outlives the library's own clean-up at exit.
    std::string material;
};

// A certificate or public key: each attribute as the bytes C_GetAttributeValue gives.
using Attributes = std::map<CK_ATTRIBUTE_TYPE, std::string>;

struct Session {
    CK_SESSION_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    bool finding = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t next = 0;
    bool signing = false;
    CK_OBJECT_HANDLE signKey = 0;
    bool contextLoginNeeded = false;
};

struct State {
    std::string path;
    // Script.
    std::map<std::string, CK_RV> results;
    std::map<std::pair<std::string, long>, CK_RV> nthResults;
    bool functionListNull = false;
    std::set<std::string> nullFunctions;
    std::vector<Slot> slots;
    CK_ULONG slotListOvercount = 0;
    bool slotCountFirstSet = false;
    CK_ULONG slotCountFirst = 0;
    bool slotListResultSet = false;
    CK_RV slotListResult = CKR_OK;
    CK_VERSION listVersion{2, 40};
    std::string libraryDescription = "Scripted test module";
    CK_ULONG textPadding = ' ';
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> attributeLengths;
    CK_ULONG hangAtLoad = 0;
    CK_ULONG findObjectsOvercount = 0;
    CK_ULONG loggedInAtStart = 0;
    bool slotCountSet = false;
    CK_ULONG slotCount = 0;
    std::string tokenLabel = "Lumidor Test Token";
    std::string tokenManufacturer = "Lumidor Tests";
    std::string tokenModel = "Scripted";
    std::string tokenSerial = "0000000000000001";
    CK_FLAGS tokenFlags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED;
    CK_ULONG maxSessions = 16;
    CK_ULONG maxRwSessions = 16;
    CK_ULONG maxPin = 8;
    CK_ULONG minPin = 4;
    CK_ULONG totalPublic = 32768;
    CK_ULONG freePublic = 16384;
    CK_ULONG totalPrivate = 32768;
    CK_ULONG freePrivate = 16384;
    CK_VERSION hardware{1, 0};
    CK_VERSION firmware{1, 0};
    CK_VERSION library{1, 0};
    std::vector<Key> keys;
    CK_ULONG privateKeysHidden = 1;
    std::vector<Attributes> publicObjects;
    bool pinSet = false;
    std::string pin;
    CK_ULONG pinTries = 0;  // 0: not counted
    CK_ULONG wrongPinResult = CKR_PIN_INCORRECT;
    bool signPinSet = false;
    std::string signPin;
    CK_ULONG deviceError = 0;
    std::set<std::string> hangingFunctions;
    CK_ULONG startDelayMilliseconds = 0;
    // Running state.
    std::map<std::string, std::string> counters;
    bool initialized = false;
    bool loggedIn = false;
    bool slotsCounted = false;
    std::vector<Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
    CK_FUNCTION_LIST list{};
};

State* g_state = nullptr;
std::mutex g_lock;
int g_anchor = 0;

[[noreturn]] void ScriptError(const std::string& line, const char* why) {
    std::fprintf(stderr, "test module script %s.script: %s: %s\n",
                 g_state != nullptr ? g_state->path.c_str() : "?", why, line.c_str());
    std::abort();
}

std::string Unescape(const std::string& text, const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x') {
            char digits[3] = {text[i + 2], text[i + 3], '\0'};
            char* end = nullptr;
            long value = std::strtol(digits, &end, 16);
            if (end != digits + 2) {
                ScriptError(line, "bad \\x escape");
            }
            out += static_cast<char>(value);
            i += 3;
        } else {
            ScriptError(line, "bad escape");
        }
    }
    return out;
}

CK_ULONG Number(const std::string& text, const std::string& line) {
    if (text.empty()) {
        ScriptError(line, "missing number");
    }
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0') {
        ScriptError(line, "bad number");
    }
    return static_cast<CK_ULONG>(value);
}

CK_VERSION Version(const std::string& text, const std::string& line) {
    std::size_t dot = text.find('.');
    if (dot == std::string::npos) {
        ScriptError(line, "version must be major.minor");
    }
    return CK_VERSION{static_cast<CK_BYTE>(Number(text.substr(0, dot), line)),
                      static_cast<CK_BYTE>(Number(text.substr(dot + 1), line))};
}

std::vector<std::string> Fields(const std::string& value) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t bar = value.find('|', start);
        fields.push_back(value.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) {
            return fields;
        }
        start = bar + 1;
    }
}

bool KnownFunction(const std::string& name) {
    static const std::set<std::string> names = {
#define TM_NAME(fn) #fn,
        TM_UNSUPPORTED_FUNCTIONS(TM_NAME) TM_IMPLEMENTED_FUNCTIONS(TM_NAME)
#undef TM_NAME
    };
    return names.count(name) != 0;
}

// The whole content of a file the script names.
std::string ScriptFile(const std::string& path, const std::string& line) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        ScriptError(line, "cannot read the file");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string UlongBytes(CK_ULONG value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string BoolBytes(bool value) {
    return std::string(1, static_cast<char>(value ? CK_TRUE : CK_FALSE));
}

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Never a passphrase prompt: the script's keys are not encrypted.
int NoPassphrase(char*, int, int, void*) {
    return 0;
}

// The key a PEM text holds, public or private (`privateOnly` false) or private only; null when
// it holds none. OpenSSL's error queue is left empty for the application that loaded us.
Pkey PemKey(const std::string& pem, bool privateOnly) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = privateOnly || bio == nullptr
                        ? nullptr
                        : PEM_read_bio_PUBKEY(bio, nullptr, NoPassphrase, nullptr);
    if (key == nullptr && bio != nullptr && BIO_reset(bio) == 1)
        key = PEM_read_bio_PrivateKey(bio, nullptr, NoPassphrase, nullptr);
    BIO_free(bio);
    ERR_clear_error();
    return Pkey(key);
}

// The module's key type for an OpenSSL key; CKK_VENDOR_DEFINED for any other kind.
CK_KEY_TYPE KeyType(const EVP_PKEY* key) {
    switch (EVP_PKEY_get_base_id(key)) {
        case EVP_PKEY_RSA:
            return CKK_RSA;
        case EVP_PKEY_EC:
            return CKK_EC;
        default:
            return CKK_VENDOR_DEFINED;
    }
}

// A big-number parameter of a key, most significant byte first.
std::string BigNumberParameter(const EVP_PKEY* key, const char* name) {
    BIGNUM* number = nullptr;
    std::string bytes;
    if (EVP_PKEY_get_bn_param(key, name, &number) == 1) {
        bytes.resize(static_cast<std::size_t>(BN_num_bytes(number)));
        BN_bn2bin(number, reinterpret_cast<unsigned char*>(bytes.data()));
    }
    BN_free(number);
    return bytes;
}

// A DER OCTET STRING holding `content`.
std::string DerOctetString(const std::string& content) {
    std::string length;
    for (std::size_t n = content.size(); n > 0; n >>= 8)
        length.insert(length.begin(), static_cast<char>(n & 0xFF));
    if (content.size() >= 0x80)
        length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
    else
        length = std::string(1, static_cast<char>(content.size()));
    return '\x04' + length + content;
}

// The DER OID of an EC key's named curve; empty when the curve has none.
std::string CurveOid(const EVP_PKEY* key) {
    char name[80] = {};
    std::size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof name,
                                       &length) != 1)
        return std::string();
    const ASN1_OBJECT* oid = OBJ_nid2obj(OBJ_txt2nid(name));
    const int size = oid == nullptr ? 0 : i2d_ASN1_OBJECT(oid, nullptr);
    if (size <= 0)
        return std::string();
    std::string der(static_cast<std::size_t>(size), '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    i2d_ASN1_OBJECT(oid, &out);
    return der;
}

// The public key object for the key in a PEM file, with its type's public attributes.
Attributes PublicKeyObject(const std::string& id, const std::string& pem, const std::string& line) {
    Pkey key = PemKey(pem, false);
    if (key == nullptr)
        ScriptError(line, "the file holds no PEM key");
    const CK_KEY_TYPE type = KeyType(key.get());
    Attributes object = {{CKA_CLASS, UlongBytes(CKO_PUBLIC_KEY)},
                         {CKA_KEY_TYPE, UlongBytes(type)},
                         {CKA_TOKEN, BoolBytes(true)},
                         {CKA_PRIVATE, BoolBytes(false)},
                         {CKA_VERIFY, BoolBytes(true)},
                         {CKA_LABEL, ""},
                         {CKA_ID, id}};
    if (type == CKK_RSA) {
        object[CKA_MODULUS] = BigNumberParameter(key.get(), OSSL_PKEY_PARAM_RSA_N);
        object[CKA_PUBLIC_EXPONENT] = BigNumberParameter(key.get(), OSSL_PKEY_PARAM_RSA_E);
        object[CKA_MODULUS_BITS] = UlongBytes(static_cast<CK_ULONG>(EVP_PKEY_get_bits(key.get())));
    } else if (type == CKK_EC) {
        unsigned char point[256];
        std::size_t length = 0;
        object[CKA_EC_PARAMS] = CurveOid(key.get());
        if (object[CKA_EC_PARAMS].empty() ||
            EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                            &length) != 1)
            ScriptError(line, "an EC key without a named curve or a point");
        object[CKA_EC_POINT] =
            DerOctetString(std::string(reinterpret_cast<const char*>(point), length));
    } else {
        ScriptError(line, "neither an RSA nor an EC key");
    }
    return object;
}

Attributes CertificateObject(const std::string& label, const std::string& id,
                             const std::string& value) {
    return {{CKA_CLASS, UlongBytes(CKO_CERTIFICATE)},
            {CKA_CERTIFICATE_TYPE, UlongBytes(CKC_X_509)},
            {CKA_TOKEN, BoolBytes(true)},
            {CKA_PRIVATE, BoolBytes(false)},
            {CKA_LABEL, label},
            {CKA_ID, id},
            {CKA_VALUE, value}};
}

// Gives the key with that id (an earlier key= line) the PEM private key of a file.
void AddKeyMaterial(State& s, const std::string& id, const std::string& pem,
                    const std::string& line) {
    Key* found = nullptr;
    for (Key& key : s.keys) {
        if (key.id == id)
            found = &key;
    }
    if (found == nullptr)
        ScriptError(line, "no key= line before with that id");
    Pkey material = PemKey(pem, true);
    if (material == nullptr)
        ScriptError(line, "the file holds no PEM private key");
    if (KeyType(material.get()) != found->type)
        ScriptError(line, "the key material is not of the key's type");
    found->material = pem;
}

void ScriptLine(State& s, const std::string& line) {
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
        ScriptError(line, "no '='");
    }
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    std::map<std::string, std::string*> texts = {
        {"token.label", &s.tokenLabel},
        {"token.manufacturer", &s.tokenManufacturer},
        {"token.model", &s.tokenModel},
        {"token.serial", &s.tokenSerial},
        {"info.description", &s.libraryDescription},
    };
    std::map<std::string, CK_ULONG*> numbers = {
        {"token.flags", &s.tokenFlags},
        {"token.max_sessions", &s.maxSessions},
        {"token.max_rw_sessions", &s.maxRwSessions},
        {"token.max_pin", &s.maxPin},
        {"token.min_pin", &s.minPin},
        {"token.total_public", &s.totalPublic},
        {"token.free_public", &s.freePublic},
        {"token.total_private", &s.totalPrivate},
        {"token.free_private", &s.freePrivate},
        {"slot_list_overcount", &s.slotListOvercount},
        {"find_objects_overcount", &s.findObjectsOvercount},
        {"logged_in", &s.loggedInAtStart},
        {"device_error", &s.deviceError},
        {"start_delay_ms", &s.startDelayMilliseconds},
        {"text_padding", &s.textPadding},
        {"hang_at_load", &s.hangAtLoad},
        {"private_keys_hidden", &s.privateKeysHidden},
        {"pin_tries", &s.pinTries},
        {"wrong_pin_result", &s.wrongPinResult},
    };
    std::map<std::string, CK_VERSION*> versions = {{"token.hardware", &s.hardware},
                                                   {"token.firmware", &s.firmware},
                                                   {"info.version", &s.library},
                                                   {"function_list.version", &s.listVersion}};

    if (texts.count(key) != 0) {
        *texts[key] = Unescape(value, line);
    } else if (numbers.count(key) != 0) {
        *numbers[key] = Number(value, line);
    } else if (versions.count(key) != 0) {
        *versions[key] = Version(value, line);
    } else if (key.rfind("result.", 0) == 0) {
        std::string function = key.substr(7);
        std::size_t at = function.find('@');
        CK_RV rv = Number(value, line);
        if (at == std::string::npos) {
            if (!KnownFunction(function))
                ScriptError(line, "unknown function");
            s.results[function] = rv;
        } else {
            long call = static_cast<long>(Number(function.substr(at + 1), line));
            function.resize(at);
            if (!KnownFunction(function) || call < 1)
                ScriptError(line, "unknown function or call");
            s.nthResults[{function, call}] = rv;
        }
    } else if (key == "slot_count") {
        s.slotCountSet = true;
        s.slotCount = Number(value, line);
    } else if (key == "slot_count_first") {
        s.slotCountFirstSet = true;
        s.slotCountFirst = Number(value, line);
    } else if (key == "slot_list_result") {
        s.slotListResultSet = true;
        s.slotListResult = Number(value, line);
    } else if (key == "attribute_length") {
        std::vector<std::string> f = Fields(value);
        if (f.size() != 2)
            ScriptError(line, "attribute_length=<type>|<length>");
        s.attributeLengths[Number(f[0], line)] = Number(f[1], line);
    } else if (key == "function_list") {
        if (value != "null")
            ScriptError(line, "function_list takes only null");
        s.functionListNull = true;
    } else if (key == "null_function") {
        if (!KnownFunction(value))
            ScriptError(line, "unknown function");
        s.nullFunctions.insert(value);
    } else if (key == "slot") {
        std::vector<std::string> f = Fields(value);
        if (f.size() < 3 || f.size() > 4)
            ScriptError(line, "slot=<id>|<token>|<description>[|<label>]");
        Slot slot;
        slot.id = Number(f[0], line);
        slot.token = Number(f[1], line) != 0;
        slot.description = Unescape(f[2], line);
        if (f.size() == 4)
            slot.label = Unescape(f[3], line);
        s.slots.push_back(slot);
    } else if (key == "key") {
        std::vector<std::string> f = Fields(value);
        if (f.size() < 4 || f.size() > 6)
            ScriptError(line, "key=<label>|<id>|<type>|<always authenticate>[|<sign rv>[|<sign>]]");
        s.keys.push_back(Key{Unescape(f[0], line), Unescape(f[1], line), Number(f[2], line),
                             Number(f[3], line) != 0, f.size() >= 5 ? Number(f[4], line) : CKR_OK,
                             f.size() == 6 ? Number(f[5], line) != 0 : true, ""});
    } else if (key == "key_material") {
        std::vector<std::string> f = Fields(value);
        if (f.size() != 2)
            ScriptError(line, "key_material=<id>|<PEM private key file>");
        AddKeyMaterial(s, Unescape(f[0], line), ScriptFile(Unescape(f[1], line), line), line);
    } else if (key == "certificate") {
        std::vector<std::string> f = Fields(value);
        if (f.size() != 3)
            ScriptError(line, "certificate=<label>|<id>|<file>");
        s.publicObjects.push_back(CertificateObject(Unescape(f[0], line), Unescape(f[1], line),
                                                    ScriptFile(Unescape(f[2], line), line)));
    } else if (key == "public_key") {
        std::vector<std::string> f = Fields(value);
        if (f.size() != 2)
            ScriptError(line, "public_key=<id>|<PEM key file>");
        s.publicObjects.push_back(
            PublicKeyObject(Unescape(f[0], line), ScriptFile(Unescape(f[1], line), line), line));
    } else if (key == "pin") {
        s.pinSet = true;
        s.pin = Unescape(value, line);
    } else if (key == "hang") {
        if (!KnownFunction(value))
            ScriptError(line, "unknown function");
        s.hangingFunctions.insert(value);
    } else if (key == "sign_pin") {
        s.signPinSet = true;
        s.signPin = Unescape(value, line);
    } else {
        ScriptError(line, "unknown key");
    }
}

void ReadScript(State& s) {
    std::ifstream in(s.path + ".script", std::ios::binary);
    bool slotsGiven = false;
    std::string line;
    while (in && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line.rfind("slot=", 0) == 0 && !slotsGiven) {
            slotsGiven = true;
            s.slots.clear();
        }
        ScriptLine(s, line);
    }
}

void ReadCounters(State& s) {
    std::ifstream in(s.path + ".counts", std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            s.counters[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
}

void WriteCounters(const State& s) {
    std::string temporary = s.path + ".counts.tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const auto& [key, value] : s.counters) {
            out << key << '=' << value << '\n';
        }
    }
    std::rename(temporary.c_str(), (s.path + ".counts").c_str());
}

long Increment(State& s, const std::string& key) {
    long value = std::atol(s.counters[key].c_str()) + 1;
    s.counters[key] = std::to_string(value);
    return value;
}

std::string Hex(const void* data, std::size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

void Remember(State& s, const std::string& key, const std::string& value) {
    s.counters["last." + key] = value;
}

// A hung driver: the calling thread never comes back.
[[noreturn]] void HangForever() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

// Counts the call; true with *rv set when the script fixes this call's result.
bool Forced(const char* function, CK_RV* rv) {
    State& s = *g_state;
    long call = Increment(s, std::string("calls.") + function);
    s.counters["trace"] += std::string(function) + ",";
    WriteCounters(s);
    if (s.hangingFunctions.count(function) != 0) {
        HangForever();
    }
    auto nth = s.nthResults.find({function, call});
    if (nth != s.nthResults.end()) {
        *rv = nth->second;
        return true;
    }
    auto all = s.results.find(function);
    if (all != s.results.end()) {
        *rv = all->second;
        return true;
    }
    return false;
}

void Pad(CK_UTF8CHAR* field, std::size_t size, const std::string& text) {
    std::memset(field, static_cast<int>(g_state->textPadding), size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

Slot* FindSlot(CK_SLOT_ID id) {
    for (Slot& slot : g_state->slots) {
        if (slot.id == id)
            return &slot;
    }
    return nullptr;
}

Session* FindSession(CK_SESSION_HANDLE handle) {
    for (Session& session : g_state->sessions) {
        if (session.handle == handle)
            return &session;
    }
    return nullptr;
}

// Private keys are visible only once the user is logged in, unless the script shows them.
const Key* FindKey(CK_OBJECT_HANDLE handle) {
    const bool visible = g_state->loggedIn || g_state->privateKeysHidden == 0;
    if (!visible || handle == 0 || handle > g_state->keys.size())
        return nullptr;
    return &g_state->keys[handle - 1];
}

// Certificates and public keys take the handles after the private keys'.
const Attributes* FindPublicObject(CK_OBJECT_HANDLE handle) {
    const std::size_t keys = g_state->keys.size();
    if (handle <= keys || handle - keys > g_state->publicObjects.size())
        return nullptr;
    return &g_state->publicObjects[handle - keys - 1];
}

bool ObjectVisible(CK_OBJECT_HANDLE handle) {
    return FindKey(handle) != nullptr || FindPublicObject(handle) != nullptr;
}

#define TM_ENTER(function)                     \
    std::lock_guard<std::mutex> guard(g_lock); \
    CK_RV forced = CKR_OK;                     \
    if (Forced(function, &forced))             \
        return forced;                         \
    if (!g_state->initialized)                 \
        return CKR_CRYPTOKI_NOT_INITIALIZED;   \
    State& s = *g_state;                       \
    (void)s

#define TM_SESSION(handle)                  \
    Session* session = FindSession(handle); \
    if (session == nullptr)                 \
    return CKR_SESSION_HANDLE_INVALID

CK_RV Initialize(void*) {
    std::lock_guard<std::mutex> guard(g_lock);
    CK_RV forced = CKR_OK;
    if (Forced("C_Initialize", &forced)) {
        if (forced == CKR_OK || forced == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
            g_state->initialized = true;
        }
        return forced;
    }
    if (g_state->initialized)
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    std::this_thread::sleep_for(std::chrono::milliseconds(g_state->startDelayMilliseconds));
    g_state->initialized = true;
    Increment(*g_state, "starts");
    WriteCounters(*g_state);
    return CKR_OK;
}

void AddCounter(State& s, const std::string& key, std::size_t amount);

// What a start leaves behind when it ends: its sessions and its login.
void CountLeftOver(State& s) {
    AddCounter(s, "left.sessions", s.sessions.size());
    AddCounter(s, "left.logins", s.loggedIn ? 1 : 0);
}

// Ends the start: sessions and login go with it, as the standard says; the next C_Initialize
// starts the module again.
CK_RV Finalize(void* reserved) {
    TM_ENTER("C_Finalize");
    if (reserved != nullptr)
        return CKR_ARGUMENTS_BAD;
    CountLeftOver(s);
    s.sessions.clear();
    s.loggedIn = s.loggedInAtStart != 0;
    s.initialized = false;
    Increment(s, "finalizes");
    WriteCounters(s);
    return CKR_OK;
}

CK_RV GetInfo(CK_INFO* info) {
    TM_ENTER("C_GetInfo");
    if (info == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = CK_VERSION{2, 40};
    Pad(info->manufacturerID, sizeof info->manufacturerID, "Lumidor Tests");
    Pad(info->libraryDescription, sizeof info->libraryDescription, s.libraryDescription);
    info->libraryVersion = s.library;
    return CKR_OK;
}

CK_RV GetFunctionList(CK_FUNCTION_LIST** list);

CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* slots, CK_ULONG* count) {
    TM_ENTER("C_GetSlotList");
    if (count == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> ids;
    for (const Slot& slot : s.slots) {
        if (slot.token || tokenPresent == CK_FALSE)
            ids.push_back(slot.id);
    }
    if (slots == nullptr) {
        *count = s.slotCountSet ? s.slotCount : ids.size();
        if (s.slotCountFirstSet && !s.slotsCounted)
            *count = s.slotCountFirst;
        s.slotsCounted = true;
        return CKR_OK;
    }
    if (s.slotListResultSet)
        return s.slotListResult;
    if (*count < ids.size()) {
        *count = ids.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    for (std::size_t i = 0; i < ids.size(); ++i)
        slots[i] = ids[i];
    *count = ids.size() + s.slotListOvercount;
    return CKR_OK;
}

CK_RV GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO* info) {
    TM_ENTER("C_GetSlotInfo");
    Remember(s, "C_GetSlotInfo.slot", std::to_string(id));
    const Slot* slot = FindSlot(id);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    if (info == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    Pad(info->slotDescription, sizeof info->slotDescription, slot->description);
    Pad(info->manufacturerID, sizeof info->manufacturerID, "Lumidor Tests");
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (slot->token ? CKF_TOKEN_PRESENT : 0);
    info->hardwareVersion = CK_VERSION{1, 0};
    info->firmwareVersion = CK_VERSION{1, 0};
    return CKR_OK;
}

// The tries of the user PIN that wrong PINs have left.
long PinTriesLeft(const State& s) {
    const auto wrong = s.counters.find("pin.wrong");
    return static_cast<long>(s.pinTries) -
           (wrong == s.counters.end() ? 0 : std::atol(wrong->second.c_str()));
}

CK_FLAGS PinTriesFlags(const State& s) {
    if (s.pinTries == 0) {
        return 0;
    }
    const long left = PinTriesLeft(s);
    if (left <= 0) {
        return CKF_USER_PIN_LOCKED;
    }
    if (left == 1) {
        return CKF_USER_PIN_FINAL_TRY;
    }
    return left < static_cast<long>(s.pinTries) ? CKF_USER_PIN_COUNT_LOW : 0;
}

CK_RV GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO* info) {
    TM_ENTER("C_GetTokenInfo");
    Remember(s, "C_GetTokenInfo.slot", std::to_string(id));
    const Slot* slot = FindSlot(id);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    if (!slot->token)
        return CKR_TOKEN_NOT_PRESENT;
    if (info == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    Pad(info->label, sizeof info->label, slot->label.empty() ? s.tokenLabel : slot->label);
    Pad(info->manufacturerID, sizeof info->manufacturerID, s.tokenManufacturer);
    Pad(info->model, sizeof info->model, s.tokenModel);
    Pad(info->serialNumber, sizeof info->serialNumber, s.tokenSerial);
    info->flags = s.tokenFlags | PinTriesFlags(s);
    info->ulMaxSessionCount = s.maxSessions;
    info->ulMaxRwSessionCount = s.maxRwSessions;
    for (const Session& session : s.sessions) {
        if (session.slot != id)
            continue;
        ++info->ulSessionCount;
        if ((session.flags & CKF_RW_SESSION) != 0)
            ++info->ulRwSessionCount;
    }
    info->ulMaxPinLen = s.maxPin;
    info->ulMinPinLen = s.minPin;
    info->ulTotalPublicMemory = s.totalPublic;
    info->ulFreePublicMemory = s.freePublic;
    info->ulTotalPrivateMemory = s.totalPrivate;
    info->ulFreePrivateMemory = s.freePrivate;
    info->hardwareVersion = s.hardware;
    info->firmwareVersion = s.firmware;
    Pad(info->utcTime, sizeof info->utcTime, "");
    return CKR_OK;
}

CK_RV OpenSession(CK_SLOT_ID id, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE* handle) {
    TM_ENTER("C_OpenSession");
    Remember(s, "C_OpenSession.slot", std::to_string(id));
    Remember(s, "C_OpenSession.flags", std::to_string(flags));
    WriteCounters(s);
    const Slot* slot = FindSlot(id);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    if (!slot->token)
        return CKR_TOKEN_NOT_PRESENT;
    if ((flags & CKF_SERIAL_SESSION) == 0)
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (handle == nullptr)
        return CKR_ARGUMENTS_BAD;
    Session session;
    session.handle = s.nextSession++;
    session.slot = id;
    session.flags = flags;
    s.sessions.push_back(session);
    *handle = session.handle;
    Increment(s, "sessions.open");
    WriteCounters(s);
    return CKR_OK;
}

CK_RV CloseSession(CK_SESSION_HANDLE handle) {
    TM_ENTER("C_CloseSession");
    for (auto it = s.sessions.begin(); it != s.sessions.end(); ++it) {
        if (it->handle == handle) {
            s.sessions.erase(it);
            // Closing the last session logs the user out.
            if (s.sessions.empty())
                s.loggedIn = false;
            s.counters["sessions.open"] = std::to_string(s.sessions.size());
            WriteCounters(s);
            return CKR_OK;
        }
    }
    return CKR_SESSION_HANDLE_INVALID;
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO* info) {
    TM_ENTER("C_GetSessionInfo");
    TM_SESSION(handle);
    if (info == nullptr)
        return CKR_ARGUMENTS_BAD;
    bool rw = (session->flags & CKF_RW_SESSION) != 0;
    info->slotID = session->slot;
    info->state = s.loggedIn ? (rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS)
                             : (rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION);
    info->flags = session->flags;
    info->ulDeviceError = s.deviceError;
    return CKR_OK;
}

CK_RV Login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length) {
    TM_ENTER("C_Login");
    TM_SESSION(handle);
    if (pin == nullptr && length != 0)
        return CKR_ARGUMENTS_BAD;
    Remember(s, "C_Login.pin", Hex(pin, length));
    Remember(s, "C_Login.user", std::to_string(user));
    WriteCounters(s);
    if (user != CKU_USER && user != CKU_CONTEXT_SPECIFIC)
        return CKR_USER_TYPE_INVALID;
    if (user == CKU_USER && s.loggedIn)
        return CKR_USER_ALREADY_LOGGED_IN;
    if (user == CKU_CONTEXT_SPECIFIC && !(s.loggedIn && session->signing)) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    const bool signing = user == CKU_CONTEXT_SPECIFIC && s.signPinSet;
    const bool counted = !signing && s.pinTries != 0;
    if (counted && PinTriesLeft(s) <= 0) {
        return CKR_PIN_LOCKED;
    }
    if ((signing || s.pinSet) &&
        std::string(reinterpret_cast<const char*>(pin), length) != (signing ? s.signPin : s.pin)) {
        if (counted) {
            Increment(s, "pin.wrong");
            WriteCounters(s);
            return s.wrongPinResult;
        }
        return CKR_PIN_INCORRECT;
    }
    if (counted) {
        s.counters["pin.wrong"] = "0";
        WriteCounters(s);
    }
    if (user == CKU_USER) {
        s.loggedIn = true;
    } else {
        session->contextLoginNeeded = false;
    }
    return CKR_OK;
}

CK_RV Logout(CK_SESSION_HANDLE handle) {
    TM_ENTER("C_Logout");
    TM_SESSION(handle);
    if (!s.loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    s.loggedIn = false;
    return CKR_OK;
}

CK_RV GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ULONG* size) {
    TM_ENTER("C_GetObjectSize");
    TM_SESSION(handle);
    (void)session;
    if (!ObjectVisible(object))
        return CKR_OBJECT_HANDLE_INVALID;
    if (size == nullptr)
        return CKR_ARGUMENTS_BAD;
    *size = 512;
    return CKR_OK;
}

// The bytes of one attribute of a key; false when the key has no such attribute.
bool KeyAttribute(const Key& key, CK_ATTRIBUTE_TYPE type, std::string* bytes) {
    switch (type) {
        case CKA_CLASS:
            *bytes = UlongBytes(CKO_PRIVATE_KEY);
            return true;
        case CKA_KEY_TYPE:
            *bytes = UlongBytes(key.type);
            return true;
        case CKA_TOKEN:
        case CKA_PRIVATE:
            *bytes = BoolBytes(true);
            return true;
        case CKA_SIGN:
            *bytes = BoolBytes(key.canSign);
            return true;
        case CKA_ALWAYS_AUTHENTICATE:
            *bytes = BoolBytes(key.alwaysAuthenticate);
            return true;
        case CKA_LABEL:
            *bytes = key.label;
            return true;
        case CKA_ID:
            *bytes = key.id;
            return true;
        default:
            return false;
    }
}

// The bytes of one attribute of a visible object; false when it has no such attribute.
bool ObjectAttribute(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type, std::string* bytes) {
    if (const Key* key = FindKey(handle))
        return KeyAttribute(*key, type, bytes);
    const Attributes* object = FindPublicObject(handle);
    if (object == nullptr || object->count(type) == 0)
        return false;
    *bytes = object->at(type);
    return true;
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attributes,
                        CK_ULONG count) {
    TM_ENTER("C_GetAttributeValue");
    TM_SESSION(handle);
    (void)session;
    if (!ObjectVisible(object))
        return CKR_OBJECT_HANDLE_INVALID;
    if (attributes == nullptr && count != 0)
        return CKR_ARGUMENTS_BAD;
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = attributes[i];
        std::string bytes;
        auto told = s.attributeLengths.find(attribute.type);
        if (told != s.attributeLengths.end()) {
            attribute.ulValueLen = told->second;
        } else if (!ObjectAttribute(object, attribute.type, &bytes)) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (attribute.pValue == nullptr) {
            attribute.ulValueLen = bytes.size();
        } else if (attribute.ulValueLen < bytes.size()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK)
                rv = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(attribute.pValue, bytes.data(), bytes.size());
            attribute.ulValueLen = bytes.size();
        }
    }
    return rv;
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE* attributes, CK_ULONG count) {
    TM_ENTER("C_FindObjectsInit");
    TM_SESSION(handle);
    if (session->finding)
        return CKR_OPERATION_ACTIVE;
    if (attributes == nullptr && count != 0)
        return CKR_ARGUMENTS_BAD;
    std::string search;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (attributes[i].pValue == nullptr && attributes[i].ulValueLen != 0) {
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
        search += (i > 0 ? "," : "") + std::to_string(attributes[i].type) + ":" +
                  Hex(attributes[i].pValue, attributes[i].ulValueLen);
    }
    Remember(s, "C_FindObjectsInit.template", search);
    WriteCounters(s);
    session->found.clear();
    session->next = 0;
    const CK_OBJECT_HANDLE last = s.keys.size() + s.publicObjects.size();
    for (CK_OBJECT_HANDLE object = 1; object <= last; ++object) {
        if (!ObjectVisible(object))
            continue;
        bool matches = true;
        for (CK_ULONG i = 0; i < count && matches; ++i) {
            std::string bytes;
            matches = ObjectAttribute(object, attributes[i].type, &bytes) &&
                      bytes.size() == attributes[i].ulValueLen &&
                      std::memcmp(bytes.data(), attributes[i].pValue, bytes.size()) == 0;
        }
        if (matches)
            session->found.push_back(object);
    }
    session->finding = true;
    return CKR_OK;
}

CK_RV FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE* objects, CK_ULONG max,
                  CK_ULONG* count) {
    TM_ENTER("C_FindObjects");
    TM_SESSION(handle);
    if (!session->finding)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (objects == nullptr || count == nullptr)
        return CKR_ARGUMENTS_BAD;
    *count = 0;
    while (*count < max && session->next < session->found.size()) {
        objects[(*count)++] = session->found[session->next++];
    }
    *count += s.findObjectsOvercount;
    return CKR_OK;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE handle) {
    TM_ENTER("C_FindObjectsFinal");
    TM_SESSION(handle);
    if (!session->finding)
        return CKR_OPERATION_NOT_INITIALIZED;
    session->finding = false;
    return CKR_OK;
}

CK_RV SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE object) {
    TM_ENTER("C_SignInit");
    TM_SESSION(handle);
    if (session->signing)
        return CKR_OPERATION_ACTIVE;
    if (mechanism == nullptr)
        return CKR_ARGUMENTS_BAD;
    const Key* key = FindKey(object);
    if (key == nullptr)
        return CKR_KEY_HANDLE_INVALID;
    if (!s.loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    if (mechanism->mechanism != CKM_RSA_PKCS && mechanism->mechanism != CKM_ECDSA)
        return CKR_MECHANISM_INVALID;
    if (key->type != (mechanism->mechanism == CKM_ECDSA ? CKK_EC : CKK_RSA))
        return CKR_KEY_TYPE_INCONSISTENT;
    if (!key->canSign)
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    session->signing = true;
    session->signKey = object;
    session->contextLoginNeeded = key->alwaysAuthenticate;
    return CKR_OK;
}

// How long the key's signatures are: the modulus for RSA, twice the order's bytes for ECDSA.
CK_ULONG SignatureLength(const Key& key) {
    if (key.material.empty())
        return kSignatureLength;
    Pkey pkey = PemKey(key.material, true);
    if (key.type == CKK_RSA)
        return static_cast<CK_ULONG>(EVP_PKEY_get_size(pkey.get()));
    return 2 * ((static_cast<CK_ULONG>(EVP_PKEY_get_bits(pkey.get())) + 7) / 8);
}

// A DER ECDSA signature as r||s, each half `half` bytes long.
bool RawEcdsa(const std::string& der, std::size_t half, std::string* signature) {
    const auto* in = reinterpret_cast<const unsigned char*>(der.data());
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(der.size()));
    if (parsed == nullptr)
        return false;
    signature->assign(2 * half, '\0');
    auto* out = reinterpret_cast<unsigned char*>(signature->data());
    const bool done =
        BN_bn2binpad(ECDSA_SIG_get0_r(parsed), out, static_cast<int>(half)) > 0 &&
        BN_bn2binpad(ECDSA_SIG_get0_s(parsed), out + half, static_cast<int>(half)) > 0;
    ECDSA_SIG_free(parsed);
    return done;
}

// A real signature of the data by the key's material: PKCS#1 v1.5 padding of the raw data for
// RSA, ECDSA with the data as the digest for EC. False when OpenSSL fails.
bool RealSignature(const Key& key, const CK_BYTE* data, CK_ULONG length, std::string* signature) {
    static const unsigned char kNothing = 0;
    Pkey pkey = PemKey(key.material, true);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(pkey.get(), nullptr);
    std::string out;
    std::size_t size = 0;
    bool done =
        context != nullptr && EVP_PKEY_sign_init(context) == 1 &&
        (key.type != CKK_RSA || EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1) &&
        EVP_PKEY_sign(context, nullptr, &size, data != nullptr ? data : &kNothing, length) == 1;
    if (done) {
        out.resize(size);
        done = EVP_PKEY_sign(context, reinterpret_cast<unsigned char*>(out.data()), &size,
                             data != nullptr ? data : &kNothing, length) == 1;
        out.resize(size);
    }
    EVP_PKEY_CTX_free(context);
    ERR_clear_error();
    if (!done)
        return false;
    if (key.type == CKK_EC)
        return RawEcdsa(out, SignatureLength(key) / 2, signature);
    *signature = out;
    return true;
}

CK_RV Sign(CK_SESSION_HANDLE handle, CK_BYTE* data, CK_ULONG length, CK_BYTE* signature,
           CK_ULONG* signatureLength) {
    std::lock_guard<std::mutex> guard(g_lock);
    CK_RV forced = CKR_OK;
    if (Forced("C_Sign", &forced)) {
        Session* ended = FindSession(handle);
        if (ended != nullptr && forced != CKR_OK && forced != CKR_BUFFER_TOO_SMALL)
            ended->signing = false;
        return forced;
    }
    if (!g_state->initialized)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    State& s = *g_state;
    TM_SESSION(handle);
    if (!session->signing)
        return CKR_OPERATION_NOT_INITIALIZED;
    if ((data == nullptr && length != 0) || signatureLength == nullptr)
        return CKR_ARGUMENTS_BAD;
    const Key* key = FindKey(session->signKey);
    if (key == nullptr || session->contextLoginNeeded) {
        session->signing = false;
        return CKR_USER_NOT_LOGGED_IN;
    }
    Remember(s, "C_Sign.data", Hex(data, length));
    Remember(s, "C_Sign.key", Hex(key->id.data(), key->id.size()));
    WriteCounters(s);
    if (key->signResult != CKR_OK) {
        session->signing = false;
        return key->signResult;
    }
    const CK_ULONG needed = SignatureLength(*key);
    // PKCS#1 v1.5 padding takes 11 bytes; made-up signatures keep the same bound.
    if ((key->type == CKK_RSA || key->material.empty()) && length + 11 > needed) {
        session->signing = false;
        return CKR_DATA_LEN_RANGE;
    }
    if (signature == nullptr) {
        *signatureLength = needed;
        return CKR_OK;
    }
    if (*signatureLength < needed) {
        *signatureLength = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::string bytes(needed, '\0');
    if (key->material.empty()) {
        for (CK_ULONG i = 0; i < needed; ++i) {
            bytes[i] = static_cast<char>((length > 0 ? data[i % length] : 0) ^ session->signKey);
        }
    } else if (!RealSignature(*key, data, length, &bytes)) {
        session->signing = false;
        return CKR_FUNCTION_FAILED;
    }
    std::memcpy(signature, bytes.data(), bytes.size());
    *signatureLength = bytes.size();
    session->signing = false;
    Increment(s, "signatures");
    WriteCounters(s);
    return CKR_OK;
}

// One stub per unsupported entry, each with the entry's own type.
template <std::size_t N>
struct Name {
    char text[N];
    constexpr Name(const char (&name)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            text[i] = name[i];
    }
};

template <typename F>
struct Unsupported;

template <typename... A>
struct Unsupported<CK_RV (*)(A...)> {
    template <Name name>
    static CK_RV Call(A...) {
        std::lock_guard<std::mutex> guard(g_lock);
        Increment(*g_state, std::string("calls.") + name.text);
        WriteCounters(*g_state);
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
};

void BuildList(State& s) {
    CK_FUNCTION_LIST& list = s.list;
    list.version = s.listVersion;
    list.C_Initialize = Initialize;
    list.C_Finalize = Finalize;
    list.C_GetInfo = GetInfo;
    list.C_GetFunctionList = GetFunctionList;
    list.C_GetSlotList = GetSlotList;
    list.C_GetSlotInfo = GetSlotInfo;
    list.C_GetTokenInfo = GetTokenInfo;
    list.C_OpenSession = OpenSession;
    list.C_CloseSession = CloseSession;
    list.C_GetSessionInfo = GetSessionInfo;
    list.C_Login = Login;
    list.C_Logout = Logout;
    list.C_GetObjectSize = GetObjectSize;
    list.C_GetAttributeValue = GetAttributeValue;
    list.C_FindObjectsInit = FindObjectsInit;
    list.C_FindObjects = FindObjects;
    list.C_FindObjectsFinal = FindObjectsFinal;
    list.C_SignInit = SignInit;
    list.C_Sign = Sign;
#define TM_STUB(fn) list.fn = &Unsupported<CK_##fn>::Call<#fn>;
    TM_UNSUPPORTED_FUNCTIONS(TM_STUB)
#undef TM_STUB
#define TM_NULL(fn)                      \
    if (s.nullFunctions.count(#fn) != 0) \
        list.fn = nullptr;
    TM_UNSUPPORTED_FUNCTIONS(TM_NULL)
    TM_IMPLEMENTED_FUNCTIONS(TM_NULL)
#undef TM_NULL
}

CK_RV GetFunctionList(CK_FUNCTION_LIST** list) {
    std::lock_guard<std::mutex> guard(g_lock);
    CK_RV forced = CKR_OK;
    if (Forced("C_GetFunctionList", &forced))
        return forced;
    if (list == nullptr)
        return CKR_ARGUMENTS_BAD;
    *list = g_state->functionListNull ? nullptr : &g_state->list;
    return CKR_OK;
}

__attribute__((constructor)) void ModuleLoaded() {
    Dl_info info{};
    g_state = new State();
    if (dladdr(&g_anchor, &info) == 0 || info.dli_fname == nullptr) {
        std::fprintf(stderr, "test module: cannot tell its own file name\n");
        std::abort();
    }
    g_state->path = info.dli_fname;
    g_state->slots.push_back(Slot{1, true, "Lumidor Test Slot", ""});
    ReadScript(*g_state);
    g_state->loggedIn = g_state->loggedInAtStart != 0;
    BuildList(*g_state);
    ReadCounters(*g_state);
    Increment(*g_state, "loads");
    g_state->counters["sessions.open"] = "0";
    WriteCounters(*g_state);
    if (g_state->hangAtLoad != 0) {
        HangForever();
    }
}

void AddCounter(State& s, const std::string& key, std::size_t amount) {
    s.counters[key] =
        std::to_string(std::atol(s.counters[key].c_str()) + static_cast<long>(amount));
}

__attribute__((destructor)) void ModuleUnloaded() {
    if (g_state->initialized) {
        CountLeftOver(*g_state);
        Increment(*g_state, "left.started");
    }
    Increment(*g_state, "unloads");
    WriteCounters(*g_state);
    delete g_state;
    g_state = nullptr;
}

}  // namespace

#ifndef LUMIDOR_TEST_MODULE_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
    return GetFunctionList(list);
}
#endif
