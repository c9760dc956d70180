#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/MessageList.h"
#include "manager/SmartCardManager.h"
#include "platform/SystemText.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"
#include "support/rig/FakePcsc.h"

namespace {

const std::string kSource = "CSmartCardManager::UpdateReaders";

std::string Found(const std::string& name) {
    return "Found definition of '" + name + "' reader.";
}

class UpdateReadersTest : public ::testing::Test {
protected:
    void SetUp() override { manager->m_statusList = &messages; }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (uint32_t i = 0; i < manager->m_readerCount; ++i) {
            names.emplace_back(manager->m_readers[i].szReader);
        }
        return names;
    }

    // Entries past the used ones are all zero.
    bool RestIsZero() const {
        static const SCARD_READERSTATE zero{};
        for (int i = static_cast<int>(manager->m_readerCount); i < kMaxReaders; ++i) {
            if (std::memcmp(&manager->m_readers[i], &zero, sizeof zero) != 0) {
                return false;
            }
        }
        return true;
    }

    // Destroys the manager (which stops the log) and returns this operation's records.
    std::vector<LoggedRecord> StopAndReadLog() {
        manager.reset();
        return RecordsOf(ReadLogRecords(), kSource);
    }

    void ExpectEveryHandleReturned() const {
        EXPECT_EQ(pcsc.OpenContexts(), 0);
        EXPECT_EQ(pcsc.OutstandingLists(), 0);
        EXPECT_TRUE(pcsc.misuse.empty()) << pcsc.misuse.front();
    }

    TempDir dir;
    FakePcsc pcsc;
    MemoryMessageList messages;
    std::optional<CSmartCardManager> manager{std::in_place};
};

TEST_F(UpdateReadersTest, TwelveReadersKeepTheFirstTenInOrderWithTheirStates) {
    for (int i = 1; i <= 12; ++i) {
        pcsc.readers.push_back("Reader " + std::to_string(i));
    }
    pcsc.readers[3] = std::string(400, 'L');  // longer than a log line
    pcsc.states[pcsc.readers[9]] = SCARD_STATE_PRESENT;
    pcsc.atrs[pcsc.readers[9]] = {0x3B, 0x02, 0x14, 0x50};
    pcsc.states[pcsc.readers[10]] = SCARD_STATE_PRESENT;

    EXPECT_EQ(manager->UpdateReaders(), 0u);

    std::vector<std::string> firstTen(pcsc.readers.begin(), pcsc.readers.begin() + 10);
    EXPECT_EQ(Names(), firstTen);
    EXPECT_EQ(pcsc.lastStatusChangeCount, 10u);
    EXPECT_EQ(pcsc.lastStatusChangeTimeout, 1000u);
    for (int i = 0; i < kMaxReaders; ++i) {
        SCOPED_TRACE(i);
        const SCARD_READERSTATE& entry = manager->m_readers[i];
        EXPECT_EQ(entry.dwCurrentState, static_cast<DWORD>(SCARD_STATE_UNAWARE));
        EXPECT_EQ(entry.pvUserData, nullptr);
        EXPECT_EQ((entry.dwEventState & SCARD_STATE_PRESENT) != 0, i == 9);
    }
    EXPECT_EQ(
        std::vector<unsigned char>(manager->m_readers[9].rgbAtr,
                                   manager->m_readers[9].rgbAtr + manager->m_readers[9].cbAtr),
        pcsc.atrs[pcsc.readers[9]]);
    EXPECT_TRUE(messages.lines.empty());
    ExpectEveryHandleReturned();

    std::vector<std::string> logged;
    for (const LoggedRecord& record : StopAndReadLog()) {
        EXPECT_EQ(record.code, 0u);
        logged.push_back(record.text + record.continuation);
    }
    std::vector<std::string> expected;
    for (const std::string& name : firstTen) {
        expected.push_back(Found(name));
    }
    EXPECT_EQ(logged, expected);
}

TEST_F(UpdateReadersTest, NoReaderEmptiesTheTableAndReturnsTheServiceError) {
    pcsc.readers = {"Earlier reader"};
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    ASSERT_EQ(manager->m_readerCount, 1u);

    pcsc.listReaders.otherwise = SCARD_E_NO_READERS_AVAILABLE;
    EXPECT_EQ(manager->UpdateReaders(), 0x8010002Eu);

    EXPECT_EQ(manager->m_readerCount, 0u);
    EXPECT_TRUE(RestIsZero());
    EXPECT_TRUE(messages.lines.empty());
    ExpectEveryHandleReturned();
    std::vector<LoggedRecord> records = StopAndReadLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().text, "SCardListReaders error.");
    EXPECT_EQ(records.back().code, 0x8010002Eu);
    ASSERT_FALSE(SystemMessageText(0x8010002E).empty());
    EXPECT_EQ(records.back().continuation, SystemMessageText(0x8010002E));
}

TEST_F(UpdateReadersTest, ServiceUnavailableStopsAtTheContext) {
    pcsc.readers = {"Reader"};
    pcsc.establishContext.otherwise = SCARD_E_NO_SERVICE;

    EXPECT_EQ(manager->UpdateReaders(), 0x8010001Du);

    EXPECT_EQ(pcsc.trace, std::vector<std::string>{"establishContext"});
    EXPECT_EQ(manager->m_readerCount, 0u);
    EXPECT_TRUE(RestIsZero());
    // Without the service no reader can be seen: the user reads why, and what to do.
    EXPECT_EQ(messages.lines,
              (std::vector<std::string>{"Il servizio smart card (pcscd) non e' in esecuzione",
                                        "Per avviarlo: sudo systemctl start pcscd.socket"}));
    std::vector<LoggedRecord> records = StopAndReadLog();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "SCardEstablishContext error.");
    EXPECT_EQ(records[0].code, 0x8010001Du);
    EXPECT_EQ(records[0].continuation, SystemMessageText(0x8010001D));
}

TEST_F(UpdateReadersTest, StatusQueryFailureKeepsTheNamesWithoutStates) {
    pcsc.readers = {"Reader A", "Reader B"};
    pcsc.states["Reader B"] = SCARD_STATE_PRESENT;
    pcsc.atrs["Reader B"] = {0x3B, 0x00};
    // The fake fills the states before it fails; none of that may stay.
    pcsc.getStatusChange.otherwise = SCARD_E_READER_UNAVAILABLE;

    EXPECT_EQ(manager->UpdateReaders(), 0x80100017u);

    EXPECT_EQ(Names(), (std::vector<std::string>{"Reader A", "Reader B"}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(manager->m_readers[i].dwEventState, 0u);
        EXPECT_EQ(manager->m_readers[i].cbAtr, 0u);
    }
    const std::string systemText = SystemMessageText(0x80100017);
    ASSERT_FALSE(systemText.empty());
    EXPECT_EQ(messages.lines,
              std::vector<std::string>{"Errore nelle librerie del lettore: " + systemText});
    ExpectEveryHandleReturned();
    std::vector<LoggedRecord> records = StopAndReadLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().text, "SCardGetStatusChange error.");
    EXPECT_EQ(records.back().code, 0x80100017u);
    EXPECT_EQ(records.back().continuation, systemText);
}

TEST_F(UpdateReadersTest, EmptyListWithSuccessIsNoReader) {
    // An empty block, and a list holding only its final empty name.
    for (const std::string& raw : {std::string(), std::string(1, '\0')}) {
        SCOPED_TRACE(raw.size());
        pcsc.rawList = raw;
        pcsc.trace.clear();

        EXPECT_EQ(manager->UpdateReaders(), 0u);

        EXPECT_EQ(manager->m_readerCount, 0u);
        EXPECT_TRUE(RestIsZero());
        EXPECT_EQ(pcsc.getStatusChange.calls, 0);
        EXPECT_EQ(pcsc.trace, (std::vector<std::string>{"establishContext", "listReaders",
                                                        "freeMemory", "releaseContext"}));
    }
    EXPECT_TRUE(messages.lines.empty());
    ExpectEveryHandleReturned();
    std::vector<LoggedRecord> records = StopAndReadLog();
    ASSERT_EQ(records.size(), 2u);
    for (const LoggedRecord& record : records) {
        EXPECT_EQ(record.text, "No readers defined or found.");
        EXPECT_EQ(record.code, 0u);
    }
}

TEST_F(UpdateReadersTest, MalformedListsStopAtWhatIsSound) {
    using namespace std::string_literals;
    const std::string longName(70000, 'n');
    struct Case {
        std::string raw;
        std::vector<std::string> names;
    } cases[] = {
        {"Reader A\0Reader B"s, {"Reader A"}},                // last name lacks its zero byte
        {"Reader A\0Reader B\0"s, {"Reader A", "Reader B"}},  // no final empty name
        {"Reader A"s, {}},
        {"\0Reader A\0\0"s, {}},  // the empty name ends the list
        {longName + "\0\0"s, {longName}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 20));
        pcsc.rawList = c.raw;
        pcsc.readers = c.names;

        EXPECT_EQ(manager->UpdateReaders(), 0u);

        EXPECT_EQ(Names(), c.names);
        EXPECT_TRUE(RestIsZero());
        ExpectEveryHandleReturned();
    }
}

TEST_F(UpdateReadersTest, CallingTwiceLeavesOneCopyPerName) {
    pcsc.readers = {"Reader A", "Reader B"};
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    pcsc.readers = {"Reader C"};

    ASSERT_EQ(manager->UpdateReaders(), 0u);

    // The sanitizer build reports the first call's copies if they leak.
    EXPECT_EQ(Names(), std::vector<std::string>{"Reader C"});
    EXPECT_TRUE(RestIsZero());
    ExpectEveryHandleReturned();
}

}  // namespace
