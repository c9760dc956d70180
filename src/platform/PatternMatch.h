#pragma once

#include <cstdint>
#include <string>

enum class PatternMatch { Matches, DoesNotMatch, Unusable };

// The whole `text` against the regular expression `pattern`, letter case ignored, in time
// linear in the text whatever the pattern (a backtracking matcher spends seconds on one
// pattern of nested repetitions). Unusable when the pattern does not compile or needs more
// than `maxMemory` bytes.
PatternMatch MatchWholeIgnoringCase(const std::string& pattern, const std::string& text,
                                    int64_t maxMemory);
