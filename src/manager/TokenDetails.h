#pragma once

#include <cstddef>
#include <string>

#include "platform/Pkcs11.h"

// A token's CK_TOKEN_INFO as trimmed texts and counters. The counters keep the module's own
// CK_ULONG values, special values included; how they are shown is the window's business.
struct TokenDetails {
    std::string label;
    std::string manufacturerId;
    std::string model;
    std::string serialNumber;
    CK_FLAGS flags = 0;
    std::string flagsText;
    CK_ULONG maxSessionCount = 0;
    CK_ULONG maxRwSessionCount = 0;
    CK_ULONG maxPinLen = 0;
    CK_ULONG minPinLen = 0;
    CK_ULONG totalPublicMemory = 0;
    CK_ULONG freePublicMemory = 0;
    CK_ULONG totalPrivateMemory = 0;
    CK_ULONG freePrivateMemory = 0;
    std::string hardwareVersion;
    std::string firmwareVersion;
};

// A fixed-length, blank-padded field as text: up to its first zero byte, trailing white space
// removed.
std::string TokenText(const unsigned char* field, std::size_t length);

TokenDetails MakeTokenDetails(const CK_TOKEN_INFO& info);

// Four records: label, manufacturer, model and serial number, each logged verbatim.
void LogTokenDetails(const TokenDetails& details);
