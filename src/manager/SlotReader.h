#pragma once

// Which reader a PKCS#11 slot belongs to, told by its description. Modules that serve PC/SC
// readers describe each slot by its reader's name, cut to the 64 bytes of the field; a slot
// taken for the wrong reader would show another card's token and receive the PIN meant for
// the card under diagnosis.

#include <string>
#include <vector>

#include "platform/Pkcs11.h"

// Whose slot a description is, seen from the reader under diagnosis.
enum class SlotOwner {
    Reader,       // the reader under diagnosis
    OtherReader,  // another listed reader, or possibly another one (a shared 64-byte prefix)
    NoReader,     // no listed reader (a software token, a trust store, a module of its own)
};

// `description` (blank padding cleared) against `readerName` and the readers the PC/SC service
// listed: a reader is named by its whole name or, when the name is longer than the field, by
// its first 64 bytes as long as no other of these readers begins with the same 64 bytes.
SlotOwner SlotOwnerOf(const std::string& description, const std::string& readerName,
                      const std::vector<std::string>& listedReaders);

// The slot's description as a text: up to its first zero byte, trailing blanks cleared, the
// first byte always kept.
std::string SlotDescriptionText(const CK_SLOT_INFO& info);
