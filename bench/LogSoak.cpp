// A soak of the diagnostic log: 8 threads queue 125,000 records each as fast as they can.
// Afterwards the file must hold every record exactly once, each thread's records in the
// order it queued them, and be exactly as large as that many fixed-width lines. Prints the
// figures; exits 1 when a check fails. Runs in a fresh temporary directory.
//
//     ./build/bench/log_soak [threads] [records-per-thread]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log/Log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kNoProgressBound = std::chrono::seconds(10);

std::string FreshDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumidor-soak-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

void Queue(int thread, long records) {
    for (long n = 0; n < records; ++n) {
        LogMessage(0, 0, "LogSoak", "soak thread %d record %ld", thread, n);
    }
}

int QueuedRecords(LogContext* context) {
    std::lock_guard<std::mutex> guard(context->queueLock);
    return context->queueCount;
}

// Waits until the writer has taken every queued record, so that the stop's bounded wait is
// not what the soak measures. False when the queue stopped shrinking.
bool WaitForDrain(LogContext* context) {
    int last = QueuedRecords(context);
    auto lastProgress = Clock::now();
    while (last > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = QueuedRecords(context);
        if (now < last) {
            last = now;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > kNoProgressBound) {
            return false;
        }
    }
    return true;
}

struct Verdict {
    long lines = 0;
    long records = 0;
    long outOfOrder = 0;
    long foreign = 0;
    std::vector<long> next;  // per thread: the record number expected next
};

// Reads the file line by line; the first line is the separator written at start.
Verdict Verify(const std::string& path, int threads, std::size_t* lineLength) {
    Verdict verdict;
    verdict.next.assign(static_cast<std::size_t>(threads), 0);
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        if (++verdict.lines == 1) {
            *lineLength = line.size() + 1;
            continue;
        }
        const std::size_t at = line.find("soak thread ");
        int thread = -1;
        long record = -1;
        if (at == std::string::npos ||
            std::sscanf(line.c_str() + at, "soak thread %d record %ld", &thread, &record) != 2 ||
            thread < 0 || thread >= threads) {
            ++verdict.foreign;
            continue;
        }
        ++verdict.records;
        long& expected = verdict.next[static_cast<std::size_t>(thread)];
        if (record != expected) {
            ++verdict.outOfOrder;
        }
        expected = record + 1;
    }
    return verdict;
}

}  // namespace

int main(int argc, char** argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 8;
    const long perThread = argc > 2 ? std::atol(argv[2]) : 125000;
    const long total = threads * perThread;
    const std::string directory = FreshDirectory();
    std::filesystem::current_path(directory);

    if (LogStart() != 0 || g_logContext == nullptr) {
        std::fprintf(stderr, "the log did not start\n");
        return 1;
    }
    // Rotation would move the oldest records out of reach by design: the soak keeps one file.
    // Set before the first record, which the writer reads only after it is queued.
    LogContext* context = g_logContext;
    context->sizeLimit = 0;

    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(Queue, t, perThread);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    const auto queued = Clock::now();
    const bool drained = WaitForDrain(context);
    const auto written = Clock::now();
    LogStop();

    std::size_t lineLength = 0;
    const std::string path = directory + "/Lumidor.log";
    const Verdict verdict = Verify(path, threads, &lineLength);
    const auto size = std::filesystem::file_size(path);
    const auto expectedSize = static_cast<std::uintmax_t>(total + 1) * lineLength;
    long complete = 0;
    for (long next : verdict.next) {
        complete += next == perThread ? 1 : 0;
    }

    std::printf("threads %d x records %ld = %ld\n", threads, perThread, total);
    std::printf("queued in %.3f s (%.0f records/s for the callers)\n", Seconds(queued - start),
                static_cast<double>(total) / Seconds(queued - start));
    std::printf("written in %.3f s (%.0f records/s to the file)%s\n", Seconds(written - start),
                static_cast<double>(total) / Seconds(written - start),
                drained ? "" : ", the queue stopped draining");
    std::printf("records in the file %ld (lost %ld), out of order %ld, other lines %ld\n",
                verdict.records, total - verdict.records, verdict.outOfOrder, verdict.foreign);
    std::printf("file size %ju bytes, expected %ju (%zu-byte lines)\n",
                static_cast<std::uintmax_t>(size), expectedSize, lineLength);
    const bool passed = drained && verdict.records == total && verdict.outOfOrder == 0 &&
                        verdict.foreign == 0 && complete == threads && size == expectedSize;
    std::printf("%s\n", passed ? "soak passed" : "soak FAILED");
    std::filesystem::current_path("/");
    std::filesystem::remove_all(directory);
    return passed ? 0 : 1;
}
