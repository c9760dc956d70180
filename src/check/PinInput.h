#pragma once

#include "common/SecretString.h"

enum class PinLine {
    Typed,
    Empty,    // an empty line
    Missing,  // the input ended before any byte
};

// One line of standard input into `pin`, without its line end, read byte by byte straight
// from the descriptor so that no stdio buffer keeps a copy. At a terminal the prompt "PIN: "
// goes to standard error and the echo is off while the line is typed.
PinLine ReadPin(SecretString& pin);
