#include "catalogue/SystemAtrList.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "common/Hex.h"
#include "common/TextLines.h"
#include "platform/PatternMatch.h"
#include "platform/WholeFile.h"

namespace {

// The list pcsc-tools ships is about half a megabyte.
constexpr std::size_t kMaxListSize = 4 * 1024 * 1024;
// An ATR of 33 bytes is 98 characters; a pattern with classes is longer, never this long.
constexpr std::size_t kMaxPatternLength = 512;
// The list names about 4000 patterns; compiling each costs some 20 microseconds.
constexpr std::size_t kMaxPatterns = 20000;
// What one compiled pattern may take; a pattern that needs more is not tried.
constexpr int64_t kMaxPatternMemory = 1 << 20;
constexpr std::size_t kMaxDescription = 1024;

// "3B021450" as the list writes ATRs: "3B 02 14 50".
std::string SpacedAtr(const std::string& atrHex) {
    std::string upper = atrHex;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return HexPairs(upper, ' ');
}

// Hexadecimal digits, blanks, '.', classes and the plain operators are all an ATR pattern
// needs: escapes and counted repetitions are refused as no ATR pattern of the list needs them.
bool UsablePattern(const std::string& pattern) {
    if (pattern.size() > kMaxPatternLength) {
        return false;
    }
    for (unsigned char c : pattern) {
        if (std::isxdigit(c) == 0 && std::strchr(" .[]-,*+?|()^", c) == nullptr) {
            return false;
        }
    }
    return true;
}

// A pattern of digits, blanks and '.' (any one character) against the whole text, letter case
// ignored.
bool WildcardMatches(const std::string& pattern, const std::string& text) {
    if (pattern.size() != text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '.' && std::toupper(static_cast<unsigned char>(pattern[i])) !=
                                     std::toupper(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

// The whole ATR text against the pattern, letter case ignored, as ATR_analysis's
// m/^$pattern$/i does it.
PatternMatch MatchPattern(const std::string& pattern, const std::string& atr) {
    if (!UsablePattern(pattern)) {
        return PatternMatch::Unusable;
    }
    // Most patterns of the list are whole ATRs, some with '.' for any digit: compared
    // character by character, they cost no compiling.
    if (pattern.find_first_not_of("0123456789ABCDEFabcdef .") == std::string::npos) {
        return WildcardMatches(pattern, atr) ? PatternMatch::Matches : PatternMatch::DoesNotMatch;
    }
    return MatchWholeIgnoringCase(pattern, atr, kMaxPatternMemory);
}

void AppendDescription(std::string* description, const std::string& text) {
    if (description->size() >= kMaxDescription) {
        return;
    }
    if (!description->empty()) {
        *description += "; ";
    }
    *description += text;
    if (description->size() > kMaxDescription) {
        description->resize(kMaxDescription);
    }
}

}  // namespace

AtrListLookup LookUpAtrList(const std::string& path, const std::string& atrHex) {
    AtrListLookup lookup;
    std::string text;
    switch (ReadWholeFile(path, kMaxListSize, &text)) {
        case WholeFileRead::Read:
            break;
        case WholeFileRead::Missing:
            lookup.outcome = AtrListOutcome::Missing;
            return lookup;
        case WholeFileRead::Unreadable:
            lookup.outcome = AtrListOutcome::Unreadable;
            return lookup;
        case WholeFileRead::TooLarge:
            lookup.outcome = AtrListOutcome::TooLarge;
            return lookup;
    }

    const std::string atr = SpacedAtr(atrHex);
    const std::vector<std::string> lines = TextLines(text);
    std::size_t patterns = 0;
    bool listed = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        // Comments, blank lines and the descriptions of entries that did not match.
        if (line.empty() || line[0] == '#' || line[0] == '\t') {
            continue;
        }
        if (++patterns > kMaxPatterns) {
            ++lookup.skippedPatterns;
            continue;
        }
        const PatternMatch match =
            atr.empty() ? PatternMatch::DoesNotMatch : MatchPattern(line, atr);
        if (match == PatternMatch::Unusable) {
            ++lookup.skippedPatterns;
        }
        if (match != PatternMatch::Matches) {
            continue;
        }
        listed = true;
        bool described = false;
        for (; i + 1 < lines.size() && !lines[i + 1].empty() && lines[i + 1][0] == '\t'; ++i) {
            AppendDescription(&lookup.description, lines[i + 1].substr(1));
            described = true;
        }
        if (!described) {
            AppendDescription(&lookup.description, line);
        }
    }
    lookup.outcome = listed ? AtrListOutcome::Listed : AtrListOutcome::NotListed;
    return lookup;
}
