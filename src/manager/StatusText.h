#pragma once

#include <cstdint>
#include <string>

class IMessageList;

// Status texts are at most this many characters; longer results are cut.
constexpr std::size_t kStatusTextMax = 259;

// The string table entry `id`, or the empty text when there is none.
std::string LoadTableString(int id);

// Template `stringId` formatted with (name, system text of code) or, without a name,
// (system text, ""). Returns its own buffer, overwritten by the next call.
const char* FormatErrorStatus(uint32_t code, const char* name, int stringId);

// Template `stringId` formatted with text1 and text2 where given, then code.
// Returns its own buffer, overwritten by the next call.
const char* FormatStatus(uint32_t code, const char* text1, const char* text2, int stringId);

void AddStatusLine(IMessageList* list, const char* text);
