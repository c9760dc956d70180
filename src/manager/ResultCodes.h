#pragma once

#include <cstdint>

// Result codes of the manager's own making.
constexpr uint32_t kNoReadersAvailable = 0x8010002E;  // SCARD_E_NO_READERS_AVAILABLE
constexpr uint32_t kNoSmartCard = 0x8010000C;         // SCARD_E_NO_SMARTCARD
constexpr uint32_t kUnknownCard = 0x8010000D;         // SCARD_E_UNKNOWN_CARD
// The PC/SC service is not running.
constexpr uint32_t kNoService = 0x8010001D;  // SCARD_E_NO_SERVICE
// The signing test's end when the reader no longer holds the card of the last check.
constexpr uint32_t kCardChanged = 0x80100069;  // SCARD_W_REMOVED_CARD
