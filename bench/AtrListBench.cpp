// The lookup of a card in the system's ATR list (pcsc-tools' smartcard_list.txt), as the check
// of a card the catalogue does not know makes it: an ATR the list does not know (every pattern
// tried) and one it knows. Not a test.

#include <benchmark/benchmark.h>

#include <string>

#include "catalogue/SystemAtrList.h"
#include "platform/ProgramFiles.h"

namespace {

void LookUp(benchmark::State& state, const char* atr) {
    const std::string path = SystemAtrListPath();
    for (auto _ : state) {
        AtrListLookup lookup = LookUpAtrList(path, atr);
        benchmark::DoNotOptimize(lookup);
        if (lookup.outcome == AtrListOutcome::Missing) {
            state.SkipWithError("no system ATR list (pcsc-tools is not installed)");
            break;
        }
    }
}

void BM_UnknownAtr(benchmark::State& state) {
    LookUp(state, "3B8880014C554D4944454D4F17");
}

void BM_OpenPgpCardAtr(benchmark::State& state) {
    LookUp(state, "3BDA18FF81B1FE751F030031F573C001600090001C");
}

}  // namespace

BENCHMARK(BM_UnknownAtr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenPgpCardAtr)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
