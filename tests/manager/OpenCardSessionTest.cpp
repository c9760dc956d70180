#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/rig/FakePcsc.h"
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
        SlotCase{"OneSlotNamingNoReader", "slot=7|1|Unrelated|token 7\n", "Reader B 0", 7, 1},
        SlotCase{"ReaderNameContainsTheDescription",
                 "slot=1|1|Reader A|token 1\nslot=2|1|Reader B|token 2\n", "Reader B 0", 2, 2},
        SlotCase{"DescriptionContainsTheReaderName",
                 "slot=1|1|Reader B|token 1\nslot=2|1|Reader A|token 2\n", "Reader", 1, 2},
        SlotCase{"NulDescriptionMatchesEveryReader",
                 "slot=1|1|" + NulBytes(64) + "|token 1\nslot=2|1|Reader B|token 2\n", "Reader B 0",
                 1, 2},
        SlotCase{"BlankDescriptionKeepsOneBlank",
                 "slot=1|1|" + std::string(64, ' ') + "|token 1\nslot=2|1|Reader|token 2\n",
                 "Reader B 0", 1, 2},
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

// 64 bytes that two long reader names share, as a slot description holds them.
const std::string kLongPrefix = "Lumidor Dual Interface Reader with a very long name [CCID] 01234";
static_assert(sizeof "Lumidor Dual Interface Reader with a very long name [CCID] 01234" == 65);

struct OwnedSlotCase {
    const char* what;
    std::vector<std::string> readers;  // as the PC/SC service lists them
    std::string slots;                 // script lines
    std::string reader;                // under diagnosis
    CK_SLOT_ID slot;                   // 0: no slot is taken, the no-token failure
    std::string why;                   // the end of the log record of the choice
};

void PrintTo(const OwnedSlotCase& c, std::ostream* out) {
    *out << c.what;
}

// The readers of the last enumeration tell whose each slot is.
class OwnedSlotTest : public SessionTest, public ::testing::WithParamInterface<OwnedSlotCase> {
protected:
    FakePcsc pcsc;
};

TEST_P(OwnedSlotTest, NeverTakesAnotherReadersSlot) {
    const OwnedSlotCase& c = GetParam();
    pcsc.readers = c.readers;
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    manager->m_slotId = 99;
    const uint32_t result = Open(c.slots, c.reader);
    if (c.slot == 0) {
        EXPECT_EQ(result, static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT));
        EXPECT_EQ(manager->m_slotId, 99u);
        EXPECT_EQ(module->Count("calls.C_GetTokenInfo"), 0);
        EXPECT_EQ(module->Count("calls.C_OpenSession"), 0);
        EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetSlotList': 0x000000e0"});
        EXPECT_EQ(RecordsWithText(SessionLog(), "No token available.").size(), 1u);
        return;
    }
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(manager->m_slotId, c.slot);
    EXPECT_EQ(module->Value("last.C_OpenSession.slot"), std::to_string(c.slot));
    EXPECT_TRUE(status.lines.empty());
    const std::vector<LoggedRecord> log = SessionLog();
    const bool logged = std::any_of(log.begin(), log.end(), [&](const LoggedRecord& record) {
        return record.text.rfind("Slot " + std::to_string(c.slot) + " (", 0) == 0 &&
               record.text.find("taken for reader '" + c.reader + "': " + c.why + ".") !=
                   std::string::npos;
    });
    EXPECT_TRUE(logged) << "the choice and its reason are logged";
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OwnedSlotTest,
    ::testing::Values(
        OwnedSlotCase{"AnotherReadersOnlyToken",
                      {"Reader A 00", "Reader B 01"},
                      "slot=1|1|Reader A 00|token 1\n",
                      "Reader B 01",
                      0,
                      ""},
        OwnedSlotCase{"NamesWhole",
                      {"Reader A 00", "Reader B 01"},
                      "slot=1|1|Reader A 00|token 1\nslot=2|1|Reader B 01|token 2\n",
                      "Reader B 01",
                      2,
                      "its description names the reader"},
        OwnedSlotCase{"ItsReaderBeforeAnUnnamedToken",
                      {"Reader A 00", "Reader B 01"},
                      "slot=3|1|SoftHSM slot ID 0x3|token 3\nslot=2|1|Reader B 01|token 2\n",
                      "Reader B 01",
                      2,
                      "its description names the reader"},
        OwnedSlotCase{"AnotherReadersTokenBesideAnUnnamedOne",
                      {"Reader A 00", "Reader B 01"},
                      "slot=1|1|Reader A 00|token 1\nslot=4|1|Token of its own|token 4\n",
                      "Reader B 01",
                      4,
                      "the only token that names no listed reader"},
        // A reader whose name is a beginning of another's: the description is that reader's.
        OwnedSlotCase{"ReaderNamedWithinTheReadersName",
                      {"Reader B 0", "Reader B 01"},
                      "slot=1|1|Reader B 0|token 1\n",
                      "Reader B 01",
                      0,
                      ""},
        OwnedSlotCase{"NoListedReaderNamed",
                      {"Reader A 00", "Reader B 01"},
                      "slot=5|1|Reader X|token 5\nslot=6|1|Reader Y|token 6\n",
                      "Reader B 01",
                      5,
                      "the first token that names no listed reader"},
        OwnedSlotCase{"LongNameCutToItsOwnPrefix",
                      {"Reader A 00", kLongPrefix + "45 00"},
                      "slot=1|1|Reader A 00|token 1\nslot=2|1|" + kLongPrefix + "|token 2\n",
                      kLongPrefix + "45 00",
                      2,
                      "its description names the reader"},
        // Two readers share the description's 64 bytes: the slot may be either's.
        OwnedSlotCase{"SharedPrefixIsNoReadersOwn",
                      {kLongPrefix + "45 00", kLongPrefix + "45 01"},
                      "slot=1|1|" + kLongPrefix + "|token 1\n",
                      kLongPrefix + "45 01",
                      0,
                      ""},
        OwnedSlotCase{"SharedPrefixBesideAnUnnamedToken",
                      {kLongPrefix + "45 00", kLongPrefix + "45 01"},
                      "slot=1|1|" + kLongPrefix + "|token 1\nslot=2|1|Software|token 2\n",
                      kLongPrefix + "45 01",
                      2,
                      "the only token that names no listed reader"}),
    [](const ::testing::TestParamInfo<OwnedSlotCase>& info) { return info.param.what; });

TEST_F(SessionTest, NoMatchIsLogged) {
    Open("slot=5|1|Reader X|token 5\nslot=6|1|Reader Y|token 6\n", "Reader B 0");
    auto log = SessionLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text,
              "Slot 5 ('Reader X') taken for reader 'Reader B 0': the first token that names no "
              "listed reader.");
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
    auto log = RecordsWithText(SessionLog(), "C_OpenSession error: 0xE0.");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, 0xE0u);
}

TEST_F(SessionTest, TokenInfoFailing) {
    EXPECT_EQ(Open("result.C_GetTokenInfo=0x32\n", "Reader"), 0x32u);
    EXPECT_EQ(status.lines, std::vector<std::string>{kFailure + "'C_GetTokenInfo': 0x00000032"});
    EXPECT_EQ(module->Count("calls.C_OpenSession"), 0);
    EXPECT_EQ(RecordsWithText(SessionLog(), "C_GetTokenInfo error: 0x32.").size(), 1u);
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
    EXPECT_EQ(RecordsWithText(SessionLog(), "C_OpenSession error: 0xE0.").size(), 1u);
}

}  // namespace
