#include "manager/CheckedCard.h"

#include <algorithm>

#include "common/Hex.h"
#include "manager/SmartCardManager.h"

uint32_t CardEventCount(DWORD eventState) {
    return static_cast<uint32_t>((eventState >> 16) & 0xFFFF);
}

std::string TokenSerialField(const CK_TOKEN_INFO& info) {
    return std::string(reinterpret_cast<const char*>(info.serialNumber), sizeof info.serialNumber);
}

bool IsCheckedCard(const CheckedCard& card, const std::string& readerName,
                   const SCARD_READERSTATE& state) {
    const std::size_t atrLength = std::min<std::size_t>(state.cbAtr, sizeof state.rgbAtr);
    return !card.serialNumber.empty() && card.readerName == readerName &&
           card.eventCount == CardEventCount(state.dwEventState) &&
           card.atr == AtrToHex(state.rgbAtr, atrLength);
}
