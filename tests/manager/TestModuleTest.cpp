#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>

#include "platform/ModuleLoader.h"
#include "platform/Pkcs11.h"
#include "support/Command.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "testmodule/ScriptedModule.h"

// The scriptable module itself, driven through its function list as the signing test will.
namespace {

class Loaded {
public:
    explicit Loaded(const ScriptedModule& module) : m_handle(LoadModule(module.path())) {
        auto get =
            reinterpret_cast<CK_C_GetFunctionList>(ModuleEntryPoint(m_handle, "C_GetFunctionList"));
        if (get != nullptr && get(&m_list) == CKR_OK && m_list != nullptr) {
            m_list->C_Initialize(nullptr);
        }
    }
    ~Loaded() { ReleaseModule(m_handle); }
    CK_FUNCTION_LIST* operator->() const { return m_list; }
    explicit operator bool() const { return m_list != nullptr; }

    CK_SESSION_HANDLE Open(CK_SLOT_ID slot = 1) const {
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(m_list->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                        &session),
                  CKR_OK);
        return session;
    }
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, CK_ATTRIBUTE* search,
                                       CK_ULONG count) const {
        CK_OBJECT_HANDLE found[8];
        CK_ULONG foundCount = 0;
        EXPECT_EQ(m_list->C_FindObjectsInit(session, search, count), CKR_OK);
        EXPECT_EQ(m_list->C_FindObjects(session, found, 8, &foundCount), CKR_OK);
        EXPECT_EQ(m_list->C_FindObjectsFinal(session), CKR_OK);
        return std::vector<CK_OBJECT_HANDLE>(found, found + foundCount);
    }
    std::vector<CK_OBJECT_HANDLE> Objects(CK_SESSION_HANDLE session,
                                          CK_OBJECT_CLASS objectClass) const {
        CK_BBOOL token = CK_TRUE;
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                 {CKA_TOKEN, &token, sizeof token}};
        return Find(session, search, 2);
    }
    std::vector<CK_OBJECT_HANDLE> PrivateKeys(CK_SESSION_HANDLE session) const {
        return Objects(session, CKO_PRIVATE_KEY);
    }
    // A variable-length attribute read as applications do: its length, then its bytes.
    std::string Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_TYPE type) const {
        CK_ATTRIBUTE attribute = {type, nullptr, 0};
        EXPECT_EQ(m_list->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
        std::string bytes(attribute.ulValueLen, '\0');
        attribute.pValue = bytes.data();
        EXPECT_EQ(m_list->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
        bytes.resize(attribute.ulValueLen);
        return bytes;
    }
    CK_RV Login(CK_SESSION_HANDLE session, const char* pin, CK_USER_TYPE user = CKU_USER) const {
        return m_list->C_Login(session, user,
                               reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin)),
                               std::strlen(pin));
    }
    CK_RV Sign(CK_SESSION_HANDLE session) const {
        CK_BYTE data[32] = {'s', 'u', 'p', 'e', 'r'};
        CK_BYTE signature[512];
        CK_ULONG length = sizeof signature;
        return m_list->C_Sign(session, data, sizeof data, signature, &length);
    }

private:
    ModuleHandle m_handle;
    CK_FUNCTION_LIST* m_list = nullptr;
};

CK_MECHANISM kRsaPkcs = {CKM_RSA_PKCS, nullptr, 0};

TEST(TestModuleTest, KeysAreFoundAfterLoginWithTheirAttributes) {
    TempDir dir;
    ScriptedModule module(dir.path(), "keys.so");
    module.SetScript("pin=1234\nkey=Firma|\\x01\\x02|0|0\nkey=|ec|3|0\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    EXPECT_TRUE(p11.PrivateKeys(session).empty());
    EXPECT_EQ(p11.Login(session, "0000"), CKR_PIN_INCORRECT);
    EXPECT_EQ(p11.Login(session, "1234"), CKR_OK);
    EXPECT_EQ(p11.Login(session, "1234"), CKR_USER_ALREADY_LOGGED_IN);
    std::vector<CK_OBJECT_HANDLE> keys = p11.PrivateKeys(session);
    ASSERT_EQ(keys.size(), 2u);

    CK_KEY_TYPE type = 99;
    char label[64] = {};
    char id[64] = {};
    CK_ATTRIBUTE attributes[] = {{CKA_KEY_TYPE, &type, sizeof type},
                                 {CKA_LABEL, label, sizeof label},
                                 {CKA_ID, id, sizeof id}};
    EXPECT_EQ(p11->C_GetAttributeValue(session, keys[0], attributes, 3), CKR_OK);
    EXPECT_EQ(type, CKK_RSA);
    EXPECT_EQ(std::string(label, attributes[1].ulValueLen), "Firma");
    EXPECT_EQ(std::string(id, attributes[2].ulValueLen), "\x01\x02");
    EXPECT_EQ(p11->C_GetAttributeValue(session, keys[1], attributes, 3), CKR_OK);
    EXPECT_EQ(attributes[1].ulValueLen, 0u);

    // Only RSA keys sign with CKM_RSA_PKCS.
    EXPECT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[1]), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[0]), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_OK);
    EXPECT_EQ(module.Count("signatures"), 1);
    EXPECT_EQ(module.Value("last.C_Sign.key"), "0102");
    EXPECT_EQ(module.Value("last.C_Login.pin"), "31323334");
    EXPECT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(p11->C_CloseSession(session), CKR_OK);
}

TEST(TestModuleTest, AFailedSignEndsTheOperationAsTheStandardSays) {
    TempDir dir;
    ScriptedModule module(dir.path(), "retry.so");
    module.SetScript("key=A|a|0|0\nresult.C_Sign@1=0x6\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    ASSERT_EQ(p11.Login(session, "any"), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> keys = p11.PrivateKeys(session);
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[0]), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_FUNCTION_FAILED);
    EXPECT_EQ(p11.Sign(session), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[0]), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_OPERATION_NOT_INITIALIZED);
}

TEST(TestModuleTest, AlwaysAuthenticateKeysWantTheirOwnLogin) {
    TempDir dir;
    ScriptedModule module(dir.path(), "qualified.so");
    module.SetScript("pin=1234\nkey=Q|q|0|1\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    ASSERT_EQ(p11.Login(session, "1234"), CKR_OK);
    CK_OBJECT_HANDLE key = p11.PrivateKeys(session).at(0);
    CK_BBOOL always = CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_ALWAYS_AUTHENTICATE, &always, sizeof always};
    EXPECT_EQ(p11->C_GetAttributeValue(session, key, &attribute, 1), CKR_OK);
    EXPECT_EQ(always, CK_TRUE);
    ASSERT_EQ(p11->C_SignInit(session, &kRsaPkcs, key), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(p11->C_SignInit(session, &kRsaPkcs, key), CKR_OK);
    EXPECT_EQ(p11.Login(session, "1234", CKU_CONTEXT_SPECIFIC), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_OK);
}

TEST(TestModuleTest, ASignaturePinOfItsOwnAndKeysNotForSigning) {
    TempDir dir;
    ScriptedModule module(dir.path(), "pins.so");
    module.SetScript("pin=1234\nsign_pin=5678\nkey=Q|q|0|1\nkey=D|d|0|0|0|0\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    ASSERT_EQ(p11.Login(session, "1234"), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> keys = p11.PrivateKeys(session);
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[0]), CKR_OK);
    EXPECT_EQ(p11.Login(session, "1234", CKU_CONTEXT_SPECIFIC), CKR_PIN_INCORRECT);
    EXPECT_EQ(p11.Login(session, "5678", CKU_CONTEXT_SPECIFIC), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_OK);

    CK_BBOOL sign = CK_TRUE;
    CK_ATTRIBUTE attribute = {CKA_SIGN, &sign, sizeof sign};
    EXPECT_EQ(p11->C_GetAttributeValue(session, keys[1], &attribute, 1), CKR_OK);
    EXPECT_EQ(sign, CK_FALSE);
    EXPECT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[1]), CKR_KEY_FUNCTION_NOT_PERMITTED);
}

TEST(TestModuleTest, CopiesKeepTheirOwnScriptsAndCounters) {
    TempDir dir;
    ScriptedModule first(dir.path(), "first.so");
    ScriptedModule second(dir.path(), "second.so");
    first.SetScript("token.serial=7028\n");
    second.SetScript("token.serial=74201065\nresult.C_GetTokenInfo@2=0xE0\n");
    Loaded a(first);
    Loaded b(second);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    CK_TOKEN_INFO info;
    ASSERT_EQ(a->C_GetTokenInfo(1, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), "7028            ");
    ASSERT_EQ(b->C_GetTokenInfo(1, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), "74201065        ");
    EXPECT_EQ(b->C_GetTokenInfo(1, &info), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(a->C_GenerateRandom(0, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(first.Count("calls.C_GetTokenInfo"), 1);
    EXPECT_EQ(second.Count("calls.C_GetTokenInfo"), 2);
    EXPECT_EQ(first.Count("calls.C_GenerateRandom"), 1);
    EXPECT_EQ(second.Count("calls.C_GenerateRandom"), 0);
}

// Keys of both kinds the module knows, made once for the tests that read or sign with them.
class TestModuleKeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_keys = new TempDir();
        RunCommand("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem");
        RunCommand("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.pem");
        RunCommand("openssl pkey -in ec.pem -pubout -out ec-public.pem");
        RunCommand("openssl pkey -in ec.pem -pubout -outform DER -out ec-public.der");
        WriteFile("not-a-key.pem", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n");
    }
    static void TearDownTestSuite() {
        delete s_keys;
        s_keys = nullptr;
    }
    static std::string KeyFile(const std::string& name) { return s_keys->path() + "/" + name; }

    static TempDir* s_keys;
};

TempDir* TestModuleKeysTest::s_keys = nullptr;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    }
    return out;
}

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// Whether `signature`, as a PKCS#11 token answers CKM_RSA_PKCS (PKCS#1 v1.5 of the raw data) or
// CKM_ECDSA (r||s), verifies for `data` under the key in a PEM file.
bool Verifies(const std::string& pemFile, const std::string& data, std::string signature) {
    const std::string pem = ReadFile(pemFile);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    if (key == nullptr)
        return false;
    if (EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_EC) {
        const std::size_t half = signature.size() / 2;
        const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
        ECDSA_SIG* parsed = ECDSA_SIG_new();
        ECDSA_SIG_set0(parsed, BN_bin2bn(raw, static_cast<int>(half), nullptr),
                       BN_bin2bn(raw + half, static_cast<int>(half), nullptr));
        unsigned char* der = nullptr;
        const int length = i2d_ECDSA_SIG(parsed, &der);
        signature.assign(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
        OPENSSL_free(der);
        ECDSA_SIG_free(parsed);
    }
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.get(), nullptr);
    const bool verified =
        EVP_PKEY_verify_init(context) == 1 &&
        (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA ||
         EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1) &&
        EVP_PKEY_verify(context, reinterpret_cast<const unsigned char*>(signature.data()),
                        signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                        data.size()) == 1;
    EVP_PKEY_CTX_free(context);
    return verified;
}

TEST_F(TestModuleKeysTest, CertificatesAndPublicKeysAreFoundWithoutLoginByClassAndId) {
    TempDir dir;
    WriteFile("garbage.der", std::string("\x30\x03\x02\x01", 4));
    WriteFile("empty.der", "");
    ScriptedModule module(dir.path(), "objects.so");
    module.SetScript(
        "key=Firma|\\x01\\x02|0|0\n"
        "certificate=Firma|\\x01\\x02|" +
        dir.path() +
        "/garbage.der\n"
        "certificate=Vuoto|e|" +
        dir.path() +
        "/empty.der\n"
        "public_key=\\x01\\x02|" +
        KeyFile("rsa.pem") + "\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    EXPECT_TRUE(p11.PrivateKeys(session).empty());
    std::vector<CK_OBJECT_HANDLE> certificates = p11.Objects(session, CKO_CERTIFICATE);
    ASSERT_EQ(certificates.size(), 2u);
    EXPECT_EQ(p11.Objects(session, CKO_PUBLIC_KEY).size(), 1u);

    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_CERTIFICATE_TYPE attribute = CKC_X_509_ATTR_CERT;
    char id[] = "\x01\x02";
    CK_ATTRIBUTE byId[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                           {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
                           {CKA_ID, id, 2}};
    EXPECT_EQ(p11.Find(session, byId, 3), std::vector<CK_OBJECT_HANDLE>{certificates[0]});
    byId[1].pValue = &attribute;
    EXPECT_TRUE(p11.Find(session, byId, 3).empty());
    EXPECT_EQ(p11.Find(session, &byId[2], 1).size(), 2u) << "the certificate and the public key";

    EXPECT_EQ(p11.Attribute(session, certificates[0], CKA_VALUE),
              std::string("\x30\x03\x02\x01", 4));
    EXPECT_EQ(p11.Attribute(session, certificates[0], CKA_LABEL), "Firma");
    EXPECT_EQ(p11.Attribute(session, certificates[1], CKA_VALUE), "");
    EXPECT_EQ(p11.Attribute(session, certificates[1], CKA_ID), "e");

    // A buffer too small, and an attribute the object lacks, in one call.
    char small[2];
    char subject[64];
    CK_ATTRIBUTE both[] = {{CKA_VALUE, small, sizeof small},
                           {CKA_SUBJECT, subject, sizeof subject}};
    EXPECT_EQ(p11->C_GetAttributeValue(session, certificates[0], both, 2),
              CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(both[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(both[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    both[0].ulValueLen = sizeof small;
    EXPECT_EQ(p11->C_GetAttributeValue(session, certificates[0], both, 1), CKR_BUFFER_TOO_SMALL);

    // Once logged in, the private key joins them under the first handle.
    ASSERT_EQ(p11.Login(session, "any"), CKR_OK);
    EXPECT_EQ(p11.Find(session, &byId[2], 1).size(), 3u);
    EXPECT_EQ(p11.PrivateKeys(session), std::vector<CK_OBJECT_HANDLE>{1});
}

TEST_F(TestModuleKeysTest, PublicKeysCarryTheKeysPublicValues) {
    TempDir dir;
    ScriptedModule module(dir.path(), "public.so");
    module.SetScript("public_key=r|" + KeyFile("rsa.pem") + "\npublic_key=e|" +
                     KeyFile("ec-public.pem") + "\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    std::vector<CK_OBJECT_HANDLE> keys = p11.Objects(session, CKO_PUBLIC_KEY);
    ASSERT_EQ(keys.size(), 2u);

    CK_KEY_TYPE type = 99;
    CK_ATTRIBUTE typeAttribute = {CKA_KEY_TYPE, &type, sizeof type};
    ASSERT_EQ(p11->C_GetAttributeValue(session, keys[0], &typeAttribute, 1), CKR_OK);
    EXPECT_EQ(type, CKK_RSA);
    EXPECT_EQ("Modulus=" + Hex(p11.Attribute(session, keys[0], CKA_MODULUS)) + "\n",
              RunCommand("openssl rsa -in " + KeyFile("rsa.pem") + " -noout -modulus"));
    EXPECT_EQ(Hex(p11.Attribute(session, keys[0], CKA_PUBLIC_EXPONENT)), "010001");

    ASSERT_EQ(p11->C_GetAttributeValue(session, keys[1], &typeAttribute, 1), CKR_OK);
    EXPECT_EQ(type, CKK_EC);
    // prime256v1's OID, and the point as the key's SubjectPublicKeyInfo ends with it.
    EXPECT_EQ(Hex(p11.Attribute(session, keys[1], CKA_EC_PARAMS)), "06082A8648CE3D030107");
    const std::string info = ReadFile(KeyFile("ec-public.der"));
    ASSERT_GT(info.size(), 65u);
    EXPECT_EQ(p11.Attribute(session, keys[1], CKA_EC_POINT),
              std::string("\x04\x41", 2) + info.substr(info.size() - 65));
    EXPECT_EQ(info[info.size() - 65], '\x04') << "uncompressed";
}

struct MaterialCase {
    const char* keyType;
    CK_MECHANISM_TYPE mechanism;
    const char* file;
    CK_ULONG length;
};

class KeyMaterialTest : public TestModuleKeysTest,
                        public ::testing::WithParamInterface<MaterialCase> {};

TEST_P(KeyMaterialTest, KeysWithMaterialSignForRealAndOthersDoNot) {
    const MaterialCase& c = GetParam();
    TempDir dir;
    ScriptedModule module(dir.path(), "material.so");
    module.SetScript(std::string("key=Vera|v|") + c.keyType + "|0\nkey_material=v|" +
                     KeyFile(c.file) + "\nkey=Finta|f|" + c.keyType + "|0\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    ASSERT_EQ(p11.Login(session, "any"), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> keys = p11.PrivateKeys(session);
    ASSERT_EQ(keys.size(), 2u);
    CK_MECHANISM mechanism = {c.mechanism, nullptr, 0};
    std::string data = "a digest of thirty-two bytes....";

    ASSERT_EQ(p11->C_SignInit(session, &mechanism, keys[0]), CKR_OK);
    CK_ULONG length = 0;
    auto* in = reinterpret_cast<CK_BYTE*>(data.data());
    ASSERT_EQ(p11->C_Sign(session, in, data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, c.length);
    std::string signature(length - 1, '\0');
    length = signature.size();
    auto* out = reinterpret_cast<CK_BYTE*>(signature.data());
    ASSERT_EQ(p11->C_Sign(session, in, data.size(), out, &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, c.length);
    signature.resize(length);
    out = reinterpret_cast<CK_BYTE*>(signature.data());
    ASSERT_EQ(p11->C_Sign(session, in, data.size(), out, &length), CKR_OK);
    ASSERT_EQ(length, c.length);
    EXPECT_TRUE(Verifies(KeyFile(c.file), data, signature));
    EXPECT_FALSE(Verifies(KeyFile(c.file), "another digest of 32 bytes......", signature));

    // A key without material: a signature of its own length that the public half rejects.
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, keys[1]), CKR_OK);
    signature.assign(512, '\0');
    length = signature.size();
    out = reinterpret_cast<CK_BYTE*>(signature.data());
    ASSERT_EQ(p11->C_Sign(session, in, data.size(), out, &length), CKR_OK);
    signature.resize(length);
    EXPECT_FALSE(Verifies(KeyFile(c.file), data, signature));
}

INSTANTIATE_TEST_SUITE_P(Kinds, KeyMaterialTest,
                         ::testing::Values(MaterialCase{"0", CKM_RSA_PKCS, "rsa.pem", 256},
                                           MaterialCase{"3", CKM_ECDSA, "ec.pem", 64}),
                         [](const ::testing::TestParamInfo<MaterialCase>& info) {
                             return info.param.mechanism == CKM_ECDSA ? std::string("Ecdsa")
                                                                      : std::string("RsaPkcs");
                         });

TEST(TestModuleTest, PrivateKeysCanBeVisibleBeforeLoginButSignOnlyAfter) {
    TempDir dir;
    ScriptedModule module(dir.path(), "visible.so");
    module.SetScript("private_keys_hidden=0\nkey=Firma|k|0|0\n");
    Loaded p11(module);
    ASSERT_TRUE(p11);
    CK_SESSION_HANDLE session = p11.Open();
    std::vector<CK_OBJECT_HANDLE> keys = p11.PrivateKeys(session);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(p11.Attribute(session, keys[0], CKA_ID), "k");
    EXPECT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[0]), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(p11.Login(session, "any"), CKR_OK);
    EXPECT_EQ(p11->C_SignInit(session, &kRsaPkcs, keys[0]), CKR_OK);
    EXPECT_EQ(p11.Sign(session), CKR_OK);
}

struct BadScript {
    const char* what;
    const char* script;  // {rsa}, {ec} and {junk} stand for the files of those names
    const char* message;
};

class TestModuleScriptErrorTest : public TestModuleKeysTest,
                                  public ::testing::WithParamInterface<BadScript> {};

TEST_P(TestModuleScriptErrorTest, EndsTheProcessAtLoad) {
    std::string script = GetParam().script;
    for (const auto& [mark, file] : {std::pair{"{rsa}", "rsa.pem"}, std::pair{"{ec}", "ec.pem"},
                                     std::pair{"{junk}", "not-a-key.pem"}}) {
        std::size_t at = script.find(mark);
        if (at != std::string::npos)
            script.replace(at, std::strlen(mark), KeyFile(file));
    }
    TempDir dir;
    ScriptedModule module(dir.path(), "bad.so");
    module.SetScript(script);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Loaded{module}, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TestModuleScriptErrorTest,
    ::testing::Values(BadScript{"MaterialBeforeItsKey", "key_material=k|{rsa}\nkey=K|k|0|0\n",
                                "no key= line before"},
                      BadScript{"RsaMaterialForAnEcKey", "key=K|k|3|0\nkey_material=k|{rsa}\n",
                                "not of the key's type"},
                      BadScript{"MissingKeyFile", "key=K|k|0|0\nkey_material=k|/nonexistent.pem\n",
                                "cannot read the file"},
                      BadScript{"MissingCertificateFile", "certificate=C|c|/nonexistent.der\n",
                                "cannot read the file"},
                      BadScript{"NoPemKey", "public_key=k|{junk}\n", "holds no PEM key"},
                      BadScript{"EcMaterialForAnRsaKey", "key=K|k|0|0\nkey_material=k|{ec}\n",
                                "not of the key's type"}),
    [](const ::testing::TestParamInfo<BadScript>& info) { return std::string(info.param.what); });

// The test certificate set, made once, as the tests of certificates will use it.
class TestCertificateSetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir();
        s_set = new TestCertificates(s_dir->path() + "/certificates");
    }
    static void TearDownTestSuite() {
        delete s_set;
        delete s_dir;
    }

    static TempDir* s_dir;
    static TestCertificates* s_set;
};

TempDir* TestCertificateSetTest::s_dir = nullptr;
TestCertificates* TestCertificateSetTest::s_set = nullptr;

// A date openssl shows with -dateopt iso_8601 ("2020-01-01 00:00:00Z"), in seconds since
// the epoch.
std::int64_t EpochOf(const std::string& iso) {
    std::tm parts{};
    std::istringstream in(iso);
    in >> std::get_time(&parts, "%Y-%m-%d %H:%M:%S");
    return in.fail() ? -1 : static_cast<std::int64_t>(timegm(&parts));
}

// What the manifest says of a certificate, as its DER file says it.
TEST_F(TestCertificateSetTest, TheManifestTellsWhatTheCertificatesHold) {
    // The key usage each certificate shows: a user's signing one unless named here.
    const std::map<std::string, std::string> usage = {
        {"oldca", "Certificate Sign, CRL Sign"}, {"cipher", "Key Encipherment"}, {"nousage", ""}};
    ASSERT_EQ(s_set->all().size(), 9u);
    for (const TestCertificate& entry : s_set->all()) {
        SCOPED_TRACE(entry.name);
        const std::string shown =
            RunCommand("openssl x509 -inform DER -in " + entry.certificateDer +
                       " -noout -dateopt iso_8601 -startdate -enddate -subject -issuer -ext "
                       "keyUsage -nameopt sep_multiline,sname");
        EXPECT_NE(shown.find("    CN=" + entry.commonName + "\n    O=Lumidor Test\n"),
                  std::string::npos)
            << shown;
        EXPECT_NE(shown.find("    CN=Lumidor Test CA\n    O=Lumidor\n"), std::string::npos);
        const auto special = usage.find(entry.name);
        if (special == usage.end()) {
            EXPECT_NE(shown.find("\n    Digital Signature, Non Repudiation\n"), std::string::npos);
        } else if (special->second.empty()) {
            EXPECT_EQ(shown.find("Key Usage"), std::string::npos) << shown;
        } else {
            EXPECT_NE(shown.find("\n    " + special->second + "\n"), std::string::npos) << shown;
        }
        const std::size_t from = shown.find("notBefore=");
        const std::size_t until = shown.find("notAfter=");
        ASSERT_NE(from, std::string::npos);
        ASSERT_NE(until, std::string::npos);
        EXPECT_EQ(EpochOf(shown.substr(from + 10, 19)), entry.validFrom);
        EXPECT_EQ(EpochOf(shown.substr(until + 9, 19)), entry.validUntil);
        EXPECT_EQ(entry.id.size(), entry.idHex.size() / 2);
        EXPECT_NE(
            RunCommand("openssl x509 -inform DER -in " + entry.certificateDer +
                       " | openssl verify -no_check_time -CAfile " + s_set->caCertificatePem())
                .find(": OK"),
            std::string::npos);
    }
    // The fixed dates: 2020-01-01 .. 2021-01-01 and 2090-01-01 .. 2095-01-01.
    EXPECT_EQ(s_set->Get("expired").validFrom, 1577836800);
    EXPECT_EQ(s_set->Get("expired").validUntil, 1609459200);
    EXPECT_EQ(s_set->Get("notyet").validFrom, 3786912000);
    EXPECT_EQ(s_set->Get("notyet").validUntil, 3944678400);
    EXPECT_EQ(s_set->Get("expiring").validUntil - s_set->Get("expiring").validFrom, 375 * 86400);
    EXPECT_EQ(s_set->Get("ec").keyType, "ec");
    EXPECT_EQ(s_set->Get("valid").id, "\xa1\x01");
}

// The objects pkcs11-tool -O lists, as "<kind> <id hex>", sorted.
std::vector<std::string> ListedObjects(const std::string& output) {
    std::vector<std::string> objects;
    std::istringstream lines(output);
    std::string line;
    std::string kind;
    while (std::getline(lines, line)) {
        const std::size_t object = line.find(" Object;");
        if (object != std::string::npos && line[0] != ' ')
            kind = line.substr(0, object);
        else if (line.rfind("  ID:", 0) == 0 && !kind.empty())
            objects.push_back(kind + " " + line.substr(line.find_first_not_of(' ', 5)));
    }
    std::sort(objects.begin(), objects.end());
    return objects;
}

const std::vector<std::string> kValidPairAndNoKeyCertificate = {
    "Certificate a101", "Certificate a105", "Private Key a101", "Public Key a101"};

TEST_F(TestCertificateSetTest, AChosenSubsetGoesOnASoftHsmToken) {
    if (!SoftHsmToken::Installed())
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    TempDir dir;
    SoftHsmToken token(dir.path(), "Certificati");
    const TestCertificate& valid = s_set->Get("valid");
    const TestCertificate& nokey = s_set->Get("nokey");
    using Type = SoftHsmToken::ObjectType;
    token.Import(Type::kPrivateKey, valid.privateKeyDer, valid.idHex, valid.commonName);
    token.Import(Type::kPublicKey, valid.publicKeyDer, valid.idHex, valid.commonName);
    token.Import(Type::kCertificate, valid.certificateDer, valid.idHex, valid.commonName);
    token.Import(Type::kCertificate, nokey.certificateDer, nokey.idHex, nokey.commonName);
    const std::string listing =
        RunCommand(std::string("pkcs11-tool --module ") + SoftHsmToken::kModule + " --slot " +
                   std::to_string(token.slot()) + " --login --pin 123456 -O");
    EXPECT_EQ(ListedObjects(listing), kValidPairAndNoKeyCertificate) << listing;
    EXPECT_THROW(token.Import(Type::kCertificate, dir.path() + "/missing.der", "01", "X"),
                 std::runtime_error);
}

// What runs a program without sanitizers on a module built with AddressSanitizer: its runtime
// must be loaded first.
std::string SanitizerPreload() {
#if defined(__SANITIZE_ADDRESS__)
    return "LD_PRELOAD=$(c++ -print-file-name=libasan.so) ";
#else
    return "";
#endif
}

// The same subset on the test module, as a real consumer of a module lists it.
TEST_F(TestCertificateSetTest, TheTestModuleListsItsObjectsToPkcs11Tool) {
    TempDir dir;
    ScriptedModule module(dir.path(), "certificates.so");
    const TestCertificate& valid = s_set->Get("valid");
    const TestCertificate& nokey = s_set->Get("nokey");
    module.SetScript(
        "key=Firma|\\xa1\\x01|0|0\n"
        "certificate=Firma|\\xa1\\x01|" +
        valid.certificateDer +
        "\n"
        "public_key=\\xa1\\x01|" +
        valid.publicKeyPem +
        "\n"
        "certificate=Senza chiave|\\xa1\\x05|" +
        nokey.certificateDer + "\n");
    const std::string listing = RunCommand(SanitizerPreload() + "pkcs11-tool --module " +
                                           module.path() + " --login --pin 1234 -O");
    EXPECT_EQ(ListedObjects(listing), kValidPairAndNoKeyCertificate) << listing;
}

}  // namespace
