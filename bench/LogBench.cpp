// Measures what a caller pays for one log record, and how many records per second reach
// the file, for Lumidor's log and for spdlog's asynchronous file logger.
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "log/Log.h"

namespace {

// A bounded run: Lumidor's queue is unbounded, so the caller benchmark must not outrun the
// writer by millions of records.
constexpr int kCallerIterations = 200000;
constexpr int kThroughputRecords = 200000;

std::string BenchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumidor-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    return pattern;
}

const std::string& Directory() {
    static const std::string directory = BenchDirectory();
    return directory;
}

void LumidorCaller(benchmark::State& state) {
    if (state.thread_index() == 0) {
        std::filesystem::current_path(Directory());
        std::filesystem::remove("Lumidor.log");
        LogStart();
    }
    int i = 0;
    for (auto _ : state) {
        LogMessage(0, 0, "CSmartCardManager::FindDriver", "Try loading '%s' module... %d",
                   "libbit4xpki.so", ++i);
    }
    if (state.thread_index() == 0) {
        LogStop();
    }
}
BENCHMARK(LumidorCaller)->Iterations(kCallerIterations)->Threads(1)->Threads(4)->UseRealTime();

std::shared_ptr<spdlog::logger> MakeSpdlog() {
    std::string path = Directory() + "/spdlog.log";
    std::filesystem::remove(path);
    spdlog::init_thread_pool(8192, 1);
    return spdlog::basic_logger_mt<spdlog::async_factory>("bench", path);
}

void SpdlogCaller(benchmark::State& state) {
    static std::shared_ptr<spdlog::logger> logger;
    if (state.thread_index() == 0) {
        logger = MakeSpdlog();
    }
    int i = 0;
    for (auto _ : state) {
        logger->info("Try loading '{}' module... {}", "libbit4xpki.so", ++i);
    }
    if (state.thread_index() == 0) {
        logger.reset();
        spdlog::drop_all();
        spdlog::shutdown();
    }
}
BENCHMARK(SpdlogCaller)->Iterations(kCallerIterations)->Threads(1)->Threads(4)->UseRealTime();

// From the first record queued until the last is in the file.
void LumidorThroughput(benchmark::State& state) {
    std::filesystem::current_path(Directory());
    for (auto _ : state) {
        std::filesystem::remove("Lumidor.log");
        LogStart();
        for (int i = 0; i < kThroughputRecords; ++i) {
            LogMessage(0, 0, "CSmartCardManager::FindDriver", "Try loading '%s' module... %d",
                       "libbit4xpki.so", i);
        }
        LogStop();
    }
    state.SetItemsProcessed(state.iterations() * kThroughputRecords);
}
BENCHMARK(LumidorThroughput)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void SpdlogThroughput(benchmark::State& state) {
    for (auto _ : state) {
        auto logger = MakeSpdlog();
        for (int i = 0; i < kThroughputRecords; ++i) {
            logger->info("Try loading '{}' module... {}", "libbit4xpki.so", i);
        }
        logger.reset();
        spdlog::drop_all();
        spdlog::shutdown();  // joins the worker after it has written the queue
    }
    state.SetItemsProcessed(state.iterations() * kThroughputRecords);
}
BENCHMARK(SpdlogThroughput)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
