#pragma once

// The records of a Lumidor.log as the tests compare them. Read them after the log has stopped.

#include <cstdint>
#include <string>
#include <vector>

// One record, padding removed: the first line's message in `text`, the lines that continue it
// (the rest of a long message, then the system text) in `continuation`.
struct LoggedRecord {
    std::string source;  // cut to the log's 30 columns
    uint32_t code = 0;
    std::string text;
    std::string continuation;
};

std::vector<LoggedRecord> ReadLogRecords(const std::string& path = "Lumidor.log");

// The records whose message is exactly `text`.
std::vector<LoggedRecord> RecordsWithText(const std::vector<LoggedRecord>& records,
                                          const std::string& text);

// The records of one source, named in full: the log keeps only its first 30 characters.
std::vector<LoggedRecord> RecordsOf(const std::vector<LoggedRecord>& records,
                                    const std::string& source);
