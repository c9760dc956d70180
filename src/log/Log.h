#pragma once

// The process-wide diagnostic log: callers queue records, one writer thread writes them as
// fixed-column lines into ./Lumidor.log, which is rotated by size into three generations.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <semaphore>
#include <thread>

struct LogRecord {
    LogRecord* next;
    uint32_t code;
    uint32_t withSystemText;
    uint32_t threadId;
    char sourceName[31];
    char* text;
    int64_t seconds;
    uint16_t milliseconds;
};

struct LogContext {
    char logName[260];
    char outputName[260];
    int32_t sizeLimit;
    int32_t textWidth;
    int fileHandle;
    char formatBuffer[65536];
    char* lineBuffer;
    std::mutex queueLock;
    std::counting_semaphore<0x7fffffff> wakeSemaphore{0};
    std::thread writerThread;
    LogRecord* queueHead;
    LogRecord* queueTail;
    int32_t queueCount;
    std::atomic<uint32_t> stopRequested;
    // Writer side: the size from which rotation is tried again after renames failed.
    int64_t rotationRetrySize;
    // Released by the writer as its last action, so that LogStop can wait with a bound.
    std::binary_semaphore writerEnded{0};
};

extern LogContext* g_logContext;
extern int32_t g_logLevel;

// The formats are checked as the formatter reads them: on mingw-w64 libstdc++'s std::vsnprintf
// is mingw's own C99 one (%zu, %lld), not the Microsoft runtime's that "printf" stands for.
#ifdef __MINGW32__
#define LUMIDOR_LOG_FORMAT gnu_printf
#else
#define LUMIDOR_LOG_FORMAT printf
#endif

int LogStart();
void LogStop();
int LogMessage(int32_t code, uint32_t withSystemText, const char* source, const char* format, ...)
    __attribute__((format(LUMIDOR_LOG_FORMAT, 4, 5)));

// LogMessage at a call site that the log level guards, as every call site is: the arguments
// are not even evaluated when the level asks for no records.
#define LOG_MESSAGE(code, withSystemText, source, ...)                   \
    do {                                                                 \
        if (g_logLevel >= 1)                                             \
            LogMessage((code), (withSystemText), (source), __VA_ARGS__); \
    } while (false)

// The pieces of the log, for the log's own tests. A context made by LogCreateContext has
// no writer thread and no open file; LogDestroyContext frees it with what is still queued.
LogContext* LogCreateContext();
void LogDestroyContext(LogContext* context);
// Takes the next batch (at most 5 records); -1 when the writer is to stop.
int LogTakeBatch(LogContext* context, LogRecord** first);
void LogWriterThread(LogContext* context);
void LogPrepareFile(LogContext* context);
void LogWriteRecord(LogContext* context, const LogRecord* record);
