#pragma once

// Secrets (the PIN) are overwritten before their memory is let go.

#include <string>

// Overwrites the text's whole buffer in a way the compiler cannot drop, then empties it.
void Wipe(std::string& text);
