#pragma once

// The records of ./Lumidor.log as the tests compare them: source, code and text, with the
// system text that follows on continuation lines. Read it after the log has stopped.

#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"

struct LoggedRecord {
    std::string source;     // cut to the log's 30 columns
    std::string code;       // eight lower-case hexadecimal digits
    std::string text;       // trailing blanks removed
    std::string continued;  // continuation lines (rest of a long text, then the system text)
};

inline std::string TrimRight(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

inline std::vector<LoggedRecord> ReadLogRecords(const std::string& path = "Lumidor.log") {
    std::vector<LoggedRecord> records;
    const std::string content = ReadFile(path);
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            end = content.size();
        }
        // |date|log name|source|thread|code|text|
        std::vector<std::string> fields;
        std::size_t at = start;
        for (int i = 0; i < 6 && at < end; ++i) {
            std::size_t bar = content.find('|', at + 1);
            if (bar == std::string::npos || bar > end) {
                break;
            }
            fields.push_back(content.substr(at + 1, bar - at - 1));
            at = bar;
        }
        if (fields.size() == 6) {
            bool continuation = fields[0].find_first_not_of(' ') == std::string::npos;
            if (continuation && !records.empty()) {
                records.back().continued += TrimRight(fields[5]);
            } else {
                records.push_back({TrimRight(fields[2]), fields[4], TrimRight(fields[5]), ""});
            }
        }
        start = end + 2;
    }
    return records;
}

// The records of one source, for tests that only look at one operation.
inline std::vector<LoggedRecord> RecordsOf(const std::string& source) {
    std::vector<LoggedRecord> matching;
    for (LoggedRecord& record : ReadLogRecords()) {
        if (source.compare(0, record.source.size(), record.source) == 0 && !record.source.empty()) {
            matching.push_back(record);
        }
    }
    return matching;
}
