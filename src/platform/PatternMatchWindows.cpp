#include "platform/PatternMatch.h"

#include <regex>

// No RE2 here: libstdc++'s std::regex, with its polynomial mode (a libstdc++ extension) that
// runs the automaton breadth-first instead of backtracking, so that nested repetitions such as
// (a*)* cost time linear in the text, and back-references, which would need backtracking, are
// refused when the pattern is compiled.

namespace {

// std::regex does not tell what it allocates. Measured with libstdc++ 12, compiling and
// matching take under 300 bytes for each character of the pattern, whatever its operators;
// this leaves room to spare.
constexpr int64_t kBytesPerPatternCharacter = 1024;

// A counted repetition (a{1000}) copies its operand once per count, so its cost does not
// follow the pattern's length: refused, as is a literal '{', without telling them apart.
bool CostFollowsLength(const std::string& pattern) {
    return pattern.find('{') == std::string::npos;
}

}  // namespace

PatternMatch MatchWholeIgnoringCase(const std::string& pattern, const std::string& text,
                                    int64_t maxMemory) {
    if (static_cast<int64_t>(pattern.size()) > maxMemory / kBytesPerPatternCharacter ||
        !CostFollowsLength(pattern)) {
        return PatternMatch::Unusable;
    }
    try {
        const std::regex compiled(pattern, std::regex::ECMAScript | std::regex::icase |
                                               std::regex::nosubs |
                                               std::regex_constants::__polynomial);
        return std::regex_match(text, compiled) ? PatternMatch::Matches
                                                : PatternMatch::DoesNotMatch;
    } catch (const std::regex_error&) {
        return PatternMatch::Unusable;
    }
}
