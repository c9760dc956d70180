#include "manager/SigningLines.h"

#include <cstdarg>
#include <cstdio>

#include "common/MessageList.h"
#include "log/Log.h"
#include "manager/StatusText.h"

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

void LogVerbatim(uint32_t code, const std::string& text) {
    LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource, "%s", text.c_str());
}

void Report(IMessageList* list, uint32_t code, const std::string& text) {
    LogVerbatim(code, text);
    AddStatusLine(list, text.c_str());
}
