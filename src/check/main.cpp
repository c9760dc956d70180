// lumidor-check: the window's card check as plain text, for consoles, scripts and support
// staff without a display.
//
//     lumidor-check [--test] [reader-position]
//
// Lists the readers, checks the given reader (or the first one holding a card) and prints
// what the window would show, the token's certificates included. With --test, after a successful check, it reads the PIN as one
// line from standard input (never from the command line or the environment) and runs the
// signing test on the checked reader. Exit status 0 only when the check, and the test when
// asked for, succeeded; 2 for a usage error, a missing or empty PIN or an unusable catalogue;
// 128 + the signal's number when SIGINT, SIGTERM, SIGHUP or SIGQUIT ended it.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "check/PinInput.h"
#include "check/SignalExit.h"
#include "manager/MessageList.h"
#include "manager/SmartCardManager.h"
#include "manager/TokenCertificates.h"
#include "platform/Wipe.h"

namespace {

constexpr int kUsageError = 2;

void PrintUsage(const char* program) {
    std::fprintf(stderr, "uso: %s [--test] [posizione-lettore]\n", program);
}

// The reader position from the command line (-1 when none was given) and the test switch.
bool ParseArguments(int argc, char** argv, int* readerIndex, bool* test) {
    *readerIndex = -1;
    *test = false;
    bool positionGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--test" && !*test) {
            *test = true;
            continue;
        }
        char* end = nullptr;
        long value = std::strtol(argv[i], &end, 10);
        if (positionGiven || end == argv[i] || *end != '\0' || value < 0 || value >= kMaxReaders) {
            return false;
        }
        *readerIndex = static_cast<int>(value);
        positionGiven = true;
    }
    return true;
}

void PrintField(const char* name, const std::string& value) {
    std::printf("%-18s %s\n", name, value.c_str());
}

void PrintCertificates(const std::vector<TokenCertificate>& certificates) {
    std::printf("\nCertificati:\n");
    if (certificates.empty()) {
        std::printf("  (nessuno)\n");
    }
    for (const TokenCertificate& certificate : certificates) {
        const CertificateContent& content = certificate.content;
        std::printf("  %s\n", CertificateName(certificate).c_str());
        PrintField("   Etichetta", certificate.label);
        PrintField("   ID", certificate.id);
        PrintField("   Stato", CertificateStateText(content.state));
        if (content.state == CertificateState::Unreadable) {
            continue;
        }
        PrintField("   Titolare", content.subjectCommonName);
        PrintField("   Organizzazione", content.subjectOrganization);
        PrintField("   Emittente", content.issuerCommonName);
        PrintField("   Valido dal", LocalDate(content.validFrom));
        PrintField("   Valido fino al", LocalDate(content.validUntil));
        PrintField("   Utilizzo chiave", content.keyUsage);
        PrintField("   Chiave privata", certificate.hasPrivateKey ? "presente" : "assente");
    }
}

// The first reader holding a card; when none does, the first reader, so that the report
// says that no card was found rather than that no reader was given. -1 without readers.
int ReaderToCheck(const CSmartCardManager& manager) {
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        if ((manager.m_readers[i].dwEventState & SCARD_STATE_PRESENT) != 0) {
            return static_cast<int>(i);
        }
    }
    return manager.m_readerCount > 0 ? 0 : -1;
}

int Run(int readerIndex, bool test) {
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
        readerIndex = ReaderToCheck(manager);
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
    PrintCertificates(manager.m_certificates);

    std::printf("\nMessaggi:\n");
    for (const std::string& line : messages.lines) {
        std::printf("  %s\n", line.c_str());
    }
    std::printf("\nRisultato: 0x%08X\n", result);
    if (result != 0 || !test) {
        return result == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
    }

    std::fflush(stdout);
    std::string pin;
    WipeOnExit wipePin(pin);
    switch (ReadPin(pin)) {
        case PinLine::Missing:
            std::fprintf(stderr, "lumidor-check: nessun PIN sullo standard input\n");
            return kUsageError;
        case PinLine::Empty:
            std::fprintf(stderr, "lumidor-check: PIN vuoto: nessun test eseguito.\n");
            return kUsageError;
        case PinLine::Typed:
            break;
    }
    const std::size_t before = messages.lines.size();
    // TestCard's own copy is the only one it gets, and TestCard wipes it.
    uint32_t testResult = manager.TestCard(readerIndex, std::move(pin));

    std::printf("\nTest di firma:\n");
    for (std::size_t i = before; i < messages.lines.size(); ++i) {
        std::printf("  %s\n", messages.lines[i].c_str());
    }
    std::printf("\nRisultato del test: 0x%08X\n", testResult);
    return testResult == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any other thread exists, so that every thread inherits the blocked signals.
    EndOnSignals();
    int readerIndex = -1;
    bool test = false;
    if (!ParseArguments(argc, argv, &readerIndex, &test)) {
        PrintUsage(argv[0]);
        return kUsageError;
    }
    try {
        return Run(readerIndex, test);
    } catch (const std::exception& error) {
        // The catalogue is missing or unusable; its messages are in the log.
        std::fprintf(stderr, "lumidor-check: %s\n", error.what());
        return kUsageError;
    }
}
