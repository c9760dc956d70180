#include "crypto/Certificate.h"

#include <cstdio>

std::string LocalDate(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900);
    return text;
}
