// One manager checking the card in one reader many times, as the window does over a working
// day. Prints the time of each whole check (median, fastest, slowest), how many succeeded,
// and the process's open descriptors and sockets after the first and the last check; then
// runs COMMAND, when given, while the manager still lives, and prints its exit status. Not a
// test: bench/repeated_checks.py runs it on the rig with the virtual OpenPGP card.
//
//     repeated_checks READER COUNT [COMMAND]

#include <sys/wait.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "manager/SmartCardManager.h"
#include "support/OpenDescriptors.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: repeated_checks READER COUNT [COMMAND]\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    CSmartCardManager manager;
    manager.UpdateReaders();
    const int reader = manager.ReaderPosition(argv[1]);
    if (reader < 0 || count < 1) {
        std::fprintf(stderr, "no reader '%s', or no count\n", argv[1]);
        return 2;
    }
    std::vector<double> milliseconds;
    int succeeded = 0;
    uint32_t firstFailure = 0;
    int firstFailureAt = 0;
    OpenDescriptors afterFirst;
    for (int i = 1; i <= count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const uint32_t result = manager.CheckCardInReader(reader);
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        succeeded += result == 0 ? 1 : 0;
        if (result != 0 && firstFailureAt == 0) {
            firstFailure = result;
            firstFailureAt = i;
        }
        if (i == 1) {
            afterFirst = CountOpenDescriptors();
        }
    }
    const OpenDescriptors afterLast = CountOpenDescriptors();
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("checks %d, succeeded %d", count, succeeded);
    if (firstFailureAt != 0) {
        std::printf(", first failure 0x%08X at check %d", firstFailure, firstFailureAt);
    }
    std::printf("\nper check: median %.1f ms, fastest %.1f ms, slowest %.1f ms\n",
                milliseconds[milliseconds.size() / 2], milliseconds.front(), milliseconds.back());
    std::printf("after the first check: %d descriptors, %d sockets\n", afterFirst.all,
                afterFirst.sockets);
    std::printf("after the last check:  %d descriptors, %d sockets\n", afterLast.all,
                afterLast.sockets);
    if (argc == 4) {
        std::fflush(stdout);
        std::printf("'%s' with the manager alive: exit status %d\n", argv[3],
                    WEXITSTATUS(std::system(argv[3])));
    }
    return 0;
}
