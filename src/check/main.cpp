// lumidor-check: the window's card check as a report, for consoles, scripts and support
// staff without a display. `lumidor-check --help` tells its options and exit statuses.
//
// Lists the readers, checks the chosen reader (or the first one holding a card) and reports
// what the window would show, the token's certificates included, as text or as one JSON
// document. With --test, after a successful check, it reads the PIN as one line from
// standard input (never from the command line or the environment) and runs the signing test
// on the checked reader. 128 + the signal's number when SIGINT, SIGTERM, SIGHUP or SIGQUIT
// ended it.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "check/CheckArguments.h"
#include "check/CheckReport.h"
#include "check/PinInput.h"
#include "check/ReportJson.h"
#include "check/ReportText.h"
#include "check/SignalExit.h"
#include "check/VersionText.h"
#include "common/MessageList.h"
#include "manager/SmartCardManager.h"

namespace {

constexpr int kUsageError = 2;

void PrintError(const std::string& text) {
    std::fprintf(stderr, "lumidor-check: %s\n", text.c_str());
}

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// The first reader holding a card; when none does, the first reader, so that the report
// says that no card was found rather than that no reader was given. -1 without readers.
int FirstReaderWithCard(const CSmartCardManager& manager) {
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        if ((manager.m_readers[i].dwEventState & SCARD_STATE_PRESENT) != 0) {
            return static_cast<int>(i);
        }
    }
    return manager.m_readerCount > 0 ? 0 : -1;
}

// The signing test after a successful check: the PIN line, then the test. Its status lines
// and result go into `report`; a usage error (no PIN, empty PIN) is returned as such.
std::optional<int> RunSigningTest(CSmartCardManager& manager, MemoryMessageList& messages,
                                  CheckReport& report) {
    SecretString pin;
    switch (ReadPin(pin)) {
        case PinLine::Missing:
            PrintError("nessun PIN sullo standard input");
            return kUsageError;
        case PinLine::Empty:
            PrintError("PIN vuoto: nessun test eseguito.");
            return kUsageError;
        case PinLine::Typed:
            break;
    }
    const std::size_t before = messages.lines.size();
    const uint32_t result = manager.TestCard(report.checkedReader, std::move(pin));
    report.test = ReportTest(
        std::vector<std::string>(messages.lines.begin() + static_cast<std::ptrdiff_t>(before),
                                 messages.lines.end()),
        result);
    return std::nullopt;
}

int Run(const CheckOptions& options) {
    CSmartCardManager manager;
    MemoryMessageList messages;
    manager.m_statusList = &messages;
    // The driver started by the check serves the test too: a card's driver may take seconds
    // to start. It is finalised when the run ends.
    const HeldModulesScope heldModules = manager.HoldModules();
    const uint32_t listed = manager.UpdateReaders();

    int readerIndex = options.readerIndex;
    if (!options.readerName.empty()) {
        readerIndex = manager.ReaderPosition(options.readerName);
        if (readerIndex < 0) {
            PrintError("nessun lettore di nome '" + options.readerName + "'");
        }
    } else if (readerIndex < 0) {
        readerIndex = FirstReaderWithCard(manager);
    }
    // Without the PC/SC service there is nothing to check: its absence is the result.
    const uint32_t result = listed == kNoService ? listed : manager.CheckCardInReader(readerIndex);
    CheckReport report = ReportCheck(manager, messages.lines, readerIndex, result);

    const bool text = !options.json && !options.quiet;
    if (text) {
        Print(CheckText(report));
    }
    if (options.test && result == 0) {
        // What the report says so far is out before the PIN prompt.
        std::fflush(stdout);
        if (const std::optional<int> failed = RunSigningTest(manager, messages, report)) {
            return *failed;
        }
        if (text) {
            Print(TestText(report));
        }
    }
    if (options.json) {
        Print(ReportJson(report));
    } else if (options.quiet) {
        Print(VerdictLine(report) + "\n");
    }
    return ExitStatus(report);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any other thread exists, so that every thread inherits the blocked signals.
    EndOnSignals();
    const std::optional<CheckOptions> options = ParseArguments(argc, argv);
    if (!options) {
        PrintError("argomenti non validi");
        std::fputs(UsageText(), stderr);
        return kUsageError;
    }
    if (options->help) {
        std::fputs(UsageText(), stdout);
        return EXIT_SUCCESS;
    }
    if (options->version) {
        const std::optional<std::string> version = VersionText();
        if (!version) {
            PrintError("il catalogo incorporato non ha una \"version\" leggibile");
            return kUsageError;
        }
        Print(*version);
        return EXIT_SUCCESS;
    }
    try {
        return Run(*options);
    } catch (const std::exception& error) {
        // The catalogue is missing or unusable; its messages are in the log.
        PrintError(error.what());
        return kUsageError;
    }
}
