#include "support/LogRecords.h"

#include <cstdlib>
#include <sstream>

#include "support/TempDir.h"

namespace {

std::string TrimRight(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> columns;
    std::size_t start = 1;
    // The message is the last column and may itself hold '|': split only the first five.
    for (int i = 0; i < 5 && start < line.size(); ++i) {
        std::size_t bar = line.find('|', start);
        if (bar == std::string::npos) {
            return {};
        }
        columns.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
    std::size_t end = line.rfind('|');
    if (columns.size() != 5 || end == std::string::npos || end < start) {
        return {};
    }
    columns.push_back(line.substr(start, end - start));
    return columns;
}

}  // namespace

std::vector<LoggedRecord> ReadLogRecords(const std::string& path) {
    std::vector<LoggedRecord> records;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> columns = Columns(line);
        if (columns.empty()) {
            continue;
        }
        bool continuation = TrimRight(columns[0]).empty();
        if (continuation && !records.empty()) {
            records.back().continuation += TrimRight(columns[5]);
            continue;
        }
        LoggedRecord record;
        record.source = TrimRight(columns[2]);
        record.code = static_cast<uint32_t>(std::strtoul(columns[4].c_str(), nullptr, 16));
        record.text = TrimRight(columns[5]);
        records.push_back(record);
    }
    return records;
}

std::vector<LoggedRecord> RecordsWithText(const std::vector<LoggedRecord>& records,
                                          const std::string& text) {
    std::vector<LoggedRecord> found;
    for (const LoggedRecord& record : records) {
        if (record.text == text) {
            found.push_back(record);
        }
    }
    return found;
}

std::vector<LoggedRecord> RecordsOf(const std::vector<LoggedRecord>& records,
                                    const std::string& source) {
    std::vector<LoggedRecord> found;
    for (const LoggedRecord& record : records) {
        if (!record.source.empty() && source.compare(0, record.source.size(), record.source) == 0) {
            found.push_back(record);
        }
    }
    return found;
}
