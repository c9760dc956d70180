#pragma once

// Secrets (the PIN) are overwritten before their memory is let go.

#include <cstddef>
#include <string>

// Overwrites `size` bytes at `data` in a way the compiler cannot drop.
void WipeBytes(void* data, std::size_t size);

// Overwrites the text's whole buffer in a way the compiler cannot drop, then empties it.
void Wipe(std::string& text);

// Wipes a text when the scope ends, whichever path leaves it.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& text) : m_text(text) {}
    ~WipeOnExit() { Wipe(m_text); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& m_text;
};
