#include "platform/PatternMatch.h"

#include <re2/re2.h>

PatternMatch MatchWholeIgnoringCase(const std::string& pattern, const std::string& text,
                                    int64_t maxMemory) {
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_never_capture(true);
    options.set_log_errors(false);
    options.set_max_mem(maxMemory);
    const RE2 compiled(pattern, options);
    if (!compiled.ok()) {
        return PatternMatch::Unusable;
    }
    return RE2::FullMatch(text, compiled) ? PatternMatch::Matches : PatternMatch::DoesNotMatch;
}
