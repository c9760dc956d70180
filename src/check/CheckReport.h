#pragma once

// What one run of the console check found, taken from the manager once: the text and the
// JSON report are both written from it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "manager/SmartCardManager.h"
#include "manager/TokenCertificates.h"
#include "manager/TokenDetails.h"

struct ReaderEntry {
    std::string name;
    uint32_t state = 0;  // the PC/SC event state, event counter in the upper 16 bits
};

struct SigningTestReport {
    std::vector<std::string> lines;  // the status lines the test added
    uint32_t result = 0;
};

struct CheckReport {
    std::vector<ReaderEntry> readers;
    int checkedReader = -1;  // position in `readers`, -1 when none could be checked
    std::string readerName;
    std::string atr;
    DriverSource source = DriverSource::None;
    std::optional<CardDefinition> catalogueEntry;
    std::string cardDrivers;  // as the catalogue (or the system search) gives them
    std::vector<std::string> loadedDrivers;
    std::string driverInUse;
    std::string driverPath;
    std::string driverVersion;
    TokenDetails token;
    std::vector<TokenCertificate> certificates;
    std::vector<std::string> messages;
    uint32_t result = 0;
    std::optional<SigningTestReport> test;
};

// The reader table after UpdateReaders.
std::vector<ReaderEntry> ReadReaderTable(const CSmartCardManager& manager);

// The report of CheckCardInReader(`checkedReader`) that returned `result`, with the status
// lines in `messages`: the manager's view of the card, every text made clean.
CheckReport ReportCheck(const CSmartCardManager& manager, const std::vector<std::string>& messages,
                        int checkedReader, uint32_t result);

// The signing test's part of the report: its status lines `lines` (cleaned as every text of
// the report) and its result.
SigningTestReport ReportTest(const std::vector<std::string>& lines, uint32_t result);

// The process's exit status for the report: 0 success, 1 check or test failed, 3 no reader,
// 4 no card (also when it was pulled before the test).
int ExitStatus(const CheckReport& report);

// The named flags of a reader state (SCARD_STATE_*), in the order of their bits.
std::vector<std::string> ReaderStateFlags(uint32_t state);
