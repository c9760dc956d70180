#pragma once

#include <optional>
#include <string>

// What the command line asks for.
struct CheckOptions {
    bool help = false;
    bool version = false;
    bool test = false;
    bool json = false;
    bool quiet = false;
    // The reader to check, by position in the reader table or by exact name; neither given
    // means the first reader holding a card.
    int readerIndex = -1;
    std::string readerName;
};

// The options of `argv`, or none for a usage error: an unknown option (a shortened name, "--"
// and --reader=NOME among them), a repeated one, a position that is not plain decimal digits,
// both a position and --reader, or --json with --quiet. A position beyond the reader table
// stays one where no reader is.
std::optional<CheckOptions> ParseArguments(int argc, char* const* argv);

// The usage text, exit statuses included, for --help and after a usage error.
const char* UsageText();
