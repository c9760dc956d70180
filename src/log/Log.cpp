#include "log/Log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "platform/AppendFile.h"
#include "platform/LocalTime.h"
#include "platform/SystemText.h"
#include "platform/ThreadInfo.h"

LogContext* g_logContext = nullptr;
int32_t g_logLevel = 0;

namespace {

constexpr const char* kLogName = "Lumidor{1.2.2.0}";
constexpr const char* kOutputName = "./Lumidor.log";
constexpr int32_t kSizeLimit = 10000000;
constexpr int32_t kTextWidth = 256;
constexpr int kBatchSize = 5;
constexpr int kFormatLimit = 65535;
constexpr auto kStopWait = std::chrono::milliseconds(2000);

// LogStop may run while other threads still log: a program that ends at once (on a signal,
// or when its window is closed during a hung driver call) stops the log from one thread
// while another may be anywhere. So the running context is read and written atomically,
// and LogStop frees it only once no LogMessage is under way.
std::atomic_ref<LogContext*> RunningContext() {
    return std::atomic_ref<LogContext*>(g_logContext);
}

std::atomic<int> g_messagesUnderWay{0};

class MessageUnderWay {
public:
    MessageUnderWay() { ++g_messagesUnderWay; }
    ~MessageUnderWay() { --g_messagesUnderWay; }
    MessageUnderWay(const MessageUnderWay&) = delete;
    MessageUnderWay& operator=(const MessageUnderWay&) = delete;
};

std::size_t LineLength(const LogContext* context) {
    return std::strlen(context->logName) + static_cast<std::size_t>(context->textWidth) + 78;
}

void FreeRecord(LogRecord* record) {
    delete[] record->text;
    delete record;
}

void CloseFile(LogContext* context) {
    CloseAppendFile(context->fileHandle);
    context->fileHandle = -1;
}

// Errors of the write itself are ignored: the log must never disturb the program.
void WriteLine(LogContext* context, std::size_t length) {
    AppendToFile(context->fileHandle, context->lineBuffer, length);
}

void BlankLineEnds(std::string& text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
}

void Rotate(LogContext* context) {
    CloseFile(context);
    std::string output = context->outputName;
    std::size_t slash = output.find_last_of("/\\");
    std::size_t dot = output.find_last_of('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string base = hasExtension ? output.substr(0, dot) : output;
    std::string extension = hasExtension ? output.substr(dot + 1) : std::string();
    auto generation = [&](int n) {
        std::string name = base + "_" + std::to_string(n);
        return hasExtension ? name + "." + extension : name;
    };
    std::remove(generation(3).c_str());
    std::rename(generation(2).c_str(), generation(3).c_str());
    std::rename(generation(1).c_str(), generation(2).c_str());
    std::rename(output.c_str(), generation(1).c_str());
}

}  // namespace

LogContext* LogCreateContext() {
    auto* context = new LogContext();
    std::snprintf(context->logName, sizeof context->logName, "%s", kLogName);
    std::snprintf(context->outputName, sizeof context->outputName, "%s", kOutputName);
    context->sizeLimit = kSizeLimit;
    context->textWidth = kTextWidth;
    context->fileHandle = -1;
    context->lineBuffer = new char[LineLength(context) + 1];
    context->queueHead = nullptr;
    context->queueTail = nullptr;
    context->queueCount = 0;
    context->stopRequested = 0;
    context->rotationRetrySize = 0;
    return context;
}

void LogDestroyContext(LogContext* context) {
    for (LogRecord* record = context->queueHead; record != nullptr;) {
        LogRecord* next = record->next;
        FreeRecord(record);
        record = next;
    }
    CloseFile(context);
    delete[] context->lineBuffer;
    delete context;
}

int LogStart() {
    if (RunningContext().load() != nullptr) {
        return -1;
    }
    LogContext* context = LogCreateContext();
    // Before the writer thread, which formats the records' local times.
    PrepareLocalTime();
    try {
        context->writerThread = std::thread(LogWriterThread, context);
    } catch (const std::system_error&) {
        LogDestroyContext(context);
        return 0;
    }
    LogPrepareFile(context);
    if (context->fileHandle >= 0) {
        std::size_t length = LineLength(context);
        std::memset(context->lineBuffer, '-', length - 2);
        context->lineBuffer[length - 2] = '\r';
        context->lineBuffer[length - 1] = '\n';
        context->lineBuffer[length] = '\0';
        WriteLine(context, length);
    }
    RunningContext().store(context);
    g_logLevel = 3;
    return 0;
}

void LogStop() {
    LogContext* context = RunningContext().exchange(nullptr);
    if (context == nullptr) {
        return;
    }
    // The writer drains the whole queue before it ends; only what is still unwritten
    // when the wait runs out is lost.
    context->stopRequested = 1;
    context->wakeSemaphore.release();
    if (!context->writerEnded.try_acquire_for(kStopWait)) {
        // Never free what a running writer may still touch: leak the context instead.
        context->writerThread.detach();
        return;
    }
    context->writerThread.join();
    // A LogMessage that took the context before it was cleared may still be using it. One
    // that starts now finds no context and leaves at once, so the count soon drops to 0.
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (g_messagesUnderWay != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return;  // the context is left to the process's end
        }
        std::this_thread::yield();
    }
    LogDestroyContext(context);
}

int LogMessage(int32_t code, uint32_t withSystemText, const char* source, const char* format, ...) {
    MessageUnderWay underWay;
    LogContext* context = RunningContext().load();
    if (context == nullptr) {
        return 0;
    }
    const WallClockTime now = WallClockNow();

    auto* record = new LogRecord();
    int countBefore = 0;
    {
        std::lock_guard<std::mutex> guard(context->queueLock);
        va_list arguments;
        va_start(arguments, format);
        int length =
            std::vsnprintf(context->formatBuffer, sizeof context->formatBuffer, format, arguments);
        va_end(arguments);
        if (length < 0) {
            length = 0;
            context->formatBuffer[0] = '\0';
        } else if (length > kFormatLimit) {
            length = kFormatLimit;
        }
        std::snprintf(record->sourceName, sizeof record->sourceName, "%-*.*s", 30, 30,
                      source != nullptr ? source : "");
        record->text = new char[static_cast<std::size_t>(length) + 1];
        std::memcpy(record->text, context->formatBuffer, static_cast<std::size_t>(length));
        record->text[length] = '\0';
        record->code = static_cast<uint32_t>(code);
        record->withSystemText = withSystemText;
        record->threadId = CurrentThreadId();
        record->seconds = now.seconds;
        record->milliseconds = now.milliseconds;
        record->next = nullptr;

        if (context->queueTail != nullptr) {
            context->queueTail->next = record;
        } else {
            context->queueHead = record;
        }
        context->queueTail = record;
        countBefore = context->queueCount;
        ++context->queueCount;
    }
    if (countBefore % kBatchSize == 0) {
        context->wakeSemaphore.release();
    }
    return 0;
}

int LogTakeBatch(LogContext* context, LogRecord** first) {
    for (;;) {
        if (context->stopRequested == 0) {
            context->wakeSemaphore.acquire();
        }
        int taken = 0;
        {
            std::lock_guard<std::mutex> guard(context->queueLock);
            if (context->queueHead != nullptr) {
                *first = context->queueHead;
                LogRecord* last = context->queueHead;
                taken = 1;
                while (taken < kBatchSize && last->next != nullptr) {
                    last = last->next;
                    ++taken;
                }
                context->queueHead = last->next;
                last->next = nullptr;
                context->queueCount -= taken;
                if (context->queueHead == nullptr) {
                    context->queueTail = nullptr;
                }
            }
        }
        if (taken > 0) {
            return taken;
        }
        if (context->stopRequested != 0) {
            return -1;
        }
    }
}

void LogWriterThread(LogContext* context) {
    LowerCurrentThreadPriority();
    LogRecord* record = nullptr;
    while (LogTakeBatch(context, &record) > 0) {
        while (record != nullptr) {
            LogRecord* next = record->next;
            LogWriteRecord(context, record);
            FreeRecord(record);
            record = next;
        }
    }
    context->writerEnded.release();
}

void LogPrepareFile(LogContext* context) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (context->fileHandle < 0) {
            context->fileHandle = OpenAppendFile(context->outputName);
            if (context->fileHandle < 0) {
                return;
            }
        }
        const int64_t size = AppendFileSize(context->fileHandle);
        if (context->sizeLimit <= 0 || size < context->sizeLimit) {
            context->rotationRetrySize = 0;
            return;
        }
        // After renames that failed (another process holds a generation open), append to
        // the over-size file and try again only once it has grown by another limit.
        if (context->rotationRetrySize > 0 && size < context->rotationRetrySize) {
            return;
        }
        if (attempt == 1) {
            context->rotationRetrySize = size + context->sizeLimit;
            return;
        }
        Rotate(context);
    }
}

void LogWriteRecord(LogContext* context, const LogRecord* record) {
    LogPrepareFile(context);

    std::string text = record->text;
    BlankLineEnds(text);
    std::string systemText;
    if (record->withSystemText != 0) {
        systemText = SystemMessageText(record->code);
        BlankLineEnds(systemText);
        if (systemText == "Unknown error") {
            systemText.clear();
        }
    }
    if (context->fileHandle < 0 || (text.empty() && systemText.empty())) {
        return;
    }

    const std::size_t width = static_cast<std::size_t>(context->textWidth);
    const int w = context->textWidth;
    const std::size_t bufferSize = LineLength(context) + 1;
    auto writeContinuation = [&](const char* piece) {
        int length = std::snprintf(context->lineBuffer, bufferSize,
                                   "|%23s|%s|%s|%.8x|%.8x|%-*.*s|\r\n", " ", context->logName,
                                   record->sourceName, record->threadId, record->code, w, w, piece);
        WriteLine(context, std::min(static_cast<std::size_t>(length), bufferSize - 1));
    };

    const std::tm local = LocalTime(record->seconds);
    int length = std::snprintf(context->lineBuffer, bufferSize,
                               "|%.2d/%.2d/%.4d %.2d:%.2d:%.2d.%.3d|%s|%s|%.8x|%.8x|%-*.*s|\r\n",
                               local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour,
                               local.tm_min, local.tm_sec, static_cast<int>(record->milliseconds),
                               context->logName, record->sourceName, record->threadId, record->code,
                               w, w, text.c_str());
    WriteLine(context, std::min(static_cast<std::size_t>(length), bufferSize - 1));

    for (std::size_t position = width; position < text.size(); position += width) {
        writeContinuation(text.c_str() + position);
    }
    for (std::size_t position = 0; position < systemText.size(); position += width) {
        writeContinuation(systemText.c_str() + position);
    }
}
