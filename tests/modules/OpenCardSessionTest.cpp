#include <gtest/gtest.h>

#include <cstring>

#include "ModuleTestSupport.h"
#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"
#include "testmodule/ScriptedModule.h"

namespace {

const std::string kFailure = "Errore durante l'utilizzo del driver (mod.so) sulla funzione ";

// Runs OpenCardSession through a scripted module the way the manager's callers do.
class SessionTest : public ManagerTest {
protected:
    uint32_t Open(const std::string& script, const std::string& readerName) {
        module = std::make_unique<ScriptedModule>(dir.path(), "mod.so");
        module->SetScript(script);
        ModuleHandle handle = LoadModule(module->path());
        EXPECT_NE(handle, nullptr);
        CK_FUNCTION_LIST* list = manager->GetFunctionList(handle, "mod.so");
        EXPECT_NE(list, nullptr);
        uint32_t result =
            list != nullptr ? manager->OpenCardSession(list, "mod.so", readerName) : 0xFFFFFFFF;
        ReleaseModule(handle);
        return result;
    }
    std::string Label() const {
        return TokenText(manager->m_tokenInfo.label, sizeof manager->m_tokenInfo.label);
    }
    // The records that OpenCardSession wrote.
    std::vector<LoggedRecord> SessionLog() {
        std::vector<LoggedRecord> own;
        for (const LoggedRecord& record : FinishLog()) {
            if (record.source == "CSmartCardManager::OpenCardSes") {  // cut to 30 characters
                own.push_back(record);
            }
        }
        return own;
    }

    std::unique_ptr<ScriptedModule> module;
};

struct SlotCase {
    const char* what;
    std::string slots;  // script lines
    const char* reader;
    CK_SLOT_ID slot;
    long slotInfoCalls;
};

void PrintTo(const SlotCase& c, std::ostream* out) {
    *out << c.what;
}

class SlotChoiceTest : public SessionTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(SlotChoiceTest, TakesTheSlotOfTheReader) {
    const SlotCase& c = GetParam();
    manager->m_slotId = 99;
    EXPECT_EQ(Open(c.slots, c.reader), 0u);
    EXPECT_EQ(manager->m_slotId, c.slot);
    EXPECT_EQ(module->Count("calls.C_GetSlotInfo"), c.slotInfoCalls);
    // The token information and the session are those of the chosen slot.
    EXPECT_EQ(Label(), "token " + std::to_string(c.slot));
    EXPECT_EQ(module->Value("last.C_OpenSession.slot"), std::to_string(c.slot));
    EXPECT_EQ(module->Value("last.C_OpenSession.flags"), "6");
    EXPECT_EQ(module->Count("calls.C_CloseSession"), 1);
    EXPECT_EQ(module->Count("sessions.open"), 0);
    EXPECT_TRUE(status.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Slots, SlotChoiceTest,
    ::testing::Values(
        SlotCase{"OneSlotWithoutLookingAtIt", "slot=7|1|Unrelated|token 7\n", "Reader B 0", 7, 0},
        SlotCase{"ReaderNameContainsTheDescription",
                 "slot=1|1|Reader A|token 1\nslot=2|1|Reader B|token 2\n", "Reader B 0", 2, 2},
        SlotCase{"DescriptionContainsTheReaderName",
                 "slot=1|1|Reader B|token 1\nslot=2|1|Reader A|token 2\n", "Reader", 1, 1},
        SlotCase{"NulDescriptionMatchesEveryReader",
                 "slot=1|1|" + NulBytes(64) + "|token 1\nslot=2|1|Reader B|token 2\n", "Reader B 0",
                 1, 1},
        SlotCase{"BlankDescriptionKeepsOneBlank",
                 "slot=1|1|" + std::string(64, ' ') + "|token 1\nslot=2|1|Reader|token 2\n",
                 "Reader B 0", 1, 1},
        SlotCase{"BlankDescriptionAndReaderWithoutBlank",
                 "slot=1|1|" + std::string(64, ' ') + "|token 1\nslot=2|1|Reader|token 2\n",
                 "ReaderB", 2, 2},
        SlotCase{"SlotsWithoutTokenAreNotListed",
                 "slot=1|0|Reader B|token 1\nslot=2|1|Reader A|token 2\n"
                 "slot=3|1|Reader B|token 3\n",
                 "Reader B 0", 3, 2},
        SlotCase{"NoMatchTakesTheFirstSlot",
                 "slot=5|1|Reader X|token 5\nslot=6|1|Reader Y|token 6\n", "Reader B 0", 5, 2}),
    [](const ::testing::TestParamInfo<SlotCase>& info) { return info.param.what; });

TEST_F(SessionTest, NoMatchIsLogged) {
    Open("slot=5|1|Reader X|token 5\nslot=6|1|Reader Y|token 6\n", "Reader B 0");
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text,
              "No slot description matches reader 'Reader B 0': using the first slot.");
}

TEST_F(SessionTest, FirstSlotInfoFailingEndsTheChoice) {
    manager->m_slotId = 99;
    EXPECT_EQ(
        Open("slot=1|1|Reader A\nslot=2|1|Reader B\nresult.C_GetSlotInfo@1=0x30\n", "Reader B 0"),
        0x30u);
    EXPECT_EQ(module->Count("calls.C_GetSlotInfo"), 1);
    EXPECT_EQ(module->Count("calls.C_GetTokenInfo"), 0);
    EXPECT_EQ(manager->m_slotId, 99u);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetSlotList': 0x00000030"});
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "C_GetSlotList error: 0x30.");
    EXPECT_EQ(log[0].code, 0x30u);
}

TEST_F(SessionTest, OpenSessionFailing) {
    EXPECT_EQ(Open("token.label=Firma\nresult.C_OpenSession=0xE0\n", "Reader"), 0xE0u);
    EXPECT_EQ(Label(), "Firma");
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_OpenSession': 0x000000e0"});
    EXPECT_EQ(module->Count("calls.C_CloseSession"), 0);
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "C_OpenSession error: 0xE0.");
    EXPECT_EQ(log[0].code, 0xE0u);
}

TEST_F(SessionTest, TokenInfoFailing) {
    EXPECT_EQ(Open("result.C_GetTokenInfo=0x32\n", "Reader"), 0x32u);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetTokenInfo': 0x00000032"});
    EXPECT_EQ(module->Count("calls.C_OpenSession"), 0);
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "C_GetTokenInfo error: 0x32.");
}

TEST_F(SessionTest, SlotCountFailing) {
    EXPECT_EQ(Open("result.C_GetSlotList@1=0x6\n", "Reader"), 0x6u);
    EXPECT_EQ(module->Count("calls.C_GetSlotList"), 1);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetSlotList': 0x00000006"});
}

TEST_F(SessionTest, NoTokenIsAFailureAndTouchesNothing) {
    manager->m_slotId = 42;
    std::memset(&manager->m_tokenInfo, 'z', sizeof manager->m_tokenInfo);
    CK_TOKEN_INFO before = manager->m_tokenInfo;
    EXPECT_EQ(Open("slot=1|0|Reader\n", "Reader"), static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT));
    EXPECT_EQ(manager->m_slotId, 42u);
    EXPECT_EQ(std::memcmp(&manager->m_tokenInfo, &before, sizeof before), 0);
    EXPECT_EQ(module->Count("calls.C_GetSlotList"), 1);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetSlotList': 0x000000e0"});
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "No token available.");
}

TEST_F(SessionTest, ATokenArrivingBetweenTheCallsIsAskedForOnceMore) {
    EXPECT_EQ(Open("result.C_GetSlotList@2=0x150\n", "Reader"), 0u);
    EXPECT_EQ(module->Count("calls.C_GetSlotList"), 4);
    EXPECT_TRUE(status.lines.empty());
}

TEST_F(SessionTest, AListLongerThanAskedForIsNeverRead) {
    // The module claims more slots than there was room for, on every call.
    EXPECT_EQ(Open("slot=1|1|Reader A\nslot=2|1|Reader B\nslot_list_overcount=3\n", "Reader"),
              static_cast<uint32_t>(CKR_BUFFER_TOO_SMALL));
    EXPECT_EQ(module->Count("calls.C_GetSlotList"), 4);
    EXPECT_EQ(module->Count("calls.C_GetSlotInfo"), 0);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetSlotList': 0x00000150"});
}

TEST_F(SessionTest, AnImpossibleSlotCountIsNotAllocated) {
    EXPECT_EQ(Open("slot_count=0x4000000000000000\n", "Reader"),
              static_cast<uint32_t>(CKR_HOST_MEMORY));
    EXPECT_EQ(module->Count("calls.C_GetSlotList"), 1);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetSlotList': 0x00000002"});
}

TEST_F(SessionTest, AMissingEntryIsReportedAsUnsupported) {
    EXPECT_EQ(Open("null_function=C_OpenSession\n", "Reader"),
              static_cast<uint32_t>(CKR_FUNCTION_NOT_SUPPORTED));
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_OpenSession': 0x00000054"});
}

TEST_F(SessionTest, WithoutStatusListFailuresAreOnlyLogged) {
    manager->m_statusList = nullptr;
    EXPECT_EQ(Open("result.C_OpenSession=0xE0\n", "Reader"), 0xE0u);
    EXPECT_TRUE(status.lines.empty());
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "C_OpenSession error: 0xE0.");
}

}  // namespace
