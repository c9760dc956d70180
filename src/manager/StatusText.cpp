#include "manager/StatusText.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "common/MessageList.h"
#include "common/TextLines.h"
#include "platform/SystemText.h"

extern const unsigned char StringTableData[];
extern const std::size_t StringTableSize;

namespace {

constexpr std::size_t kBufferSize = kStatusTextMax + 1;

// Lines "id<TAB>text"; lines starting with '#' and lines without a tab are skipped.
std::map<int, std::string> ParseStringTable() {
    std::map<int, std::string> table;
    std::string text(reinterpret_cast<const char*>(StringTableData), StringTableSize);
    for (const std::string& line : TextLines(text)) {
        std::size_t tab = line.find('\t');
        if (!line.empty() && line[0] != '#' && tab != std::string::npos) {
            table[std::atoi(line.substr(0, tab).c_str())] = line.substr(tab + 1);
        }
    }
    return table;
}

// A cut status text must not end inside a UTF-8 sequence.
void DropPartialUtf8(char* buffer) {
    std::size_t length = std::strlen(buffer);
    std::size_t lead = length;
    while (lead > 0 && (static_cast<unsigned char>(buffer[lead - 1]) & 0xC0) == 0x80) {
        --lead;
    }
    if (lead == 0) {
        return;
    }
    auto first = static_cast<unsigned char>(buffer[lead - 1]);
    if (first < 0x80) {
        return;
    }
    std::size_t expected = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (length - (lead - 1) < expected) {
        buffer[lead - 1] = '\0';
    }
}

// The template, cut to what the program's 260-byte template buffer holds.
std::string LoadTemplate(int id) {
    std::string text = LoadTableString(id);
    if (text.size() > kStatusTextMax) {
        text.resize(kStatusTextMax);
    }
    return text;
}

}  // namespace

std::string LoadTableString(int id) {
    static const std::map<int, std::string> table = ParseStringTable();
    auto found = table.find(id);
    return found == table.end() ? std::string() : found->second;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

const char* FormatErrorStatus(uint32_t code, const char* name, int stringId) {
    static char buffer[kBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    std::string format = LoadTemplate(stringId);

    std::string systemText;
    if (code == kErrorBadExeFormat) {
        systemText = "non è un'applicazione Win32 valida.";
    } else if (code != 0) {
        systemText = SystemMessageText(code);
    }

    int written =
        name != nullptr
            ? std::snprintf(buffer, sizeof buffer, format.c_str(), name, systemText.c_str())
            : std::snprintf(buffer, sizeof buffer, format.c_str(), systemText.c_str(), "");
    if (written > static_cast<int>(kStatusTextMax)) {
        DropPartialUtf8(buffer);
    }
    return buffer;
}

const char* FormatStatus(uint32_t code, const char* text1, const char* text2, int stringId) {
    static char buffer[kBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    std::string format = LoadTemplate(stringId);
    const char* f = format.c_str();
    unsigned int value = code;

    int written = 0;
    if (text1 != nullptr && text2 != nullptr) {
        written = std::snprintf(buffer, sizeof buffer, f, text1, text2, value);
    } else if (text1 != nullptr) {
        written = std::snprintf(buffer, sizeof buffer, f, text1, value);
    } else if (text2 != nullptr) {
        written = std::snprintf(buffer, sizeof buffer, f, text2, value);
    } else {
        written = std::snprintf(buffer, sizeof buffer, f, value);
    }
    if (written > static_cast<int>(kStatusTextMax)) {
        DropPartialUtf8(buffer);
    }
    return buffer;
}

#pragma GCC diagnostic pop

void AddStatusLine(IMessageList* list, const char* text) {
    if (list != nullptr) {
        list->AddLine(text);
    }
}
