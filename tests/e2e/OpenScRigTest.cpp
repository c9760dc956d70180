// OpenSC's module, found by its bare name, on the rig's virtual readers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"
#include "support/Command.h"
#include "support/CountOccurrences.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/rig/VirtualCard.h"

namespace {

const char* kOpenSc = "opensc-pkcs11.so";

// The descriptions of all the module's slots, token or not.
std::vector<std::string> SlotDescriptions(CK_FUNCTION_LIST* list) {
    std::vector<std::string> descriptions;
    CK_ULONG count = 0;
    if (list->C_GetSlotList(CK_FALSE, nullptr, &count) != CKR_OK || count == 0) {
        return descriptions;
    }
    std::vector<CK_SLOT_ID> slots(count);
    if (list->C_GetSlotList(CK_FALSE, slots.data(), &count) != CKR_OK) {
        return descriptions;
    }
    for (CK_ULONG i = 0; i < count && i < slots.size(); ++i) {
        CK_SLOT_INFO info;
        if (list->C_GetSlotInfo(slots[i], &info) == CKR_OK) {
            descriptions.push_back(TokenText(info.slotDescription, sizeof info.slotDescription));
        }
    }
    return descriptions;
}

TEST_F(ManagerTest, OpenScSeesTheReaderButNoTokenOnAnUnknownCard) {
    VirtualCard card(0, "3B 02 14 50");
    manager->m_slotId = 77;
    manager->m_driverInUse = kOpenSc;
    ModuleHandle handle = manager->UpdateFileInfo();
    ASSERT_NE(handle, nullptr) << ModuleLastReason();
    CK_FUNCTION_LIST* list = manager->GetFunctionList(handle, kOpenSc);
    ASSERT_NE(list, nullptr);
    uint32_t result = manager->OpenCardSession(list, kOpenSc, card.readerName());
    std::vector<std::string> descriptions = SlotDescriptions(list);
    // Outside an operation of the manager, the start is the test's to end.
    list->C_Finalize(nullptr);
    ReleaseModule(handle);

    // Found through the system's module search, by its full path.
    std::filesystem::path path(manager->m_driverPath);
    EXPECT_TRUE(path.is_absolute()) << manager->m_driverPath;
    EXPECT_EQ(path.filename(), kOpenSc);
    bool readerSeen = false;
    for (const std::string& description : descriptions) {
        readerSeen = readerSeen || description.rfind(card.readerName(), 0) == 0;
    }
    EXPECT_TRUE(readerSeen) << testing::PrintToString(descriptions);

    // A card that OpenSC cannot read is no token: a failure, never a working driver.
    EXPECT_EQ(result, static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT));
    EXPECT_EQ(manager->m_slotId, 77u);
    EXPECT_EQ(status.lines,
              std::vector<std::string>{"Errore durante l'utilizzo del driver (opensc-pkcs11.so) "
                                       "sulla funzione 'C_GetSlotList': 0x000000e0"});
    auto records = RecordsWithText(FinishLog(), "No token available.");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT));
}

TEST(OpenScOpenPgpCardTest, PkcsToolListsItsTwoTokensAndItsSelfTestPasses) {
    TempDir dir;
    const std::string state = dir.path() + "/card";
    VirtualCard card(0, OpenPgpCard{state});
    std::string serial = ReadOpenPgpCardState(state).serial;
    std::transform(serial.begin(), serial.end(), serial.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string tool = std::string("pkcs11-tool --module ") + kOpenSc;

    // One token per user PIN, both on the card's reader and with its serial: manufacturer
    // FFFF, then the serial number of this card's state.
    CommandRun list = RunShell(tool + " -L");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("Slot 0 (0x0): Virtual PCD 00 00\n"
                               "  token label        : OpenPGP card (User PIN)\n"),
              std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find("Slot 1 (0x1): Virtual PCD 00 00\n"
                               "  token label        : OpenPGP card (User PIN (sig))\n"),
              std::string::npos)
        << list.output;
    EXPECT_EQ(CountOccurrences(list.output, "  serial num         : ffff" + serial + "\n"), 2u)
        << list.output;

    // The self-test of the first token signs with the authentication key and decrypts with
    // both keys, checking each result against the public key it read from the card.
    CommandRun test = RunShell(tool + " --login --pin 123456 --test");
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find("Using slot 0 with a present token (0x0)"), std::string::npos)
        << test.output;
    EXPECT_NE(test.output.find("  testing key 1 (Authentication key) with 1 mechanism\n"
                               "    RSA-PKCS: OK\n"),
              std::string::npos)
        << test.output;
    EXPECT_NE(test.output.find("Decryption (currently only for RSA)\n"
                               "  testing key 0 (Encryption key)\n"
                               "    RSA-PKCS: OK\n"
                               "  testing key 1 (Authentication key)\n"
                               "    RSA-PKCS: OK\n"),
              std::string::npos)
        << test.output;
    EXPECT_NE(test.output.find("No errors\n"), std::string::npos) << test.output;
    EXPECT_EQ(ReadOpenPgpCardState(state).pw1Retries, 3);
}

}  // namespace
