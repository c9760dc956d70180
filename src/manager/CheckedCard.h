#pragma once

// What a successful check saw of the card in its reader. The signing test presents the PIN
// only while the reader still holds that very card: a card put in its place after the check
// would receive a PIN meant for another, and a wrong PIN costs a card one of its tries.

#include <winscard.h>

#include <cstdint>
#include <string>

#include "platform/Pkcs11.h"

struct CheckedCard {
    std::string readerName;  // empty: no card has been checked
    std::string atr;         // upper-case hexadecimal, as the check shows it
    // PC/SC's count of cards inserted in and removed from the reader, at the check.
    uint32_t eventCount = 0;
    // The token's serialNumber field, whole, as the module of the last successful check read
    // it; empty while no check of the card has succeeded.
    std::string serialNumber;
};

// The count of card events that pcsc-lite keeps in the upper 16 bits of an event state.
uint32_t CardEventCount(DWORD eventState);

// The token's serialNumber field, whole, blank padding included.
std::string TokenSerialField(const CK_TOKEN_INFO& info);

// The card that `state` shows in reader `readerName` is `card`: a check of a card in that
// reader succeeded, no card came or went since, and the ATR is the same.
bool IsCheckedCard(const CheckedCard& card, const std::string& readerName,
                   const SCARD_READERSTATE& state);
