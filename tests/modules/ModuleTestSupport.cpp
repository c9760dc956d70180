#include "ModuleTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

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

void WriteElf32(const std::string& path) {
    unsigned char header[128] = {0x7F, 'E', 'L', 'F', 1 /* 32-bit */, 1 /* little endian */,
                                 1 /* version */};
    header[16] = 3;   // ET_DYN
    header[18] = 3;   // EM_386
    header[20] = 1;   // EV_CURRENT
    header[40] = 52;  // e_ehsize
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
}
