#include <gtest/gtest.h>

#include <cstring>

#include "platform/ModuleLoader.h"
#include "platform/Pkcs11.h"
#include "support/TempDir.h"
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
    std::vector<CK_OBJECT_HANDLE> PrivateKeys(CK_SESSION_HANDLE session) const {
        CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
        CK_BBOOL token = CK_TRUE;
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                                 {CKA_TOKEN, &token, sizeof token}};
        CK_OBJECT_HANDLE found[8];
        CK_ULONG count = 0;
        EXPECT_EQ(m_list->C_FindObjectsInit(session, search, 2), CKR_OK);
        EXPECT_EQ(m_list->C_FindObjects(session, found, 8, &count), CKR_OK);
        EXPECT_EQ(m_list->C_FindObjectsFinal(session), CKR_OK);
        return std::vector<CK_OBJECT_HANDLE>(found, found + count);
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

}  // namespace
