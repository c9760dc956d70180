#include "manager/TokenDetails.h"

#include <cstdio>
#include <cstring>

#include "log/Log.h"
#include "manager/SmartCardManager.h"

namespace {

std::string VersionText(const CK_VERSION& version) {
    return std::to_string(static_cast<unsigned>(version.major)) + "." +
           std::to_string(static_cast<unsigned>(version.minor));
}

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string TokenText(const unsigned char* field, std::size_t length) {
    const auto* text = reinterpret_cast<const char*>(field);
    const void* zero = std::memchr(text, 0, length);
    std::size_t end =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : length;
    while (end > 0 && IsTrailingSpace(text[end - 1])) {
        --end;
    }
    return std::string(text, end);
}

TokenDetails MakeTokenDetails(const CK_TOKEN_INFO& info) {
    TokenDetails details;
    details.label = TokenText(info.label, sizeof info.label);
    details.manufacturerId = TokenText(info.manufacturerID, sizeof info.manufacturerID);
    details.model = TokenText(info.model, sizeof info.model);
    details.serialNumber = TokenText(info.serialNumber, sizeof info.serialNumber);
    details.flags = info.flags;
    char flags[32];
    std::snprintf(flags, sizeof flags, "0x%08lX", static_cast<unsigned long>(info.flags));
    details.flagsText = flags;
    details.maxSessionCount = info.ulMaxSessionCount;
    details.maxRwSessionCount = info.ulMaxRwSessionCount;
    details.maxPinLen = info.ulMaxPinLen;
    details.minPinLen = info.ulMinPinLen;
    details.totalPublicMemory = info.ulTotalPublicMemory;
    details.freePublicMemory = info.ulFreePublicMemory;
    details.totalPrivateMemory = info.ulTotalPrivateMemory;
    details.freePrivateMemory = info.ulFreePrivateMemory;
    details.hardwareVersion = VersionText(info.hardwareVersion);
    details.firmwareVersion = VersionText(info.firmwareVersion);
    return details;
}

TokenDetails CSmartCardManager::GetTokenDetails() const {
    return MakeTokenDetails(m_tokenInfo);
}

void LogTokenDetails(const TokenDetails& details) {
    LOG_MESSAGE(0, 0, "TokenInfo:Label", "%s", details.label.c_str());
    LOG_MESSAGE(0, 0, "TokenInfo:ManufacturerID", "%s", details.manufacturerId.c_str());
    LOG_MESSAGE(0, 0, "TokenInfo:Model", "%s", details.model.c_str());
    LOG_MESSAGE(0, 0, "TokenInfo:SerialNumber", "%s", details.serialNumber.c_str());
}
