// lumidor-check: the window's card check as plain text, for consoles, scripts and support
// staff without a display.
//
//     lumidor-check [reader-position]
//
// Lists the readers, checks the given reader (or the first one holding a card) and prints
// what the window would show. Exit status 0 only when the check succeeded.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "manager/MessageList.h"
#include "manager/SmartCardManager.h"

namespace {

constexpr int kUsageError = 2;

void PrintUsage(const char* program) {
    std::fprintf(stderr, "uso: %s [posizione-lettore]\n", program);
}

// The reader position from the command line, or -1 when none was given.
bool ParseArguments(int argc, char** argv, int* readerIndex) {
    *readerIndex = -1;
    if (argc > 2) {
        return false;
    }
    if (argc == 2) {
        char* end = nullptr;
        long value = std::strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || value < 0 || value >= kMaxReaders) {
            return false;
        }
        *readerIndex = static_cast<int>(value);
    }
    return true;
}

void PrintField(const char* name, const std::string& value) {
    std::printf("%-18s %s\n", name, value.c_str());
}

int FirstReaderWithCard(const CSmartCardManager& manager) {
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        if ((manager.m_readers[i].dwEventState & SCARD_STATE_PRESENT) != 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int Run(int readerIndex) {
    CSmartCardManager manager;
    MemoryMessageList messages;
    manager.m_statusList = &messages;
    manager.UpdateReaders();

    std::printf("Lettori:\n");
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        const SCARD_READERSTATE& reader = manager.m_readers[i];
        bool present = (reader.dwEventState & SCARD_STATE_PRESENT) != 0;
        std::printf("  %u  %-40s stato 0x%08lX%s\n", i, reader.szReader,
                    static_cast<unsigned long>(reader.dwEventState),
                    present ? "  carta presente" : "");
    }
    if (manager.m_readerCount == 0) {
        std::printf("  (nessuno)\n");
    }

    if (readerIndex < 0) {
        readerIndex = FirstReaderWithCard(manager);
    }
    uint32_t result = manager.CheckCardInReader(readerIndex);

    std::printf("\n");
    PrintField("Lettore", manager.m_readerName);
    PrintField("ATR carta", manager.m_atr);
    PrintField("Driver abbinati", manager.m_cardDrivers);
    std::string loaded;
    for (const std::string& driver : manager.m_drivers) {
        loaded += (loaded.empty() ? "" : ", ") + driver;
    }
    PrintField("Driver caricati", loaded);
    PrintField("Driver in uso", manager.m_driverInUse);
    PrintField("Posizione driver", manager.m_driverPath);
    PrintField("Versione driver", manager.m_driverVersion);
    TokenDetails token = manager.GetTokenDetails();
    PrintField("Etichetta token", token.label);
    PrintField("Numero seriale", token.serialNumber);

    std::printf("\nMessaggi:\n");
    for (const std::string& line : messages.lines) {
        std::printf("  %s\n", line.c_str());
    }
    std::printf("\nRisultato: 0x%08X\n", result);
    return result == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    int readerIndex = -1;
    if (!ParseArguments(argc, argv, &readerIndex)) {
        PrintUsage(argv[0]);
        return kUsageError;
    }
    try {
        return Run(readerIndex);
    } catch (const std::exception& error) {
        // The catalogue is missing or unusable; its messages are in the log.
        std::fprintf(stderr, "lumidor-check: %s\n", error.what());
        return kUsageError;
    }
}
