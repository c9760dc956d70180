#pragma once

// One DER value's tag, length and content, for readers whose decoder does not say where a
// value ends or does not check all of it.

#include <cstddef>

struct DerValue {
    unsigned char tag = 0;
    const unsigned char* content = nullptr;
    std::size_t contentLength = 0;
    std::size_t totalLength = 0;  // tag, length and content
};

// The value that starts at `der`; false when the `length` bytes hold no complete value with
// a definite length.
bool ReadDerValue(const unsigned char* der, std::size_t length, DerValue& value);
