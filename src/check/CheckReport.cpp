#include "check/CheckReport.h"

#include <memory>

#include "common/CleanText.h"
#include "common/Hex.h"

namespace {

constexpr int kFailed = 1;
constexpr int kNoReader = 3;
constexpr int kNoCard = 4;

struct StateFlag {
    uint32_t bit;
    const char* name;
};

constexpr StateFlag kStateFlags[] = {
    {SCARD_STATE_IGNORE, "SCARD_STATE_IGNORE"},
    {SCARD_STATE_CHANGED, "SCARD_STATE_CHANGED"},
    {SCARD_STATE_UNKNOWN, "SCARD_STATE_UNKNOWN"},
    {SCARD_STATE_UNAVAILABLE, "SCARD_STATE_UNAVAILABLE"},
    {SCARD_STATE_EMPTY, "SCARD_STATE_EMPTY"},
    {SCARD_STATE_PRESENT, "SCARD_STATE_PRESENT"},
    {SCARD_STATE_ATRMATCH, "SCARD_STATE_ATRMATCH"},
    {SCARD_STATE_EXCLUSIVE, "SCARD_STATE_EXCLUSIVE"},
    {SCARD_STATE_INUSE, "SCARD_STATE_INUSE"},
    {SCARD_STATE_MUTE, "SCARD_STATE_MUTE"},
    {SCARD_STATE_UNPOWERED, "SCARD_STATE_UNPOWERED"},
};

}  // namespace

std::vector<ReaderEntry> ReadReaderTable(const CSmartCardManager& manager) {
    std::vector<ReaderEntry> readers;
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        const SCARD_READERSTATE& reader = manager.m_readers[i];
        readers.push_back({CleanText(reader.szReader != nullptr ? reader.szReader : ""),
                           static_cast<uint32_t>(reader.dwEventState)});
    }
    return readers;
}

CheckReport ReportCheck(const CSmartCardManager& manager, const std::vector<std::string>& messages,
                        int checkedReader, uint32_t result) {
    const CardView view = manager.View();
    CheckReport report;
    report.readers = ReadReaderTable(manager);
    if (checkedReader >= 0 && static_cast<std::size_t>(checkedReader) < report.readers.size()) {
        report.checkedReader = checkedReader;
    }
    // A reader without a card has no name in the check's results: the table has it.
    report.readerName = CleanText(view.readerName);
    if (report.readerName.empty() && report.checkedReader >= 0) {
        report.readerName = report.readers[static_cast<std::size_t>(report.checkedReader)].name;
    }
    report.atr = view.atr;
    report.source = view.source;
    report.catalogueEntry = view.catalogueEntry;
    if (report.catalogueEntry) {
        for (std::string* text : {&report.catalogueEntry->atr, &report.catalogueEntry->atrMask,
                                  &report.catalogueEntry->drivers, &report.catalogueEntry->filter,
                                  &report.catalogueEntry->reader}) {
            *text = CleanText(*text);
        }
    }
    report.cardDrivers = CleanText(view.cardDrivers);
    for (const std::string& driver : view.drivers) {
        report.loadedDrivers.push_back(CleanText(driver));
    }
    report.driverInUse = CleanText(view.driverInUse);
    report.driverPath = CleanText(view.driverPath);
    report.driverVersion = view.driverVersion;
    report.token = view.token;
    for (std::string* text : {&report.token.label, &report.token.manufacturerId,
                              &report.token.model, &report.token.serialNumber}) {
        *text = CleanText(*text);
    }
    report.certificates = view.certificates;
    for (const std::string& line : messages) {
        report.messages.push_back(CleanText(line));
    }
    report.result = result;
    return report;
}

SigningTestReport ReportTest(const std::vector<std::string>& lines, uint32_t result) {
    SigningTestReport test;
    for (const std::string& line : lines) {
        test.lines.push_back(CleanText(line));
    }
    test.result = result;
    return test;
}

int ExitStatus(const CheckReport& report) {
    if (report.readers.empty() || report.result == kNoReadersAvailable ||
        report.result == kNoService) {
        return kNoReader;
    }
    if (report.result == kNoSmartCard || (report.test && report.test->result == kNoSmartCard)) {
        return kNoCard;
    }
    if (report.result != 0 || (report.test && report.test->result != 0)) {
        return kFailed;
    }
    return 0;
}

std::vector<std::string> ReaderStateFlags(uint32_t state) {
    std::vector<std::string> names;
    for (const StateFlag& flag : kStateFlags) {
        if ((state & flag.bit) != 0) {
            names.emplace_back(flag.name);
        }
    }
    return names;
}
