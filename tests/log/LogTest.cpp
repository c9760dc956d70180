#include "log/Log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/SystemText.h"
#include "support/CountOccurrences.h"
#include "support/TempDir.h"

namespace {

const std::string kLogName = "Lumidor{1.2.2.0}";
const std::string kDate = "|14/11/2023 22:13:20.042|";  // 1700000000 s and 42 ms in UTC
const std::string kNoDate = "|" + std::string(23, ' ') + "|";

std::string Column(const std::string& text, std::size_t width = 256) {
    return text + std::string(width - text.size(), ' ');
}

std::string Line(const std::string& date, const std::string& source, const std::string& code,
                 const std::string& text) {
    return date + kLogName + "|" + Column(source, 30) + "|00001234|" + code + "|" + Column(text) +
           "|\r\n";
}

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

// Writes records through LogWriteRecord on a context without a writer thread.
class LogLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        _putenv_s("TZ", "UTC");
        _tzset();
#else
        setenv("TZ", "UTC", 1);
        tzset();
#endif
        context = LogCreateContext();
    }
    void TearDown() override {
        LogDestroyContext(context);
    }

    std::string Write(uint32_t code, uint32_t withSystemText, const char* source,
                      const std::string& text) {
        LogRecord record{};
        record.code = code;
        record.withSystemText = withSystemText;
        record.threadId = 0x1234;
        std::snprintf(record.sourceName, sizeof record.sourceName, "%-*.*s", 30, 30, source);
        record.text = const_cast<char*>(text.c_str());
        record.seconds = 1700000000;
        record.milliseconds = 42;
        std::size_t before = ReadFile("Lumidor.log").size();
        LogWriteRecord(context, &record);
        return ReadFile("Lumidor.log").substr(before);
    }

    TempDir dir;
    LogContext* context = nullptr;
};

TEST_F(LogLayoutTest, ShortMessageIsOneLineWithFixedColumns) {
    EXPECT_EQ(
        Write(0, 0, "CSmartCardManager::FindDriver", "Card verified and running."),
        Line(kDate, "CSmartCardManager::FindDriver", "00000000", "Card verified and running."));
}

TEST_F(LogLayoutTest, LongSourceIsCutAtThirtyCharacters) {
    EXPECT_EQ(Write(0x8010000d, 0, "CSmartCardManager::CheckCardInReader", "x"),
              Line(kDate, "CSmartCardManager::CheckCardIn", "8010000d", "x"));
}

TEST_F(LogLayoutTest, MessageOf256CharactersFillsOneLine) {
    std::string text(256, 'a');
    EXPECT_EQ(Write(0, 0, "S", text), Line(kDate, "S", "00000000", text));
}

TEST_F(LogLayoutTest, MessageOf257CharactersContinuesOnASecondLine) {
    std::string text(256, 'a');
    EXPECT_EQ(Write(0, 0, "S", text + "b"),
              Line(kDate, "S", "00000000", text) + Line(kNoDate, "S", "00000000", "b"));
}

// The system's text for a code that has one everywhere, whatever its wording: the wording is
// the system text test's, and Wine's differs from Windows' own.
std::string SystemTextOf(uint32_t code) {
    std::string text = SystemMessageText(code);
    EXPECT_FALSE(text.empty()) << code;
    return text;
}

TEST_F(LogLayoutTest, SystemTextFollowsOnItsOwnLine) {
    EXPECT_EQ(Write(kErrorAccessDenied, 1, "S", "Module 'x.dll' could not be opened."),
              Line(kDate, "S", "00000005", "Module 'x.dll' could not be opened.") +
                  Line(kNoDate, "S", "00000005", SystemTextOf(kErrorAccessDenied)));
}

TEST_F(LogLayoutTest, EmptyMessageWithSystemTextHasABlankFirstLine) {
    EXPECT_EQ(Write(kErrorModuleNotFound, 1, "S", ""),
              Line(kDate, "S", "0000007e", "") +
                  Line(kNoDate, "S", "0000007e", SystemTextOf(kErrorModuleNotFound)));
}

TEST_F(LogLayoutTest, EmptyMessageWithoutSystemTextWritesNothing) {
    EXPECT_EQ(Write(0, 0, "S", ""), "");
    // A code without a text counts as no system text.
    EXPECT_EQ(Write(0x12345, 1, "S", ""), "");
}

TEST_F(LogLayoutTest, LineBreaksInTextBecomeBlanks) {
    EXPECT_EQ(Write(0, 0, "S", "state = 0x1 \r\n  flags = 0x2\n"),
              Line(kDate, "S", "00000000", "state = 0x1     flags = 0x2 "));
}

TEST_F(LogLayoutTest, CodeWithoutSystemTextIsWrittenWithoutOne) {
    EXPECT_EQ(Write(0x80100099, 1, "S", "m"), Line(kDate, "S", "80100099", "m"));
}

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { LogStop(); }
    TempDir dir;
};

TEST_F(LogFileTest, NothingIsWrittenBeforeStartOrAfterStop) {
    LogMessage(0, 0, "S", "before");
    EXPECT_FALSE(std::filesystem::exists("Lumidor.log"));
    ASSERT_EQ(LogStart(), 0);
    EXPECT_EQ(g_logLevel, 3);
    LogStop();
    EXPECT_EQ(g_logContext, nullptr);
    LogMessage(0, 0, "S", "after");
    std::string content = ReadFile("Lumidor.log");
    EXPECT_EQ(content, std::string(kLogName.size() + 256 + 76, '-') + "\r\n");
    EXPECT_EQ(g_logLevel, 3);
}

TEST_F(LogFileTest, SecondStartIsRefusedAndLeavesTheLogRunning) {
    ASSERT_EQ(LogStart(), 0);
    LogContext* running = g_logContext;
    EXPECT_EQ(LogStart(), -1);
    EXPECT_EQ(g_logContext, running);
    LogMessage(0, 0, "S", "still here");
    LogStop();
    EXPECT_EQ(CountOccurrences(ReadFile("Lumidor.log"), "still here"), 1u);
    EXPECT_EQ(CountOccurrences(ReadFile("Lumidor.log"), "-----\r\n"), 1u);
}

TEST_F(LogFileTest, StopWritesEveryRecordQueuedBeforeIt) {
    ASSERT_EQ(LogStart(), 0);
    for (int i = 0; i < 3000; ++i) {
        LogMessage(0, 0, "S", "record %05d", i);
    }
    LogStop();
    std::string content = ReadFile("Lumidor.log");
    EXPECT_EQ(CountOccurrences(content, "|record "), 3000u);
    EXPECT_NE(content.find("record 02999"), std::string::npos);
}

TEST_F(LogFileTest, LongMessageIsCutAt65535Characters) {
    ASSERT_EQ(LogStart(), 0);
    std::string text(70000, 'x');
    LogMessage(0, 0, "S", "%s", text.c_str());
    LogStop();
    std::vector<std::string> lines = SplitLines(ReadFile("Lumidor.log"));
    ASSERT_EQ(lines.size(), 1u + 256u);  // separator, then 65535 characters in lines of 256
    EXPECT_EQ(CountOccurrences(lines.back(), "x"), 65535u % 256u);
}

// Per thread, how many of its records ("thread T record I") the file holds; -1 for a thread
// whose records are not 0, 1, 2... in order, each once.
std::map<int, int> RecordsPerThread(const std::string& content) {
    std::map<int, int> next;
    for (const std::string& line : SplitLines(content)) {
        int t = -1;
        int i = -1;
        std::size_t at = line.find("|thread ");
        if (at == std::string::npos) {
            continue;
        }
        if (std::sscanf(line.c_str() + at, "|thread %d record %d", &t, &i) != 2 || next[t] < 0 ||
            i != next[t]) {
            next[t] = -1;
        } else {
            next[t] = i + 1;
        }
    }
    return next;
}

TEST_F(LogFileTest, ManyThreadsKeepEveryRecordOnceAndInOrder) {
    ASSERT_EQ(LogStart(), 0);
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                LogMessage(0, 0, "S", "thread %d record %d", t, i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    LogStop();

    std::map<int, int> records = RecordsPerThread(ReadFile("Lumidor.log"));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(records[t], kPerThread) << "thread " << t;
    }
}

TEST_F(LogFileTest, StopWhileOtherThreadsLogKeepsEveryRecordLoggedBeforeIt) {
    // As when a program ends at once on a signal while its other threads go on.
    ASSERT_EQ(LogStart(), 0);
    constexpr int kThreads = 4;
    constexpr int kPerThread = 3000;
    std::array<std::atomic<int>, kThreads> logged{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &logged] {
            for (int i = 0; i < kPerThread; ++i) {
                LogMessage(0, 0, "S", "thread %d record %d", t, i);
                logged[t] = i + 1;
            }
        });
    }
    auto fewest = [&] {
        int least = kPerThread;
        for (const std::atomic<int>& count : logged) {
            least = std::min(least, count.load());
        }
        return least;
    };
    while (fewest() < kPerThread / 6) {
        std::this_thread::yield();
    }
    std::array<int, kThreads> beforeStop{};
    for (int t = 0; t < kThreads; ++t) {
        beforeStop[t] = logged[t];
    }
    LogStop();
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::map<int, int> records = RecordsPerThread(ReadFile("Lumidor.log"));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_GE(records[t], beforeStop[t]) << "thread " << t;
    }
}

TEST_F(LogFileTest, SixRecordsBeforeTheWriterRunsWakeItTwiceAndComeInTwoBatches) {
    LogContext* context = LogCreateContext();
    g_logContext = context;
    for (int i = 1; i <= 6; ++i) {
        LogMessage(0, 0, "S", "record %d", i);
    }
    EXPECT_EQ(context->queueCount, 6);

    LogRecord* first = nullptr;
    ASSERT_EQ(LogTakeBatch(context, &first), 5);
    LogRecord* second = nullptr;
    ASSERT_EQ(LogTakeBatch(context, &second), 1);
    EXPECT_FALSE(context->wakeSemaphore.try_acquire());  // released exactly twice
    EXPECT_EQ(context->queueCount, 0);
    EXPECT_EQ(context->queueHead, nullptr);
    EXPECT_EQ(context->queueTail, nullptr);

    for (LogRecord* record : {first, second}) {
        while (record != nullptr) {
            LogRecord* next = record->next;
            LogWriteRecord(context, record);
            delete[] record->text;
            delete record;
            record = next;
        }
    }
    g_logContext = nullptr;
    LogDestroyContext(context);

    std::vector<std::string> lines = SplitLines(ReadFile("Lumidor.log"));
    ASSERT_EQ(lines.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(lines[i].find("|record " + std::to_string(i + 1) + " "), std::string::npos);
    }
}

TEST_F(LogFileTest, RotationShiftsEveryGenerationAndDropsTheOldest) {
    LogContext* context = LogCreateContext();
    context->sizeLimit = 1000;
    for (const char* name : {"Lumidor_1.log", "Lumidor_2.log", "Lumidor_3.log"}) {
        WriteFile(name, name);
    }
    WriteFile("Lumidor.log", std::string(1000, 'c'));
    LogPrepareFile(context);
    LogDestroyContext(context);

    EXPECT_EQ(ReadFile("Lumidor.log"), "");
    EXPECT_EQ(ReadFile("Lumidor_1.log"), std::string(1000, 'c'));
    EXPECT_EQ(ReadFile("Lumidor_2.log"), "Lumidor_1.log");
    EXPECT_EQ(ReadFile("Lumidor_3.log"), "Lumidor_2.log");
}

TEST_F(LogFileTest, RecordsRotateThroughAllGenerations) {
    ASSERT_EQ(LogStart(), 0);
    g_logContext->sizeLimit = 1000;  // set before any record reaches the writer
    for (int i = 0; i < 12; ++i) {
        LogMessage(0, 0, "S", "record %d", i);
    }
    LogStop();
    // Each record line is 350 bytes: three records fill a generation, the fourth starts
    // a new file. Records 0-2 (with the separator) fell off the end.
    EXPECT_NE(ReadFile("Lumidor.log").find("record 11 "), std::string::npos);
    EXPECT_NE(ReadFile("Lumidor_1.log").find("record 8 "), std::string::npos);
    EXPECT_NE(ReadFile("Lumidor_2.log").find("record 5 "), std::string::npos);
    EXPECT_NE(ReadFile("Lumidor_3.log").find("record 2 "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("Lumidor_4.log"));
}

TEST_F(LogFileTest, LogOverTheLimitAtStartIsRotatedBeforeTheSeparator) {
    WriteFile("Lumidor.log", "old run\r\n");
    ASSERT_EQ(truncate("Lumidor.log", 10000000), 0);
    ASSERT_EQ(LogStart(), 0);
    LogStop();
    EXPECT_EQ(std::filesystem::file_size("Lumidor_1.log"), 10000000u);
    EXPECT_EQ(ReadFile("Lumidor.log"), std::string(kLogName.size() + 256 + 76, '-') + "\r\n");
}

TEST_F(LogFileTest, FailedRotationAppendsAndRetriesOnlyAfterAnotherLimit) {
    // Generations that are non-empty directories cannot be removed or replaced by rename.
    for (const char* name : {"Lumidor_1.log", "Lumidor_2.log", "Lumidor_3.log"}) {
        std::filesystem::create_directory(name);
        WriteFile(std::string(name) + "/keep", "x");
    }
    LogContext* context = LogCreateContext();
    context->sizeLimit = 1000;
    WriteFile("Lumidor.log", std::string(1000, 'c'));

    LogPrepareFile(context);
    ASSERT_GE(context->fileHandle, 0);
    EXPECT_EQ(context->rotationRetrySize, 2000);
    // Below the retry size no rename is tried: removing the blockers changes nothing yet.
    for (const char* name : {"Lumidor_1.log", "Lumidor_2.log", "Lumidor_3.log"}) {
        std::filesystem::remove_all(name);
    }
    ASSERT_EQ(write(context->fileHandle, std::string(500, 'd').data(), 500), 500);
    LogPrepareFile(context);
    EXPECT_FALSE(std::filesystem::exists("Lumidor_1.log"));
    EXPECT_EQ(std::filesystem::file_size("Lumidor.log"), 1500u);

    ASSERT_EQ(write(context->fileHandle, std::string(500, 'd').data(), 500), 500);
    LogPrepareFile(context);
    EXPECT_EQ(std::filesystem::file_size("Lumidor_1.log"), 2000u);
    EXPECT_EQ(std::filesystem::file_size("Lumidor.log"), 0u);
    LogDestroyContext(context);
}

TEST_F(LogFileTest, UnopenableFileDropsRecordsAndRecoversLater) {
    std::filesystem::create_directory("Lumidor.log");
    ASSERT_EQ(LogStart(), 0);
    LogMessage(0, 0, "S", "lost");
    // Let the writer try (and fail) before the file becomes available.
    LogStop();
    std::filesystem::remove("Lumidor.log");
    ASSERT_EQ(LogStart(), 0);
    LogMessage(0, 0, "S", "kept");
    LogStop();
    std::string content = ReadFile("Lumidor.log");
    EXPECT_EQ(content.find("lost"), std::string::npos);
    EXPECT_NE(content.find("kept"), std::string::npos);
}

// FIFOs and /dev/null are POSIX's.
#ifndef _WIN32
TEST_F(LogFileTest, OnlyARegularFileIsWrittenAndNothingElseBlocks) {
    struct Case {
        const char* what;
        std::function<void()> make;
    };
    int reader = -1;
    const Case cases[] = {
        {"FIFO without a reader", [] { ASSERT_EQ(mkfifo("Lumidor.log", 0600), 0); }},
        {"FIFO with a reader",
         [&] {
             ASSERT_EQ(mkfifo("Lumidor.log", 0600), 0);
             reader = open("Lumidor.log", O_RDONLY | O_NONBLOCK);
             ASSERT_GE(reader, 0);
         }},
        {"link to a device", [] { std::filesystem::create_symlink("/dev/null", "Lumidor.log"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        // The program goes on without a log.
        ASSERT_EQ(LogStart(), 0);
        LogMessage(0, 0, "S", "nowhere");
        LogStop();
        EXPECT_FALSE(std::filesystem::is_regular_file("Lumidor.log"));
        if (reader >= 0) {
            char byte = 0;
            EXPECT_LE(read(reader, &byte, 1), 0) << "something was written into the FIFO";
            close(reader);
            reader = -1;
        }
        std::filesystem::remove("Lumidor.log");
    }
}
#endif

}  // namespace
