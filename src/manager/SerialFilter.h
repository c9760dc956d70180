#pragma once

#include <string>

#include "platform/Pkcs11.h"

class IMessageList;

// The module that a catalogue entry's serial filter ({"serial": {"7420": "lib.so"}}, single
// quotes allowed) chooses for `token`: the last, in name order, of the serial-number
// beginnings that the token's whole serial field starts with; none when no beginning matches
// or the filter has no usable form (logged). A choice is logged and added as a status line
// to `list`.
std::string SerialFilterChoice(const std::string& filter, const CK_TOKEN_INFO& token,
                               IMessageList* list);
