#pragma once

// The system's list of known cards, installed by pcsc-tools: each entry is a line with an ATR
// pattern (a regular expression over the ATR as upper-case bytes separated by blanks, such as
// "3B 02 14 5."), then its description lines, each starting with a tab. Lines starting with
// '#' are comments. A card is looked up the way pcsc-tools' ATR_analysis does it: every
// pattern that matches the whole ATR text, letter case ignored, names the card. Where the
// system keeps it is platform/ProgramFiles.h's SystemAtrListPath().

#include <cstddef>
#include <string>

enum class AtrListOutcome {
    Listed,     // at least one entry matches the card
    NotListed,  // the list was read and no entry matches
    Missing,    // there is no such file (pcsc-tools is not installed)
    Unreadable,
    TooLarge,  // larger than any list of cards can be: not read at all
};

struct AtrListLookup {
    AtrListOutcome outcome = AtrListOutcome::Missing;
    // Listed: the description lines of every matching entry, in the list's order, joined by
    // "; " (an entry without description lines is named by its pattern); cut after 1024
    // bytes. The text is the file's own: not checked for valid UTF-8 or control characters.
    std::string description;
    // Patterns not tried: too long, with characters no ATR pattern needs (escapes, counted
    // repetitions), refused by the regular expression compiler (RE2, which matches in linear
    // time) or needing more than its memory bound, or past the 20000th.
    std::size_t skippedPatterns = 0;
};

// Looks up the card whose ATR is `atrHex` (hexadecimal text without separators, as AtrToHex
// makes it) in the list at `path`. The file is read on each call; one larger than 4 MiB is
// refused.
AtrListLookup LookUpAtrList(const std::string& path, const std::string& atrHex);
