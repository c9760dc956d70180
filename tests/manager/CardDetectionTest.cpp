// Card detection on the fake PC/SC table, for what the real service cannot show: that no
// PC/SC call is made for an impossible position, a card gone between two calls, an ATR
// attribute longer than the text can hold, and what a check that fails early leaves.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "common/Hex.h"
#include "platform/SystemText.h"
#include "support/FixtureCatalogues.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/rig/FakePcsc.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kReader = "Reader A";
const std::vector<unsigned char> kAtr = {0x3B, 0x02, 0x14, 0x50};

class FakeCardTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        pcsc.readers = {kReader};
        pcsc.states[kReader] = SCARD_STATE_PRESENT;
        pcsc.atrs[kReader] = kAtr;
    }
    // The fake's calls after the enumeration.
    uint32_t Check(int readerIndex) {
        manager->UpdateReaders();
        pcsc.trace.clear();
        return manager->CheckCardInReader(readerIndex);
    }
    void ExpectNothingOpen() {
        EXPECT_EQ(pcsc.OpenContexts(), 0);
        EXPECT_EQ(pcsc.OpenCards(), 0);
        EXPECT_TRUE(pcsc.misuse.empty()) << testing::PrintToString(pcsc.misuse);
    }

    FakePcsc pcsc;
};

TEST_F(FakeCardTest, ImpossiblePositionMakesNoPcscCall) {
    struct Case {
        std::vector<std::string> readers;
        int index;
    };
    for (const Case& c : {Case{{}, 0}, Case{{kReader}, -1}, Case{{kReader}, 1}}) {
        SCOPED_TRACE(c.index);
        pcsc.readers = c.readers;
        status.lines.clear();
        manager->m_atr = "3B021450";
        manager->m_driverInUse = "earlier.so";
        EXPECT_EQ(Check(c.index), kNoReadersAvailable);
        EXPECT_TRUE(pcsc.trace.empty()) << testing::PrintToString(pcsc.trace);
        EXPECT_EQ(status.lines, std::vector<std::string>{"Nessun lettore definito o trovato"});
        EXPECT_EQ(manager->m_atr, "");
        EXPECT_EQ(manager->m_driverInUse, "");
    }
    std::vector<std::string> logged;
    for (const LoggedRecord& record : FinishLog()) {
        if (record.source == "CSmartCardManager::CheckCardIn" &&
            record.text != "Starting check card ...") {
            logged.push_back(record.text);
        }
    }
    EXPECT_EQ(logged,
              (std::vector<std::string>{"No readers defined or found.", "No valid reader index.",
                                        "No valid reader index."}));
}

TEST_F(FakeCardTest, CardRemovedBeforeTheConnectionTakesTheConnectionPath) {
    pcsc.beforeCall = [this](const std::string& operation) {
        if (operation == "connect") {
            pcsc.states.erase(kReader);
        }
    };
    EXPECT_EQ(Check(0), static_cast<uint32_t>(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(pcsc.connect.calls, 1);
    EXPECT_EQ(status.lines, std::vector<std::string>{
                                "Errore durante la connessione alla smart card in 'Reader A'"});
    EXPECT_EQ(manager->m_atr, "");
    EXPECT_EQ(manager->m_readerName, "");
    ExpectNothingOpen();
    auto records = RecordsWithText(FinishLog(), "SCardConnect error.");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, static_cast<uint32_t>(SCARD_E_NO_SMARTCARD));
}

TEST_F(FakeCardTest, AtrAttributeLongerThanTheTextIsCut) {
    std::vector<unsigned char> attribute(200);
    for (std::size_t i = 0; i < attribute.size(); ++i) {
        attribute[i] = static_cast<unsigned char>(i);
    }
    pcsc.atrs[kReader] = attribute;
    EXPECT_EQ(Check(0), kUnknownCard);
    EXPECT_EQ(manager->m_atr, AtrToHex(attribute.data(), 127));
    EXPECT_EQ(manager->m_readerName, kReader);
    ExpectNothingOpen();
}

struct EarlyFailure {
    const char* what;
    std::function<uint32_t(CSmartCardManager&, FakePcsc&)> check;
    uint32_t result;
};

void PrintTo(const EarlyFailure& c, std::ostream* out) {
    *out << c.what;
}

class EarlyFailureTest : public FakeCardTest, public ::testing::WithParamInterface<EarlyFailure> {};

// A check that found the token of the second slot, its serial choosing the driver, and then
// a check that fails before any module is asked: none of the first check's token shows.
TEST_P(EarlyFailureTest, LeavesNoTokenFieldOfAnEarlierCheck) {
    ScriptedModule module(dir.path(), "mod.so");
    module.SetScript("slot=1|1|Other Reader\nslot=2|1|Reader A\n");
    const std::string catalogue = Catalogue(
        {CardEntry("3B021450", module.path(), "{'serial':{'0000':'" + module.path() + "'}}")});
    manager->InitCardList(catalogue.size(), catalogue.data());
    ASSERT_EQ(Check(0), 0u);
    ASSERT_EQ(manager->m_slotId, 2u);
    ASSERT_EQ(manager->m_filterDriver, module.path());
    ASSERT_EQ(manager->GetTokenDetails().label, "Lumidor Test Token");

    EXPECT_EQ(GetParam().check(*manager, pcsc), GetParam().result);

    CK_TOKEN_INFO zero{};
    EXPECT_EQ(std::memcmp(&manager->m_tokenInfo, &zero, sizeof zero), 0);
    EXPECT_EQ(manager->m_slotId, 0u);
    EXPECT_EQ(manager->m_filterDriver, "");
    ExpectNothingOpen();
}

INSTANTIATE_TEST_SUITE_P(
    Checks, EarlyFailureTest,
    ::testing::Values(EarlyFailure{"CardGone",
                                   [](CSmartCardManager& manager, FakePcsc& pcsc) {
                                       pcsc.states.erase(kReader);
                                       return manager.CheckCardInReader(0);
                                   },
                                   kNoSmartCard},
                      EarlyFailure{"CardNotInTheCatalogue",
                                   [](CSmartCardManager& manager, FakePcsc& pcsc) {
                                       pcsc.atrs[kReader] = {0x3B, 0x00};
                                       return manager.CheckCardInReader(0);
                                   },
                                   kUnknownCard},
                      EarlyFailure{"NoSuchReader",
                                   [](CSmartCardManager& manager, FakePcsc&) {
                                       return manager.CheckCardInReader(1);
                                   },
                                   kNoReadersAvailable},
                      EarlyFailure{"DriverDoesNotLoad",
                                   [](CSmartCardManager& manager, FakePcsc&) {
                                       return manager.DriverTest("./missing.so", kReader);
                                   },
                                   kErrorModuleNotFound},
                      EarlyFailure{"NoSuchDriver",
                                   [](CSmartCardManager& manager, FakePcsc&) {
                                       return manager.CheckDriver(1);
                                   },
                                   kNoReadersAvailable}),
    [](const ::testing::TestParamInfo<EarlyFailure>& info) { return info.param.what; });

}  // namespace
